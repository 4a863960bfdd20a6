// Byte layouts of the non-volatile configuration record, formats 10 to 16.
//
// Each layout is described once, as a walk over its fields in storage order. The same walk
// encodes the controller's record mirror into an image, checks an image without touching the
// mirror, or decodes an image into the mirror, so a field cannot be placed differently by the
// reader and the writer. All numbers are little-endian; doubles are IEEE 754 64-bit.
#ifndef TOLMAR2_RECORDLAYOUT_H
#define TOLMAR2_RECORDLAYOUT_H

#include <cstddef>
#include <cstdint>

class TolmarCntrl;

namespace tolmar2::record {

// The largest record image (formats 13 and later are written with this size).
constexpr size_t MAX_RECORD_SIZE = 2048;
constexpr size_t HEADER_SIZE = 8;  // magic and format version
constexpr int FIRST_FORMAT = 10;

// Bytes a record of this format occupies when read; 0 for a format below 10.
size_t readSize(int32_t version);
// Bytes a record of this format occupies when written; 0 for a format below 10.
size_t writeSize(int32_t version);

uint32_t loadU32(const uint8_t* p);
void storeU32(uint8_t* p, uint32_t v);

// Encodes the mirror of `m` into image[0 .. writeSize(m.i2cFormatVersion)) (the caller zeroes
// the image first). Returns 1, or TolmarCntrl::RECORD_DOES_NOT_FIT when the mirror's counts do
// not fit the layout.
int encode(const TolmarCntrl& m, uint8_t* image, size_t size);

// Decodes image (at least readSize of its version bytes, version taken from bytes 4-7) into the
// mirror of `m`, then derives the option flags, channel counts and vRange order and sets
// recordLoaded. On any failure (TolmarCntrl::RECORD_DOES_NOT_FIT, or -7 when the image is too
// short, also when it lacks the 8-byte header) the mirror is left unchanged and a message is
// logged.
int decode(TolmarCntrl& m, const uint8_t* image, size_t size);

}  // namespace tolmar2::record

#endif  // TOLMAR2_RECORDLAYOUT_H
