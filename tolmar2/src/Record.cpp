// The non-volatile configuration record: the mirror's defaults, reading and writing the record
// in the I2C memory behind the module or in a file, erasing memory and printing the mirror.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "LocalTime.h"
#include "Platform.h"
#include "RecordLayout.h"
#include "UsbLink.h"
#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

namespace call = tolmar2::link::call;
namespace record = tolmar2::record;

namespace {

constexpr size_t READ_CHUNK = 64;   // largest I2C read
constexpr size_t WRITE_CHUNK = 32;  // largest I2C write
constexpr size_t PAGE_SIZE = 64;    // a write must not cross a memory page
constexpr int MAX_FAILURES = 5;     // failures in a row on one chunk or byte
constexpr unsigned RETRY_WAIT_MS = 500;

QRETURN writeI2c(QHANDLE h, uint8_t* bytes, size_t length) {
    return call::QuickUsbWriteI2C(h, TolmarCntrl::I2C_DEVICE, bytes, static_cast<QWORD>(length));
}

// Reads up to `length` bytes from where the memory's address pointer stands. Returns the count
// read, or 0 when the call failed or claimed more than was asked.
size_t readI2c(QHANDLE h, uint8_t* bytes, size_t length) {
    QWORD got = static_cast<QWORD>(length);
    if (!call::QuickUsbReadI2C(h, TolmarCntrl::I2C_DEVICE, bytes, &got) || got > length)
        return 0;
    return got;
}

// Sets the memory's address pointer: the two address bytes, high first, with nothing after.
QRETURN writeI2cAddress(QHANDLE h, unsigned address) {
    uint8_t bytes[2] = {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    return writeI2c(h, bytes, sizeof bytes);
}

enum class Verified { Ok, DataWriteFailed, AddressWriteFailed, ReadFailed, Short, Differs };

// Writes `length` (at most WRITE_CHUNK) bytes at a memory address and reads them back into
// `back`; `got` is the count read back.
Verified writeVerified(QHANDLE h, unsigned address, const uint8_t* data, size_t length,
                       uint8_t* back, size_t& got) {
    uint8_t bytes[2 + WRITE_CHUNK];
    bytes[0] = static_cast<uint8_t>(address >> 8);
    bytes[1] = static_cast<uint8_t>(address);
    std::memcpy(bytes + 2, data, length);
    got = 0;
    if (!writeI2c(h, bytes, 2 + length))
        return Verified::DataWriteFailed;
    tolmar2::link::pauseAfterI2c();
    if (!writeI2cAddress(h, address))
        return Verified::AddressWriteFailed;
    tolmar2::link::pauseAfterI2c();
    QWORD count = static_cast<QWORD>(length);
    if (!call::QuickUsbReadI2C(h, TolmarCntrl::I2C_DEVICE, back, &count))
        return Verified::ReadFailed;
    got = std::min<size_t>(count, length);
    if (count != length)
        return Verified::Short;
    return std::memcmp(back, data, length) == 0 ? Verified::Ok : Verified::Differs;
}

std::string hexBytes(const uint8_t* bytes, size_t length) {
    std::string text;
    char hex[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, "%02X ", bytes[i]);
        text += hex;
    }
    return text;
}

// One chunk of a record write; logs what went wrong and returns false on any failure.
bool writeRecordChunk(QHANDLE h, const uint8_t* image, size_t offset, size_t length, size_t size) {
    const unsigned address = TolmarCntrl::RECORD_ADDRESS + offset;
    uint8_t back[WRITE_CHUNK];
    size_t got = 0;
    switch (writeVerified(h, address, image + offset, length, back, got)) {
        case Verified::Ok:
            return true;
        case Verified::DataWriteFailed:
            TOLMAR_LOG_ERROR("Failed to write data (successfuly written %d of %d data\n",
                             static_cast<int>(offset), static_cast<int>(size));
            break;
        case Verified::AddressWriteFailed:
            TOLMAR_LOG_ERROR("Failed to write adr=%04X\n", address);
            break;
        case Verified::ReadFailed:
            TOLMAR_LOG_ERROR("Failed to read  adr=%04X\n", address);
            break;
        case Verified::Short:
            TOLMAR_LOG_ERROR("Failed to read  full data package length (%d instead of %d)\n",
                             static_cast<int>(got), static_cast<int>(length));
            break;
        case Verified::Differs: {
            const std::string both = " " + hexBytes(image + offset, length) +
                                     "| attempted write data\n" + std::string(24, ' ') + "| " +
                                     hexBytes(back, got);
            TOLMAR_LOG_ERROR(
                "Failed to write data into I2C (succesfully written %d data)\nPerused data not "
                "equal: |%s| written data\n",
                static_cast<int>(offset), both.c_str());
            break;
        }
    }
    return false;
}

// Writes the image at RECORD_ADDRESS in chunks that never cross a page, each verified by reading
// it back and retried after a pause; five failures in a row on one chunk give up.
int writeRecordImage(QHANDLE h, const uint8_t* image, size_t size) {
    size_t offset = 0;
    int failures = 0;
    while (offset < size) {
        const size_t address = TolmarCntrl::RECORD_ADDRESS + offset;
        const size_t length =
            std::min({WRITE_CHUNK, PAGE_SIZE - address % PAGE_SIZE, size - offset});
        if (writeRecordChunk(h, image, offset, length, size)) {
            offset += length;
            failures = 0;
        } else if (++failures >= MAX_FAILURES) {
            return -3;
        } else {
            tolmar2::platform::sleepMs(RETRY_WAIT_MS);
        }
    }
    return 1;
}

// Writes the image to a sibling file first and moves it over the target only when complete, so
// a failed save leaves an existing file intact.
int writeRecordFile(const char* fileName, const uint8_t* image, size_t size) {
    const std::string partial = std::string(fileName) + ".part";
    FILE* f = std::fopen(partial.c_str(), "wb");
    bool ok = f && std::fwrite(image, 1, size, f) == size;
    if (f)
        ok = (std::fclose(f) == 0) && ok;
    if (ok && std::rename(partial.c_str(), fileName) == 0)
        return 1;
    std::remove(partial.c_str());
    TOLMAR_LOG_ERROR("Failed to write configuration record file %s\n", fileName);
    return -7;
}

bool hasText(const char* s) {
    return s && *s;
}

void printPair(const char* label, int index, const double (&pair)[2]) {
    std::printf(label, index, pair[0], pair[1]);
}

}  // namespace

