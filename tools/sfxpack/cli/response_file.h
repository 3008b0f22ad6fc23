// Response files: "sfxpack build @FILE" reads arguments from FILE, one a line (the convention of gcc,
// MSVC and javac), so that a package's whole definition can live beside its project.
//   - A line is one argument as it stands, inner blanks included; blanks around it are dropped.
//   - Empty lines and lines whose first character is # are skipped.
//   - "..." keeps blanks at either end, a leading # or @, or an empty argument; inside it \" is a
//     double quote and \\ a backslash, any other backslash stands for itself (C:\dir). '...' takes
//     its text literally.
//   - A relative path (a positional, or the value of an option that names a file: KEY, DIR, OUT, the
//     PATH of NAME=PATH...) is relative to FILE's folder, not to the working folder.
//   - An unquoted line starting with @ is an error: response files do not nest.
#ifndef SFXSTUB_TOOLS_SFXPACK_CLI_RESPONSE_FILE_H_
#define SFXSTUB_TOOLS_SFXPACK_CLI_RESPONSE_FILE_H_

#include <string>
#include <vector>

#include "tools/sfxpack/command_line.h"

namespace sfx {

class ResponseFile {
 public:
  // args with every "@FILE" replaced by FILE's arguments; options is the command's table, which says
  // which values are file names. False with a one-line error for a missing or unreadable FILE, a bad
  // line (naming FILE and the line's number) or a nested @.
  static bool Expand(const std::vector<OptionSpec>& options, const std::vector<std::string>& args,
                     std::vector<std::string>* expanded, std::string* error);
  // One line's argument; false with *error for a malformed line. *skip is set for comments and blanks.
  static bool ParseLine(const std::string& line, std::string* argument, bool* skip, std::string* error);
};

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_CLI_RESPONSE_FILE_H_
