// sfxpack: makes keys, builds signed packages onto a stub, and verifies, lists and extracts them with
// the stub's own code. Exit codes: 0 success, 1 the operation failed, 2 the command line is wrong.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sfx_version.h"
#include "tools/sfxpack/cli/interrupt_cleanup.h"
#include "tools/sfxpack/cli/response_file.h"
#include "tools/sfxpack/command_line.h"
#include "tools/sfxpack/sfxpack_commands.h"

namespace {

using sfx::CommandSpec;

void PrintUsage(std::FILE* out) {
  std::fprintf(out, "usage: sfxpack [-q] COMMAND [OPTIONS]\n\ncommands:\n");
  for (const CommandSpec& command : sfx::Commands()) {
    std::fprintf(out, "  %-14s %s\n", command.name, command.summary);
  }
  std::fprintf(out,
               "  %-14s %s\n  %-14s %s\n\n'sfxpack help COMMAND' or 'sfxpack COMMAND --help' describes one "
               "command.\n-q silences the progress line and warnings. Exit codes: 0 done, 1 the operation "
               "failed, 2 the command line is wrong.\n",
               "help", "This help, or one command's.", "version", "The tool's version.");
}

int PrintVersion() {
  std::printf("sfxpack %s%s%s%s\n", SFX_VERSION, *SFX_GIT_DESCRIBE ? " (git " : "", SFX_GIT_DESCRIBE,
              *SFX_GIT_DESCRIBE ? ")" : "");
  std::printf("licence: zlib (the LICENSE file); a package built on the stub owes no notice to anyone\n");
  return sfx::kExitOk;
}

// -h or --help among the options, not as the value of one (--command -h) nor after "--".
bool AsksForHelp(const CommandSpec& command, const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
    for (const sfx::OptionSpec& option : command.options) {
      bool takesNext = option.valueName != nullptr &&
                       (arg == std::string("--") + option.name ||
                        (option.shortName != 0 && arg == std::string("-") + option.shortName));
      if (takesNext) ++i;
    }
  }
  return false;
}

int UnknownCommand(const std::string& name) {
  sfx::PrintError("unknown command '" + name + "' (see 'sfxpack help')");
  return sfx::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  sfx::InterruptCleanup::Install();
  std::vector<std::string> args(argv + 1, argv + argc);
  // -q before the command applies to it as well.
  bool quiet = !args.empty() && (args[0] == "-q" || args[0] == "--quiet");
  if (quiet) args.erase(args.begin());
  if (args.empty()) {
    PrintUsage(stderr);
    return sfx::kExitUsage;
  }
  std::string name = args[0];
  args.erase(args.begin());
  if (name == "--version" || name == "version") {
    if (args.empty()) return PrintVersion();
    sfx::PrintError("version takes no arguments, not '" + args[0] + "'");
    return sfx::kExitUsage;
  }
  if (name == "--help" || name == "-h" || name == "help") {
    if (args.empty()) {
      PrintUsage(stdout);
      return sfx::kExitOk;
    }
    const CommandSpec* command = sfx::FindCommand(args[0]);
    if (command == nullptr) return UnknownCommand(args[0]);
    if (args.size() > 1) {
      sfx::PrintError("help takes one command, not '" + args[1] + "'");
      return sfx::kExitUsage;
    }
    std::printf("%s", sfx::CommandHelp(*command).c_str());
    return sfx::kExitOk;
  }
  const CommandSpec* command = sfx::FindCommand(name);
  if (command == nullptr) return UnknownCommand(name);
  std::vector<std::string> expanded;
  std::string error;
  if (!sfx::ResponseFile::Expand(command->options, args, &expanded, &error)) {
    sfx::PrintError(name + ": " + error + " (see 'sfxpack help " + name + "')");
    return sfx::kExitUsage;
  }
  args.swap(expanded);
  if (AsksForHelp(*command, args)) {
    std::printf("%s", sfx::CommandHelp(*command).c_str());
    return sfx::kExitOk;
  }
  if (quiet) args.insert(args.begin(), "-q");
  return sfx::RunCommand(*command, args);
}
