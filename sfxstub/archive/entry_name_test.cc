// The names a listed file may have, as the packaging tool and the stub both judge them.
#include "sfxstub/archive/entry_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sfx {
namespace {

struct NameCase {
  const char* name;
  bool safe;
};

TEST(EntryName, RefusesEveryNameThatIsNotOnePlainFileInTheFolder) {
  const NameCase cases[] = {
      // Leaving the folder, or naming a folder inside it: the stub extracts into one folder.
      {"", false}, {"..\\x", false}, {"../x", false}, {"C:\\x", false}, {"C:x", false},
      {"\\\\server\\x", false}, {"/etc/passwd", false}, {"sub\\file.txt", false}, {"sub/file.txt", false},
      {"a\\", false}, {".", false}, {"..", false}, {"...", false},
      // Characters Windows refuses, and the trailing dots and blanks it drops.
      {"x:stream", false}, {"a\tb", false}, {"what?", false}, {"a*", false}, {"a|b", false}, {"a<b", false},
      {"a>b", false}, {"say\"hi\"", false}, {"x\x01y", false}, {"x\x1f", false}, {"x.", false}, {"x ", false},
      // Devices, in every form Windows opens as one.
      {"NUL", false}, {"con.txt", false}, {"CONIN$", false}, {"conout$.txt", false}, {"COM0", false},
      {"PRN", false}, {"aux.c", false}, {"lpt9", false}, {"nul.tar.gz", false}, {"NUL .txt", false},
      {"com  .x", true},  // not a device: no number
      {"Com\xc2\xb9", false}, {"LPT\xc2\xb2.log", false}, {"lpt\xc2\xb3 .x", false},
      {"COM\xc2\xb9\xc2\xb9", true}, {"COM\xc2\xb4", true},  // no superscript four
      // The stub's own files, in any case and in their short forms.
      {"setup.ovr", false}, {"SETUP.OVR", false}, {"Kelvo.Setup", false}, {"SETUP~1.OVR", false},
      {"setup~12.ovr", false}, {"KELVO~1.SET", false}, {"kelvo~3.set", false}, {"KE1A2B~1.SET", false},
      {"SE0F9C~2.OVR", false}, {"SET~1.OVR", false}, {"\xc5\xbf" "etup.ovr", false},  // long s
      {"setup.ovr.txt", true}, {"setup.ov", true}, {"kelvo.set", true}, {"KELVO~1.SETUP", true},
      {"SETUP~.OVR", true}, {"setup", true},
      // Any other name shaped like a short name with '~': Windows may give it to a longer listed name.
      {"ABCDEF~1.TXT", false}, {"abcdef~1.txt", false}, {"SETUPX~1.OVR", false}, {"KEZZZZ~1.SET", false},
      {"AB12CD~3", false}, {"X~1", false}, {"A~123456.C", false}, {"\xc3\xa9~1.txt", false},
      {"ABCDEFG~1.TXT", true}, {"ABCDEF~1.TEXT", true}, {"ABCDEF~X.TXT", true}, {"A.B~1.TXT", true},
      {"ABCDEF~.TXT", true}, {"~1.txt.bak", true}, {"a~1b.txt", true},
      // Not UTF-8: a code page 932 name, a lone continuation byte, an overlong '/', a surrogate, past
      // U+10FFFF, a cut sequence.
      {"\x93\xfa\x96\x7b.txt", false}, {"\x80", false}, {"a\xc0\xaf", false}, {"\xed\xa0\x80", false},
      {"\xf4\x90\x80\x80", false}, {"\xe6\x97", false},
      // Ordinary names.
      {"setup.ini", true}, {"a..b", true}, {".hidden", true}, {"console", true}, {"com10", true},
      {"CONSOLE.txt", true}, {"LPT", true}, {"CONIN", true}, {"name with spaces.txt", true},
      {"r\xc3\xa9sum\xc3\xa9 \xc3\xbcn\xc3\xaf" "code.txt", true}, {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt", true},
      {"\xf0\x9f\x98\x80.txt", true},
  };
  for (const auto& c : cases) {
    const char* problem = EntryNameProblem(c.name);
    EXPECT_EQ(problem == nullptr, c.safe) << "'" << c.name << "': " << (problem ? problem : "accepted");
    EXPECT_EQ(IsSafeEntryName(c.name), c.safe) << c.name;
  }
}

TEST(EntryName, NamesClashWhenWindowsTakesThemForOneFile) {
  struct ClashCase {
    std::vector<std::string> names;
    bool clash;
    size_t first, second;
  };
  const ClashCase cases[] = {
      {{"a.txt", "b.txt", "A.TXT"}, true, 0, 2},
      {{"x", "y", "Y"}, true, 1, 2},
      {{"r\xc3\xa9sum\xc3\xa9", "R\xc3\x89SUM\xc3\x89"}, true, 0, 1},      // Latin-1
      {{"\xd0\xb6.txt", "\xd0\x96.TXT"}, true, 0, 1},                        // Cyrillic zhe
      {{"\xce\xb1", "\xce\x91"}, true, 0, 1},                                // Greek alpha
      {{"\xef\xbd\x81", "\xef\xbc\xa1"}, true, 0, 1},                        // fullwidth a, A
      {{"\xc4\x81", "\xc4\x80"}, true, 0, 1},                                // a with macron (paired)
      // Alpha with psili and ypogegrammeni and its capital, and the like: one character each way,
      // although the full upper case of the small one is two characters.
      {{"\xe1\xbe\x80.txt", "\xe1\xbe\x88.txt"}, true, 0, 1},
      {{"\xe1\xbf\xb3", "\xe1\xbf\xbc"}, true, 0, 1},                        // omega with ypogegrammeni
      {{"\xc3\x9f", "SS"}, false, 0, 0},    // sharp s: no one-to-one upper case
      {{"\xc3\xa9", "e"}, false, 0, 0},     // accents are not dropped
      {{"\xf0\x90\x90\xa8", "\xf0\x90\x90\x80"}, false, 0, 0},  // Deseret: outside the BMP, not folded
      {{"a", "b", "c"}, false, 0, 0},
      {{}, false, 0, 0},
  };
  for (const auto& c : cases) {
    List<Text> names;
    for (const std::string& name : c.names) names.push_back(name);
    size_t first = 99, second = 99;
    ASSERT_EQ(FindNameClash(names, &first, &second), c.clash) << c.names.size() << " " << c.names[0];
    if (!c.clash) continue;
    EXPECT_EQ(first, c.first) << c.names[0];
    EXPECT_EQ(second, c.second) << c.names[0];
  }
}

}  // namespace
}  // namespace sfx
