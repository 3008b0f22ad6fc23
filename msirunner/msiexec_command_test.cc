#include "msirunner/msiexec_command.h"

#include <gtest/gtest.h>

#include <string>

namespace sfx {
namespace {

constexpr wchar_t kSystem[] = L"C:\\Windows\\system32";
constexpr wchar_t kFolder[] = L"C:\\T\\_kv_sfx.tm~a00001";

struct Built {
  uint32_t result;
  std::wstring line;
};

Built Build(const std::wstring& own, size_t capacity = kMaxMsiexecCommandLine) {
  std::wstring out(capacity + 1, L'?');
  uint32_t result = MsiexecCommandLine(own.c_str(), kFolder, kSystem, &out[0], capacity);
  return {result, result == kMsiexecOk ? std::wstring(out.c_str()) : std::wstring()};
}

TEST(MsiexecCommandLine, InstallsTheNamedMsiBesideTheRunnerWithTheRestUnchanged) {
  const std::wstring head = L"\"C:\\Windows\\system32\\msiexec.exe\" /i \"C:\\T\\_kv_sfx.tm~a00001\\acme.msi\"";
  struct Case {
    const wchar_t* own;
    const std::wstring line;
  };
  const Case cases[] = {
      {L"\"C:\\T\\x\\kelvo.setup\" \"acme.msi\" /qn SFXSRCPATH=\"C:\\Dl\"", head + L" /qn SFXSRCPATH=\"C:\\Dl\""},
      {L"\"C:\\T\\x\\kelvo.setup\" \"acme.msi\"", head},
      {L"\"C:\\T\\x\\kelvo.setup\"   acme.msi   /l*v \"a b.log\"  ", head + L" /l*v \"a b.log\"  "},
      {L"kelvo.setup \"acme.msi\" /qn", head + L" /qn"},
  };
  for (const Case& c : cases) {
    Built built = Build(c.own);
    EXPECT_EQ(built.result, kMsiexecOk);
    EXPECT_EQ(built.line, c.line);
  }
}

TEST(MsiexecCommandLine, RefusesAMissingNameOrAPath) {
  const wchar_t* refused[] = {L"\"C:\\T\\kelvo.setup\"", L"\"C:\\T\\kelvo.setup\"   ", L"\"C:\\T\\kelvo.setup\" \"\" /qn",
                              L"\"C:\\T\\kelvo.setup\" \"..\\x.msi\"", L"\"C:\\T\\kelvo.setup\" C:x.msi",
                              L"\"C:\\T\\kelvo.setup\" \"a/b.msi\""};
  for (const wchar_t* own : refused) EXPECT_EQ(Build(own).result, kMsiexecBadCommandLine);
}

TEST(MsiexecCommandLine, RefusesALineLongerThanTheBufferNeverCutsIt) {
  const std::wstring own = L"\"r\" \"acme.msi\" /qn";
  const size_t needed = Build(own).line.size() + 1;
  EXPECT_EQ(Build(own, needed).result, kMsiexecOk);
  EXPECT_EQ(Build(own, needed - 1).result, kMsiexecNameTooLong);
  EXPECT_EQ(Build(own, 0).result, kMsiexecNameTooLong);
}

TEST(MsiexecPath, IsTheSystemFolderJoinedWithTheProgram) {
  wchar_t out[64];
  ASSERT_EQ(MsiexecPath(kSystem, out, 64), kMsiexecOk);
  EXPECT_EQ(std::wstring(out), L"C:\\Windows\\system32\\msiexec.exe");
  EXPECT_EQ(MsiexecPath(kSystem, out, 31), kMsiexecNameTooLong);
}

}  // namespace
}  // namespace sfx