void TolmarCntrl::setRecordDefaults() {
    i2cMagicString = 0;
    i2cFormatVersion = 0;
    std::memset(devName, 0, sizeof devName);
    std::strcpy(devName, "-");
    createTime = 0;
    calTime = 0;
    for (auto& range : vRange) {
        range[0] = -65536;
        range[1] = 65536;
    }
    const double ranges[4] = {6e-6, 6e-5, 0.00024, 0.0024};
    std::copy(std::begin(ranges), std::end(ranges), iRange);
    rangeValue[0] = 6e-6;
    rangeValue[1] = 2e-6;
    rCurrent[0] = 470;
    rCurrent[1] = 22000;
    rFilter = 197000;
    const auto unity = [](double(&pair)[2]) {
        pair[0] = 0;
        pair[1] = 1;
    };
    for (auto& pair : cal_dac) unity(pair);
    unity(cal_adc_v);
    for (auto& pair : cal_adc_i) unity(pair);
    for (auto& row : cal_adc)
        for (auto& pair : row) unity(pair);
    for (auto& pair : cal_vmon) unity(pair);
    for (auto& output : vSettling)
        for (auto& model : output) {
            model[0] = 1.5;
            model[1] = 0.2228;
        }
    std::fill(std::begin(calAuxA), std::end(calAuxA), 0.0);
    std::fill(std::begin(calAuxB), std::end(calAuxB), 0.0);
    calAuxWord = 0;
    nCalRows = 0;
    nCalRanges = 0;
    nVchan = 0;
    nExtProbes = 0;
    for (auto& row : tempCoef) {
        row[0] = 2461;
        row[1] = 1e6;
        row[2] = 49900;
        row[3] = 860000;
    }
    extWord = 0xFFFFFFFFu;
    deviceOptions = 0;
    // The option flags are copies of deviceOptions bits.
    lowTopCurrentRange = vcScannable = extendedProbes = false;
    channelEnableHw = alternateRows = kalderSensor = false;
}

int TolmarCntrl::readTolmarConfigParameters(char* fileName) {
    uint8_t image[record::MAX_RECORD_SIZE] = {};
    if (hasText(fileName)) {
        FILE* f = std::fopen(fileName, "rb");
        const size_t n = f ? std::fread(image, 1, sizeof image, f) : 0;
        if (f)
            std::fclose(f);
        if (n < record::HEADER_SIZE) {
            TOLMAR_LOG_ERROR("Failed to read configuration record file %s\n", fileName);
            return -4;
        }
        const int32_t version = static_cast<int32_t>(record::loadU32(image + 4));
        if (record::readSize(version) == 0) {
            TOLMAR_LOG_ERROR("Unknown formatVersion [%d]\n", version);
            return -5;
        }
        return record::decode(*this, image, n);
    }

    if (!writeI2cAddress(qusbHandle, RECORD_ADDRESS)) {
        TOLMAR_LOG_ERROR("Failed to write address to I2C Memory\n");
        return -3;
    }
    tolmar2::link::pauseAfterI2c();
    if (readI2c(qusbHandle, image, record::HEADER_SIZE) != record::HEADER_SIZE) {
        TOLMAR_LOG_ERROR("Failed to read magic string and format version from I2C\n");
        return -4;
    }
    const uint32_t magic = record::loadU32(image);
    if (magic != I2C_MAGIC_STRING) {
        TOLMAR_LOG_ERROR("magicString [0x%08X] != MAGIC_STRING [0x%08X]\n", magic,
                         I2C_MAGIC_STRING);
        return magic == 1 ? -2 : static_cast<int32_t>(magic);
    }
    const int32_t version = static_cast<int32_t>(record::loadU32(image + 4));
    const size_t size = record::readSize(version);
    if (size == 0) {
        TOLMAR_LOG_ERROR("Unknown formatVersion [%d]\n", version);
        return -5;
    }
    for (size_t offset = record::HEADER_SIZE; offset < size;) {
        tolmar2::link::pauseAfterI2c();
        const size_t got = readI2c(qusbHandle, image + offset, std::min(READ_CHUNK, size - offset));
        if (got == 0) {
            TOLMAR_LOG_ERROR("Failed to read data from I2C (successfuly read %d of %d data)\n",
                             static_cast<int>(offset), static_cast<int>(size));
            return -7;
        }
        offset += got;
    }
    return record::decode(*this, image, size);
}

