#include "tools/sfxpack/resources/manifest.h"

namespace sfx {
namespace {

constexpr char kElement[] = "<requestedExecutionLevel";

// The element's extent [begin, end) in manifest; false when there is none.
bool FindElement(const std::string& manifest, size_t* begin, size_t* end) {
  *begin = manifest.find(kElement);
  if (*begin == std::string::npos) return false;
  const size_t close = manifest.find('>', *begin);
  if (close == std::string::npos) return false;
  *end = close + 1;
  // <requestedExecutionLevel ...></requestedExecutionLevel>
  const std::string closing = "</requestedExecutionLevel>";
  if (manifest[close - 1] != '/') {
    const size_t after = manifest.find(closing, *end);
    if (after == std::string::npos) return false;
    *end = after + closing.size();
  }
  return true;
}

}  // namespace

bool IsExecutionLevel(const std::string& level) {
  return level == "requireAdministrator" || level == "highestAvailable" || level == "asInvoker";
}

std::string ManifestExecutionLevel(const std::string& manifest) {
  size_t begin = 0, end = 0;
  if (!FindElement(manifest, &begin, &end)) return std::string();
  const std::string element = manifest.substr(begin, end - begin);
  for (size_t at = element.find("level"); at != std::string::npos; at = element.find("level", at + 1)) {
    // The attribute itself, not the end of "uiAccess" or of the element's name.
    const char before = element[at - 1];
    if (before != ' ' && before != '\t' && before != '\r' && before != '\n') continue;
    size_t p = at + 5;
    while (p < element.size() && (element[p] == ' ' || element[p] == '\t')) ++p;
    if (p >= element.size() || element[p] != '=') continue;
    ++p;
    while (p < element.size() && (element[p] == ' ' || element[p] == '\t')) ++p;
    if (p >= element.size() || (element[p] != '"' && element[p] != '\'')) continue;
    const size_t close = element.find(element[p], p + 1);
    if (close == std::string::npos) return std::string();
    return element.substr(p + 1, close - p - 1);
  }
  return std::string();
}

bool RewriteManifest(const std::string& manifest, const std::string& level, std::string* out, std::string* error) {
  size_t begin = 0, end = 0;
  if (!FindElement(manifest, &begin, &end)) {
    *error = "the stub's manifest has no requestedExecutionLevel element";
    return false;
  }
  if (manifest.find("<activeCodePage") == std::string::npos || manifest.find(">UTF-8<") == std::string::npos ||
      manifest.find("Microsoft.Windows.Common-Controls") == std::string::npos) {
    *error = "the stub's manifest lacks the UTF-8 code page or common controls 6";
    return false;
  }
  *out = manifest.substr(0, begin) + kElement + " level=\"" + level + "\" uiAccess=\"false\"/>" + manifest.substr(end);
  return true;
}

}  // namespace sfx
