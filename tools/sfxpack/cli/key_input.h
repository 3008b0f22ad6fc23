// Where a private key comes from, for CI as much as for a desk: --key FILE (a pipe such as
// <(printf ...) included), --key - (standard input) or --key-env NAME (an environment variable). An
// encrypted PKCS#8 key takes its passphrase from --passphrase-env NAME, or, on a terminal, from a
// prompt that does not echo. The key is only ever held in memory: no temporary file sees it.
#ifndef SFXSTUB_TOOLS_SFXPACK_CLI_KEY_INPUT_H_
#define SFXSTUB_TOOLS_SFXPACK_CLI_KEY_INPUT_H_

#include <string>

#include "tools/sfxpack/command_line.h"
#include "tools/sfxpack/signing/signing_key.h"

namespace sfx {

class KeyInput {
 public:
  // The key the options name: --key or --key-env, exactly one (a usage error otherwise, *usage set).
  // Errors are one line naming the key's source.
  static bool Load(const ParsedArgs& args, SigningKey* key, bool* usage, std::string* error);
  // What is wrong with the key options (neither or both of --key and --key-env), or empty.
  static std::string UsageProblem(const ParsedArgs& args);
  // True when --key names a file the build may check as an input (not '-', not --key-env).
  static bool NamesFile(const ParsedArgs& args);
  // The passphrase: from --passphrase-env, else asked on the terminal (twice when confirm is set);
  // what names the key in the prompt and in errors.
  static bool Passphrase(const ParsedArgs& args, const std::string& what, bool confirm, std::string* passphrase,
                         std::string* error);
};

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_CLI_KEY_INPUT_H_
