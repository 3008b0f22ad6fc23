#include "sfxstub/archive/entry_name.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace sfx {
namespace {

// Runs of code points that upper-case by adding delta (modulo 0x10000): first, first + stride, ...
// up to last. Made by scripts/make_upcase_table.py from the Unicode character database: every
// simple (one-to-one) upper-case mapping inside the Basic Multilingual Plane, which is what Windows'
// own table folds and a few more (U+00B5 to U+039C, U+0131 to U+0049: characters Windows leaves as
// they are, whose upper case it reaches from another character).
struct CaseRun {
  uint16_t first;
  uint16_t last;
  uint16_t delta;
  uint16_t stride;
};

constexpr CaseRun kUpperCase[] = {
    // Unicode 15.0.0: 1190 code points in 190 runs.
    {0x0061, 0x007A, 0xFFE0, 1}, {0x00B5, 0x00B5, 0x02E7, 1}, {0x00E0, 0x00F6, 0xFFE0, 1},
    {0x00F8, 0x00FE, 0xFFE0, 1}, {0x00FF, 0x00FF, 0x0079, 1}, {0x0101, 0x012F, 0xFFFF, 2},
    {0x0131, 0x0131, 0xFF18, 1}, {0x0133, 0x0137, 0xFFFF, 2}, {0x013A, 0x0148, 0xFFFF, 2},
    {0x014B, 0x0177, 0xFFFF, 2}, {0x017A, 0x017E, 0xFFFF, 2}, {0x017F, 0x017F, 0xFED4, 1},
    {0x0180, 0x0180, 0x00C3, 1}, {0x0183, 0x0185, 0xFFFF, 2}, {0x0188, 0x0188, 0xFFFF, 1},
    {0x018C, 0x018C, 0xFFFF, 1}, {0x0192, 0x0192, 0xFFFF, 1}, {0x0195, 0x0195, 0x0061, 1},
    {0x0199, 0x0199, 0xFFFF, 1}, {0x019A, 0x019A, 0x00A3, 1}, {0x019E, 0x019E, 0x0082, 1},
    {0x01A1, 0x01A5, 0xFFFF, 2}, {0x01A8, 0x01A8, 0xFFFF, 1}, {0x01AD, 0x01AD, 0xFFFF, 1},
    {0x01B0, 0x01B0, 0xFFFF, 1}, {0x01B4, 0x01B6, 0xFFFF, 2}, {0x01B9, 0x01B9, 0xFFFF, 1},
    {0x01BD, 0x01BD, 0xFFFF, 1}, {0x01BF, 0x01BF, 0x0038, 1}, {0x01C5, 0x01C5, 0xFFFF, 1},
    {0x01C6, 0x01C6, 0xFFFE, 1}, {0x01C8, 0x01C8, 0xFFFF, 1}, {0x01C9, 0x01C9, 0xFFFE, 1},
    {0x01CB, 0x01CB, 0xFFFF, 1}, {0x01CC, 0x01CC, 0xFFFE, 1}, {0x01CE, 0x01DC, 0xFFFF, 2},
    {0x01DD, 0x01DD, 0xFFB1, 1}, {0x01DF, 0x01EF, 0xFFFF, 2}, {0x01F2, 0x01F2, 0xFFFF, 1},
    {0x01F3, 0x01F3, 0xFFFE, 1}, {0x01F5, 0x01F5, 0xFFFF, 1}, {0x01F9, 0x021F, 0xFFFF, 2},
    {0x0223, 0x0233, 0xFFFF, 2}, {0x023C, 0x023C, 0xFFFF, 1}, {0x023F, 0x0240, 0x2A3F, 1},
    {0x0242, 0x0242, 0xFFFF, 1}, {0x0247, 0x024F, 0xFFFF, 2}, {0x0250, 0x0250, 0x2A1F, 1},
    {0x0251, 0x0251, 0x2A1C, 1}, {0x0252, 0x0252, 0x2A1E, 1}, {0x0253, 0x0253, 0xFF2E, 1},
    {0x0254, 0x0254, 0xFF32, 1}, {0x0256, 0x0257, 0xFF33, 1}, {0x0259, 0x0259, 0xFF36, 1},
    {0x025B, 0x025B, 0xFF35, 1}, {0x025C, 0x025C, 0xA54F, 1}, {0x0260, 0x0260, 0xFF33, 1},
    {0x0261, 0x0261, 0xA54B, 1}, {0x0263, 0x0263, 0xFF31, 1}, {0x0265, 0x0265, 0xA528, 1},
    {0x0266, 0x0266, 0xA544, 1}, {0x0268, 0x0268, 0xFF2F, 1}, {0x0269, 0x0269, 0xFF2D, 1},
    {0x026A, 0x026A, 0xA544, 1}, {0x026B, 0x026B, 0x29F7, 1}, {0x026C, 0x026C, 0xA541, 1},
    {0x026F, 0x026F, 0xFF2D, 1}, {0x0271, 0x0271, 0x29FD, 1}, {0x0272, 0x0272, 0xFF2B, 1},
    {0x0275, 0x0275, 0xFF2A, 1}, {0x027D, 0x027D, 0x29E7, 1}, {0x0280, 0x0280, 0xFF26, 1},
    {0x0282, 0x0282, 0xA543, 1}, {0x0283, 0x0283, 0xFF26, 1}, {0x0287, 0x0287, 0xA52A, 1},
    {0x0288, 0x0288, 0xFF26, 1}, {0x0289, 0x0289, 0xFFBB, 1}, {0x028A, 0x028B, 0xFF27, 1},
    {0x028C, 0x028C, 0xFFB9, 1}, {0x0292, 0x0292, 0xFF25, 1}, {0x029D, 0x029D, 0xA515, 1},
    {0x029E, 0x029E, 0xA512, 1}, {0x0345, 0x0345, 0x0054, 1}, {0x0371, 0x0373, 0xFFFF, 2},
    {0x0377, 0x0377, 0xFFFF, 1}, {0x037B, 0x037D, 0x0082, 1}, {0x03AC, 0x03AC, 0xFFDA, 1},
    {0x03AD, 0x03AF, 0xFFDB, 1}, {0x03B1, 0x03C1, 0xFFE0, 1}, {0x03C2, 0x03C2, 0xFFE1, 1},
    {0x03C3, 0x03CB, 0xFFE0, 1}, {0x03CC, 0x03CC, 0xFFC0, 1}, {0x03CD, 0x03CE, 0xFFC1, 1},
    {0x03D0, 0x03D0, 0xFFC2, 1}, {0x03D1, 0x03D1, 0xFFC7, 1}, {0x03D5, 0x03D5, 0xFFD1, 1},
    {0x03D6, 0x03D6, 0xFFCA, 1}, {0x03D7, 0x03D7, 0xFFF8, 1}, {0x03D9, 0x03EF, 0xFFFF, 2},
    {0x03F0, 0x03F0, 0xFFAA, 1}, {0x03F1, 0x03F1, 0xFFB0, 1}, {0x03F2, 0x03F2, 0x0007, 1},
    {0x03F3, 0x03F3, 0xFF8C, 1}, {0x03F5, 0x03F5, 0xFFA0, 1}, {0x03F8, 0x03F8, 0xFFFF, 1},
    {0x03FB, 0x03FB, 0xFFFF, 1}, {0x0430, 0x044F, 0xFFE0, 1}, {0x0450, 0x045F, 0xFFB0, 1},
    {0x0461, 0x0481, 0xFFFF, 2}, {0x048B, 0x04BF, 0xFFFF, 2}, {0x04C2, 0x04CE, 0xFFFF, 2},
    {0x04CF, 0x04CF, 0xFFF1, 1}, {0x04D1, 0x052F, 0xFFFF, 2}, {0x0561, 0x0586, 0xFFD0, 1},
    {0x10D0, 0x10FA, 0x0BC0, 1}, {0x10FD, 0x10FF, 0x0BC0, 1}, {0x13F8, 0x13FD, 0xFFF8, 1},
    {0x1C80, 0x1C80, 0xE792, 1}, {0x1C81, 0x1C81, 0xE793, 1}, {0x1C82, 0x1C82, 0xE79C, 1},
    {0x1C83, 0x1C84, 0xE79E, 1}, {0x1C85, 0x1C85, 0xE79D, 1}, {0x1C86, 0x1C86, 0xE7A4, 1},
    {0x1C87, 0x1C87, 0xE7DB, 1}, {0x1C88, 0x1C88, 0x89C2, 1}, {0x1D79, 0x1D79, 0x8A04, 1},
    {0x1D7D, 0x1D7D, 0x0EE6, 1}, {0x1D8E, 0x1D8E, 0x8A38, 1}, {0x1E01, 0x1E95, 0xFFFF, 2},
    {0x1E9B, 0x1E9B, 0xFFC5, 1}, {0x1EA1, 0x1EFF, 0xFFFF, 2}, {0x1F00, 0x1F07, 0x0008, 1},
    {0x1F10, 0x1F15, 0x0008, 1}, {0x1F20, 0x1F27, 0x0008, 1}, {0x1F30, 0x1F37, 0x0008, 1},
    {0x1F40, 0x1F45, 0x0008, 1}, {0x1F51, 0x1F57, 0x0008, 2}, {0x1F60, 0x1F67, 0x0008, 1},
    {0x1F70, 0x1F71, 0x004A, 1}, {0x1F72, 0x1F75, 0x0056, 1}, {0x1F76, 0x1F77, 0x0064, 1},
    {0x1F78, 0x1F79, 0x0080, 1}, {0x1F7A, 0x1F7B, 0x0070, 1}, {0x1F7C, 0x1F7D, 0x007E, 1},
    {0x1F80, 0x1F87, 0x0008, 1}, {0x1F90, 0x1F97, 0x0008, 1}, {0x1FA0, 0x1FA7, 0x0008, 1},
    {0x1FB0, 0x1FB1, 0x0008, 1}, {0x1FB3, 0x1FB3, 0x0009, 1}, {0x1FBE, 0x1FBE, 0xE3DB, 1},
    {0x1FC3, 0x1FC3, 0x0009, 1}, {0x1FD0, 0x1FD1, 0x0008, 1}, {0x1FE0, 0x1FE1, 0x0008, 1},
    {0x1FE5, 0x1FE5, 0x0007, 1}, {0x1FF3, 0x1FF3, 0x0009, 1}, {0x214E, 0x214E, 0xFFE4, 1},
    {0x2170, 0x217F, 0xFFF0, 1}, {0x2184, 0x2184, 0xFFFF, 1}, {0x24D0, 0x24E9, 0xFFE6, 1},
    {0x2C30, 0x2C5F, 0xFFD0, 1}, {0x2C61, 0x2C61, 0xFFFF, 1}, {0x2C65, 0x2C65, 0xD5D5, 1},
    {0x2C66, 0x2C66, 0xD5D8, 1}, {0x2C68, 0x2C6C, 0xFFFF, 2}, {0x2C73, 0x2C73, 0xFFFF, 1},
    {0x2C76, 0x2C76, 0xFFFF, 1}, {0x2C81, 0x2CE3, 0xFFFF, 2}, {0x2CEC, 0x2CEE, 0xFFFF, 2},
    {0x2CF3, 0x2CF3, 0xFFFF, 1}, {0x2D00, 0x2D25, 0xE3A0, 1}, {0x2D27, 0x2D27, 0xE3A0, 1},
    {0x2D2D, 0x2D2D, 0xE3A0, 1}, {0xA641, 0xA66D, 0xFFFF, 2}, {0xA681, 0xA69B, 0xFFFF, 2},
    {0xA723, 0xA72F, 0xFFFF, 2}, {0xA733, 0xA76F, 0xFFFF, 2}, {0xA77A, 0xA77C, 0xFFFF, 2},
    {0xA77F, 0xA787, 0xFFFF, 2}, {0xA78C, 0xA78C, 0xFFFF, 1}, {0xA791, 0xA793, 0xFFFF, 2},
    {0xA794, 0xA794, 0x0030, 1}, {0xA797, 0xA7A9, 0xFFFF, 2}, {0xA7B5, 0xA7C3, 0xFFFF, 2},
    {0xA7C8, 0xA7CA, 0xFFFF, 2}, {0xA7D1, 0xA7D1, 0xFFFF, 1}, {0xA7D7, 0xA7D9, 0xFFFF, 2},
    {0xA7F6, 0xA7F6, 0xFFFF, 1}, {0xAB53, 0xAB53, 0xFC60, 1}, {0xAB70, 0xABBF, 0x6830, 1},
    {0xFF41, 0xFF5A, 0xFFE0, 1},
};

uint32_t UpperCase(uint32_t point) {
  if (point > 0xFFFF) return point;  // Windows folds UTF-16 units; surrogate pairs stay as they are
  const CaseRun* end = kUpperCase + sizeof kUpperCase / sizeof kUpperCase[0];
  const CaseRun* run = std::upper_bound(kUpperCase, end, point,
                                        [](uint32_t p, const CaseRun& r) { return p < r.first; });
  if (run == kUpperCase) return point;
  --run;
  if (point > run->last || (point - run->first) % run->stride != 0) return point;
  return static_cast<uint16_t>(point + run->delta);
}

// The code point at *at, which moves past it; false on anything but well-formed UTF-8 (overlong
// forms, surrogates and values past U+10FFFF included).
bool DecodeUtf8(const Text& text, size_t* at, uint32_t* point) {
  const unsigned char lead = static_cast<unsigned char>(text[*at]);
  size_t length;
  uint32_t value, minimum;
  if (lead < 0x80) {
    *point = lead;
    ++*at;
    return true;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return false;
  }
  if (text.size() - *at < length) return false;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[*at + i]);
    if ((next & 0xC0) != 0x80) return false;
    value = value << 6 | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *point = value;
  *at += length;
  return true;
}

