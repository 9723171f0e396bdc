#include "tasks/SystemCollaborators.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "foundation/Digest.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "tests/support/TestMachine.h"

namespace {

// A program is started only from a copy with a name Windows allows and the
// policy's digests: MD5 in either case, the SHA-256 when the policy gives one.
TEST(SystemDownloadsTest, HoldsExpectedChecksTheNameAndBothDigests) {
  obxtest::TestMachine machine;
  platform::CreateDirectories(platform::NativePath("C:\\OBX\\download"));
  const std::string content = "echo kb";
  for (const char* name : {"kb.sh", "k\"b.sh"})
    obxtest::WriteFile(platform::NativePath(std::string("C:\\OBX\\download\\") + name), content);
  std::string md5, sha256;
  obx::GetMd5Hex(content.data(), content.size(), md5);
  ASSERT_TRUE(obx::GetFileSha256Hex(platform::NativePath("C:\\OBX\\download\\kb.sh"), sha256));
  std::string upperMd5 = md5, upperSha = sha256;
  std::transform(md5.begin(), md5.end(), upperMd5.begin(), ::toupper);
  std::transform(sha256.begin(), sha256.end(), upperSha.begin(), ::toupper);
  const struct {
    const char* file;
    std::string md5, sha256;
    bool holds;
  } cases[] = {
      {"kb.sh", md5, sha256, true},
      {"kb.sh", upperMd5, upperSha, true},
      {"kb.sh", md5, "", true},
      {"kb.sh", md5, std::string(64, 'a'), false},
      {"kb.sh", std::string(32, 'a'), "", false},
      {"missing.sh", md5, "", false},
      {"k\"b.sh", md5, sha256, false},
  };
  obx::SystemDownloads downloads;
  for (const auto& c : cases) {
    EXPECT_EQ(c.holds,
              downloads.HoldsExpected(std::string("C:\\OBX\\download\\") + c.file, c.md5, c.sha256))
        << c.file << " " << c.md5 << " " << c.sha256;
  }
}

}  // namespace
