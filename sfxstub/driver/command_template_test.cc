#include "sfxstub/driver/command_template.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace sfx {
namespace {

bool ShiftJisLead(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

std::string Replaced(const std::string& text, const char* placeholder, const char* value,
                     LeadBytePredicate isLead = NoLeadBytes) {
  Text replaced = text;
  ReplaceAll(replaced, placeholder, value, isLead);
  return test::Str(replaced);
}

TEST(ReplaceAll, ReplacesEveryOccurrenceAndNeverSearchesInsertedText) {
  struct Case {
    const char* text;
    const char* placeholder;
    const char* value;
    const char* result;
  };
  const Case cases[] = {
      {"a %X% b %X%", "%X%", "1", "a 1 b 1"},
      {"%X%%X%", "%X%", "", ""},
      {"%x% %X", "%X%", "1", "%x% %X"},             // case-sensitive, whole placeholder only
      {"%X%", "%X%", "%X%%X%", "%X%%X%"},            // inserted text is not searched again
      {"%X%X%", "%X%", "%", "%X%"},                  // the search goes on after the inserted value
      {"%%X%%", "%X%", "%", "%%%"},
      {"a %X% b", "%X%", "%X%", "a %X% b"},          // a value equal to the placeholder: unchanged
      {"", "%X%", "1", ""},
      {"keep %X%", "%X%", nullptr, "keep %X%"},      // absent value
      {"keep %X%", nullptr, "1", "keep %X%"},        // absent placeholder
      {"keep", "", "1", "keep"},                     // empty placeholder
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Replaced(c.text, c.placeholder, c.value), c.result)
        << c.text << " / " << (c.placeholder ? c.placeholder : "(null)");
  }
}

TEST(ReplaceAll, AValueAlreadyInTheTextIsExpandedOnceNotTwice) {
  // The value contains the placeholder and already stands in the text: it becomes the placeholder
  // first, then every placeholder gets the value once.
  EXPECT_EQ(Replaced("run /x %CMDLINE% end", "%CMDLINE%", "/x %CMDLINE%"), "run /x %CMDLINE% end");
  EXPECT_EQ(Replaced("/x %CMDLINE% and %CMDLINE%", "%CMDLINE%", "/x %CMDLINE%"),
            "/x %CMDLINE% and /x %CMDLINE%");
  // The value contains the placeholder but is not in the text: inserted once, its inner
  // placeholder left alone.
  EXPECT_EQ(Replaced("A %CMDLINE% B", "%CMDLINE%", "/x %CMDLINE%"), "A /x %CMDLINE% B");
  // A value in the text that does not contain the placeholder is left alone.
  EXPECT_EQ(Replaced("/q %CMDLINE%", "%CMDLINE%", "/q"), "/q /q");
}

TEST(ReplaceAll, MatchesNeverStartOnASecondByte) {
  // 0x81 0x25 is one character whose second byte is '%'.
  EXPECT_EQ(Replaced("\x81%X% %X%", "%X%", "1", ShiftJisLead), "\x81%X% 1");
  EXPECT_EQ(Replaced("\x81%X% %X%", "%X%", "1", NoLeadBytes), "\x81" "1 1");
}

TEST(BuildCommand, SuffixAndTheFixedOrder) {
  const std::string src = "C:\\Downloads";
  const std::string tmp = "C:\\TEMP\\_kv_sfx.tm~a01234";
  const std::string suffix = " /srcpath \"C:\\Downloads\"";
  struct Case {
    const char* commandTemplate;
    const char* commandLine;
    std::string command;
  };
  const Case cases[] = {
      {"", "/silent", suffix},
      {"A %CMDLINE% B", "/silent", "A /silent B" + suffix},
      {"%SRCPATH%|%SRCPATH%", "", "C:\\Downloads|C:\\Downloads" + suffix},
      {"/t \"%TMPPATH%\" %CMDLINE%", "", "/t \"" + tmp + "\" " + suffix},
      {"%srcpath% %Cmdline%", "x", "%srcpath% %Cmdline%" + suffix},
      {"%CMDLINE%", "%CMDLINE%", "%CMDLINE%" + suffix},
      // Placeholders inside the received command line stay: it is inserted last.
      {"%CMDLINE%", "%SRCPATH% %TMPPATH%", "%SRCPATH% %TMPPATH%" + suffix},
      {"run /x %CMDLINE% end", "/x %CMDLINE%", "run /x %CMDLINE% end" + suffix},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BuildCommand(c.commandTemplate, SourcePathPlacement::kEnd, src, tmp, c.commandLine, NoLeadBytes),
              c.command)
        << c.commandTemplate;
  }
}

TEST(BuildCommand, LaterPlaceholdersInsideEarlierValuesAreExpanded) {
  // A source directory whose name holds "%TMPPATH%" and "%CMDLINE%" gets both replaced, in the
  // template and in the suffix.
  EXPECT_EQ(BuildCommand("%SRCPATH%", SourcePathPlacement::kEnd, "C:\\%TMPPATH%\\%CMDLINE%", "T", "L", NoLeadBytes),
            "C:\\T\\L /srcpath \"C:\\T\\L\"");
  // A drive's root directory: the bare drive between the quotes.
  EXPECT_EQ(BuildCommand("", SourcePathPlacement::kEnd, "C:", "T", "", NoLeadBytes), " /srcpath \"C:\"");
}

// NSIS takes "/D=" only as the last argument, and msiexec refuses switches it does not know.
TEST(BuildCommand, TheSourcePathSwitchGoesWhereThePackageSays) {
  struct Case {
    SourcePathPlacement placement;
    const char* commandTemplate;
    const char* command;
  };
  const Case cases[] = {
      {SourcePathPlacement::kEnd, "/S /D=%TMPPATH%", "/S /D=T /srcpath \"C:\\Dl\""},
      {SourcePathPlacement::kStart, "/S /D=%TMPPATH%", "/srcpath \"C:\\Dl\" /S /D=T"},
      {SourcePathPlacement::kStart, "", "/srcpath \"C:\\Dl\""},
      {SourcePathPlacement::kStart, "%CMDLINE%", "/srcpath \"C:\\Dl\" /silent"},
      {SourcePathPlacement::kNone, "/qn %CMDLINE%", "/qn /silent"},
      {SourcePathPlacement::kNone, "", ""},
      // The switch's own placeholder is expanded with the template's, in the same order.
      {SourcePathPlacement::kStart, "x=%SRCPATH%", "/srcpath \"C:\\Dl\" x=C:\\Dl"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BuildCommand(c.commandTemplate, c.placement, "C:\\Dl", "T", "/silent", NoLeadBytes), c.command)
        << SourcePathPlacementName(c.placement) << " " << c.commandTemplate;
  }
}

}  // namespace
}  // namespace sfx
