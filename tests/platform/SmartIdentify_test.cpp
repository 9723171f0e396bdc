// The data side of the SMART disk identify: the command the device map asks
// for and the serial in the identify sector.
#include "platform/SmartIdentify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::IdentifyCommandFor;
using platform::SerialFromIdentifyData;

TEST(SmartIdentify, DeviceMapChoosesTheCommand) {
  struct Case {
    uint8_t map;
    bool required;
    uint8_t command;
  } const cases[] = {
      {0x00, true, 0},  // the primary query: no drive
      {0x00, false, 0xEC}, {0x01, true, 0xEC},  {0x0F, true, 0xEC},
      {0x10, true, 0xA1},  {0x11, false, 0xA1}, {0x20, true, 0xEC},  // drive 1 is a packet device
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.command, IdentifyCommandFor(c.map, c.required))
        << int(c.map) << (c.required ? " required" : "");
}

// An identify sector with `text` (up to 20 characters) in words 10 to 19, each
// word stored low byte first as the drive sends it.
std::vector<unsigned char> Sector(std::string text, char fill = ' ') {
  std::vector<unsigned char> sector(512, 0xFF);
  text.resize(20, fill);
  for (size_t i = 0; i < 20; i += 2) {
    sector[20 + i] = static_cast<unsigned char>(text[i + 1]);
    sector[20 + i + 1] = static_cast<unsigned char>(text[i]);
  }
  return sector;
}

TEST(SmartIdentify, SerialIsWordsTenToNineteenHighByteFirst) {
  struct Case {
    std::vector<unsigned char> sector;
    std::string serial;
  } const cases[] = {
      {Sector("WD-WCAV12345678"), "WD-WCAV12345678"},  // trailing blanks go
      {Sector("      S3Z9ABC"), "      S3Z9ABC"},      // leading blanks stay
      {Sector("ABCDEFGHIJKLMNOPQRST"), "ABCDEFGHIJKLMNOPQRST"},
      {Sector("AB CD"), "AB CD"},
      {Sector("XY12", '\0'), "XY12"},  // a NUL ends the text
      {Sector(""), ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.serial, SerialFromIdentifyData(c.sector.data(), c.sector.size()));

  const std::vector<unsigned char> sector = Sector("WD-WCAV12345678");
  EXPECT_EQ("WD-WCAV12345678", SerialFromIdentifyData(sector.data(), 40));
  EXPECT_EQ("", SerialFromIdentifyData(sector.data(), 39));
  EXPECT_EQ("", SerialFromIdentifyData(nullptr, 512));
}

}  // namespace
