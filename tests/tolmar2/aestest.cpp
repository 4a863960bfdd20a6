// The block cipher against published vectors: FIPS-197, the Rijndael wide-block vectors and
// SP 800-38A for CBC.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tolmar2/AES.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

const char* const KEY128 = "2b7e151628aed2a6abf7158809cf4f3c";
const char* const KEY192 = "2b7e151628aed2a6abf7158809cf4f3c762e7160f38b4da5";
const char* const KEY256 = "2b7e151628aed2a6abf7158809cf4f3c762e7160f38b4da56a784d9045190cfe";
const char* const PLAIN192 = "3243f6a8885a308d313198a2e03707344a4093822299f31d";
const char* const PLAIN256 = "3243f6a8885a308d313198a2e03707344a4093822299f31d0082efa98ec4e6c8";

// Both directions; decryption in place, which in CBC must keep each ciphertext block until the
// next one is done.
TEST(AES, PublishedVectorsBothDirections) {
    const struct {
        int keyBits, blockBits;
        const char *key, *plain, *cipher;
        int mode = AES::ECB;
    } vectors[] = {
        // FIPS-197 appendix C.1 to C.3.
        {128, 128, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
         "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {192, 128, "000102030405060708090a0b0c0d0e0f1011121314151617",
         "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {256, 128, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
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
        // SP 800-38A F.2.1 (CBC-AES128): the chain starts from zero here, so the first block is
        // the published plaintext XOR its IV 000102...0f.
        {128, 128, KEY128,
         "6bc0bce12a459991e134741a7f9e1925ae2d8a571e03ac9c9eb76fac45af8e51"
         "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7",
         AES::CBC},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(std::to_string(v.keyBits) + "/" + std::to_string(v.blockBits));
        const Bytes key = fromHex(v.key), plain = fromHex(v.plain), cipher = fromHex(v.cipher);
        AES aes;
        ASSERT_EQ(aes.setParameters(v.keyBits, v.blockBits), 1);
        const size_t blocks = plain.size() * 8 / static_cast<size_t>(v.blockBits);
        Bytes out(plain.size());
        ASSERT_EQ(aes.startEncryption(key.data()), 1);
        ASSERT_EQ(aes.encrypt(plain.data(), out.data(), blocks, v.mode), 1);
        EXPECT_EQ(out, cipher);
        ASSERT_EQ(aes.startDecryption(key.data()), 1);
        ASSERT_EQ(aes.decrypt(out.data(), out.data(), blocks, v.mode), 1);
        EXPECT_EQ(out, plain);
    }
}

// An unsupported size is refused and drops a key already started; an unknown mode is refused.
// Neither touches the output.
TEST(AES, MisuseIsRefusedWithoutTouchingOutput) {
    const Bytes key(32, 0x42), in(16, 0x11), untouched(16, 0xA5);
    AES aes;
    ASSERT_EQ(aes.setParameters(128, 128), 1);
    ASSERT_EQ(aes.startEncryption(key.data()), 1);
    Bytes out = untouched;
    EXPECT_EQ(aes.encrypt(in.data(), out.data(), 1, 2), 0) << "unknown mode";
    EXPECT_EQ(aes.setParameters(160, 128), 0);
    EXPECT_EQ(aes.encrypt(in.data(), out.data(), 1, AES::ECB), 0) << "new sizes drop the key";
    EXPECT_EQ(out, untouched);
}

}  // namespace
