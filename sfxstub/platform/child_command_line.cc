#include "sfxstub/platform/child_command_line.h"

namespace sfx {

ResultCode FormatChildCommandLine(const char* program, const char* arguments, Text* commandLine) {
  Text line = "\"";
  line += program;
  line += '"';
  if (arguments != nullptr) {
    line += ' ';
    line += arguments;
  }
  if (line.size() + 1 > kMaxCommandLineChars) {
    commandLine->clear();
    return kErrorFilenameExceedsRange;
  }
  *commandLine = std::move(line);
  return kOk;
}

}  // namespace sfx
