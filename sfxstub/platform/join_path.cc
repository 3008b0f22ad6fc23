#include "sfxstub/platform/join_path.h"

namespace sfx {

Text JoinPath(const Text& directory, const char* name, char separator) {
  if (directory.empty()) return Text(name);
  if (name == nullptr || *name == '\0') return directory.Copy();
  Text result = directory.Copy();
  if (result.back() == '"') result.pop_back();
  if ((result.empty() || result.back() != separator) && name[0] != separator) result += separator;
  if (name[0] == ':' && !result.empty() && result.back() == separator) result.pop_back();
  result += name;
  if (result[0] == '"') result += '"';
  return result;
}

}  // namespace sfx
