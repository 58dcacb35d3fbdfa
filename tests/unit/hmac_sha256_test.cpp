// SHA-256 and HMAC-SHA256 against the published test vectors (FIPS 180-4
// examples, RFC 4231), and the constant-time comparison.
#include <gtest/gtest.h>

#include <string>

#include "request/hmac_sha256.hpp"

namespace vexil {
namespace {

std::string hex(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

TEST(Sha256, PublishedExamples) {
    EXPECT_EQ(hex(sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex(sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex(sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hex(sha256(std::string(1000000, 'a'))),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(HmacSha256, Rfc4231Cases) {
    EXPECT_EQ(hex(hmac_sha256(std::string(20, '\x0b'), "Hi There")),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(hex(hmac_sha256("Jefe", "what do ya want for nothing?")),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(hex(hmac_sha256(std::string(20, '\xaa'), std::string(50, '\xdd'))),
              "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe");
    std::string key25;
    for (int i = 1; i <= 25; ++i) key25 += char(i);
    EXPECT_EQ(hex(hmac_sha256(key25, std::string(50, '\xcd'))),
              "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b");
    // A key longer than a block.
    EXPECT_EQ(hex(hmac_sha256(std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First")),
              "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    EXPECT_EQ(hex(hmac_sha256(std::string(131, '\xaa'),
                              "This is a test using a larger than block-size key and a larger than block-size "
                              "data. The key needs to be hashed before being used by the HMAC algorithm.")),
              "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2");
}

TEST(EqualInConstantTime, SameTextsOnly) {
    EXPECT_TRUE(equal_in_constant_time("abc", "abc"));
    EXPECT_TRUE(equal_in_constant_time("", ""));
    EXPECT_FALSE(equal_in_constant_time("abc", "abd"));
    EXPECT_FALSE(equal_in_constant_time("xbc", "abc"));
    EXPECT_FALSE(equal_in_constant_time("abc", "abcd"));
}

}  // namespace
}  // namespace vexil
