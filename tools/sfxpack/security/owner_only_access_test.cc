// What keygen and the code-signing folder get on Windows instead of the access list of the folder
// above: read back from the file system (Wine keeps access lists, though it enforces none).
#include "tools/sfxpack/security/owner_only_access.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "tests/test_support.h"
#include "tools/sfxpack/sfxpack_commands.h"
#include "tools/sfxpack/security/private_folder.h"

namespace sfx {
namespace {

// The access list at path as SDDL, with whether it is protected from inheritance.
struct ReadBack {
  bool read = false;
  bool isProtected = false;
  DWORD aces = 0;
  std::string sid;   // of the first entry
  DWORD mask = 0;
  BYTE flags = 0;
  BYTE type = 0xFF;
};

ReadBack AccessListOf(const std::string& path) {
  ReadBack back;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return back;
  }
  back.read = true;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  back.isProtected = (control & SE_DACL_PROTECTED) != 0;
  back.aces = dacl != nullptr ? dacl->AceCount : 0;
  void* ace = nullptr;
  if (back.aces > 0 && GetAce(dacl, 0, &ace)) {
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    back.type = allowed->Header.AceType;
    back.flags = allowed->Header.AceFlags;
    back.mask = allowed->Mask;
    char* text = nullptr;
    if (ConvertSidToStringSidA(&allowed->SidStart, &text)) {
      back.sid = text;
      LocalFree(text);
    }
  }
  LocalFree(descriptor);
  return back;
}

TEST(OwnerOnlyAccess, PrivateKeyAndSigningFolderLetTheUserAloneIn) {
  std::string user, error;
  ASSERT_TRUE(CurrentUserSid(&user, &error)) << error;
  test::ScratchDir dir;
  const CommandSpec* keygen = FindCommand("keygen");
  ASSERT_NE(keygen, nullptr);
  ASSERT_EQ(RunCommand(*keygen, {"--out", dir.File("k")}), kExitOk);
  PrivateFolder folder;
  ASSERT_TRUE(folder.Create(dir.File("pkg.exe"), &error)) << error;
  const struct {
    std::string path;
    BYTE inherited;  // by what is made inside
  } cases[] = {{dir.File("k.key"), 0}, {folder.path(), OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE}};
  for (const auto& c : cases) {
    ReadBack back = AccessListOf(c.path);
    ASSERT_TRUE(back.read) << c.path;
    EXPECT_TRUE(back.isProtected) << c.path << ": nothing inherited from the folder above";
    EXPECT_EQ(back.aces, 1u) << c.path;
    EXPECT_EQ(back.type, ACCESS_ALLOWED_ACE_TYPE) << c.path;
    EXPECT_EQ(back.sid, user) << c.path;
    EXPECT_EQ(back.mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS)) << c.path;
    EXPECT_EQ(back.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE), c.inherited) << c.path;
  }
  // The public key is no secret: it keeps what the folder gives.
  EXPECT_FALSE(AccessListOf(dir.File("k.pub")).isProtected);
}

}  // namespace
}  // namespace sfx
#endif
