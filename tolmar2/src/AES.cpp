#include "tolmar2/AES.h"

#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>

#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

const unsigned char TolmarCntrl::ENCKEY[16] = {0x5d, 0x1e, 0xa7, 0x3c, 0x92, 0x08, 0xf4, 0x6b,
                                               0xc1, 0x37, 0x8e, 0x25, 0xd9, 0x40, 0x7a, 0xb3};

namespace {

// ---- GF(2^8) with the polynomial x^8 + x^4 + x^3 + x + 1 ----

uint8_t gfMul(uint8_t a, uint8_t b) {
    uint8_t product = 0;
    while (b) {
        if (b & 1)
            product ^= a;
        a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
        b >>= 1;
    }
    return product;
}

uint8_t rotl8(uint8_t b, int n) {
    return static_cast<uint8_t>((b << n) | (b >> (8 - n)));
}
uint32_t rotr32(uint32_t w, int n) {
    return (w >> n) | (w << (32 - n));
}

uint32_t packWord(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    return (uint32_t{b0} << 24) | (uint32_t{b1} << 16) | (uint32_t{b2} << 8) | b3;
}
uint8_t byteOf(uint32_t w, int row) {
    return static_cast<uint8_t>(w >> (24 - 8 * row));
}

// Library-wide tables: inverses, S-boxes and the round tables of both directions. Round table
// k holds, for an input byte x of row k, the column MixColumns (or InvMixColumns) makes of the
// substituted byte, as a word with row 0 in the top byte.
struct Tables {
    uint8_t inverse[256];
    uint8_t sbox[256];
    uint8_t invSbox[256];
    uint32_t enc[4][256];
    uint32_t dec[4][256];
};

Tables tableStore;
const Tables* readyTables = nullptr;
std::once_flag tablesOnce;

void failTables() {
    throw std::runtime_error("Tables failed to initialize");
}

// Builds every table and checks it against a second, independent computation.
void buildTables(Tables& t) {
    if (gfMul(0x57, 0x13) != 0xfe || gfMul(0xff, 0x55) != 0xf8)
        failTables();

    // Inverses from powers of the generator 3: x = 3^i has inverse 3^(255 - i).
    uint8_t power[255];
    uint8_t logOf[256] = {};
    uint8_t x = 1;
    for (int i = 0; i < 255; ++i) {
        power[i] = x;
        logOf[x] = static_cast<uint8_t>(i);
        x = gfMul(x, 3);
    }
    t.inverse[0] = 0;
    for (int v = 1; v < 256; ++v) t.inverse[v] = power[(255 - logOf[v]) % 255];
    // Recomputed as v^254 by square and multiply.
    for (int v = 0; v < 256; ++v) {
        uint8_t result = 1;
        uint8_t base = static_cast<uint8_t>(v);
        for (int e = 254; e; e >>= 1) {
            if (e & 1)
                result = gfMul(result, base);
            base = gfMul(base, base);
        }
        if (t.inverse[v] != result)
            failTables();
    }

    // S-box: the affine map b ^ rotl(b,1) ^ rotl(b,2) ^ rotl(b,3) ^ rotl(b,4) ^ 0x63 of the
    // inverse, recomputed bit by bit as b'_i = b_i ^ b_i+4 ^ b_i+5 ^ b_i+6 ^ b_i+7 ^ c_i.
    bool seen[256] = {};
    for (int v = 0; v < 256; ++v) {
        const uint8_t b = t.inverse[v];
        const uint8_t s =
            static_cast<uint8_t>(b ^ rotl8(b, 1) ^ rotl8(b, 2) ^ rotl8(b, 3) ^ rotl8(b, 4) ^ 0x63);
        uint8_t bitwise = 0;
        for (int i = 0; i < 8; ++i) {
            int bit = ((b >> i) ^ (b >> ((i + 4) % 8)) ^ (b >> ((i + 5) % 8)) ^
                       (b >> ((i + 6) % 8)) ^ (b >> ((i + 7) % 8)) ^ (0x63 >> i)) &
                      1;
            bitwise = static_cast<uint8_t>(bitwise | (bit << i));
        }
        if (s != bitwise || seen[s])
            failTables();
        seen[s] = true;
        t.sbox[v] = s;
        t.invSbox[s] = static_cast<uint8_t>(v);
    }

    for (int v = 0; v < 256; ++v) {
        const uint8_t s = t.sbox[v];
        const uint8_t i = t.invSbox[v];
        t.enc[0][v] = packWord(gfMul(s, 2), s, s, gfMul(s, 3));
        t.dec[0][v] = packWord(gfMul(i, 14), gfMul(i, 9), gfMul(i, 13), gfMul(i, 11));
        for (int k = 1; k < 4; ++k) {
            t.enc[k][v] = rotr32(t.enc[0][v], 8 * k);
            t.dec[k][v] = rotr32(t.dec[0][v], 8 * k);
        }
    }
}

// The tables, built on first use by whichever thread comes first; null when building failed
// (logged once).
const Tables* tables() {
    std::call_once(tablesOnce, [] {
        try {
            buildTables(tableStore);
            readyTables = &tableStore;
        } catch (const std::exception& e) {
            TOLMAR_LOG_ERROR("AES: %s\n", e.what());
        }
    });
    return readyTables;
}

uint32_t subWord(const Tables& t, uint32_t w) {
    return packWord(t.sbox[byteOf(w, 0)], t.sbox[byteOf(w, 1)], t.sbox[byteOf(w, 2)],
                    t.sbox[byteOf(w, 3)]);
}

uint32_t invMixColumn(uint32_t w) {
    const uint8_t a0 = byteOf(w, 0), a1 = byteOf(w, 1), a2 = byteOf(w, 2), a3 = byteOf(w, 3);
    return packWord(gfMul(a0, 14) ^ gfMul(a1, 11) ^ gfMul(a2, 13) ^ gfMul(a3, 9),
                    gfMul(a0, 9) ^ gfMul(a1, 14) ^ gfMul(a2, 11) ^ gfMul(a3, 13),
                    gfMul(a0, 13) ^ gfMul(a1, 9) ^ gfMul(a2, 14) ^ gfMul(a3, 11),
                    gfMul(a0, 11) ^ gfMul(a1, 13) ^ gfMul(a2, 9) ^ gfMul(a3, 14));
}

int wordsOf(int bits) {
    return (bits == 128 || bits == 192 || bits == 256) ? bits / 32 : 0;
}

void loadState(const uint8_t* in, uint32_t* state, int nb, const uint32_t* key) {
    for (int c = 0; c < nb; ++c)
        state[c] = packWord(in[4 * c], in[4 * c + 1], in[4 * c + 2], in[4 * c + 3]) ^ key[c];
}

void storeState(const uint32_t* state, uint8_t* out, int nb) {
    for (int c = 0; c < nb; ++c)
        for (int r = 0; r < 4; ++r) out[4 * c + r] = byteOf(state[c], r);
}

// One pass through the cipher in either direction: add the first round key, run nr - 1 table
// rounds, then a final round of substitution and row shifts alone. Output column c takes row r
// from state column (c + offsets[r]) % nb; the round keys are visited from `key` on in steps of
// `keyStep` words (backwards for decryption).
void cipherPass(const uint32_t (&rounds)[4][256], const uint8_t (&box)[256],
                const int (&offsets)[4], int nb, int nr, const uint32_t* key, int keyStep,
                const uint8_t* in, uint8_t* out) {
    uint32_t state[8];
    uint32_t next[8];
    loadState(in, state, nb, key);
    for (int round = 1; round < nr; ++round) {
        key += keyStep;
        for (int c = 0; c < nb; ++c) {
            next[c] = rounds[0][byteOf(state[c], 0)] ^
                      rounds[1][byteOf(state[(c + offsets[1]) % nb], 1)] ^
                      rounds[2][byteOf(state[(c + offsets[2]) % nb], 2)] ^
                      rounds[3][byteOf(state[(c + offsets[3]) % nb], 3)] ^ key[c];
        }
        std::memcpy(state, next, sizeof(uint32_t) * nb);
    }
    key += keyStep;
    for (int c = 0; c < nb; ++c) {
        next[c] = packWord(box[byteOf(state[c], 0)], box[byteOf(state[(c + offsets[1]) % nb], 1)],
                           box[byteOf(state[(c + offsets[2]) % nb], 2)],
                           box[byteOf(state[(c + offsets[3]) % nb], 3)]) ^
                  key[c];
    }
    storeState(next, out, nb);
}

}  // namespace