void AppendUtf8(uint32_t point, Text* out) {
  if (point < 0x80) {
    out->push_back(static_cast<char>(point));
    return;
  }
  const int tail = point < 0x800 ? 1 : point < 0x10000 ? 2 : 3;
  static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  out->push_back(static_cast<char>(kLead[tail] | (point >> (6 * tail))));
  for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6) {
    out->push_back(static_cast<char>(0x80 | ((point >> shift) & 0x3F)));
  }
}

bool IsUtf8(const Text& text) {
  uint32_t point;
  for (size_t at = 0; at < text.size();) {
    if (!DecodeUtf8(text, &at, &point)) return false;
  }
  return true;
}

// Windows opens a device, not a file, for these names whatever the folder: in any case, with any
// extension, and with blanks before the extension ("NUL .txt"). COM and LPT take a digit or one of
// the superscript digits one to three. folded: upper-cased.
bool IsDeviceName(const Text& folded) {
  Text stem = folded.substr(0, folded.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (stem == device) return true;
  }
  if (std::strncmp(stem.c_str(), "COM", 3) != 0 && std::strncmp(stem.c_str(), "LPT", 3) != 0) return false;
  const Text number = stem.substr(3);
  if (number.size() == 1) return number[0] >= '0' && number[0] <= '9';
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

bool AllOf(const Text& text, size_t from, size_t to, const char* characters) {
  if (from >= to) return false;
  for (size_t i = from; i < to; ++i) {
    if (std::strchr(characters, text[i]) == nullptr) return false;
  }
  return true;
}

// The stub's own files by name, and by any short (8.3) name Windows may give them: up to six
// characters of the stem, '~' and a number ("KELVO~1.SET"), or the hashed form of the first two
// characters and four hexadecimal digits ("KE1A2B~1.SET"), then the first three characters of the
// extension. folded: upper-cased.
bool IsStubFileName(const Text& folded) {
  struct StubFile {
    const char* stem;
    const char* extension;
  };
  static const StubFile kStubFiles[] = {{"SETUP", "OVR"}, {"KELVO", "SETUP"}};
  const size_t dot = folded.rfind('.');
  if (dot == Text::npos) return false;
  const Text stem = folded.substr(0, dot);
  const Text extension = folded.substr(dot + 1);
  for (const StubFile& file : kStubFiles) {
    const Text fileStem = file.stem;
    const Text fileExtension = file.extension;
    if (stem == fileStem && extension == fileExtension) return true;
    if (extension != fileExtension.substr(0, 3)) continue;
    const size_t tilde = stem.rfind('~');
    if (tilde == Text::npos || !AllOf(stem, tilde + 1, stem.size(), "0123456789")) continue;
    const Text head = stem.substr(0, tilde);
    if (!head.empty() && head.size() <= fileStem.size() &&
        std::memcmp(fileStem.data(), head.data(), head.size()) == 0) {
      return true;
    }
    if (head.size() == 6 && std::memcmp(head.data(), fileStem.data(), 2) == 0 &&
        AllOf(head, 2, 6, "0123456789ABCDEF")) {
      return true;
    }
  }
  return false;
}

size_t CodePoints(const Text& text, size_t from, size_t to) {
  size_t count = 0;
  for (size_t i = from; i < to; ++i) count += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
  return count;
}

// A name Windows could have made as the short (8.3) name of a longer one: a stem of at most 8
// characters ending in '~' and digits, then at most one dot and 3 characters ("ABCDEF~1.TXT",
// "AB12CD~3"). On a volume that makes short names, a listed file of that name can be one file with
// another listed file whose long name got it.
bool IsShortNameShape(const Text& name) {
  const size_t dot = name.find('.');
  const size_t stemEnd = dot == Text::npos ? name.size() : dot;
  if (dot != Text::npos && (name.find('.', dot + 1) != Text::npos || CodePoints(name, dot + 1, name.size()) > 3)) {
    return false;
  }
  size_t tilde = stemEnd;
  while (tilde > 0 && name[tilde - 1] >= '0' && name[tilde - 1] <= '9') --tilde;
  return tilde < stemEnd && tilde > 0 && name[tilde - 1] == '~' && CodePoints(name, 0, stemEnd) <= 8;
}

}  // namespace