int TolmarCntrl::writeTolmarConfigParameters(char* moduleName, char* fileName) {
    const size_t size = record::writeSize(i2cFormatVersion);
    if (size == 0) {
        TOLMAR_LOG_ERROR("Unknown i2cMemory version [%d]\n", i2cFormatVersion);
        return -4;
    }
    uint8_t image[record::MAX_RECORD_SIZE] = {};
    const int encoded = record::encode(*this, image, size);
    if (encoded != 1)
        return encoded;
    if (hasText(fileName))
        return writeRecordFile(fileName, image, size);

    QHANDLE handle = qusbHandle;
    if (!connected) {
        if (!hasText(moduleName)) {
            TOLMAR_LOG_ERROR("There's not device connected to PC\n");
            return -6;
        }
        if (!call::QuickUsbOpen(&handle, moduleName)) {
            TOLMAR_LOG_ERROR("Failed to temporarily open %s device.\n", moduleName);
            return -5;
        }
    }
    const int result = writeRecordImage(handle, image, size);
    if (!connected)
        call::QuickUsbClose(handle);
    return result;
}

int TolmarCntrl::eraseI2C(unsigned int address, unsigned int count, char value) {
    const uint8_t byte = static_cast<uint8_t>(value);
    int failures = 0;
    for (unsigned int i = 0; i < count;) {
        const unsigned at = (address + i) & 0xFFFF;
        uint8_t back = 0;
        size_t got = 0;
        if (writeVerified(qusbHandle, at, &byte, 1, &back, got) == Verified::Ok) {
            ++i;
            failures = 0;
        } else if (++failures >= MAX_FAILURES) {
            TOLMAR_LOG_ERROR("Failed to erase I2C memory at adr=%04X\n", at);
            return -1;
        }
    }
    return 1;
}

void TolmarCntrl::printI2cMem() {
    std::printf("---------- I2C Memory ----------\n");
    std::printf("i2cMagicString: %X\n", i2cMagicString);
    std::printf("i2cFormatVersion: %d\n", i2cFormatVersion);
    std::printf("devName: %.*s\n", static_cast<int>(sizeof devName), devName);
    std::printf("createTime: %s", tolmar2::localTimeText(createTime).c_str());
    std::printf("calTime: %s", tolmar2::localTimeText(calTime).c_str());
    for (int i = 0; i < 3; ++i) printPair("vRange[%d]: [%G %G]\n", i, vRange[i]);
    std::printf("iRange: [%G %G %G %G]\n", iRange[0], iRange[1], iRange[2], iRange[3]);
    std::printf("rCurrent: [%G %G]\n", rCurrent[0], rCurrent[1]);
    std::printf("rFilter: %G\n", rFilter);
    for (int i = 0; i < 4; ++i) printPair("cal_dac[%d]: [%G %G]\n", i, cal_dac[i]);
    std::printf("cal_adc_v: [%G %G]\n", cal_adc_v[0], cal_adc_v[1]);
    for (int i = 0; i < 4; ++i) printPair("cal_adc_i[%d]: [%G %G]\n", i, cal_adc_i[i]);
    const int rows = std::clamp(nProbes, 0, MAX_CAL_ROWS);
    for (int i = 0; i < rows; ++i) {
        printPair("cal_adc[%d][0]: [%G %G]\n", i, cal_adc[i][0]);
        printPair("cal_adc[%d][1]: [%G %G]\n", i, cal_adc[i][1]);
    }
    for (int i = 0; i < 3; ++i) {
        printPair("vSettling[%d][0]: [%G %G]\n", i, vSettling[i][0]);
        printPair("vSettling[%d][1]: [%G %G]\n", i, vSettling[i][1]);
    }
    std::fflush(stdout);
}
