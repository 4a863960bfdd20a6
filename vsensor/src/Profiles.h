// The calibration record image of a unit profile, encoded by the virtual sensor itself from the
// record's byte layout (current format, 2048 bytes, little-endian).
#ifndef VSENSOR_PROFILES_H
#define VSENSOR_PROFILES_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vsensor/VirtualSensor.h"

namespace vsensor::detail {

constexpr uint32_t kRecordMagic = 0xB070AAA0;
constexpr size_t kRecordSize = 2048;

// The record bytes for the profile; empty for a blank profile.
std::vector<uint8_t> encodeRecord(const UnitProfile& profile);

}  // namespace vsensor::detail

#endif  // VSENSOR_PROFILES_H
