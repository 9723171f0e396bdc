// The rights ProtectFolder gives a folder, read back from the file system.
#include <windows.h>

#include "platform/FolderRights.h"
// These build on <windows.h>, which must come first.
#include <aclapi.h>
#include <gtest/gtest.h>

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
  DWORD mask;
  BYTE flags;
};

// The allowing ACEs of `path` by SID kind, and whether its DACL is protected.
// False when the rights cannot be read.
bool ReadDacl(const std::string& path, std::map<std::string, Ace>* allowed, bool* isProtected,
              int* denied) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  *isProtected = (control & SE_DACL_PROTECTED) != 0;
  *denied = 0;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!::GetAce(dacl, i, &raw)) continue;
    auto* header = static_cast<ACE_HEADER*>(raw);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      ++*denied;
      continue;
    }
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
    Ace& entry = (*allowed)[KindOf(&ace->SidStart)];
    entry.mask |= ace->Mask;
    entry.flags |= header->AceFlags;
  }
  ::LocalFree(descriptor);
  return true;
}

constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                               FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                               WRITE_OWNER;

TEST(FolderRights, OnlySystemAndAdministratorsMayWriteAndFilesBelowInheritIt) {
  obxtest::ScratchRoot root;
  const std::string folder = root.Sub("updates");
  std::string error;
  ASSERT_TRUE(platform::ProtectFolder(folder, &error)) << error;
  std::ofstream(folder + "\\tool.dll") << "x";

  for (const std::string& path : {folder, folder + "\\tool.dll"}) {
    std::map<std::string, Ace> allowed;
    bool isProtected = false;
    int denied = 0;
    ASSERT_TRUE(ReadDacl(path, &allowed, &isProtected, &denied)) << path;
    if (path == folder) {
      EXPECT_TRUE(isProtected) << "the parent's rights reach in";
    }
    EXPECT_EQ(denied, 0) << path;
    EXPECT_EQ(allowed.size(), 3u) << path << ": an ACE of another SID";
    EXPECT_EQ(allowed["SY"].mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS)) << path;
    EXPECT_EQ(allowed["BA"].mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS)) << path;
    EXPECT_EQ(allowed["BU"].mask & kWriteRights, 0u) << path;
    EXPECT_NE(allowed["BU"].mask & FILE_EXECUTE, 0u) << path;
    if (path == folder) {
      for (const char* kind : {"SY", "BA", "BU"})
        EXPECT_EQ(allowed[kind].flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)
            << kind;
    }
  }
  EXPECT_FALSE(platform::ProtectFolder("C:\\", &error));
  EXPECT_FALSE(platform::ProtectFolder("C:\\windows\\system32", &error));
}

}  // namespace
