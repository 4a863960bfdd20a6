// The block cipher against published vectors (FIPS-197 and the Rijndael wide-block vectors),
// against OpenSSL for random data, and against its own ECB for the CBC chaining.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "tolmar2/AES.h"
#include "tolmar2/TolmarCntrl.h"

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
        ASSERT_EQ(static_cast<size_t>(aes.keyBytes()), key.size());
        ASSERT_EQ(static_cast<size_t>(aes.blockBytes()), plain.size());
        EXPECT_EQ(aes.rounds(), std::max(v.keyBits, v.blockBits) / 32 + 6);

        Bytes out(plain.size());
        ASSERT_EQ(aes.startEncryption(key.data()), 1);
        ASSERT_EQ(aes.encrypt(plain.data(), out.data(), 1, AES::ECB), 1);
        EXPECT_EQ(out, cipher);

        ASSERT_EQ(aes.startDecryption(key.data()), 1);
        ASSERT_EQ(aes.decrypt(cipher.data(), out.data(), 1, AES::ECB), 1);
        EXPECT_EQ(out, plain);
    }
}

const EVP_CIPHER* opensslCipher(int keyBits, int mode) {
    switch (keyBits) {
        case 128:
            return mode == AES::CBC ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
        case 192:
            return mode == AES::CBC ? EVP_aes_192_cbc() : EVP_aes_192_ecb();
        default:
            return mode == AES::CBC ? EVP_aes_256_cbc() : EVP_aes_256_ecb();
    }
}

// OpenSSL's encryption with a zero initial vector and no padding.
Bytes opensslEncrypt(int keyBits, int mode, const Bytes& key, const Bytes& plain) {
    const unsigned char iv[16] = {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(plain.size() + 16);
    int n = 0;
    int tail = 0;
    const bool ok =
        ctx && EVP_EncryptInit_ex(ctx, opensslCipher(keyBits, mode), nullptr, key.data(), iv) &&
        EVP_CIPHER_CTX_set_padding(ctx, 0) &&
        EVP_EncryptUpdate(ctx, out.data(), &n, plain.data(), static_cast<int>(plain.size())) &&
        EVP_EncryptFinal_ex(ctx, out.data() + n, &tail);
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        return {};
    out.resize(static_cast<size_t>(n + tail));
    return out;
}

TEST(AES, MatchesOpenSslForRandomData) {
    std::mt19937 rng(20180413);
    for (int keyBits : SIZES) {
        for (int mode : {AES::ECB, AES::CBC}) {
            for (size_t blocks : {1, 2, 7, 64}) {
                SCOPED_TRACE(std::to_string(keyBits) + "-bit key, mode " + std::to_string(mode) +
                             ", " + std::to_string(blocks) + " blocks");
                const Bytes key = randomBytes(rng, keyBits / 8);
                const Bytes plain = randomBytes(rng, 16 * blocks);
                const Bytes expected = opensslEncrypt(keyBits, mode, key, plain);
                ASSERT_EQ(expected.size(), plain.size());

                AES aes;
                ASSERT_EQ(aes.setParameters(keyBits, 128), 1);
                Bytes out(plain.size());
                ASSERT_EQ(aes.startEncryption(key.data()), 1);
                ASSERT_EQ(aes.encrypt(plain.data(), out.data(), blocks, mode), 1);
                EXPECT_EQ(out, expected);

                ASSERT_EQ(aes.startDecryption(key.data()), 1);
                ASSERT_EQ(aes.decrypt(expected.data(), out.data(), blocks, mode), 1);
                EXPECT_EQ(out, plain);
            }
        }
    }
}

// For every key and block size: CBC is ECB of each block XORed with the previous ciphertext
// (zero before the first), decryption inverts both modes, and in-place processing gives the
// same result as separate buffers.
TEST(AES, CbcChainsEcbAndEveryModeRoundTrips) {
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
            EXPECT_TRUE(std::equal(cbc.begin(), cbc.begin() + size, ecb.begin()));
            EXPECT_NE(Bytes(cbc.begin() + size, cbc.end()), Bytes(ecb.begin() + size, ecb.end()));
            for (size_t b = 1; b < BLOCKS; ++b) {
                Bytes mixed(size), single(size);
                for (size_t i = 0; i < size; ++i) {
                    mixed[i] = plain[b * size + i] ^ cbc[(b - 1) * size + i];
                }
                ASSERT_EQ(aes.encrypt(mixed.data(), single.data(), 1, AES::ECB), 1);
                EXPECT_TRUE(std::equal(single.begin(), single.end(), cbc.begin() + b * size))
                    << "block " << b;
            }
            for (int mode : {AES::ECB, AES::CBC}) {
                const Bytes& cipher = mode == AES::CBC ? cbc : ecb;
                Bytes inPlace = plain;
                ASSERT_EQ(aes.startEncryption(key.data()), 1);
                ASSERT_EQ(aes.encrypt(inPlace.data(), inPlace.data(), BLOCKS, mode), 1);
                EXPECT_EQ(inPlace, cipher) << "mode " << mode;

                ASSERT_EQ(aes.startDecryption(key.data()), 1);
                Bytes back(plain.size());
                ASSERT_EQ(aes.decrypt(cipher.data(), back.data(), BLOCKS, mode), 1);
                EXPECT_EQ(back, plain) << "mode " << mode;
                ASSERT_EQ(aes.decrypt(inPlace.data(), inPlace.data(), BLOCKS, mode), 1);
                EXPECT_EQ(inPlace, plain) << "mode " << mode;
            }
        }
    }
}

