// The platform's SHA-256 through both providers, fed in pieces, and digests read from and written as text.
#include "agent/Sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

namespace tamsel::agent {
namespace {

struct Vector {
    std::string message;
    const char* digest;
};

// FIPS 180-2's examples and the empty message.
const Vector VECTORS[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

TEST(Sha256, BothProvidersGiveTheKnownDigestsWhateverThePieces) {
    for (const Sha256::Provider provider : {Sha256::Provider::Any, Sha256::Provider::CryptoApi}) {
        for (const Vector& v : VECTORS) {
            for (const size_t piece : {size_t(1), size_t(63), size_t(1) << 20}) {
                SCOPED_TRACE(testing::Message() << "provider " << static_cast<int>(provider) << ", "
                                                << v.message.size() << " bytes in pieces of " << piece);
                if (piece == 1 && v.message.size() > 1000) continue;
                Sha256 hash(provider);
                ASSERT_TRUE(hash) << "no SHA-256 from the platform";
                for (size_t at = 0; at < v.message.size(); at += piece) {
                    ASSERT_TRUE(hash.Add(v.message.data() + at, std::min(piece, v.message.size() - at)));
                }
                const auto digest = hash.Finish();
                ASSERT_TRUE(digest);
                EXPECT_EQ(DigestText(*digest), v.digest);
            }
        }
    }
}

TEST(ParseDigest, TakesSixtyFourHexDigitsOfEitherCaseAndNothingElse) {
    const std::string lower = VECTORS[1].digest;
    std::string upper = lower;
    for (char& c : upper) c = static_cast<char>(toupper(c));
    const auto parsed = ParseDigest(upper);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(DigestText(*parsed), lower) << "written back in lowercase";
    EXPECT_EQ(ParseDigest(lower), parsed);

    const std::pair<const char*, std::string> refused[] = {
        {"empty", ""},
        {"one digit short", lower.substr(1)},
        {"one digit more", lower + "0"},
        {"a space inside", lower.substr(0, 31) + " " + lower.substr(32)},
        {"a surrounding space", " " + lower.substr(1)},
        {"a letter past f", lower.substr(0, 63) + "g"},
        {"a 0x prefix", "0x" + lower.substr(2)},
        {"a zero byte", lower.substr(0, 10) + std::string(1, '\0') + lower.substr(11)},
    };
    for (const auto& [what, text] : refused) {
        EXPECT_FALSE(ParseDigest(text)) << what;
    }
}

}  // namespace
}  // namespace tamsel::agent