AES::AES() {
    setParameters(128, 128);
}

int AES::setParameters(int keyBits, int blockBits) {
    schedule = Schedule::None;
    Nk = wordsOf(keyBits);
    Nb = wordsOf(blockBits);
    if (Nk == 0 || Nb == 0) {
        Nk = 0;
        Nb = 0;
        Nr = 0;
        TOLMAR_LOG_ERROR("AES: unsupported key or block size (%d, %d bits)\n", keyBits, blockBits);
        return 0;
    }
    Nr = (Nk > Nb ? Nk : Nb) + 6;
    // Row r of the state rotates left by shift[r] columns; wider blocks shift rows 2 and 3
    // further so that the columns still mix completely.
    shift[1] = 1;
    shift[2] = Nb == 8 ? 3 : 2;
    shift[3] = Nb == 8 ? 4 : 3;
    return 1;
}

int AES::expandKey(const unsigned char* key) {
    schedule = Schedule::None;
    if (Nk <= 0) {
        TOLMAR_LOG_ERROR("AES: assertion failed: Nk> 0\n");
        return 0;
    }
    if (!key) {
        TOLMAR_LOG_ERROR("AES: no key given\n");
        return 0;
    }
    const Tables* t = tables();
    if (!t)
        return 0;

    const int total = Nb * (Nr + 1);
    for (int i = 0; i < Nk; ++i)
        roundKey[i] = packWord(key[4 * i], key[4 * i + 1], key[4 * i + 2], key[4 * i + 3]);
    uint8_t rcon = 1;
    for (int i = Nk; i < total; ++i) {
        uint32_t temp = roundKey[i - 1];
        if (i % Nk == 0) {
            temp = subWord(*t, (temp << 8) | (temp >> 24)) ^ (uint32_t{rcon} << 24);
            rcon = gfMul(rcon, 2);
        } else if (Nk > 6 && i % Nk == 4) {
            temp = subWord(*t, temp);
        }
        roundKey[i] = roundKey[i - Nk] ^ temp;
    }
    return 1;
}

