#ifndef SFXSTUB_TOOLS_SFXPACK_SFXPACK_COMMANDS_H_
#define SFXSTUB_TOOLS_SFXPACK_SFXPACK_COMMANDS_H_

#include <string>
#include <vector>

#include "tools/sfxpack/command_line.h"

namespace sfx {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct CommandSpec {
  const char* name;
  std::string usage;
  const char* summary;
  std::vector<OptionSpec> options;  // -q/--quiet and -h/--help come with every command
  size_t positionals;  // exactly this many
  int (*run)(const ParsedArgs& args);
};

const std::vector<CommandSpec>& Commands();
const CommandSpec* FindCommand(const std::string& name);
// What 'sfxpack help COMMAND' and 'sfxpack COMMAND --help' print.
std::string CommandHelp(const CommandSpec& command);
// Parses args for command and runs it; errors go to stderr as one line each, and a command line
// the command cannot take (unknown option, missing option, bad value, '-' for a file) exits 2
// with a line naming the option.
int RunCommand(const CommandSpec& command, const std::vector<std::string>& args);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_SFXPACK_COMMANDS_H_
