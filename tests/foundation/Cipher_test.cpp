#include "foundation/Cipher.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/services/SecurityHelper.h"
#include "host/services/ZipHelper.h"
#include "tests/support/FakeRuntime.h"

namespace {

using obx::DecryptText;
using obx::EncryptText;
using obx::kPassphrase;

// Printable and binary texts without NUL, of the given size.
std::string NonNulText(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(1, 255);
  std::string text(size, ' ');
  for (char& c : text) c = static_cast<char>(byte(random));
  return text;
}

class CipherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_.RegisterSealServices();
    runtime_.Install();
  }
  std::string Seal(const std::string& text, const std::string& key = kPassphrase) {
    std::string out;
    EncryptText(key, out, text.data(), text.size());
    return out;
  }
  std::string Open(const std::string& sealed, const std::string& key = kPassphrase) {
    std::string out;
    DecryptText(key, out, sealed);
    return out;
  }
  obxtest::FakeRuntime runtime_;
};

TEST(Passphrase, IsTheProgramWideTextOf38Characters) {
  EXPECT_EQ(std::string(kPassphrase), "Grey owls hum softly over the marsh ok");
  EXPECT_EQ(std::string(kPassphrase).size(), 38u);
}

TEST_F(CipherTest, OpenReturnsEverySealedTextWithoutNul) {
  const std::vector<std::string> texts = {
      "",
      "a",
      "<PatchPolicy><patch policyid=\"7\"/></PatchPolicy>",
      NonNulText(1, 1),
      NonNulText(1000, 2),
      NonNulText(65537, 3),
      std::string(3 * 1024 * 1024, 'x'),   // compresses well: many inflate rounds
      NonNulText(4 * 1024 * 1024 + 3, 4),  // barely compresses
  };
  for (const std::string& text : texts) {
    std::string sealed = Seal(text);
    ASSERT_FALSE(sealed.empty()) << "size " << text.size();
    EXPECT_EQ(sealed.find('\0'), std::string::npos);
    EXPECT_EQ(Open(sealed), text) << "size " << text.size();
  }
}

TEST_F(CipherTest, TwoSealsOfOneTextDiffer) {
  std::string text = "the same policy";
  std::string first = Seal(text);
  std::string second = Seal(text);
  EXPECT_NE(first, second);
  EXPECT_EQ(Open(first), text);
  EXPECT_EQ(Open(second), text);
}

TEST_F(CipherTest, EncryptAppendsAndDecryptReplaces) {
  std::string out = "prefix:";
  EncryptText(kPassphrase, out, "abc", 3);
  ASSERT_EQ(out.compare(0, 7, "prefix:"), 0);
  std::string opened = "old contents";
  DecryptText(kPassphrase, opened, out.substr(7));
  EXPECT_EQ(opened, "abc");
}

TEST_F(CipherTest, PlainDataEndsAtFirstNul) {
  const std::string startsWithNul("\0abc", 4);
  EXPECT_EQ(Open(Seal(startsWithNul)), "");
  const std::string nulInside("ab\0cd", 5);
  EXPECT_EQ(Open(Seal(nulInside)), "ab");
}

TEST_F(CipherTest, AnyChangedCharacterMakesOpeningThrow) {
  std::string sealed =
      Seal("<TaskList><patch policyid=\"12\" status=\"to_be_executed\"/></TaskList>");
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t i = 0; i < sealed.size(); ++i) {
    std::string changed = sealed;
    // Another valid Base64 character, so the cipher and not the decoder must notice.
    size_t at = alphabet.find(changed[i]);
    changed[i] = at == std::string::npos ? 'A' : alphabet[(at + 1) % alphabet.size()];
    EXPECT_THROW(Open(changed), std::exception) << "position " << i;
  }
}

TEST_F(CipherTest, TruncatedTextMakesOpeningThrow) {
  std::string sealed = Seal(NonNulText(100, 6));
  for (size_t keep = 0; keep < sealed.size(); ++keep)
    EXPECT_THROW(Open(sealed.substr(0, keep)), std::exception) << "kept " << keep;
}

TEST_F(CipherTest, WrongPassphraseMakesOpeningThrow) {
  std::string sealed = Seal("secret policy");
  std::string nearKey = kPassphrase;
  nearKey.back() = 'K';
  for (const std::string& key :
       {std::string(), std::string("x"), nearKey, std::string(kPassphrase) + " "})
    EXPECT_THROW(Open(sealed, key), std::exception) << "key '" << key << "'";
}

TEST_F(CipherTest, ServiceFailureReachesTheCallerWithOutUnchanged) {
  std::string out = "kept";
  EXPECT_THROW(DecryptText(kPassphrase, out, "not base64 at all!"), std::exception);
  EXPECT_EQ(out, "kept");
}

TEST(CipherLookup, MissingServiceLeavesOutUnchangedWithoutLog) {
  struct Case {
    const char* name;
    bool security;
    bool zip;
  };
  for (const Case& c : {Case{"none", false, false}, Case{"security only", true, false},
                        Case{"zip only", false, true}}) {
    obxtest::FakeRuntime runtime;
    if (c.security)
      runtime.Register<orsa::security::ISecurityHelper>(
          boost::make_shared<orsahost::SecurityHelper>());
    if (c.zip) runtime.Register<orsa::zip::IZipHelper>(boost::make_shared<orsahost::ZipHelper>());
    runtime.Install();
    std::string sealed = "before";
    EncryptText(kPassphrase, sealed, "abc", 3);
    EXPECT_EQ(sealed, "before") << c.name;
    std::string opened = "before";
    DecryptText(kPassphrase, opened, "AAAA");
    EXPECT_EQ(opened, "before") << c.name;
    EXPECT_TRUE(runtime.Lines().empty()) << c.name;
  }
}

}  // namespace