const char* EntryNameProblem(const Text& name) {
  if (name.empty()) return "is empty";
  for (char c : name) {
    if (c == '\\' || c == '/') {
      return "holds a separator ('\\' or '/'), and the stub extracts every file into one folder";
    }
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) {
      return "holds a character Windows does not allow in file names (a control character or <>:\"|?*)";
    }
  }
  if (!IsUtf8(name)) return "is not valid UTF-8";
  // Windows drops trailing dots and blanks: "x." would be "x", and "." or ".." no file at all.
  if (name.back() == '.' || name.back() == ' ') return "ends in a dot or a blank, which Windows drops";
  const Text folded = FoldedEntryName(name);
  if (IsDeviceName(folded)) return "is a device on Windows (CON, PRN, AUX, NUL, COM1, LPT1 and the like)";
  if (IsStubFileName(folded)) {
    return "is taken by the stub's own files (setup.ovr, kelvo.setup, in any case or 8.3 short form)";
  }
  if (IsShortNameShape(name)) {
    return "has the shape of a short 8.3 name with '~' (like ABCDEF~1.TXT), which Windows may give another "
           "listed file on volumes with short names, making the two one file";
  }
  return nullptr;
}

Text FoldedEntryName(const Text& name) {
  Text folded;
  uint32_t point;
  for (size_t at = 0; at < name.size();) {
    if (!DecodeUtf8(name, &at, &point)) {
      folded.push_back(name[at++]);  // not a name of a listed file; kept byte for byte
      continue;
    }
    AppendUtf8(UpperCase(point), &folded);
  }
  return folded;
}

bool FindNameClash(const List<Text>& names, size_t* first, size_t* second) {
  List<std::pair<Text, size_t>> folded;
  for (size_t i = 0; i < names.size(); ++i) folded.push_back({FoldedEntryName(names[i]), i});
  std::sort(folded.begin(), folded.end());
  for (size_t i = 1; i < folded.size(); ++i) {
    if (folded[i].first != folded[i - 1].first) continue;
    if (first) *first = folded[i - 1].second;
    if (second) *second = folded[i].second;
    return true;
  }
  return false;
}

}  // namespace sfx
