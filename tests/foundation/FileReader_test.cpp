#include "foundation/FileReader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "foundation/RootException.h"
#include "tests/support/TempStateRoot.h"

namespace {

using obx::ReadWholeFile;

std::string Random(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

// A file of `size` bytes that takes no disk space; removed by the destructor.
class SparseFile {
 public:
  SparseFile(const std::string& path, unsigned long long size) : path_(path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ok_ = fd >= 0 && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    if (fd >= 0) ::close(fd);
  }
  ~SparseFile() { ::unlink(path_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string path_;
  bool ok_ = false;
};

// The message of the CRootException that ReadWholeFile throws, or "" when none.
std::string ErrorOf(const std::string& path) {
  std::vector<unsigned char> out;
  try {
    ReadWholeFile(path, out);
  } catch (const obx::CRootException& e) {
    return e.what();
  }
  return "";
}

class FileReaderTest : public ::testing::Test {
 protected:
  obxtest::TempStateRoot root_;
};

TEST_F(FileReaderTest, ReadsFilesWholeAcrossChunkBoundaries) {
  for (size_t size :
       {size_t{1}, size_t{307199}, size_t{307200}, size_t{307201}, size_t{2 * 307200 + 1}}) {
    std::string path = root_.Sub("file.bin");
    std::string content = Random(size, static_cast<unsigned>(size));
    obxtest::WriteFile(path, content);
    std::vector<unsigned char> out = {9, 9, 9};
    ReadWholeFile(path, out);
    ASSERT_EQ(out.size(), size);
    EXPECT_EQ(std::string(out.begin(), out.end()), content) << "size " << size;
  }
}

TEST_F(FileReaderTest, ReadsAFileOfExactlyTheLimit) {
  std::string path = root_.Sub("limit.bin");
  SparseFile file(path, 100000000ULL);
  ASSERT_TRUE(file.ok());
  std::vector<unsigned char> out;
  ReadWholeFile(path, out);
  EXPECT_EQ(out.size(), 100000000u);
  EXPECT_EQ(out.front(), 0);
  EXPECT_EQ(out.back(), 0);
}

TEST_F(FileReaderTest, RefusesSizesOutsideTheRangeWithTheLow32Bits) {
  struct Case {
    unsigned long long size;
    const char* message;
  };
  const Case cases[] = {
      {0, "File size is not within the expected range: size = 0"},
      {100000001ULL, "File size is not within the expected range: size = 100000001"},
      {(1ULL << 32) + 5, "File size is not within the expected range: size = 5"},
      {3000000000ULL, "File size is not within the expected range: size = -1294967296"},
  };
  for (const Case& c : cases) {
    std::string path = root_.Sub("big.bin");
    SparseFile file(path, c.size);
    ASSERT_TRUE(file.ok()) << c.size;
    EXPECT_EQ(ErrorOf(path), c.message);
  }
}

TEST_F(FileReaderTest, MissingDirectoryFifoOrLockedFileCannotBeOpened) {
  std::string missing = root_.Sub("no such file.bin");
  EXPECT_EQ(ErrorOf(missing), "Could not open file: " + missing);
  EXPECT_EQ(ErrorOf(root_.Path()), "Could not open file: " + root_.Path());
  // A FIFO without a writer: refused at once instead of blocking the reader.
  std::string fifo = root_.Sub("boot.exe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(ErrorOf(fifo), "Could not open file: " + fifo);

  std::string locked = root_.Sub("locked.bin");
  obxtest::WriteFile(locked, "being written");
  int writer = ::open(locked.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::flock(writer, LOCK_EX), 0);
  EXPECT_EQ(ErrorOf(locked), "Could not open file: " + locked);
  ::flock(writer, LOCK_UN);
  ::close(writer);
  EXPECT_EQ(ErrorOf(locked), "");
}

TEST_F(FileReaderTest, HoldsASharedLockThatOtherReadersMayShare) {
  std::string path = root_.Sub("shared.bin");
  obxtest::WriteFile(path, "content");
  int reader = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(::flock(reader, LOCK_SH), 0);
  std::vector<unsigned char> out;
  ReadWholeFile(path, out);
  EXPECT_EQ(std::string(out.begin(), out.end()), "content");
  ::close(reader);
}

TEST_F(FileReaderTest, AcceptsWindowsSeparatorsAndReportsThePathAsGiven) {
  obxtest::WriteFile(root_.Sub("download/boot.sh"), "#!/bin/sh\n");
  std::string windowsPath = root_.Path() + "\\download\\boot.sh";
  std::vector<unsigned char> out;
  ReadWholeFile(windowsPath, out);
  EXPECT_EQ(std::string(out.begin(), out.end()), "#!/bin/sh\n");
  std::string missing = root_.Path() + "\\download\\patch.exe";
  EXPECT_EQ(ErrorOf(missing), "Could not open file: " + missing);
}

}  // namespace
