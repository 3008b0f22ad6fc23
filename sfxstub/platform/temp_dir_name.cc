#include "sfxstub/platform/temp_dir_name.h"

namespace sfx {

Text TempDirCandidate(const Text& base, const char* prefix, uint32_t threadId, char letter,
                      LeadBytePredicate isLead) {
  Text path = base.Copy();
  if (!EndsWithChar(path, '\\', isLead)) path += '\\';
  path += prefix;
  path += letter;
  char digits[5];
  for (int i = 4; i >= 0; --i) {  // least significant last
    digits[i] = static_cast<char>('0' + threadId % 10);
    threadId /= 10;
  }
  path.append(digits, 5);
  return path;
}

}  // namespace sfx
