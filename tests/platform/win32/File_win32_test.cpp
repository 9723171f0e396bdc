// Files, the state root and its lock, and the profile file on Windows: share
// modes, the retried replace, the sweep of temporaries, native paths.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "platform/File.h"
#include "platform/Process.h"
#include "platform/ProfileFile.h"
#include "platform/StateRoot.h"
#include "platform/StateRootLock.h"
#include "platform/StopToken.h"
#include "tests/platform/win32/ScratchRoot.h"

namespace {

using namespace platform;

HANDLE OpenNative(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  return ::CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (entry.cFileName[0] != '.' || entry.cFileName[1] > '.') names.push_back(entry.cFileName);
  } while (::FindNextFileA(search, &entry));
  ::FindClose(search);
  return names;
}

TEST(FileWin32, FailuresAnswerTheWindowsCodes) {
  obxtest::ScratchRoot root;
  FileInfo info;
  ReadOnlyFile file;
  EXPECT_EQ(kErrorFileNotFound, GetFileInfo(root.Sub("missing"), &info));
  EXPECT_EQ(kErrorPathNotFound, GetFileInfo(root.Sub("no\\such\\file"), &info));
  EXPECT_EQ(kErrorAccessDenied, file.Open(root.Path()));  // a folder is no file to read
  EXPECT_EQ(kErrorFileNotFound, RemoveFile(root.Sub("missing")));
  long error = 0;
  EXPECT_FALSE(ReplaceFileAtomically(root.Sub("no\\such\\file"), "x", &error));
  EXPECT_EQ(kErrorPathNotFound, error);
  // Codes without words of the platform's own get the system's (ERROR_NOT_READY;
  // Wine and Windows word it differently), in the same lower-case form.
  const std::string notReady = ErrorText(21);
  EXPECT_NE("error 21", notReady);
  EXPECT_TRUE(std::islower(static_cast<unsigned char>(notReady[0]))) << notReady;
  EXPECT_NE('.', notReady.back()) << notReady;
  EXPECT_EQ("error 2147483632", ErrorText(2147483632L));
}

TEST(FileWin32, FolderListingGivesFilesWithTheStampTheirOpenFileHas) {
  obxtest::ScratchRoot root;
  ASSERT_TRUE(CreateDirectories(root.Sub("sub")));
  ASSERT_TRUE(ReplaceFileAtomically(root.Sub("a.bin"), "abcdef"));
  ASSERT_TRUE(ReplaceFileAtomically(root.Sub("b.bin"), "x"));
  std::vector<FolderFile> files;
  ASSERT_EQ(kErrorSuccess, ListFolderFiles(root.Path(), &files));
  ASSERT_EQ(2u, files.size());  // not the folder, nor "." and ".."
  const FolderFile a = files[0].name == "a.bin" ? files[0] : files[1];
  EXPECT_EQ("a.bin", a.name);
  EXPECT_EQ(6u, a.stamp.size);

  ReadOnlyFile file;
  ASSERT_EQ(kErrorSuccess, file.Open(root.Sub("a.bin")));
  FileStamp open;
  ASSERT_EQ(kErrorSuccess, file.Stamp(&open));
  EXPECT_TRUE(open == a.stamp);
  char buffer[8] = {};
  size_t got = 0;
  ASSERT_EQ(kErrorSuccess, file.ReadAt(3, buffer, sizeof buffer, &got));
  EXPECT_EQ("def", std::string(buffer, got));
  ASSERT_EQ(kErrorSuccess, file.ReadAt(6, buffer, sizeof buffer, &got));
  EXPECT_EQ(0u, got);
  file.Close();

  ASSERT_TRUE(ReplaceFileAtomically(root.Sub("a.bin"), "abcdefg"));
  ASSERT_EQ(kErrorSuccess, ListFolderFiles(root.Path(), &files));
  for (const FolderFile& f : files)
    if (f.name == "a.bin") {
      EXPECT_TRUE(f.stamp != a.stamp);
    }
  EXPECT_EQ(kErrorPathNotFound, ListFolderFiles(root.Sub("missing\\x"), &files));
}

