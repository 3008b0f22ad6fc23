// A declarative command-line parser: each command lists its options once, and the parser, the usage
// text and the error messages all come from that table.
#ifndef SFXSTUB_TOOLS_SFXPACK_COMMAND_LINE_H_
#define SFXSTUB_TOOLS_SFXPACK_COMMAND_LINE_H_

#include <map>
#include <string>
#include <vector>

namespace sfx {

struct OptionSpec {
  const char* name;        // long name without the dashes
  char shortName;          // 0 when there is none
  const char* valueName;   // null for a flag
  bool repeatable;
  const char* help;
  bool required = false;   // the command cannot run without it
};

class ParsedArgs {
 public:
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  // The value of a single-valued option, or fallback.
  std::string Get(const std::string& name, const std::string& fallback = "") const;
  const std::vector<std::string>& All(const std::string& name) const;
  const std::vector<std::string>& positionals() const { return positionals_; }

 private:
  friend bool ParseArgs(const std::vector<OptionSpec>&, const std::vector<std::string>&, ParsedArgs*,
                        std::string*);
  std::map<std::string, std::vector<std::string>> values_;
  std::vector<std::string> positionals_;
};

// Parses args against options. "--name value", "--name=value", "-x value" and "--" (the rest is
// positional) are understood; an unknown option, a missing value, a repeated single option or a
// missing required one is an error, described in *error, which names the option.
bool ParseArgs(const std::vector<OptionSpec>& options, const std::vector<std::string>& args,
               ParsedArgs* parsed, std::string* error);

// The options' lines of a usage text.
std::string DescribeOptions(const std::vector<OptionSpec>& options);

// What the tool says besides its results goes to stderr, one line each, prefixed "sfxpack: ".
// Quiet mode (-q) silences warnings and the progress line; errors always print.
void SetQuiet(bool quiet);
bool Quiet();
void PrintError(const std::string& message);
void PrintWarning(const std::string& message);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_COMMAND_LINE_H_
