// The upper-case table the stub and sfxpack compare listed names with, against the one Windows folds
// file names with (ntdll's RtlUpcaseUnicodeChar), character by character over the whole Basic
// Multilingual Plane. The table may fold a few characters Windows leaves alone, into an upper case
// Windows reaches from another character; it must never miss or change one that Windows folds.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "sfxstub/archive/entry_name.h"
#include "sfxstub/platform/text.h"

namespace sfx {
namespace {

std::string Utf8(uint32_t point) {
  std::string out;
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | point >> 6);
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | point >> 12);
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
  return out;
}

// The one code point a folded one-character name holds, or 0xFFFFFFFF when it holds another count.
uint32_t TableUpperCase(uint32_t point) {
  const Text folded = FoldedEntryName(Text(Utf8(point).c_str()));
  const std::string bytes(folded.data(), folded.size());
  const unsigned char lead = static_cast<unsigned char>(bytes[0]);
  const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : 3;
  if (bytes.size() != length) return 0xFFFFFFFF;
  if (length == 1) return lead;
  if (length == 2) return (lead & 0x1Fu) << 6 | (bytes[1] & 0x3Fu);
  return (lead & 0x0Fu) << 12 | (bytes[1] & 0x3Fu) << 6 | (bytes[2] & 0x3Fu);
}

TEST(NameFolding, EveryCharacterWindowsFoldsIsFoldedTheSame) {
  using UpcaseFn = WCHAR(WINAPI*)(WCHAR);
  auto windowsUpperCase = reinterpret_cast<UpcaseFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlUpcaseUnicodeChar")));
  ASSERT_NE(windowsUpperCase, nullptr);
  std::set<uint32_t> windowsTargets;
  for (uint32_t c = 0; c < 0x10000; ++c) {
    if (windowsUpperCase(static_cast<WCHAR>(c)) != c) windowsTargets.insert(windowsUpperCase(static_cast<WCHAR>(c)));
  }
  ASSERT_GT(windowsTargets.size(), 1000u) << "Windows folds letters of many scripts";
  int folded = 0, extra = 0;
  for (uint32_t c = 1; c < 0x10000; ++c) {
    if (c >= 0xD800 && c < 0xE000) continue;  // no character of its own; the table leaves them alone
    const uint32_t windows = windowsUpperCase(static_cast<WCHAR>(c));
    const uint32_t table = TableUpperCase(c);
    if (windows != c) {
      ++folded;
      EXPECT_EQ(table, windows) << std::hex << "U+" << c << ": Windows folds it";
    } else if (table != c) {
      ++extra;
      EXPECT_TRUE(windowsTargets.count(table) != 0)
          << std::hex << "U+" << c << " is folded to U+" << table << ", which Windows folds nothing to";
    }
  }
  EXPECT_GT(folded, 1000);
  // U+00B5, U+0131, U+017F, the title-case digraphs, a few Greek and Cyrillic forms: 27 in Unicode 15.
  EXPECT_LT(extra, 40) << "the table folds far more than Windows does";
}

}  // namespace
}  // namespace sfx
