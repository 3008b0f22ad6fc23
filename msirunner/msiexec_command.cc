#include "msirunner/msiexec_command.h"

namespace sfx {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Appends to a fixed buffer; once something did not fit, nothing more is appended and Fits() is false.
class LineWriter {
 public:
  LineWriter(wchar_t* out, size_t capacity) : out_(out), capacity_(capacity) {
    if (capacity_ != 0) out_[0] = L'\0';
  }
  void Add(const wchar_t* text, size_t count) {
    if (!fits_ || count >= capacity_ - length_) {
      fits_ = false;
      return;
    }
    for (size_t i = 0; i < count; ++i) out_[length_ + i] = text[i];
    length_ += count;
    out_[length_] = L'\0';
  }
  void Add(const wchar_t* text) {
    size_t count = 0;
    while (text[count] != L'\0') ++count;
    Add(text, count);
  }
  bool Fits() const { return fits_ && capacity_ != 0; }

 private:
  wchar_t* out_;
  size_t capacity_;
  size_t length_ = 0;
  bool fits_ = true;
};

// Steps over one argument: quoted (the quotes are not part of it) or up to the next blank.
const wchar_t* SkipArgument(const wchar_t* p, const wchar_t** start, const wchar_t** end) {
  if (*p == L'"') {
    *start = ++p;
    while (*p != L'\0' && *p != L'"') ++p;
    *end = p;
    return *p == L'"' ? p + 1 : p;
  }
  *start = p;
  while (*p != L'\0' && !IsBlank(*p)) ++p;
  *end = p;
  return p;
}

const wchar_t* SkipBlanks(const wchar_t* p) {
  while (IsBlank(*p)) ++p;
  return p;
}

}  // namespace

uint32_t MsiexecPath(const wchar_t* systemDirectory, wchar_t* out, size_t capacity) {
  LineWriter path(out, capacity);
  path.Add(systemDirectory);
  path.Add(L"\\msiexec.exe");
  return path.Fits() ? kMsiexecOk : kMsiexecNameTooLong;
}

uint32_t MsiexecCommandLine(const wchar_t* ownCommandLine, const wchar_t* ownFolder, const wchar_t* systemDirectory,
                            wchar_t* out, size_t capacity) {
  const wchar_t* start = nullptr;
  const wchar_t* end = nullptr;
  const wchar_t* p = SkipArgument(ownCommandLine, &start, &end);  // the runner's own name
  p = SkipBlanks(p);
  const wchar_t* nameStart = nullptr;
  const wchar_t* nameEnd = nullptr;
  p = SkipArgument(p, &nameStart, &nameEnd);
  if (nameStart == nameEnd) return kMsiexecBadCommandLine;
  // The MSI is one of the files listed beside the runner, never a path.
  for (const wchar_t* c = nameStart; c != nameEnd; ++c) {
    if (*c == L'\\' || *c == L'/' || *c == L':') return kMsiexecBadCommandLine;
  }
  const wchar_t* rest = SkipBlanks(p);

  LineWriter line(out, capacity);
  line.Add(L"\"");
  line.Add(systemDirectory);
  line.Add(L"\\msiexec.exe\" /i \"");
  line.Add(ownFolder);
  line.Add(L"\\");
  line.Add(nameStart, static_cast<size_t>(nameEnd - nameStart));
  line.Add(L"\"");
  if (*rest != L'\0') {
    line.Add(L" ");
    line.Add(rest);
  }
  return line.Fits() ? kMsiexecOk : kMsiexecNameTooLong;
}

}  // namespace sfx
