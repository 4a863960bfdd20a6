// Construction, identity fields and the library-wide link operations of TolmarCntrl.
#include "tolmar2/TolmarCntrl.h"

#include <cstring>

#include "UsbLink.h"
#include "tolmar2/MsgLogger.h"

const char* const TolmarCntrl::API_VERSION = "2.9.0";

namespace {

template <size_t N>
void setText(char (&field)[N], const char* text) {
    std::strncpy(field, text, N - 1);
    field[N - 1] = '\0';
}

}  // namespace

TolmarCntrl::TolmarCntrl() {
    MsgLogger::init();
    setText(qDevName, "-");
    setText(qusbMake, "-");
    setText(qusbModel, "-");
    setText(qusbSerial, "-");
    setText(qusbHWRev, "-");
    setRecordDefaults();
    QWORD version[3] = {0, 0, 0};
    if (tolmar2::link::call::QuickUsbGetDllVersion(&version[0], &version[1], &version[2])) {
        for (int i = 0; i < 3; ++i) qusbDllVer[i] = version[i];
    } else {
        TOLMAR_LOG_ERROR("Failed to get dll version\n");
    }
}

unsigned long TolmarCntrl::getDevNames(char* names, unsigned long size) {
    if (!names || size == 0)
        return 0;
    std::memset(names, 0, size);
    if (!tolmar2::link::call::QuickUsbFindModules(names, size) || names[0] == '\0')
        return 0;
    // Count the names before the empty one, never looking past the buffer.
    unsigned long count = 0;
    for (unsigned long pos = 0; pos < size && names[pos] != '\0'; ++count) {
        while (pos < size && names[pos] != '\0') ++pos;
        ++pos;
    }
    return count;
}

void TolmarCntrl::setUsbLink(bool genuine) {
    tolmar2::link::closeLastOpened();
    tolmar2::link::setGenuine(genuine);
}

bool TolmarCntrl::isGenuineUsbLink() {
    return tolmar2::link::isGenuine();
}
