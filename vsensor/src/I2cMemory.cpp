#include "I2cMemory.h"

#include "vsensor/VirtualSensor.h"

namespace vsensor::detail {

I2cMemory::I2cMemory() : cells_(kI2cMemorySize, 0xFF) {}

bool I2cMemory::write(const uint8_t* bytes, size_t length) {
    if (length < 2)
        return false;
    const uint16_t start = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
    const uint16_t page = static_cast<uint16_t>(start & ~(kI2cPageSize - 1));
    uint16_t inPage = static_cast<uint16_t>(start & (kI2cPageSize - 1));
    for (size_t i = 2; i < length; ++i) {
        cells_[page | inPage] = bytes[i];
        inPage = static_cast<uint16_t>((inPage + 1) & (kI2cPageSize - 1));
    }
    pointer_ = static_cast<uint16_t>(page | inPage);
    return true;
}

void I2cMemory::read(uint8_t* out, size_t length) {
    for (size_t i = 0; i < length; ++i) out[i] = cells_[pointer_++];
}

std::vector<uint8_t> I2cMemory::peek(uint16_t address, size_t length) const {
    std::vector<uint8_t> out(length);
    for (size_t i = 0; i < length; ++i) out[i] = cells_[static_cast<uint16_t>(address + i)];
    return out;
}

void I2cMemory::poke(uint16_t address, const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) cells_[static_cast<uint16_t>(address + i)] = bytes[i];
}

void I2cMemory::fill(uint8_t value) {
    cells_.assign(kI2cMemorySize, value);
}

}  // namespace vsensor::detail