TEST(AES, ZeroBlocksLeaveOutputUntouched) {
    const Bytes in(32, 0x11);
    for (int mode : {AES::ECB, AES::CBC}) {
        AES aes;
        Bytes out(32, 0xA5);
        ASSERT_EQ(aes.setParameters(128, 256), 1);
        ASSERT_EQ(aes.startEncryption(TolmarCntrl::ENCKEY), 1);
        EXPECT_EQ(aes.encrypt(in.data(), out.data(), 0, mode), 1);
        ASSERT_EQ(aes.startDecryption(TolmarCntrl::ENCKEY), 1);
        EXPECT_EQ(aes.decrypt(in.data(), out.data(), 0, mode), 1);
        EXPECT_EQ(out, Bytes(32, 0xA5));
    }
}

// Misuse is refused with result 0 and the output left as it was.
TEST(AES, MisuseIsRefusedWithoutTouchingOutput) {
    const Bytes key(32, 0x42);
    const Bytes in(32, 0x11);
    struct Case {
        const char* what;
        int keyBits;
        int blockBits;
        bool prepareDecryption;
        int mode;
        bool decrypt;
    };
    const Case cases[] = {
        {"unknown mode 2", 128, 128, false, 2, false},
        {"unknown mode -1 on decrypt", 128, 128, true, -1, true},
        {"encrypt with a decryption schedule", 128, 128, true, AES::ECB, false},
        {"decrypt with an encryption schedule", 256, 192, false, AES::CBC, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AES aes;
        ASSERT_EQ(aes.setParameters(c.keyBits, c.blockBits), 1);
        ASSERT_EQ(
            c.prepareDecryption ? aes.startDecryption(key.data()) : aes.startEncryption(key.data()),
            1);
        Bytes out(32, 0xA5);
        EXPECT_EQ(c.decrypt ? aes.decrypt(in.data(), out.data(), 1, c.mode)
                            : aes.encrypt(in.data(), out.data(), 1, c.mode),
                  0);
        EXPECT_EQ(out, Bytes(32, 0xA5));
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
        EXPECT_EQ(aes.keyBytes(), 0);
        EXPECT_EQ(aes.startEncryption(key.data()), 0);
        EXPECT_EQ(aes.startDecryption(key.data()), 0);
        Bytes out(32, 0xA5);
        EXPECT_EQ(aes.encrypt(in.data(), out.data(), 1, AES::ECB), 0);
        EXPECT_EQ(out, Bytes(32, 0xA5));
    }

    AES aes;
    Bytes out(16, 0xA5);
    EXPECT_EQ(aes.encrypt(in.data(), out.data(), 1, AES::ECB), 0) << "no key started";
    EXPECT_EQ(aes.startEncryption(nullptr), 0);
    ASSERT_EQ(aes.startEncryption(key.data()), 1);
    ASSERT_EQ(aes.setParameters(128, 128), 1);
    EXPECT_EQ(aes.encrypt(in.data(), out.data(), 1, AES::ECB), 0) << "new sizes drop the key";
    EXPECT_EQ(out, Bytes(16, 0xA5));
}

}  // namespace
