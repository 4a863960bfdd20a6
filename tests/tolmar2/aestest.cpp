// The block cipher against published vectors (FIPS-197 and the Rijndael wide-block vectors),
// against OpenSSL for random data, and against its own ECB for the CBC chaining.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "tolmar2/AES.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

Bytes randomBytes(std::mt19937& rng, size_t n) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<unsigned char>(rng());
    return out;
}

const int SIZES[] = {128, 192, 256};

struct Vector {
    int keyBits;
    int blockBits;
    const char* key;
    const char* plain;
    const char* cipher;
};

const char* const KEY128 = "2b7e151628aed2a6abf7158809cf4f3c";
const char* const KEY192 = "2b7e151628aed2a6abf7158809cf4f3c762e7160f38b4da5";
const char* const KEY256 = "2b7e151628aed2a6abf7158809cf4f3c762e7160f38b4da56a784d9045190cfe";
const char* const PLAIN192 = "3243f6a8885a308d313198a2e03707344a4093822299f31d";
const char* const PLAIN256 = "3243f6a8885a308d313198a2e03707344a4093822299f31d0082efa98ec4e6c8";

const Vector PUBLISHED[] = {
    // FIPS-197 appendix C.1 to C.3.
    {128, 128, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {192, 128, "000102030405060708090a0b0c0d0e0f1011121314151617",
     "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {256, 128, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
    // FIPS-197 appendix B.
    {128, 128, KEY128, "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
    // Rijndael vectors for the wider blocks (the same key and plaintext prefixes).
    {128, 192, KEY128, PLAIN192, "b24d275489e82bb8f7375e0d5fcdb1f481757c538b65148a"},
    {192, 192, KEY192, PLAIN192, "725ae43b5f3161de806a7c93e0bca93c967ec1ae1b71e1cf"},
    {256, 192, KEY256, PLAIN192, "0ebacf199e3315c2e34b24fcc7c46ef4388aa475d66c194c"},
    {128, 256, KEY128, PLAIN256,
     "7d15479076b69a46ffb3b3beae97ad8313f622f67fedb487de9f06b9ed9c8f19"},
    {192, 256, KEY192, PLAIN256,
     "5d7101727bb25781bf6715b0e6955282b9610e23a43c2eb062699f0ebf5887b2"},
    {256, 256, KEY256, PLAIN256,
     "a49406115dfb30a40418aafa4869b7c6a886ff31602a7dd19c889dc64f7e4e7a"},
};

TEST(AES, PublishedVectorsEcbBothDirections) {
    for (const Vector& v : PUBLISHED) {
        SCOPED_TRACE(std::to_string(v.keyBits) + "-bit key, " + std::to_string(v.blockBits) +
                     "-bit block");
        const Bytes key = fromHex(v.key), plain = fromHex(v.plain), cipher = fromHex(v.cipher);
        AES aes;
        ASSERT_EQ(aes.setParameters(v.keyBits, v.blockBits), 1);

        Bytes out(plain.size());
        ASSERT_EQ(aes.startEncryption(key.data()), 1);
        ASSERT_EQ(aes.encrypt(plain.data(), out.data(), 1, AES::ECB), 1);
        EXPECT_EQ(out, cipher);

        ASSERT_EQ(aes.startDecryption(key.data()), 1);
        ASSERT_EQ(aes.decrypt(cipher.data(), out.data(), 1, AES::ECB), 1);
        EXPECT_EQ(out, plain);
    }
}

// OpenSSL's encryption with a zero initial vector and no padding (128-bit blocks only).
Bytes opensslEncrypt(int keyBits, int mode, const Bytes& key, const Bytes& plain) {
    const EVP_CIPHER* cipher =
        keyBits == 128   ? (mode == AES::CBC ? EVP_aes_128_cbc() : EVP_aes_128_ecb())
        : keyBits == 192 ? (mode == AES::CBC ? EVP_aes_192_cbc() : EVP_aes_192_ecb())
                         : (mode == AES::CBC ? EVP_aes_256_cbc() : EVP_aes_256_ecb());
    const unsigned char iv[16] = {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(plain.size() + 16);
    int n = 0;
    int tail = 0;
    const bool ok =
        ctx && EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv) &&
        EVP_CIPHER_CTX_set_padding(ctx, 0) &&
        EVP_EncryptUpdate(ctx, out.data(), &n, plain.data(), static_cast<int>(plain.size())) &&
        EVP_EncryptFinal_ex(ctx, out.data() + n, &tail);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(ok ? static_cast<size_t>(n + tail) : 0);
    return out;
}

// CBC over wider blocks has no second implementation to compare with: it is ECB of each block
// XORed with the previous ciphertext (zero before the first). For 128-bit blocks both modes
// must match OpenSSL. Every mode decrypts back, also in place.
TEST(AES, ModesMatchOpenSslAndChainEcb) {
    std::mt19937 rng(1999);
    constexpr size_t BLOCKS = 5;
    for (int keyBits : SIZES) {
        for (int blockBits : SIZES) {
            SCOPED_TRACE(std::to_string(keyBits) + "-bit key, " + std::to_string(blockBits) +
                         "-bit block");
            const size_t size = static_cast<size_t>(blockBits / 8);
            const Bytes key = randomBytes(rng, keyBits / 8);
            const Bytes plain = randomBytes(rng, size * BLOCKS);
            AES aes;
            ASSERT_EQ(aes.setParameters(keyBits, blockBits), 1);
            ASSERT_EQ(aes.startEncryption(key.data()), 1);
            Bytes ecb(plain.size()), cbc(plain.size());
            ASSERT_EQ(aes.encrypt(plain.data(), ecb.data(), BLOCKS, AES::ECB), 1);
            ASSERT_EQ(aes.encrypt(plain.data(), cbc.data(), BLOCKS, AES::CBC), 1);
            if (blockBits == 128) {
                EXPECT_EQ(ecb, opensslEncrypt(keyBits, AES::ECB, key, plain));
                EXPECT_EQ(cbc, opensslEncrypt(keyBits, AES::CBC, key, plain));
            }
            Bytes chained(plain.size()), previous(size, 0);
            for (size_t b = 0; b < BLOCKS; ++b) {
                Bytes mixed(size);
                for (size_t i = 0; i < size; ++i) mixed[i] = plain[b * size + i] ^ previous[i];
                ASSERT_EQ(aes.encrypt(mixed.data(), chained.data() + b * size, 1, AES::ECB), 1);
                previous.assign(chained.begin() + b * size, chained.begin() + (b + 1) * size);
            }
            EXPECT_EQ(cbc, chained);
            for (int mode : {AES::ECB, AES::CBC}) {
                Bytes inPlace = mode == AES::CBC ? cbc : ecb;
                ASSERT_EQ(aes.startDecryption(key.data()), 1);
                ASSERT_EQ(aes.decrypt(inPlace.data(), inPlace.data(), BLOCKS, mode), 1);
                EXPECT_EQ(inPlace, plain) << "mode " << mode;
                ASSERT_EQ(aes.startEncryption(key.data()), 1);
            }
        }
    }
}

// Misuse is refused with result 0 and the output left as it was; so are key and block sizes
// other than 128, 192 and 256 bits, which also drop a key already started.
TEST(AES, MisuseIsRefusedWithoutTouchingOutput) {
    const Bytes key(32, 0x42), in(32, 0x11), untouched(32, 0xA5);
    const struct {
        const char* what;
        int keyBits, blockBits;
        bool decryptionKey, decrypt;
        int mode;
    } cases[] = {
        {"unknown mode 2", 128, 128, false, false, 2},
        {"unknown mode -1 on decrypt", 128, 128, true, true, -1},
        {"encrypt with a decryption schedule", 128, 128, true, false, AES::ECB},
        {"decrypt with an encryption schedule", 256, 192, false, true, AES::CBC},
    };
    for (const auto& c : cases) {
        AES aes;
        ASSERT_EQ(aes.setParameters(c.keyBits, c.blockBits), 1);
        ASSERT_EQ(
            c.decryptionKey ? aes.startDecryption(key.data()) : aes.startEncryption(key.data()), 1);
        Bytes out = untouched;
        EXPECT_EQ(c.decrypt ? aes.decrypt(in.data(), out.data(), 1, c.mode)
                            : aes.encrypt(in.data(), out.data(), 1, c.mode),
                  0)
            << c.what;
        EXPECT_EQ(out, untouched) << c.what;
    }
    for (auto sizes : {std::pair{0, 128},
                       {64, 128},
                       {160, 128},
                       {512, 128},
                       {-128, 128},
                       {128, 0},
                       {128, 224},
                       {128, 512}}) {
        SCOPED_TRACE(std::to_string(sizes.first) + "/" + std::to_string(sizes.second));
        AES aes;
        ASSERT_EQ(aes.startEncryption(key.data()), 1);
        EXPECT_EQ(aes.setParameters(sizes.first, sizes.second), 0);
        EXPECT_EQ(aes.startEncryption(key.data()), 0);
        EXPECT_EQ(aes.startDecryption(key.data()), 0);
        Bytes out = untouched;
        EXPECT_EQ(aes.encrypt(in.data(), out.data(), 1, AES::ECB), 0);
        EXPECT_EQ(out, untouched);
    }
    AES aes;
    Bytes out = untouched;
    EXPECT_EQ(aes.encrypt(in.data(), out.data(), 1, AES::ECB), 0) << "no key started";
    EXPECT_EQ(aes.startEncryption(nullptr), 0);
    ASSERT_EQ(aes.startEncryption(key.data()), 1);
    ASSERT_EQ(aes.setParameters(128, 128), 1);
    EXPECT_EQ(aes.encrypt(in.data(), out.data(), 1, AES::ECB), 0) << "new sizes drop the key";
    EXPECT_EQ(out, untouched);
}

}  // namespace
