#include "platform/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempStateRoot.h"

namespace {

using namespace platform;

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

TEST(File, FailuresAnswerTheWindowsCodeOfTheirCause) {
  obxtest::TempStateRoot root;
  obxtest::WriteFile(root.Sub("plain"), "text");
  ASSERT_TRUE(CreateDirectories(root.Sub("folder")));
  ASSERT_EQ(0, mkfifo(root.Sub("fifo").c_str(), 0600));
  obxtest::WriteFile(root.Sub("held"), "text");
  const int holder = ::open(root.Sub("held").c_str(), O_RDONLY);
  ASSERT_EQ(0, flock(holder, LOCK_EX));  // a writer holds it

  struct Case {
    const char* name;
    long expected;
  };
  const Case cases[] = {
      {"plain", kErrorSuccess},
      {"missing", kErrorFileNotFound},
      {"plain/below", kErrorPathNotFound},
      {"folder", kErrorAccessDenied},
      {"fifo", kErrorAccessDenied},
      {"held", kErrorSharingViolation},
  };
  for (const Case& c : cases) {
    std::string text = "stale";
    EXPECT_EQ(c.expected, ReadFileToString(root.Sub(c.name), &text)) << c.name;
    EXPECT_EQ(c.expected == kErrorSuccess ? "text" : "", text) << c.name;
  }
  ::close(holder);

  std::string text;
  EXPECT_EQ(kErrorNotEnoughMemory, ReadFileToString(root.Sub("plain"), &text, 3));
  FileInfo info;
  ASSERT_EQ(kErrorSuccess, GetFileInfo(root.Sub("plain"), &info));
  EXPECT_EQ(4u, info.size);
  EXPECT_FALSE(info.directory);
  EXPECT_EQ(kErrorFileNotFound, RemoveFile(root.Sub("missing")));
  EXPECT_EQ(kErrorFileNotFound, RenameFile(root.Sub("missing"), root.Sub("other")));
}

TEST(File, AFailedWriteNamesItsCauseAndLeavesTheTargetWhole) {
  obxtest::TempStateRoot root;
  const std::string target = root.Sub("TaskList.xml");
  ASSERT_TRUE(ReplaceFileAtomically(target, "old"));
  long error = kErrorSuccess;
  {
    obxtest::FileSizeLimit full(4);
    EXPECT_FALSE(ReplaceFileAtomically(target, "much longer than four bytes", &error));
  }
  EXPECT_EQ(kErrorDiskFull, error);
  EXPECT_EQ("old", obxtest::ReadFile(target));
  EXPECT_EQ(std::vector<std::string>{"TaskList.xml"}, FolderEntries(root.Path()));
  EXPECT_FALSE(ReplaceFileAtomically(root.Sub("missing/file"), "x", &error));
  EXPECT_EQ(kErrorFileNotFound, error);
}

TEST(File, WritesIntoAFolderRemoveOnlyStaleTemporaries) {
  obxtest::TempStateRoot root;
  const std::string folder = root.Sub("obx");
  ASSERT_TRUE(CreateDirectories(folder));
  for (const char* name : {".TaskList.xml.tmpAb12Cd",  // left by a killed writer
                           ".win.ini.tmpZZ9zz9",       // another file's, same pattern
                           ".TaskList.xml.tmpHeld01",  // a writer holds it
                           "TaskList.xml.tmpAb12Cd",   // not the pattern: no leading dot
                           ".notes.tmp"})              // not the pattern: no suffix
    obxtest::WriteFile(folder + "/" + name, "partial");
  const int holder = ::open((folder + "/.TaskList.xml.tmpHeld01").c_str(), O_RDONLY);
  ASSERT_EQ(0, flock(holder, LOCK_EX));

  ASSERT_TRUE(ReplaceFileAtomically(folder + "/TaskList.xml", "whole"));
  std::vector<std::string> left = FolderEntries(folder);
  std::sort(left.begin(), left.end());
  EXPECT_EQ((std::vector<std::string>{".TaskList.xml.tmpHeld01", ".notes.tmp", "TaskList.xml",
                                      "TaskList.xml.tmpAb12Cd"}),
            left);

  // Once its holder is gone, a later write of this process removes it too.
  ::close(holder);
  ASSERT_TRUE(ReplaceFileAtomically(folder + "/TaskList.xml", "whole again"));
  left = FolderEntries(folder);
  std::sort(left.begin(), left.end());
  EXPECT_EQ((std::vector<std::string>{".notes.tmp", "TaskList.xml", "TaskList.xml.tmpAb12Cd"}),
            left);
  EXPECT_EQ(obxtest::ReadFile(folder + "/TaskList.xml"), "whole again");
}

TEST(File, CreateDirectoriesMakesParentsAndAcceptsExisting) {
  obxtest::TempStateRoot root;
  std::string deep = root.Sub("a/b/c");
  EXPECT_TRUE(CreateDirectories(deep));
  struct stat st;
  ASSERT_EQ(0, stat(deep.c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_TRUE(CreateDirectories(deep));  // already there
  obxtest::WriteFile(root.Sub("file"), "x");
  EXPECT_FALSE(CreateDirectories(root.Sub("file/sub")));
  EXPECT_FALSE(CreateDirectories(root.Sub("file")));
  EXPECT_FALSE(CreateDirectories(""));
}

TEST(File, ReplaceFileAtomicallyWritesWholeFileAndLeavesNoTemporary) {
  obxtest::TempStateRoot root;
  std::string target = root.Sub("TaskList.xml");
  std::string big(1 << 20, 'q');
  ASSERT_TRUE(ReplaceFileAtomically(target, big));
  EXPECT_EQ(big, obxtest::ReadFile(target));
  ASSERT_TRUE(ReplaceFileAtomically(target, "second"));
  EXPECT_EQ("second", obxtest::ReadFile(target));
  ASSERT_TRUE(ReplaceFileAtomically(target, ""));
  EXPECT_EQ("", obxtest::ReadFile(target));
  EXPECT_EQ(std::vector<std::string>{"TaskList.xml"}, FolderEntries(root.Path()));
}

TEST(File, ReplaceFileAtomicallyKeepsModeOrGivesReadableNewFile) {
  obxtest::TempStateRoot root;
  std::string fresh = root.Sub("fresh");
  ASSERT_TRUE(ReplaceFileAtomically(fresh, "x"));
  struct stat st;
  ASSERT_EQ(0, stat(fresh.c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 0777);

  std::string script = root.Sub("boot.sh");
  obxtest::WriteFile(script, "old");
  ASSERT_EQ(0, chmod(script.c_str(), 0750));
  ASSERT_TRUE(ReplaceFileAtomically(script, "#!/bin/sh\n"));
  ASSERT_EQ(0, stat(script.c_str(), &st));
  EXPECT_EQ(0750u, st.st_mode & 0777);
}

TEST(File, ReplaceFileAtomicallyFailsWithoutTouchingAnything) {
  obxtest::TempStateRoot root;
  EXPECT_FALSE(ReplaceFileAtomically(root.Sub("missing/folder/file"), "x"));
  EXPECT_FALSE(ReplaceFileAtomically("", "x"));
  // The target is a folder: rename cannot replace it, and no temporary stays behind.
  ASSERT_TRUE(CreateDirectories(root.Sub("dir")));
  EXPECT_FALSE(ReplaceFileAtomically(root.Sub("dir"), "x"));
  EXPECT_EQ(std::vector<std::string>{"dir"}, FolderEntries(root.Path()));
}

}  // namespace
