#include "tools/sfxpack/resources/version_resource.h"

#include "tools/sfxpack/resources/utf16_text.h"

namespace sfx {
namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr uint32_t kFixedSize = 52;
constexpr uint32_t kOsNtWindows32 = 0x00040004;
constexpr uint32_t kTypeApplication = 1;
constexpr char16_t kTableKey[] = u"040904b0";        // U.S. English, code page 1200
constexpr uint32_t kTranslation = 0x04B00409;        // the same, as the Translation entry holds it

void Add16(ByteVector* b, uint32_t v) {
  b->push_back(static_cast<uint8_t>(v));
  b->push_back(static_cast<uint8_t>(v >> 8));
}
void Add32(ByteVector* b, uint32_t v) {
  Add16(b, v & 0xFFFF);
  Add16(b, v >> 16);
}
void AddText(ByteVector* b, const std::u16string& text) {
  for (char16_t c : text) Add16(b, c);
  Add16(b, 0);
}
void Pad4(ByteVector* b) {
  while (b->size() % 4) b->push_back(0);
}
uint32_t U16(const ByteVector& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t U32(const ByteVector& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// One block: wLength, wValueLength, wType, the key, the value, the children, each 4-byte aligned.
// wLength counts everything but the padding after the last child.
ByteVector Block(const std::u16string& key, uint32_t valueLength, bool text, const ByteVector& value,
                 const std::vector<ByteVector>& children) {
  ByteVector b(6, 0);
  AddText(&b, key);
  Pad4(&b);
  b.insert(b.end(), value.begin(), value.end());
  for (const ByteVector& child : children) {
    Pad4(&b);
    b.insert(b.end(), child.begin(), child.end());
  }
  b[0] = static_cast<uint8_t>(b.size());
  b[1] = static_cast<uint8_t>(b.size() >> 8);
  b[2] = static_cast<uint8_t>(valueLength);
  b[3] = static_cast<uint8_t>(valueLength >> 8);
  b[4] = text ? 1 : 0;
  return b;
}

uint32_t High(const uint16_t v[4]) { return uint32_t{v[0]} << 16 | v[1]; }
uint32_t Low(const uint16_t v[4]) { return uint32_t{v[2]} << 16 | v[3]; }

// A block's parts, read back: its key and where its value and children lie.
struct BlockView {
  size_t end = 0, valueAt = 0, childrenAt = 0;
  uint32_t valueLength = 0;
  bool text = false;
  std::u16string key;
};

bool ReadBlock(const ByteVector& b, size_t at, size_t limit, BlockView* view) {
  if (at + 6 > limit) return false;
  const size_t length = U16(b, at);
  if (length < 6 || at + length > limit) return false;
  view->end = at + length;
  view->valueLength = U16(b, at + 2);
  view->text = U16(b, at + 4) == 1;
  view->key.clear();
  size_t p = at + 6;
  for (; p + 2 <= view->end && U16(b, p) != 0; p += 2) view->key += static_cast<char16_t>(U16(b, p));
  p += 2;
  view->valueAt = (p + 3) & ~size_t{3};
  const size_t valueBytes = view->text ? 2 * size_t{view->valueLength} : view->valueLength;
  view->childrenAt = (view->valueAt + valueBytes + 3) & ~size_t{3};
  return view->valueAt + valueBytes <= view->end;
}

}  // namespace

bool ParseBinaryVersion(const std::string& text, uint16_t parts[4]) {
  uint32_t values[4] = {0, 0, 0, 0};
  size_t count = 0, digits = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : '.';
    if (c >= '0' && c <= '9') {
      if (++digits > 5) return false;
      values[count] = values[count] * 10 + static_cast<uint32_t>(c - '0');
      if (values[count] > 0xFFFF) return false;
    } else if (c == '.' && digits > 0 && count < 4) {
      ++count;
      digits = 0;
      if (i < text.size() && count == 4) return false;
    } else {
      return false;
    }
  }
  for (size_t i = 0; i < 4; ++i) parts[i] = static_cast<uint16_t>(values[i]);
  return true;
}

std::string BinaryVersionText(const uint16_t parts[4]) {
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
         std::to_string(parts[3]);
}

bool MakeVersionResource(const VersionInfo& info, ByteVector* data, std::string* error) {
  std::vector<ByteVector> strings;
  for (const auto& item : info.strings) {
    std::u16string name, value;
    if (item.first.empty() || !Utf8ToUtf16(item.first, &name) || !Utf8ToUtf16(item.second, &value)) {
      *error = "version string '" + item.first + "': " + (item.first.empty() ? "an empty name" : "not UTF-8");
      return false;
    }
    if (name.find(u'\0') != std::u16string::npos || value.find(u'\0') != std::u16string::npos) {
      *error = "version string '" + item.first + "' holds a NUL character";
      return false;
    }
    ByteVector valueBytes;
    AddText(&valueBytes, value);
    if (name.size() + value.size() > kMaxVersionResourceSize) {
      *error = "the version resource would exceed " + std::to_string(kMaxVersionResourceSize >> 10) + " KiB";
      return false;
    }
    strings.push_back(Block(name, static_cast<uint32_t>(value.size() + 1), true, valueBytes, {}));
  }
  ByteVector fixed;
  for (uint32_t v : {kFixedSignature, 0x00010000u, High(info.fileVersion), Low(info.fileVersion),
                     High(info.productVersion), Low(info.productVersion), 0x3Fu, 0u, kOsNtWindows32,
                     kTypeApplication, 0u, 0u, 0u}) {
    Add32(&fixed, v);
  }
  ByteVector translation;
  Add32(&translation, kTranslation);
  size_t total = 0;
  for (const ByteVector& s : strings) total += s.size() + 3;
  if (total + 256 > kMaxVersionResourceSize) {
    *error = "the version resource would exceed " + std::to_string(kMaxVersionResourceSize >> 10) + " KiB";
    return false;
  }
  const ByteVector table = Block(kTableKey, 0, true, {}, strings);
  const ByteVector stringInfo = Block(u"StringFileInfo", 0, true, {}, {table});
  const ByteVector var = Block(u"Translation", 4, false, translation, {});
  const ByteVector varInfo = Block(u"VarFileInfo", 0, true, {}, {var});
  *data = Block(u"VS_VERSION_INFO", kFixedSize, false, fixed, {stringInfo, varInfo});
  if (data->size() > kMaxVersionResourceSize) {
    *error = "the version resource would exceed " + std::to_string(kMaxVersionResourceSize >> 10) + " KiB";
    return false;
  }
  return true;
}

bool ReadVersionResource(const ByteVector& data, VersionInfo* info) {
  BlockView root;
  if (!ReadBlock(data, 0, data.size(), &root) || root.key != u"VS_VERSION_INFO" || root.valueLength < kFixedSize ||
      U32(data, root.valueAt) != kFixedSignature) {
    return false;
  }
  const uint32_t words[4] = {U32(data, root.valueAt + 8), U32(data, root.valueAt + 12), U32(data, root.valueAt + 16),
                             U32(data, root.valueAt + 20)};
  for (int i = 0; i < 2; ++i) {
    info->fileVersion[2 * i] = static_cast<uint16_t>(words[i] >> 16);
    info->fileVersion[2 * i + 1] = static_cast<uint16_t>(words[i]);
    info->productVersion[2 * i] = static_cast<uint16_t>(words[2 + i] >> 16);
    info->productVersion[2 * i + 1] = static_cast<uint16_t>(words[2 + i]);
  }
  info->strings.clear();
  for (size_t at = root.childrenAt; at < root.end;) {
    BlockView child;
    if (!ReadBlock(data, at, root.end, &child)) return false;
    if (child.key == u"StringFileInfo") {
      BlockView table;
      if (child.childrenAt < child.end && ReadBlock(data, child.childrenAt, child.end, &table)) {
        for (size_t s = table.childrenAt; s < table.end;) {
          BlockView item;
          if (!ReadBlock(data, s, table.end, &item)) return false;
          std::u16string value;
          for (size_t p = item.valueAt; p + 2 <= item.end && U16(data, p) != 0; p += 2) {
            value += static_cast<char16_t>(U16(data, p));
          }
          info->strings.emplace_back(Utf16ToUtf8(item.key), Utf16ToUtf8(value));
          s = (item.end + 3) & ~size_t{3};
        }
      }
    }
    at = (child.end + 3) & ~size_t{3};
  }
  return true;
}

}  // namespace sfx
