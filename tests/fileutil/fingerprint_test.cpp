#include <gtest/gtest.h>

#include <cstdio>

#include "TestSupport.h"
#include "util/FileFingerprint.h"
#include "util/Sha256.h"

// Published test vectors, fed whole and in awkward pieces.
TEST(Sha256, PublishedVectors)
{
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    // With the processor's SHA instructions where it has them, and without.
    const bool accelerated = CKvSha256::Accelerated();
    for (bool on : {true, false}) {
        CKvSha256::SetAccelerated(on);
        for (const Case& c : cases) {
            EXPECT_EQ(c.digest, CKvSha256::HexOf(c.input.data(), c.input.size())) << c.input.size() << " " << on;
            for (size_t piece : {1u, 7u, 63u, 64u, 65u, 200u}) {
                CKvSha256 sha;
                for (size_t i = 0; i < c.input.size(); i += piece)
                    sha.Update(c.input.data() + i, std::min(piece, c.input.size() - i));
                EXPECT_EQ(c.digest, sha.FinalHex()) << c.input.size() << " in pieces of " << piece << " " << on;
            }
        }
    }
    CKvSha256::SetAccelerated(accelerated);
    std::printf("sha256: %s\n", accelerated ? "the processor's SHA instructions" : "portable code");
}

TEST(Fingerprint, FilesAndTheirText)
{
    kvtest::TempDir dir("fp");
    const std::string path = dir / "a.bin";
    ASSERT_TRUE(kvtest::WriteFileBytes(path, "abc"));
    CKvFingerprint fp;
    ASSERT_TRUE(KvFingerprintFile(path, fp));
    EXPECT_EQ("3:ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", fp.Text());
    CKvFingerprint back;
    ASSERT_TRUE(CKvFingerprint::Parse(fp.Text(), back));
    EXPECT_EQ(fp, back);

    // A file that is not there is a fingerprint of its own, not a failure.
    CKvFingerprint none;
    ASSERT_TRUE(KvFingerprintFile(dir / "missing.bin", none));
    EXPECT_FALSE(none.bPresent);
    EXPECT_EQ("-", none.Text());
    EXPECT_NE(fp, none);

    for (const char* bad : {"", "3:abc", ":ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                            "x:ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                            "3:BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"})
        EXPECT_FALSE(CKvFingerprint::Parse(bad, back)) << bad;
}
