// The rights ProtectFolder gives a folder: the descriptor it asks for, and on
// Windows the folder's own, read back from the file system (Wine keeps no
// DACL on files: it maps one onto the Unix permission bits and answers one
// made from them).
#include <windows.h>

#include "platform/FolderRights.h"
// These build on <windows.h>, which must come first.
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <fstream>
#include <map>
#include <string>

#include "tests/platform/win32/ScratchRoot.h"

namespace {

// Which SID an ACE names, by its well-known kind; "" for any other.
std::string KindOf(PSID sid) {
  const struct {
    WELL_KNOWN_SID_TYPE type;
    const char* name;
  } kinds[] = {
      {WinLocalSystemSid, "SY"}, {WinBuiltinAdministratorsSid, "BA"}, {WinBuiltinUsersSid, "BU"}};
  for (const auto& k : kinds)
    if (::IsWellKnownSid(sid, k.type)) return k.name;
  return "";
}

struct Ace {
  DWORD mask = 0;
  BYTE flags = 0;
};

constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                               FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                               WRITE_OWNER;

// Checks the DACL of `descriptor`: protected when `folder`, nothing but
// SYSTEM and Administrators with full control and Users with read and
// execute, handed down to files and folders when `folder`.
void ExpectSystemsOwn(PSECURITY_DESCRIPTOR descriptor, bool folder) {
  char* text = nullptr;
  std::string sddl;
  if (::ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    sddl = text;
    ::LocalFree(text);
  }
  SCOPED_TRACE(sddl);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
  if (folder) {
    EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "the parent's rights reach in";
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl != nullptr) << "no DACL lets everyone in";
  std::map<std::string, Ace> allowed;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, &raw));
    auto* header = static_cast<ACE_HEADER*>(raw);
    ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE);
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
    Ace& entry = allowed[KindOf(&ace->SidStart)];
    entry.mask |= ace->Mask;
    entry.flags |= header->AceFlags;
  }
  EXPECT_EQ(allowed.size(), 3u) << "an ACE of another SID";
  EXPECT_EQ(allowed["SY"].mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
  EXPECT_EQ(allowed["BA"].mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
  EXPECT_EQ(allowed["BU"].mask & kWriteRights, 0u);
  EXPECT_NE(allowed["BU"].mask & FILE_EXECUTE, 0u);
  if (folder) {
    for (const char* kind : {"SY", "BA", "BU"})
      EXPECT_EQ(allowed[kind].flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)
          << kind;
  }
}

bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(FolderRights, TheDescriptorAskedForLetsOnlySystemAndAdministratorsWrite) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
      platform::ProtectedFolderSddl(), SDDL_REVISION_1, &descriptor, nullptr));
  ExpectSystemsOwn(descriptor, true);
  ::LocalFree(descriptor);
}

TEST(FolderRights, TheFolderAndFilesBelowCarryItAndSystemFoldersAreRefused) {
  obxtest::ScratchRoot root;
  const std::string folder = root.Sub("updates\\new");
  std::string error;
  ASSERT_TRUE(platform::ProtectFolder(folder, &error)) << error;
  std::ofstream(folder + "\\tool.dll") << "x";
  for (const char* path : {"C:\\", "c:\\windows\\system32", "\\\\server\\share\\"})
    EXPECT_FALSE(platform::ProtectFolder(path, &error)) << path;
  if (UnderWine()) GTEST_SKIP() << "Wine keeps no DACL on files";
  for (const std::string& path : {folder, folder + "\\tool.dll"}) {
    SCOPED_TRACE(path);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, nullptr, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ExpectSystemsOwn(descriptor, path == folder);
    ::LocalFree(descriptor);
  }
}

}  // namespace
