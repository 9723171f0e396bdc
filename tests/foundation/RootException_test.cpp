#include "foundation/RootException.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CRootException, CarriesCodeMessageFileAndLine) {
  obx::CRootException plain(5);
  EXPECT_EQ(plain.Code(), 5);
  EXPECT_STREQ(plain.what(), "Unknow error");
  obx::CRootException placed(6, "Digest.cpp", 9);
  EXPECT_STREQ(placed.what(), "Unknow error");
  EXPECT_EQ(placed.File(), "Digest.cpp");
  // A code and a text alone: the text is the message, not taken for a file name.
  obx::CRootException shortForm(3, "Read file error");
  EXPECT_STREQ(shortForm.what(), "Read file error");
  EXPECT_EQ(shortForm.File(), "");
  obx::CRootException text(0, std::string("Read file error"), "FileReader.cpp", 42);
  EXPECT_EQ(text.Message(), "Read file error");
  EXPECT_EQ(text.File(), "FileReader.cpp");
  EXPECT_EQ(text.Line(), 42);
  obx::CRootException formatted(1113, "x.cpp", 7, "size = %d, name %s", -3, "p");
  EXPECT_STREQ(formatted.what(), "size = -3, name p");
  EXPECT_EQ(formatted.Code(), 1113);
  EXPECT_EQ(formatted.Line(), 7);
}

TEST(CRootException, ThrowMacroRecordsTheThrowingPlace) {
  int line = 0;
  try {
    line = __LINE__ + 1;
    OBX_THROW_ROOT(2, "Could not open file: %s", "C:\\a.txt");
  } catch (const std::exception& e) {
    const auto* root = dynamic_cast<const obx::CRootException*>(&e);
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(e.what(), "Could not open file: C:\\a.txt");
    EXPECT_EQ(root->Line(), line);
    EXPECT_NE(root->File().find("RootException_test.cpp"), std::string::npos);
    EXPECT_EQ(root->Code(), 2);
  }
  EXPECT_NE(line, 0);
}

}  // namespace
