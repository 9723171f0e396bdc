#include "host/services/ZipHelper.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using orsahost::ZipHelper;

std::string Compress(const std::string& text) {
  ZipHelper zip;
  orsa::Array<unsigned char> out;
  zip.compress(reinterpret_cast<const unsigned char*>(text.data()),
               static_cast<uint32_t>(text.size()), out, 0);
  return std::string(reinterpret_cast<const char*>(out.data()), out.size());
}

std::string Uncompress(const std::string& packed, uint32_t expected = 0,
                       const ZipHelper& zip = ZipHelper()) {
  orsa::Array<unsigned char> out;
  const_cast<ZipHelper&>(zip).uncompress(reinterpret_cast<const unsigned char*>(packed.data()),
                                         static_cast<uint32_t>(packed.size()), expected, out, 0);
  return std::string(reinterpret_cast<const char*>(out.data() ? out.data() : nullptr), out.size());
}

std::string Random(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

TEST(ZipHelper, RoundTripsWithoutKnowingTheSize) {
  const std::vector<std::string> texts = {
      "",
      "a",
      std::string(1, '\0'),
      Random(1000, 1),
      Random(300000, 2),
      std::string(20 * 1024 * 1024, 'z'),  // 20 MiB from a few KiB: many growth steps
  };
  for (const std::string& text : texts) {
    std::string packed = Compress(text);
    EXPECT_EQ(Uncompress(packed), text) << "size " << text.size();
    // A hint, right or wrong, changes nothing.
    EXPECT_EQ(Uncompress(packed, 1), text);
    EXPECT_EQ(Uncompress(packed, 0xFFFFFFFFu), text);
  }
}

TEST(ZipHelper, TruncatedStreamThrowsAtEveryLength) {
  std::string packed = Compress(Random(5000, 3));
  for (size_t keep = 0; keep < packed.size(); ++keep)
    EXPECT_THROW(Uncompress(packed.substr(0, keep)), std::runtime_error) << keep;
}

TEST(ZipHelper, CorruptStreamThrows) {
  std::string text(4000, 'c');
  std::string packed = Compress(text);
  std::vector<std::string> bad = {"not zlib at all", std::string(10, '\0')};
  std::string badHeader = packed;
  badHeader[0] = 0x79;
  bad.push_back(badHeader);
  std::string badChecksum = packed;
  badChecksum.back() ^= 1;
  bad.push_back(badChecksum);
  bad.push_back(packed + "trailing");
  for (const std::string& b : bad) EXPECT_THROW(Uncompress(b), std::runtime_error);
  orsa::Array<unsigned char> out;
  EXPECT_THROW(ZipHelper().uncompress(nullptr, 0, 0, out, 0), std::runtime_error);
}

TEST(ZipHelper, OutputAboveTheCapIsRefused) {
  std::string packed = Compress(std::string(100001, 'b'));
  EXPECT_THROW(Uncompress(packed, 0, ZipHelper(100000)), std::runtime_error);
  EXPECT_EQ(Uncompress(packed, 0, ZipHelper(100001)).size(), 100001u);
  EXPECT_GT(ZipHelper::kDefaultMaxOutput, 100000000u * 2);
}

}  // namespace
