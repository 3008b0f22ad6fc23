#include "sfxstub/platform/run_and_wait.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Bytes;

// The probe (tests/wine/probe.cc) is the child: it reports its command line into <control>.report
// and exits with the code the control file gives.
class RunAndWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* probePath = std::getenv("SFX_PROBE");
    ASSERT_NE(probePath, nullptr) << "SFX_PROBE is not set";
    probe = probePath;
    if (probe[0] == '/') {
      probe = "Z:" + probe;
      for (char& c : probe) c = c == '/' ? '\\' : c;
    }
    control = scratch.File("probe.ctl");
    test::SetEnvironment("SFX_PROBE_CONTROL", control.c_str());
    SetExitCodes("0");
  }
  void TearDown() override { test::SetEnvironment("SFX_PROBE_CONTROL", nullptr); }

  void SetExitCodes(const std::string& codes) {
    test::WriteFileBytes(control, test::BytesOf("exit=" + codes + "\n"));
    DeleteFileA((control + ".count").c_str());
    DeleteFileA((control + ".report").c_str());
  }

  // The command line of the probe's last run, or "(not run)".
  std::string ChildCommandLine() {
    Bytes bytes = test::ReadFileBytes(control + ".report");
    std::string report(bytes.begin(), bytes.end());
    size_t at = report.rfind("command_line=");
    if (at == std::string::npos) return "(not run)";
    at += 13;
    return report.substr(at, report.find('\n', at) - at);
  }

  test::ScratchDir scratch;
  std::string probe;
  std::string control;
};

TEST_F(RunAndWaitTest, CommandLineIsTheQuotedPathThenTheArguments) {
  struct Case {
    const char* arguments;
    std::string tail;
  };
  const Case cases[] = {{nullptr, ""}, {"", " "}, {" /x y", "  /x y"}, {"/a \"b c\"", " /a \"b c\""}};
  for (const auto& c : cases) {
    uint32_t exitCode = 99;
    EXPECT_EQ(RunAndWait(probe.c_str(), c.arguments, &exitCode), kOk);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ChildCommandLine(), "\"" + probe + "\"" + c.tail);
  }
}

TEST_F(RunAndWaitTest, ExitCodeComesBackWhole) {
  const uint32_t codes[] = {0x20000010, 1603, 0xC0000005, 7};
  for (uint32_t code : codes) {
    SetExitCodes(std::to_string(code));
    uint32_t exitCode = 0;
    EXPECT_EQ(RunAndWait(probe.c_str(), nullptr, &exitCode), kOk);
    EXPECT_EQ(exitCode, code);
  }
  EXPECT_EQ(RunAndWait(probe.c_str(), nullptr, nullptr), kOk);  // the exit code is optional
}

TEST_F(RunAndWaitTest, AnyExtensionRunsAsAnExecutable) {
  const std::string setup = scratch.File("kelvo.setup");
  ASSERT_TRUE(CopyFileA(probe.c_str(), setup.c_str(), FALSE));
  SetExitCodes("5");
  uint32_t exitCode = 0;
  EXPECT_EQ(RunAndWait(setup.c_str(), "/q", &exitCode), kOk);
  EXPECT_EQ(exitCode, 5u);
  EXPECT_EQ(ChildCommandLine(), "\"" + setup + "\" /q");
}

TEST_F(RunAndWaitTest, FailuresReturnTheErrorAndExitCodeZero) {
  uint32_t exitCode = 99;
  EXPECT_EQ(RunAndWait(scratch.File("missing.exe").c_str(), nullptr, &exitCode), kErrorFileNotFound);
  EXPECT_EQ(exitCode, 0u);

  // Longer than CreateProcess takes (32,767 characters with the terminator): refused, nothing
  // started; one character less is started whole.
  exitCode = 99;
  std::string arguments(32767 - probe.size() - 3, 'x');
  EXPECT_EQ(RunAndWait(probe.c_str(), arguments.c_str(), &exitCode), kErrorFilenameExceedsRange);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(ChildCommandLine(), "(not run)");
  arguments.pop_back();  // 32,766 characters fit
  EXPECT_EQ(RunAndWait(probe.c_str(), arguments.c_str(), &exitCode), kOk);
  EXPECT_EQ(ChildCommandLine(), "\"" + probe + "\" " + arguments);
}

}  // namespace
}  // namespace sfx
