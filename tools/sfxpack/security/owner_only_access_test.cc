// What keygen and the code-signing folder get on Windows instead of the access list of the folder
// above.
#include "tools/sfxpack/security/owner_only_access.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <sddl.h>

#include <string>

#include "tests/test_support.h"
#include "tools/sfxpack/sfxpack_commands.h"
#include "tools/sfxpack/security/private_folder.h"

namespace sfx {
namespace {

// An access list, taken apart.
struct ReadBack {
  bool read = false;
  bool isProtected = false;
  DWORD aces = 0;
  std::string sid;  // of the first entry
  DWORD mask = 0;
  BYTE flags = 0;
  BYTE type = 0xFF;
};

ReadBack TakeApart(PSECURITY_DESCRIPTOR descriptor) {
  ReadBack back;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr) return back;
  back.read = true;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  back.isProtected = (control & SE_DACL_PROTECTED) != 0;
  back.aces = dacl->AceCount;
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
  return back;
}

// Wine keeps no access list a file is created with (it reads back one made from the Unix mode), so
// the descriptor is checked where it is handed to CreateFile and CreateDirectory; keygen and the
// signing folder are then made with it, which must succeed.
TEST(OwnerOnlyAccess, TheDescriptorLetsTheUserAloneInAndNothingIsInherited) {
  std::string user, error;
  ASSERT_TRUE(CurrentUserSid(&user, &error)) << error;
  for (bool folder : {false, true}) {
    OwnerOnlySecurity security;
    ASSERT_TRUE(security.Build(folder, &error)) << error;
    ASSERT_EQ(security.Attributes()->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_FALSE(security.Attributes()->bInheritHandle);
    ReadBack back = TakeApart(security.Attributes()->lpSecurityDescriptor);
    ASSERT_TRUE(back.read) << folder;
    EXPECT_TRUE(back.isProtected) << folder << ": nothing inherited from the folder above";
    EXPECT_EQ(back.aces, 1u) << folder;
    EXPECT_EQ(back.type, ACCESS_ALLOWED_ACE_TYPE) << folder;
    EXPECT_EQ(back.sid, user) << folder;
    EXPECT_EQ(back.mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS)) << folder;
    EXPECT_EQ(back.flags, folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0) << folder;
  }
  test::ScratchDir dir;
  const CommandSpec* keygen = FindCommand("keygen");
  ASSERT_NE(keygen, nullptr);
  ASSERT_EQ(RunCommand(*keygen, {"--out", dir.File("k")}), kExitOk);
  EXPECT_FALSE(test::ReadFileBytes(dir.File("k.key")).empty());
  PrivateFolder folder;
  EXPECT_TRUE(folder.Create(dir.File("pkg.exe"), &error)) << error;
}

}  // namespace
}  // namespace sfx
#endif
