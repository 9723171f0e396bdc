#include "host/services/SecurityHelper.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using orsahost::SecurityHelper;

std::string Encode(const std::string& bytes) {
  SecurityHelper helper;
  orsa::Array<char> out;
  helper.base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                      static_cast<uint32_t>(bytes.size()), out);
  return std::string(out.data() ? out.data() : "", out.size());
}

std::string Decode(const std::string& text) {
  SecurityHelper helper;
  orsa::Array<unsigned char> out;
  helper.base64Decode(text.data(), static_cast<uint32_t>(text.size()), out);
  return std::string(reinterpret_cast<const char*>(out.data() ? out.data() : nullptr), out.size());
}

std::string Bytes(const orsa::Array<unsigned char>& a) {
  return std::string(reinterpret_cast<const char*>(a.data()), a.size());
}

TEST(SecurityHelperBase64, EncodesTheStandardVectorsWithoutLineBreaks) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\0\xff\xfe", 3), "AP/+"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Encode(c.first), c.second);
    EXPECT_EQ(Decode(c.second), c.first) << c.second;
  }
  std::string longText(1000, 'q');
  EXPECT_EQ(Encode(longText).find('\n'), std::string::npos);
  EXPECT_EQ(Decode(Encode(longText)), longText);
}

TEST(SecurityHelperBase64, RoundTripsEveryByteValueAndLength) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (size_t n = 0; n <= all.size(); n += 1)
    EXPECT_EQ(Decode(Encode(all.substr(0, n))), all.substr(0, n));
}

TEST(SecurityHelperBase64, RejectsMalformedText) {
  const std::vector<std::string> bad = {
      "A",
      "AB",
      "ABC",
      "Zm9v\n",
      "Zm9v Zg==",
      "Zm=v",
      "=Zm9",
      "Zg=A",
      "====",
      "A===",
      "Zm9v!",
      "Zh==" /* trailing bits set */,
      "Zm9=" /* likewise */,
      "Zg==Zg==" /* padding inside */,
      "Zm9-",
      "Zm9_",
  };
  for (const std::string& text : bad) EXPECT_THROW(Decode(text), std::runtime_error) << text;
}

TEST(SecurityHelperCipher, SealHasNonceAndTagAndOpensWithTheSameKey) {
  SecurityHelper helper;
  const std::string plain = "compressed policy bytes \x01\x02";
  orsa::Array<unsigned char> sealed;
  helper.encrypt("key", reinterpret_cast<const unsigned char*>(plain.data()),
                 static_cast<uint32_t>(plain.size()), sealed);
  EXPECT_EQ(sealed.size(), plain.size() + SecurityHelper::kNonceSize + SecurityHelper::kTagSize);
  EXPECT_EQ(Bytes(sealed).find(plain), std::string::npos);
  orsa::Array<unsigned char> opened;
  helper.decrypt("key", sealed.data(), sealed.size(), opened);
  EXPECT_EQ(Bytes(opened), plain);
}

TEST(SecurityHelperCipher, EmptyDataSealsAndOpens) {
  SecurityHelper helper;
  orsa::Array<unsigned char> sealed;
  helper.encrypt("key", nullptr, 0, sealed);
  ASSERT_EQ(sealed.size(), SecurityHelper::kNonceSize + SecurityHelper::kTagSize);
  orsa::Array<unsigned char> opened(5);
  helper.decrypt("key", sealed.data(), sealed.size(), opened);
  EXPECT_EQ(opened.size(), 0u);
  orsa::Array<unsigned char> other;
  EXPECT_THROW(helper.decrypt("kez", sealed.data(), sealed.size(), other), std::runtime_error);
}

TEST(SecurityHelperCipher, ChangedTruncatedOrForeignSealsThrow) {
  SecurityHelper helper;
  const std::string plain(100, 'p');
  orsa::Array<unsigned char> sealed;
  helper.encrypt("key", reinterpret_cast<const unsigned char*>(plain.data()),
                 static_cast<uint32_t>(plain.size()), sealed);
  orsa::Array<unsigned char> out;
  for (uint32_t i = 0; i < sealed.size(); ++i) {
    orsa::Array<unsigned char> changed(sealed);
    changed[i] ^= 0x10;
    EXPECT_THROW(helper.decrypt("key", changed.data(), changed.size(), out), std::runtime_error)
        << "byte " << i;
  }
  for (uint32_t keep = 0; keep < sealed.size(); ++keep)
    EXPECT_THROW(helper.decrypt("key", sealed.data(), keep, out), std::runtime_error) << keep;
  EXPECT_THROW(helper.decrypt("Key", sealed.data(), sealed.size(), out), std::runtime_error);
  EXPECT_THROW(helper.decrypt("key", nullptr, 40, out), std::runtime_error);
}

}  // namespace
