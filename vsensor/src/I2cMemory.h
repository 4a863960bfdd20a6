// The serial EEPROM at I2C device 0x51: 64 KiB with 16-bit memory addresses and 64-byte pages.
// Not thread-safe by itself; the emulation's lock guards it.
#ifndef VSENSOR_I2CMEMORY_H
#define VSENSOR_I2CMEMORY_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vsensor::detail {

class I2cMemory {
public:
    I2cMemory();

    // A bus write: the first two bytes set the address pointer (high byte first), the rest are
    // stored from there. As in a real page-write EEPROM the pointer wraps inside its 64-byte page
    // while storing, so a write running past the page end continues at the page start, and the
    // pointer is left behind the last byte stored. Fewer than two bytes is refused (false).
    bool write(const uint8_t* bytes, size_t length);
    // A bus read from the address pointer; the pointer advances over the whole memory (wrapping
    // at its end), so the next read continues where this one stopped.
    void read(uint8_t* out, size_t length);

    uint16_t pointer() const { return pointer_; }

    // Direct access without moving the pointer; addresses wrap at the end of the memory.
    std::vector<uint8_t> peek(uint16_t address, size_t length) const;
    void poke(uint16_t address, const std::vector<uint8_t>& bytes);
    void fill(uint8_t value);

private:
    std::vector<uint8_t> cells_;
    uint16_t pointer_ = 0;
};

}  // namespace vsensor::detail

#endif  // VSENSOR_I2CMEMORY_H
