#include "sfxstub/driver/command_line.h"

#include <gtest/gtest.h>

namespace sfx {
namespace {

bool ShiftJisLead(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

TEST(SkipProgramName, RemovesTheNameAndTheBlanksAfterIt) {
  struct Case {
    const char* full;
    const char* rest;
  };
  const Case cases[] = {
      {"setup.exe /silent", "/silent"},
      {"setup.exe", ""},
      {"setup.exe   \t /x  y ", "/x  y "},  // blanks and tabs after the name go, the rest stays
      {"\"C:\\My Files\\setup.exe\" /x", "/x"},
      {"\"C:\\My Files\\setup.exe\"/x", ""},         // the name goes on to the first blank outside quotes
      {"C:\\a\"b c\"d.exe /x", "/x"},               // a quote inside toggles too
      {"\"C:\\unclosed quote /x", ""},
      {"", ""},
      {"  /x", "/x"},                                // an empty name
      {"setup.exe\x01\x02/x", "/x"},                 // control characters end the name and are removed
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(SkipProgramName(c.full, NoLeadBytes), c.rest) << c.full;
  }
}

TEST(SkipProgramName, StepsOverDoubleByteCharactersWhole) {
  // 0x81 0x22 is one character: its second byte is no quote, so the quoted state does not change.
  EXPECT_STREQ(SkipProgramName("\"a\x81\"b\" /x", ShiftJisLead), "/x");
  EXPECT_STREQ(SkipProgramName("\"a\x81\"b\" /x", NoLeadBytes), "");  // the blank is quoted here
  // A lead byte at the very end does not run past the terminator.
  EXPECT_STREQ(SkipProgramName("a\x81", ShiftJisLead), "");
}

TEST(FindSwitches, CaseSensitiveSubstringsAnywhere) {
  struct Case {
    const char* line;
    bool oem, msi, silent, verySilent, autorun, quiet;
  };
  const Case cases[] = {
      {"", false, false, false, false, false, false},
      {"/oem", true, false, false, false, false, true},
      {"/msiexec /i x.msi", false, true, false, false, false, true},
      {"/silent", false, false, true, false, false, true},
      {"/verysilent", false, false, false, true, false, true},
      {"/Autorun", false, false, false, false, true, false},
      {"/autorun /AUTORUN /MSI /Silent", false, false, false, false, false, false},
      {"C:\\x/oem/setup /Autorun/msi", true, true, false, false, true, true},
      {"\"/silent\"", false, false, true, false, false, true},  // quoting is not looked at
  };
  for (const auto& c : cases) {
    Switches found = FindSwitches(c.line, NoLeadBytes);
    EXPECT_EQ(found.oem, c.oem) << c.line;
    EXPECT_EQ(found.msi, c.msi) << c.line;
    EXPECT_EQ(found.silent, c.silent) << c.line;
    EXPECT_EQ(found.verySilent, c.verySilent) << c.line;
    EXPECT_EQ(found.autorun, c.autorun) << c.line;
    EXPECT_EQ(found.Quiet(), c.quiet) << c.line;
  }
}

TEST(FindSwitches, NeverMatchesOnASecondByte) {
  EXPECT_FALSE(FindSwitches("\x81/msi", ShiftJisLead).msi);
  EXPECT_TRUE(FindSwitches("\x81/msi", NoLeadBytes).msi);
}

TEST(RelaunchArguments, FromTheFirstBlankAtOrAfterTheNinthCharacter) {
  struct Case {
    const char* line;
    const char* arguments;
  };
  const Case cases[] = {
      {"/Autorun /x y", " /x y"},
      {"/Autorun", ""},
      {"/Autorun ", " "},
      {"/silent /Autorun", ""},      // the 9th character is the switch's '/', no blank follows
      {"/silent /Autorun /q", " /q"},
      {"/msi /Autorun", ""},
      {"/msi /Autorun /x", " /x"},
      {"/Autorun/x y", " y"},        // counted from the start, not from the switch
      {"ab /Autorun", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(RelaunchArguments(c.line), c.arguments) << c.line;
}

}  // namespace
}  // namespace sfx