TEST(FileWin32, ReadersShareOnlyWithReadersAndAReplaceWaitsForThem) {
  obxtest::ScratchRoot root;
  const std::string path = root.Sub("data.xml");
  ASSERT_TRUE(ReplaceFileAtomically(path, "old"));

  // A writer holding the file keeps readers out.
  HANDLE writer = OpenNative(path, GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer);
  ReadOnlyFile file;
  EXPECT_EQ(kErrorSharingViolation, file.Open(path));
  ::CloseHandle(writer);

  // A reader keeps writers out, and the replace goes through once it closes.
  ASSERT_EQ(kErrorSuccess, file.Open(path));
  EXPECT_EQ(INVALID_HANDLE_VALUE, OpenNative(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING));
  std::thread closer([&] {
    ::Sleep(200);
    file.Close();
  });
  long error = -1;
  EXPECT_TRUE(ReplaceFileAtomically(path, "new", &error)) << error;
  closer.join();
  std::string text;
  EXPECT_EQ(kErrorSuccess, ReadFileToString(path, &text));
  EXPECT_EQ("new", text);
  EXPECT_EQ((std::vector<std::string>{"data.xml"}), FolderNames(root.Path()));
}

TEST(FileWin32, AReplaceThatCannotFinishLeavesTargetAndFolderAsTheyWere) {
  obxtest::ScratchRoot root;
  const std::string path = root.Sub("held.xml");
  ASSERT_TRUE(ReplaceFileAtomically(path, "old"));
  HANDLE holder = OpenNative(path, GENERIC_READ, 0, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  long error = 0;
  EXPECT_FALSE(ReplaceFileAtomically(path, "new", &error));
  EXPECT_TRUE(error == kErrorSharingViolation || error == kErrorAccessDenied) << error;
  ::CloseHandle(holder);
  std::string text;
  EXPECT_EQ(kErrorSuccess, ReadFileToString(path, &text));
  EXPECT_EQ("old", text);
  EXPECT_EQ((std::vector<std::string>{"held.xml"}), FolderNames(root.Path()));
}

TEST(FileWin32, FirstWriteIntoAFolderRemovesOnlyStaleUnheldTemporaries) {
  obxtest::ScratchRoot root;
  const std::string folder = root.Sub("sweep");
  ASSERT_TRUE(CreateDirectories(folder + "\\"));
  auto make = [&](const std::string& name, bool old) {
    HANDLE file = OpenNative(folder + "\\" + name, GENERIC_WRITE, 0, CREATE_NEW);
    if (old) {
      FILETIME past;
      ::GetSystemTimeAsFileTime(&past);
      ULARGE_INTEGER t{{past.dwLowDateTime, past.dwHighDateTime}};
      t.QuadPart -= 3600ULL * 10000000ULL;
      past.dwLowDateTime = t.LowPart;
      past.dwHighDateTime = t.HighPart;
      ::SetFileTime(file, nullptr, nullptr, &past);
    }
    return file;
  };
  ::CloseHandle(make(".a.xml.tmpabc123", true));   // a killed writer's: goes
  HANDLE held = make(".b.xml.tmpdef456", true);    // a writer still at work: stays
  ::CloseHandle(make(".c.xml.tmpghi789", false));  // just made: stays
  ::CloseHandle(make("d.xml.tmpjkl012", true));    // not of this naming: stays
  ASSERT_TRUE(ReplaceFileAtomically(folder + "\\e.xml", "e"));
  ::CloseHandle(held);
  EXPECT_EQ((std::vector<std::string>{".b.xml.tmpdef456", ".c.xml.tmpghi789", "d.xml.tmpjkl012",
                                      "e.xml"}),
            FolderNames(folder));
}

TEST(StateRootWin32, PathsAreWindowsPathsAndAStateRootBringsItsOwnWindowsFolder) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"C:/x//y\\z", "C:\\x\\y\\z"},
               {"\\\\server\\\\share/f", "\\\\server\\share\\f"},
               {"\\\\.\\PhysicalDrive0", "\\\\.\\PhysicalDrive0"},
               {"rel/a", "rel\\a"}};
  for (const Case& c : cases) EXPECT_EQ(c.out, NativePath(c.in)) << c.in;
  {
    obxtest::ScratchRoot root;
    EXPECT_EQ(root.Path(), StateRoot());
    EXPECT_EQ(root.Path() + "\\windows", WindowsDirectory());
    EXPECT_TRUE(CreateDirectories(root.Sub("a\\b/c")));
    EXPECT_TRUE(PathExists(root.Sub("a\\b\\c")));
  }
  ::SetEnvironmentVariableA("ORSA_ROOT", nullptr);
  char system[MAX_PATH] = {};
  ::GetWindowsDirectoryA(system, MAX_PATH);
  EXPECT_EQ(system, WindowsDirectory());
  EXPECT_EQ("\\orsa", StateRoot().substr(StateRoot().size() - 5));
}