int AES::startEncryption(const unsigned char* key) {
    if (!expandKey(key))
        return 0;
    schedule = Schedule::Encryption;
    return 1;
}

int AES::startDecryption(const unsigned char* key) {
    if (!expandKey(key))
        return 0;
    for (int i = Nb; i < Nb * Nr; ++i) roundKey[i] = invMixColumn(roundKey[i]);
    schedule = Schedule::Decryption;
    return 1;
}

int AES::checkRun(const unsigned char* in, unsigned char* out, int mode, Schedule wanted) const {
    if (mode != ECB && mode != CBC) {
        TOLMAR_LOG_ERROR("AES: assertion failed: Unknown mode! (%d)\n", mode);
        return 0;
    }
    if (schedule != wanted) {
        TOLMAR_LOG_ERROR("AES: key not prepared for %s\n",
                         wanted == Schedule::Encryption ? "encryption" : "decryption");
        return 0;
    }
    if (!in || !out) {
        TOLMAR_LOG_ERROR("AES: no data buffer given\n");
        return 0;
    }
    return 1;
}

void AES::encryptBlock(const uint8_t* in, uint8_t* out) const {
    const int offsets[4] = {0, shift[1], shift[2], shift[3]};
    cipherPass(tableStore.enc, tableStore.sbox, offsets, Nb, Nr, roundKey, Nb, in, out);
}

void AES::decryptBlock(const uint8_t* in, uint8_t* out) const {
    // Undoing ShiftRows takes row r from column c - shift[r]; adding Nb keeps it positive.
    const int offsets[4] = {0, Nb - shift[1], Nb - shift[2], Nb - shift[3]};
    cipherPass(tableStore.dec, tableStore.invSbox, offsets, Nb, Nr, roundKey + Nr * Nb, -Nb, in,
               out);
}

int AES::encrypt(const unsigned char* in, unsigned char* out, size_t blocks, int mode) {
    if (!checkRun(in, out, mode, Schedule::Encryption))
        return 0;
    const size_t size = static_cast<size_t>(blockBytes());
    uint8_t chain[MAX_BLOCK_BYTES] = {};  // the previous ciphertext block, zero at the start
    uint8_t block[MAX_BLOCK_BYTES];
    for (size_t b = 0; b < blocks; ++b, in += size, out += size) {
        for (size_t i = 0; i < size; ++i) block[i] = mode == CBC ? in[i] ^ chain[i] : in[i];
        encryptBlock(block, out);
        std::memcpy(chain, out, size);
    }
    return 1;
}

int AES::decrypt(const unsigned char* in, unsigned char* out, size_t blocks, int mode) {
    if (!checkRun(in, out, mode, Schedule::Decryption))
        return 0;
    const size_t size = static_cast<size_t>(blockBytes());
    uint8_t chain[MAX_BLOCK_BYTES] = {};  // the previous ciphertext block, zero at the start
    uint8_t cipher[MAX_BLOCK_BYTES];
    uint8_t plain[MAX_BLOCK_BYTES];
    for (size_t b = 0; b < blocks; ++b, in += size, out += size) {
        std::memcpy(cipher, in, size);  // kept before `out` (maybe the same memory) is written
        decryptBlock(cipher, plain);
        for (size_t i = 0; i < size; ++i) out[i] = mode == CBC ? plain[i] ^ chain[i] : plain[i];
        std::memcpy(chain, cipher, size);
    }
    return 1;
}
