#include "tools/sfxpack/cli/response_file.h"

#include <cstring>

#include "tools/sfxpack/file_io.h"

namespace sfx {
namespace {

// How an option's value is read: not at all (a flag), as text, as a file name, or as NAME=PATH.
enum class ValueKind { kFlag, kText, kPath, kNamePath };

// The value names of options that take a file or a folder.
constexpr const char* kPathValues[] = {"PREFIX", "PUB", "OUT", "STUB", "KEY", "PROGRAM", "DIR", "FILE", "PATH",
                                       "SIGNED", "ICON", "ICO", "BMP", "BITMAP", "IMAGE", "LICENSE", "PRODUCT.msi",
                                       "RUNNER"};

ValueKind KindOf(const OptionSpec& option) {
  if (option.valueName == nullptr) return ValueKind::kFlag;
  if (!std::strcmp(option.valueName, "NAME=PATH")) return ValueKind::kNamePath;
  for (const char* name : kPathValues) {
    if (!std::strcmp(option.valueName, name)) return ValueKind::kPath;
  }
  return ValueKind::kText;
}

bool IsAbsolute(const std::string& path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
  return path.size() >= 2 && path[1] == ':';  // C:\, and C:dir, which no folder can be put before
}

std::string Rebase(const std::string& folder, const std::string& path, ValueKind kind) {
  if (kind == ValueKind::kNamePath) {
    const size_t equals = path.find('=');
    if (equals == std::string::npos) return path;  // the command reports it
    return path.substr(0, equals + 1) + Rebase(folder, path.substr(equals + 1), ValueKind::kPath);
  }
  if (kind != ValueKind::kPath || folder.empty() || path.empty() || path == "-" || IsAbsolute(path)) return path;
  return folder + "/" + path;
}

const OptionSpec* Find(const std::vector<OptionSpec>& options, const std::string& arg, std::string* inlineValue,
                       bool* hasInline) {
  *hasInline = false;
  if (arg.size() == 2 && arg[0] == '-' && arg[1] != '-') {
    for (const auto& option : options) {
      if (option.shortName == arg[1]) return &option;
    }
    return nullptr;
  }
  std::string name = arg.substr(2);
  const size_t equals = name.find('=');
  if (equals != std::string::npos) {
    *inlineValue = name.substr(equals + 1);
    *hasInline = true;
    name.resize(equals);
  }
  for (const auto& option : options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

// The folder of a response file's path, for the paths inside it; empty for the working folder.
std::string FolderOf(const std::string& file) {
  const size_t slash = file.find_last_of(
#if defined(_WIN32)
      "/\\"
#else
      "/"
#endif
  );
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : file.substr(0, slash);
}

}  // namespace

bool ResponseFile::ParseLine(const std::string& raw, std::string* argument, bool* skip, std::string* error) {
  size_t begin = raw.find_first_not_of(" \t\r");
  *skip = begin == std::string::npos || raw[begin] == '#';
  if (*skip) return true;
  const size_t end = raw.find_last_not_of(" \t\r") + 1;
  const std::string line = raw.substr(begin, end - begin);
  argument->clear();
  if (line[0] == '\'' || line[0] == '"') {
    if (line.size() < 2 || line.back() != line[0]) {
      *error = std::string("a quoted argument must end with ") + line[0] + " on the same line";
      return false;
    }
    const std::string inner = line.substr(1, line.size() - 2);
    if (line[0] == '\'') {
      *argument = inner;
      return true;
    }
    for (size_t i = 0; i < inner.size(); ++i) {
      if (inner[i] == '\\' && i + 1 < inner.size() && (inner[i + 1] == '"' || inner[i + 1] == '\\')) ++i;
      else if (inner[i] == '"') {
        *error = "a double quote inside \"...\" must be written \\\"";
        return false;
      }
      argument->push_back(inner[i]);
    }
    return true;
  }
  if (line[0] == '@') {
    *error = "'" + line + "': response files do not nest (quote it, \"" + line + "\", for an argument that starts with @)";
    return false;
  }
  *argument = line;
  return true;
}

bool ResponseFile::Expand(const std::vector<OptionSpec>& options, const std::vector<std::string>& args,
                          std::vector<std::string>* expanded, std::string* error) {
  for (const std::string& arg : args) {
    if (arg.size() < 2 || arg[0] != '@') {
      expanded->push_back(arg);
      continue;
    }
    const std::string file = arg.substr(1);
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(file, &bytes, error)) {
      *error = "response file " + arg + ": " + *error;
      return false;
    }
    const std::string text(bytes.begin(), bytes.end());
    const std::string folder = FolderOf(file);
    ValueKind pending = ValueKind::kFlag;  // the kind of the value the next argument is
    bool positionalsOnly = false;
    size_t lineNumber = 0;
    for (size_t start = 0; start <= text.size();) {
      size_t stop = text.find('\n', start);
      if (stop == std::string::npos) stop = text.size();
      const std::string line = text.substr(start, stop - start);
      start = stop + 1;
      ++lineNumber;
      std::string argument;
      bool skip = false;
      if (!ParseLine(line, &argument, &skip, error)) {
        *error = file + ":" + std::to_string(lineNumber) + ": " + *error;
        return false;
      }
      if (skip) continue;
      if (pending != ValueKind::kFlag) {
        argument = Rebase(folder, argument, pending);
        pending = ValueKind::kFlag;
      } else if (positionalsOnly || argument.size() < 2 || argument[0] != '-') {
        argument = Rebase(folder, argument, ValueKind::kPath);
      } else if (argument == "--") {
        positionalsOnly = true;
      } else {
        std::string value;
        bool hasInline = false;
        if (const OptionSpec* option = Find(options, argument, &value, &hasInline)) {
          const ValueKind kind = KindOf(*option);
          if (hasInline) argument = argument.substr(0, argument.size() - value.size()) + Rebase(folder, value, kind);
          else pending = kind;
        }
      }
      expanded->push_back(argument);
    }
  }
  return true;
}

}  // namespace sfx
