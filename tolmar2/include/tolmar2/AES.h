// The Rijndael block cipher: AES with 128-, 192- and 256-bit keys, and in addition Rijndael's
// 192- and 256-bit block sizes. Electronic codebook (ECB) and cipher block chaining (CBC, with an
// all-zero initial vector) over whole blocks; no padding.
//
// Usage: setParameters(keyBits, blockBits), then startEncryption(key) or startDecryption(key),
// then encrypt() or decrypt() as often as needed. Results: 1 for success, 0 for failure, with one
// message-log line per failure. Misuse that would otherwise produce wrong output (an unknown
// mode, a key schedule started with no valid key size, processing in the direction the key was
// not prepared for) is refused and logged; the output is then left untouched.
#ifndef TOLMAR2_AES_H
#define TOLMAR2_AES_H

#include <cstddef>
#include <cstdint>

class AES {
public:
    enum Mode { ECB = 0, CBC = 1 };
    static constexpr int MAX_BLOCK_BYTES = 32;
    static constexpr int MAX_KEY_BYTES = 32;
    static constexpr int MAX_ROUND_KEY_WORDS = 120;  // Nb * (Nr + 1) for 256-bit blocks

    // 128-bit key, 128-bit block.
    AES();

    // Sets key and block size in bits, each 128, 192 or 256. Any other size makes the object
    // unusable (no key size) until a valid call, and returns 0. Drops the current key schedule.
    int setParameters(int keyBits, int blockBits = 128);

    // Expands `key` (keyBytes() bytes) for encryption.
    int startEncryption(const unsigned char* key);
    // Expands `key` for decryption with the equivalent inverse cipher.
    int startDecryption(const unsigned char* key);

    // Process `blocks` whole blocks of blockBytes() bytes each from `in` to `out` (which may be
    // the same buffer). Mode ECB or CBC. Zero blocks leaves `out` untouched.
    int encrypt(const unsigned char* in, unsigned char* out, size_t blocks, int mode = ECB);
    int decrypt(const unsigned char* in, unsigned char* out, size_t blocks, int mode = ECB);

    int keyBytes() const { return 4 * Nk; }
    int blockBytes() const { return 4 * Nb; }
    int rounds() const { return Nr; }

private:
    enum class Schedule { None, Encryption, Decryption };

    int expandKey(const unsigned char* key);
    int checkRun(const unsigned char* in, unsigned char* out, int mode, Schedule wanted) const;
    void encryptBlock(const uint8_t* in, uint8_t* out) const;
    void decryptBlock(const uint8_t* in, uint8_t* out) const;

    int Nb = 0;                   // block size in 32-bit words
    int Nk = 0;                   // key size in 32-bit words; 0 = no valid size set
    int Nr = 0;                   // rounds
    int shift[4] = {0, 0, 0, 0};  // ShiftRows offsets of rows 0 to 3
    uint32_t roundKey[MAX_ROUND_KEY_WORDS] = {};
    Schedule schedule = Schedule::None;
};

#endif  // TOLMAR2_AES_H
