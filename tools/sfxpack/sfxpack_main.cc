// sfxpack: makes keys, builds signed packages onto a stub, and verifies, lists and extracts them with
// the stub's own code. Exit codes: 0 success, 1 the operation failed, 2 the command line is wrong.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/sfxpack/command_line.h"
#include "tools/sfxpack/sfxpack_commands.h"

namespace {

using sfx::CommandSpec;

void PrintUsage(std::FILE* out) {
  std::fprintf(out, "usage: sfxpack COMMAND [OPTIONS]\n\ncommands:\n");
  for (const CommandSpec& command : sfx::Commands()) {
    std::fprintf(out, "  %-14s %s\n", command.name, command.summary);
  }
  std::fprintf(out, "\n'sfxpack COMMAND --help' describes one command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return sfx::kExitUsage;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintUsage(stdout);
    return sfx::kExitOk;
  }
  const CommandSpec* command = sfx::FindCommand(name);
  if (command == nullptr) {
    std::fprintf(stderr, "sfxpack: unknown command '%s'\n", name.c_str());
    PrintUsage(stderr);
    return sfx::kExitUsage;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::printf("usage: sfxpack %s %s\n\n%s\n\noptions:\n%s", command->name, command->usage,
                  command->summary, sfx::DescribeOptions(command->options).c_str());
      return sfx::kExitOk;
    }
  }
  return sfx::RunCommand(*command, args);
}