TEST(StateRootWin32, OneOwnerAtATime) {
  obxtest::ScratchRoot root;
  StateRootLock first;
  StateRootLock second;
  ASSERT_EQ(StateRootLock::kAcquired, first.Acquire(root.Path()));
  EXPECT_EQ(StateRootLock::kHeldElsewhere, second.Acquire(root.Path()));
  EXPECT_EQ(static_cast<long>(::GetCurrentProcessId()), second.owner());
  first.Release();
  EXPECT_EQ(StateRootLock::kAcquired, second.Acquire(root.Path()));
  StateRootLock elsewhere;
  EXPECT_EQ(StateRootLock::kFailed, elsewhere.Acquire(root.Sub("missing")));
  EXPECT_NE(std::string::npos, elsewhere.error().find("orsa-host.lock")) << elsewhere.error();
}

// Run by the next test in child processes: each writes its own ten keys.
TEST(ProfileFileWin32, ChildWriter) {
  char tag[64] = {};
  if (::GetEnvironmentVariableA("OBX_PROFILE_WRITER", tag, sizeof tag) == 0)
    GTEST_SKIP() << "only as a child of ProcessesWritingAtOnceLoseNoKey";
  for (int i = 0; i < 10; ++i) {
    const std::string key = std::string(tag) + "_" + std::to_string(i);
    ASSERT_TRUE(WritePrivateProfileStringA("WINSET", key.c_str(), key.c_str(),
                                           WindowsDirectory() + "\\win.ini"));
  }
}

TEST(ProfileFileWin32, ProcessesWritingAtOnceLoseNoKey) {
  obxtest::ScratchRoot root;
  char self[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  Process writers[3];
  for (int p = 0; p < 3; ++p) {
    ::SetEnvironmentVariableA("OBX_PROFILE_WRITER", ("w" + std::to_string(p)).c_str());
    ASSERT_EQ(kErrorSuccess, writers[p].Start("\"" + std::string(self) +
                                              "\" --gtest_filter=ProfileFileWin32.ChildWriter"));
  }
  ::SetEnvironmentVariableA("OBX_PROFILE_WRITER", nullptr);
  for (Process& writer : writers) {
    ASSERT_EQ(WaitResult::kExited, writer.Wait(kInfinite));
    EXPECT_EQ(0u, writer.ExitCode());
  }
  char value[64];
  for (int p = 0; p < 3; ++p)
    for (int i = 0; i < 10; ++i) {
      const std::string key = "w" + std::to_string(p) + "_" + std::to_string(i);
      GetPrivateProfileStringA("winset", key.c_str(), "", value, sizeof value,
                               WindowsDirectory() + "\\win.ini");
      EXPECT_EQ(key, value);
    }
}

}  // namespace
