#include "sfxstub/platform/join_path.h"

namespace sfx {

std::string JoinPath(const std::string& directory, const char* name, char separator) {
  if (directory.empty()) return name ? std::string(name) : std::string();
  if (name == nullptr || *name == '\0') return directory;
  std::string result = directory;
  if (result.back() == '"') result.pop_back();
  if ((result.empty() || result.back() != separator) && name[0] != separator) result += separator;
  if (name[0] == ':' && !result.empty() && result.back() == separator) result.pop_back();
  result += name;
  if (result[0] == '"') result += '"';
  return result;
}

}  // namespace sfx
