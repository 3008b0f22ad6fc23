#include "sfxstub/platform/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace sfx {
namespace {

using test::ScratchDir;

bool IsDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// One access entry as read back: its kind, flags and mask (generic rights mapped to file rights).
struct ReadEntry {
  BYTE type;
  BYTE flags;
  DWORD mask;
  std::string trustee;  // "system", "administrators", "user", "everyone" or "other"
};

std::string TrusteeOf(PSID sid) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY, world = SECURITY_WORLD_SID_AUTHORITY;
  PSID system = nullptr, administrators = nullptr, everyone = nullptr;
  AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system);
  AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                           &administrators);
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  std::vector<uint8_t> user(512);
  DWORD needed = 0;
  GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &needed);
  CloseHandle(token);
  std::string name = EqualSid(sid, system) ? "system"
                     : EqualSid(sid, administrators) ? "administrators"
                     : EqualSid(sid, everyone) ? "everyone"
                     : EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid) ? "user"
                                                                                              : "other";
  FreeSid(system);
  FreeSid(administrators);
  FreeSid(everyone);
  return name;
}

std::vector<ReadEntry> AccessList(const std::string& path, SECURITY_DESCRIPTOR_CONTROL* control) {
  std::vector<ReadEntry> entries;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &list, nullptr, &descriptor) != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot read the access list of " << path;
    return entries;
  }
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, control, &revision);
  GENERIC_MAPPING files = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  for (DWORD i = 0; list != nullptr && i < list->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(list, i, reinterpret_cast<void**>(&header))) continue;
    // Allowed and denied entries share their layout.
    auto* entry = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    DWORD mask = entry->Mask;
    MapGenericMask(&mask, &files);
    entries.push_back({header->AceType, header->AceFlags, mask, TrusteeOf(&entry->SidStart)});
  }
  LocalFree(descriptor);
  return entries;
}

// The allowed entries of Everyone on path: (flags, mask with generic rights mapped to file rights).
std::vector<std::pair<unsigned, DWORD>> EveryoneEntries(const std::string& path) {
  std::vector<std::pair<unsigned, DWORD>> entries;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  for (const ReadEntry& entry : AccessList(path, &control)) {
    if (entry.type == ACCESS_ALLOWED_ACE_TYPE && entry.trustee == "everyone") {
      entries.emplace_back(entry.flags, entry.mask);
    }
  }
  return entries;
}

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base = scratch.path();
    test::SetEnvironment("TEMP", base.c_str());
  }
  void TearDown() override {
    test::SetEnvironment("TEMP", savedTemp.empty() ? nullptr : savedTemp.c_str());
    test::SetEnvironment("TMP", savedTmp.empty() ? nullptr : savedTmp.c_str());
  }

  // Each directory stays held until the test ends.
  std::string Create(uint32_t threadId, ResultCode expected = kOk) {
    char buffer[260];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(CreatePrivateTempDirForThread(buffer, sizeof buffer, kTempDirPrefix, threadId, &held.emplace_back()),
              expected);
    EXPECT_EQ(held.back().IsHeld(), expected == kOk);
    return buffer;
  }

  static std::string Saved(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
  }

  std::string savedTemp = Saved("TEMP");
  std::string savedTmp = Saved("TMP");
  ScratchDir scratch;
  std::string base;
  std::deque<HeldDirectory> held;  // let go before the scratch folder goes
};

TEST_F(TempDirTest, NamedAfterTheThreadUnderTemp) {
  struct Case {
    uint32_t threadId;
    const char* leaf;
  };
  const Case cases[] = {{1234, "_kv_sfx.tm~a01234"}, {1234567, "_kv_sfx.tm~a34567"}, {7, "_kv_sfx.tm~a00007"}};
  for (const auto& c : cases) {
    std::string path = Create(c.threadId);
    EXPECT_EQ(path, base + "\\" + c.leaf);
    EXPECT_TRUE(IsDirectory(path));
  }
}

TEST_F(TempDirTest, TakenNamesAreSkippedAndNeverReused) {
  // 'a' is a file, 'b' a directory someone else made: the run gets a fresh 'c'.
  test::WriteFileBytes(base + "\\_kv_sfx.tm~a04242", test::BytesOf("x"));
  ASSERT_TRUE(CreateDirectoryA((base + "\\_kv_sfx.tm~b04242").c_str(), nullptr));
  std::string path = Create(4242);
  EXPECT_EQ(path, base + "\\_kv_sfx.tm~c04242");
}

