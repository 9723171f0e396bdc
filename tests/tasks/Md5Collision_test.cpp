// Two different files with the same MD5 in the update folder: only the
// policy's SHA-256 tells the agent which one it may start.
#include <gtest/gtest.h>

#include <string>

#include "foundation/Digest.h"
#include "tests/tasks/TaskRunnerTest.h"

namespace {

using taskrunnertest::kPending;
using taskrunnertest::TaskRunnerTest;

// The first published MD5 collision (Wang, Feng, Lai and Yu, 2004): two
// messages of two 64-byte blocks that differ in six bytes (offsets 19, 45,
// 59, 83, 109, 123) and share the MD5 79054025255fb1a26e4bc422aef54eb4.
const char kCollisionA[] =
    "d131dd02c5e6eec4693d9a0698aff95c2fcab58712467eab4004583eb8fb7f89"
    "55ad340609f4b30283e488832571415a085125e8f7cdc99fd91dbdf280373c5b"
    "d8823e3156348f5bae6dacd436c919c6dd53e2b487da03fd02396306d248cda0"
    "e99f33420f577ee8ce54b67080a80d1ec69821bcb6a8839396f9652b6ff72a70";
const char kCollisionB[] =
    "d131dd02c5e6eec4693d9a0698aff95c2fcab50712467eab4004583eb8fb7f89"
    "55ad340609f4b30283e4888325f1415a085125e8f7cdc99fd91dbd7280373c5b"
    "d8823e3156348f5bae6dacd436c919c6dd53e23487da03fd02396306d248cda0"
    "e99f33420f577ee8ce54b67080280d1ec69821bcb6a8839396f965ab6ff72a70";

std::string Bytes(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// The files are no programs the system can start, so a start shows as the
// agent's attempt (its log line); a refused file is marked to be fetched again.
TEST_F(TaskRunnerTest, Sha256TellsApartTwoFilesOfOneMd5) {
  const std::string a = Bytes(kCollisionA), b = Bytes(kCollisionB);
  std::string md5, md5b, shaA, shaB;
  obx::GetMd5Hex(a.data(), a.size(), md5);
  obx::GetMd5Hex(b.data(), b.size(), md5b);
  obxtest::WriteFile(Native("a.bin"), a);
  obxtest::WriteFile(Native("b.bin"), b);
  ASSERT_TRUE(obx::GetFileSha256Hex(Native("a.bin"), shaA));
  ASSERT_TRUE(obx::GetFileSha256Hex(Native("b.bin"), shaB));
  ASSERT_NE(a, b);
  ASSERT_EQ(md5, md5b);
  ASSERT_EQ(md5, "79054025255fb1a26e4bc422aef54eb4");
  ASSERT_NE(shaA, shaB);

  const std::string path = "C:\\OBX\\download\\collided.bin";
  const std::string started = "BootFile:task " + path + " waiting for boot file result";
  const std::string refused = "BootFile:task 30 " + path + " does not match its md5 " + md5 +
                              " or sha256 " + shaA + ", it is downloaded again";
  const struct {
    const char* name;
    const std::string& file;
    std::string sha256;  // the policy's, "" for none
    bool starts;
  } cases[] = {
      {"the named file", a, shaA, true},
      {"the other file, named by its SHA-256", b, shaA, false},
      {"the other file, MD5 alone", b, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    obxtest::WriteFile(Native("download\\collided.bin"), c.file);
    Store("<patch policyid=\"30\"><bootdownload url=\"b/collided.bin\" md5=\"" + md5 + "\"" +
              (c.sha256.empty() ? "" : " sha256=\"" + c.sha256 + "\"") + " type=\"http\"/></patch>",
          "<patch policyid=\"30\">" + std::string(kPending) +
              "<bootdownload status=\"true\"/></patch>");
    runtime_.ClearLines();
    Cycle();
    EXPECT_EQ(runtime_.Count(started), c.starts ? 1 : 0);
    EXPECT_EQ(runtime_.Count(refused), c.starts ? 0 : 1);
    // The wrong file is to be fetched again.
    EXPECT_EQ(State("30", "bootdownload", "status"), c.starts ? "true" : "false");
  }
}

}  // namespace
