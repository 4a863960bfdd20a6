// Feeds arbitrary bytes to the calibration record decoder, as the I2C memory of the virtual
// module, as a record file, and straight to the decoder (first byte chooses). Every read must
// end with a result code; the counts of a record that decodes must fit the mirror's tables,
// and a record of format 12 or later must survive encode and decode unchanged.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Platform.h"
#include "RecordLayout.h"
#include "UsbLink.h"
#include "tolmar2/TolmarCntrl.h"
#include "vsensor/VirtualSensor.h"

namespace {

void noSleep(unsigned) {}

TolmarCntrl& unit() {
    static TolmarCntrl* c = [] {
        auto* cntrl = new TolmarCntrl();
        char name[] = "QUSB-0";
        if (!tolmar2::link::call::QuickUsbOpen(&cntrl->qusbHandle, name)) {
            std::abort();
        }
        return cntrl;
    }();
    return *c;
}

std::vector<uint8_t> encoded(const TolmarCntrl& c) {
    std::vector<uint8_t> image(tolmar2::record::MAX_RECORD_SIZE, 0);
    const size_t size = tolmar2::record::writeSize(c.i2cFormatVersion);
    if (size == 0 || tolmar2::record::encode(c, image.data(), size) != 1) {
        return {};
    }
    image.resize(size);
    return image;
}

void checkDecoded(const TolmarCntrl& c) {
    if (c.nCalRows * c.nCalRanges > TolmarCntrl::MAX_CAL_PAIRS ||
        c.nCalRanges > TolmarCntrl::MAX_CAL_RANGES || c.nVchan > TolmarCntrl::MAX_VCHAN) {
        std::abort();
    }
    // What decodes encodes to an image that decodes to the same mirror. Formats 10 and 11
    // store raw sums the calibration is derived from; degenerate sums (a zero scale) give
    // infinite values that do not derive back, so those formats only have to encode.
    const std::vector<uint8_t> first = encoded(c);
    if (first.empty() || c.i2cFormatVersion < 12) {
        return;  // also a count the write layout has no room for: refused, as documented
    }
    TolmarCntrl again;
    if (tolmar2::record::decode(again, first.data(), first.size()) != 1 ||
        encoded(again) != first) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TOLMAR_LINK", "virtual", 1);
    TolmarCntrl::setLogging(0);
    if (!tolmar2::link::reselect()) {
        std::abort();
    }
    tolmar2::platform::setSleepFunction(&noSleep);
    tolmar2::link::setI2cPause(std::chrono::milliseconds(0));
    unit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const int way = data[0] % 3;
    // The record bytes in a buffer of their own size, so that any read past them is caught.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size - 1]);
    std::memcpy(bytes.get(), data + 1, size - 1);
    TolmarCntrl& c = unit();
    c.setRecordDefaults();
    int result = 0;
    if (way == 0) {
        vsensor::fillMemory(0xFF);
        vsensor::writeMemory(vsensor::kRecordAddress,
                             std::vector<uint8_t>(bytes.get(), bytes.get() + size - 1));
        result = c.readTolmarConfigParameters(nullptr);
    } else if (way == 1) {
        static const std::string path = [] {
            char name[] = "/tmp/record_fuzz_XXXXXX";
            const int fd = mkstemp(name);
            if (fd < 0) {
                std::abort();
            }
            close(fd);
            return std::string(name);
        }();
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(bytes.get(), 1, size - 1, f) != size - 1) {
            std::abort();
        }
        std::fclose(f);
        result = c.readTolmarConfigParameters(const_cast<char*>(path.c_str()));
    } else {
        result = tolmar2::record::decode(c, bytes.get(), size - 1);
    }
    if (result == 1) {
        checkDecoded(c);
    }
    return 0;
}