// What a creator racing this run leaves: a name the existence test misses and CreateDirectoryA then
// reports as existing. The harness plants one (SFX_RACED_TEMP: a folder holding a dangling link named
// for thread 31337, which Wine reports as absent and mkdir as existing); elsewhere this is skipped.
TEST_F(TempDirTest, NameThatAppearsBetweenTheTestAndTheCreateIsSkipped) {
  const char* planted = std::getenv("SFX_RACED_TEMP");
  if (planted == nullptr || *planted == '\0') GTEST_SKIP() << "no raced name planted (SFX_RACED_TEMP)";
  std::string raced = planted;
  if (raced[0] == '/') raced = "Z:" + raced;  // a Linux path, as Wine reaches it
  for (char& c : raced) c = c == '/' ? '\\' : c;
  const std::string taken = raced + "\\_kv_sfx.tm~a31337";
  const std::string next = raced + "\\_kv_sfx.tm~b31337";
  ASSERT_TRUE(IsDirectory(raced)) << "the planted folder is missing: " << raced;
  RemoveDirectoryA(next.c_str());  // from an earlier run of this binary alone
  ASSERT_EQ(GetFileAttributesA(taken.c_str()), INVALID_FILE_ATTRIBUTES) << "the existence test must miss it";
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  test::SetEnvironment("TEMP", raced.c_str());
  std::string path = Create(31337);
  EXPECT_EQ(path, next) << "the raced name is taken, not reported as an error";
  EXPECT_TRUE(IsDirectory(next));
  EXPECT_FALSE(CreateDirectoryA(taken.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "the plant still holds its name";
  RemoveDirectoryA(next.c_str());
}

TEST_F(TempDirTest, AllNamesTakenGivesAnErrorAndNoPath) {
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    ASSERT_TRUE(CreateDirectoryA((base + "\\_kv_sfx.tm~" + letter + "00077").c_str(), nullptr));
  }
  char buffer[260];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(CreatePrivateTempDirForThread(buffer, sizeof buffer, kTempDirPrefix, 77, &held.emplace_back()),
            kErrorCannotMake);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0'));
}

TEST_F(TempDirTest, PathThatDoesNotFitTheBufferIsRefused) {
  char buffer[40];
  std::memset(buffer, '#', sizeof buffer);
  ASSERT_GT(base.size() + 18 + 1, sizeof buffer);
  EXPECT_EQ(CreatePrivateTempDirForThread(buffer, sizeof buffer, kTempDirPrefix, 1, &held.emplace_back()),
            kErrorFilenameExceedsRange);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0'));
}

// The base is the first of TEMP, TMP and GetTempPathA's answer that names an existing folder; nothing
// is ever made elsewhere (no "C:\\TEMP", created under C:\\ with what C:\\ hands down to everyone).
TEST_F(TempDirTest, BaseIsTheFirstExistingFolderOfTempTmpAndTheSystemsTempPath) {
  const std::string tmp = base + "\\tmp";
  const std::string file = base + "\\file";
  const std::string missing = base + "\\missing";
  ASSERT_TRUE(CreateDirectoryA(tmp.c_str(), nullptr));
  test::WriteFileBytes(file, test::BytesOf("x"));
  char system[MAX_PATH] = "";
  test::SetEnvironment("TEMP", nullptr);
  test::SetEnvironment("TMP", nullptr);
  ASSERT_GT(GetTempPathA(sizeof system, system), 0u);
  const std::string systemBase = std::string(system).substr(0, std::strlen(system) - 1);
  ASSERT_TRUE(IsDirectory(systemBase)) << systemBase;
  struct Case {
    const char* temp;  // null: unset
    const char* tmp;
    std::string base;  // empty: none usable
  };
  const std::string withSeparator = base + "\\";
  const Case cases[] = {
      {nullptr, tmp.c_str(), tmp},
      {withSeparator.c_str(), tmp.c_str(), base},  // no second separator
      {missing.c_str(), tmp.c_str(), tmp},
      {file.c_str(), tmp.c_str(), tmp},
      {nullptr, nullptr, systemBase},
      {missing.c_str(), file.c_str(), ""},  // GetTempPathA answers TMP's value too
  };
  uint32_t threadId = 11;
  for (const Case& c : cases) {
    test::SetEnvironment("TEMP", c.temp);
    test::SetEnvironment("TMP", c.tmp);
    const std::string made = Create(threadId, c.base.empty() ? kErrorPathNotFound : kOk);
    char leaf[32];
    std::snprintf(leaf, sizeof leaf, "\\_kv_sfx.tm~a%05u", threadId++);
    EXPECT_EQ(made, c.base.empty() ? "" : c.base + leaf) << (c.temp ? c.temp : "-") << " " << (c.tmp ? c.tmp : "-");
    if (!made.empty() && c.base == systemBase) held.back().Remove();
    EXPECT_FALSE(IsDirectory("C:\\TEMP" + std::string(leaf)));
  }
  EXPECT_FALSE(IsDirectory(missing));
}

// The directory is held from its creation: it cannot be renamed away (and another put in its place)
// while the run uses it.
TEST_F(TempDirTest, DirectoryIsHeldAgainstRenames) {
  std::string path = Create(8);
  EXPECT_TRUE(held.back().IsNamedBy(path.c_str()));
  EXPECT_FALSE(MoveFileA(path.c_str(), (base + "\\away").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(IsDirectory(path));
}

// Wine derives Everyone's entry from the file system's permissions for others, so an entry that
// allows reading and executing is there before the grant too; what this catches is any right beyond
// reading and executing (a grant of full access shows up as write and delete rights).
TEST_F(TempDirTest, EveryoneMayReadAndExecuteOnly) {
  std::string path = Create(5);
  auto entries = EveryoneEntries(path);
  ASSERT_FALSE(entries.empty());
  DWORD granted = 0;
  unsigned inheritance = 0;
  for (const auto& entry : entries) {
    granted |= entry.second;
    inheritance |= entry.first & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
  }
  EXPECT_EQ(granted, static_cast<DWORD>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
  EXPECT_EQ(inheritance, static_cast<unsigned>(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
  // Files made inside inherit the entry.
  std::string file = path + "\\inside.txt";
  test::WriteFileBytes(file, test::BytesOf("x"));
  auto inherited = EveryoneEntries(file);
  ASSERT_FALSE(inherited.empty());
  for (const auto& entry : inherited) {
    EXPECT_EQ(entry.second & ~static_cast<DWORD>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), 0u);
  }
}

// The run's directory carries its own, protected list from its creation: nothing inherited from the
// base (whatever the base lets others do there), full control for SYSTEM, the Administrators and
// this user, read and execute for Everyone, all handed down to what is made inside. Wine keeps a
// descriptor given at creation where the file system stores extended attributes, and derives one
// from the mode bits elsewhere; a derived list has no protection flag and no SYSTEM or
// Administrators entry, and then the test says so and checks only what such a list shows.
TEST_F(TempDirTest, DirectoryListIsProtectedAndHoldsOnlyTheRunsEntries) {
  std::string path = Create(6);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  std::vector<ReadEntry> entries = AccessList(path, &control);
  ASSERT_FALSE(entries.empty());
  std::map<std::string, DWORD> granted;
  for (const ReadEntry& entry : entries) {
    EXPECT_EQ(entry.type, ACCESS_ALLOWED_ACE_TYPE) << entry.trustee;
    EXPECT_EQ(entry.flags & INHERITED_ACE, 0) << entry.trustee << ": inherited from the base";
    EXPECT_NE(entry.trustee, "other");
    if ((entry.flags & INHERIT_ONLY_ACE) == 0) granted[entry.trustee] |= entry.mask;
  }
  EXPECT_EQ(granted["everyone"], static_cast<DWORD>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
  if ((control & SE_DACL_PROTECTED) == 0) {
    std::printf("note: this file system keeps no descriptor; the list was derived from mode bits\n");
    return;
  }
  EXPECT_EQ(granted["system"], static_cast<DWORD>(FILE_ALL_ACCESS));
  EXPECT_EQ(granted["administrators"], static_cast<DWORD>(FILE_ALL_ACCESS));
  if (IsTokenElevated()) {
    EXPECT_EQ(granted.count("user"), 0u);
    EXPECT_EQ(granted.size(), 3u);
  } else {
    EXPECT_EQ(granted["user"], static_cast<DWORD>(FILE_ALL_ACCESS));
    EXPECT_EQ(granted.size(), 4u);
  }
}

// The descriptor read back as built, for either kind of token (Wine enforces no access list, and its
// file system may not keep one): elevated, the user has no entry of its own; else full control.
TEST(PrivateDirSecurity, ElevatedTokenGivesTheUserNoEntry) {
  for (bool elevated : {true, false}) {
    PrivateDirSecurity security;
    ASSERT_EQ(security.Build(elevated), kOk);
    std::map<std::string, DWORD> granted;
    PACL list = security.AccessList();
    for (DWORD i = 0; i < list->AceCount; ++i) {
      ACE_HEADER* header = nullptr;
      ASSERT_TRUE(GetAce(list, i, reinterpret_cast<void**>(&header)));
      ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE);
      EXPECT_EQ(header->AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
      auto* entry = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
      granted[TrusteeOf(&entry->SidStart)] |= entry->Mask;
    }
    std::map<std::string, DWORD> expected = {{"system", FILE_ALL_ACCESS},
                                             {"administrators", FILE_ALL_ACCESS},
                                             {"everyone", GENERIC_READ | GENERIC_EXECUTE}};
    if (!elevated) expected["user"] = FILE_ALL_ACCESS;
    EXPECT_EQ(granted, expected) << "elevated " << elevated;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(security.Attributes()->lpSecurityDescriptor, &control, &revision));
    EXPECT_NE(control & SE_DACL_PROTECTED, 0);
  }
}

TEST_F(TempDirTest, GrantFailures) {
  const std::string path = base + "\\plain";
  ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
  // A library without the security functions, and no library at all.
  EXPECT_EQ(GrantEveryoneAccessFrom("kernel32.dll", path.c_str(), SE_FILE_OBJECT), kErrorInvalidOrdinal);
  EXPECT_EQ(GrantEveryoneAccessFrom("sfx_no_such_library.dll", path.c_str(), SE_FILE_OBJECT),
            static_cast<ResultCode>(ERROR_MOD_NOT_FOUND));
  // A path that does not exist: its list cannot be read.
  EXPECT_EQ(GrantEveryoneAccess((base + "\\missing").c_str(), SE_FILE_OBJECT), kErrorFileNotFound);
  EXPECT_EQ(GrantEveryoneAccess(path.c_str(), SE_FILE_OBJECT), kOk);
}

}  // namespace
}  // namespace sfx
