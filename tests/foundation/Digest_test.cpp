#include "foundation/Digest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/RootException.h"
#include "tests/support/TempStateRoot.h"

namespace {

using obx::CreateDigestOwner;
using obx::GetMd5Hex;
using obx::IDigestOwner;

std::string Md5(const std::string& text) {
  std::string out = "untouched";
  GetMd5Hex(text.data(), text.size(), out);
  return out;
}

TEST(GetMd5Hex, GivesTheStandardTestSuiteDigests) {
  const std::vector<std::pair<std::string, std::string>> suite = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : suite) EXPECT_EQ(Md5(c.first), c.second) << "'" << c.first << "'";
}

TEST(GetMd5Hex, DigestsZeroBytesBehindANonNullPointer) {
  const char byte = 'x';
  std::string out;
  GetMd5Hex(&byte, 0, out);
  EXPECT_EQ(out, "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(GetMd5Hex, RefusesNullDataAndOversizeLengthsWithTheExactText) {
  const char byte = 0;
  struct Case {
    const void* data;
    size_t length;
  };
  for (const Case& c : {Case{nullptr, 0}, Case{nullptr, 10}, Case{&byte, 100000001}}) {
    std::string out = "kept";
    try {
      GetMd5Hex(c.data, c.length, out);
      ADD_FAILURE() << "no exception for length " << c.length;
    } catch (const obx::CRootException& e) {
      EXPECT_STREQ(e.what(), "pData == NULL || len > 100000000");
    }
    EXPECT_EQ(out, "kept");
  }
}

TEST(GetMd5Hex, AcceptsExactlyTheLimit) {
  std::vector<char> big(100000000, 'a');
  std::string out;
  GetMd5Hex(big.data(), big.size(), out);
  EXPECT_EQ(out.size(), 32u);
  EXPECT_EQ(out.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(DigestOwner, MadeByNameMd5Only) {
  EXPECT_NE(CreateDigestOwner("md5"), nullptr);
  EXPECT_EQ(CreateDigestOwner("sha1"), nullptr);
  EXPECT_EQ(CreateDigestOwner(""), nullptr);
}

TEST(DigestOwner, GetDigestAnswersTheDocumentedCodes) {
  auto digest = CreateDigestOwner("md5");
  ASSERT_NE(digest, nullptr);
  EXPECT_EQ(digest->DigestSize(), 16u);
  unsigned char out[16] = {};
  unsigned char small[15] = {};
  EXPECT_EQ(digest->GetDigest(nullptr, 3, out, sizeof out), 1);
  EXPECT_EQ(digest->GetDigest("abc", 3, small, sizeof small), 3);
  EXPECT_EQ(digest->GetDigest("abc", 3, out, sizeof out), 0);
  EXPECT_EQ(out[0], 0x90);
  EXPECT_EQ(out[15], 0x72);
  // A fresh context per call: the second digest does not continue the first.
  EXPECT_EQ(digest->GetDigest("abc", 3, out, sizeof out), 0);
  EXPECT_EQ(out[0], 0x90);
}

}  // namespace

TEST(GetFileMd5Hex, StreamsFilesOfAnySizeAndRefusesWhatIsNotAFile) {
  obxtest::TempStateRoot root;
  // Across the chunk size, and a file above the whole-file reader's limit.
  const std::string big = std::string(3 << 20, 'x') + "tail";
  obxtest::WriteFile(root.Sub("abc"), "abc");
  obxtest::WriteFile(root.Sub("empty"), "");
  obxtest::WriteFile(root.Sub("big"), big);
  std::filesystem::create_directories(root.Sub("folder"));
  const struct {
    std::string path;
    bool ok;
    std::string md5;
  } cases[] = {
      {root.Sub("abc"), true, "900150983cd24fb0d6963f7d28e17f72"},
      {root.Sub("empty"), true, "d41d8cd98f00b204e9800998ecf8427e"},
      {root.Sub("big"), true, Md5(big)},
      {root.Sub("folder"), false, "untouched"},
      {root.Sub("missing"), false, "untouched"},
  };
  for (const auto& c : cases) {
    std::string out = "untouched";
    EXPECT_EQ(obx::GetFileMd5Hex(c.path, out), c.ok) << c.path;
    EXPECT_EQ(out, c.md5) << c.path;
  }
  std::filesystem::resize_file(root.Sub("big"), 100000001);  // sparse: zeros past the text
  std::string out;
  EXPECT_TRUE(obx::GetFileMd5Hex(root.Sub("big"), out));
}

TEST(GetFileSha256Hex, GivesTheStandardDigestAndRefusesWhatIsNotAFile) {
  obxtest::TempStateRoot root;
  obxtest::WriteFile(root.Sub("abc"), "abc");
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  std::string out = "untouched";
  EXPECT_FALSE(obx::GetFileSha256Hex(root.Sub("missing"), out));
  EXPECT_EQ(out, "untouched");
  EXPECT_TRUE(obx::GetFileSha256Hex(root.Sub("abc"), out));
  EXPECT_EQ(out, abc);
}
