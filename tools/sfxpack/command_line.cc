#include "tools/sfxpack/command_line.h"

#include <cstdio>

namespace sfx {
namespace {

bool quietMode = false;

const OptionSpec* FindLong(const std::vector<OptionSpec>& options, const std::string& name) {
  for (const auto& option : options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

const OptionSpec* FindShort(const std::vector<OptionSpec>& options, char name) {
  for (const auto& option : options) {
    if (option.shortName != 0 && option.shortName == name) return &option;
  }
  return nullptr;
}

}  // namespace

std::string ParsedArgs::Get(const std::string& name, const std::string& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() || it->second.empty() ? fallback : it->second.back();
}

const std::vector<std::string>& ParsedArgs::All(const std::string& name) const {
  static const std::vector<std::string> none;
  auto it = values_.find(name);
  return it == values_.end() ? none : it->second;
}

bool ParseArgs(const std::vector<OptionSpec>& options, const std::vector<std::string>& args,
               ParsedArgs* parsed, std::string* error) {
  bool onlyPositionals = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyPositionals || arg.size() < 2 || arg[0] != '-') {
      parsed->positionals_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyPositionals = true;
      continue;
    }
    const OptionSpec* option = nullptr;
    std::string inlineValue;
    bool hasInlineValue = false;
    if (arg[1] == '-') {
      std::string name = arg.substr(2);
      size_t equals = name.find('=');
      if (equals != std::string::npos) {
        inlineValue = name.substr(equals + 1);
        hasInlineValue = true;
        name.resize(equals);
      }
      option = FindLong(options, name);
    } else if (arg.size() == 2) {
      option = FindShort(options, arg[1]);
    }
    if (option == nullptr) {
      *error = "unknown option '" + arg + "'";
      return false;
    }
    std::vector<std::string>& slot = parsed->values_[option->name];
    if (!slot.empty() && !option->repeatable) {
      *error = "option --" + std::string(option->name) + " given twice";
      return false;
    }
    if (option->valueName == nullptr) {
      if (hasInlineValue) {
        *error = "option --" + std::string(option->name) + " takes no value";
        return false;
      }
      slot.push_back("");
      continue;
    }
    if (hasInlineValue) {
      slot.push_back(inlineValue);
    } else if (i + 1 < args.size()) {
      slot.push_back(args[++i]);
    } else {
      *error = "option --" + std::string(option->name) + " needs a value (" + option->valueName + ")";
      return false;
    }
  }
  for (const auto& option : options) {
    if (option.required && !parsed->Has(option.name)) {
      *error = "missing option --" + std::string(option.name) +
               (option.valueName ? std::string(" ") + option.valueName : std::string());
      return false;
    }
  }
  return true;
}

std::string DescribeOptions(const std::vector<OptionSpec>& options) {
  std::string text;
  for (const auto& option : options) {
    std::string left = "  ";
    if (option.shortName) left += std::string("-") + option.shortName + ", ";
    left += std::string("--") + option.name;
    if (option.valueName) left += std::string(" ") + option.valueName;
    if (left.size() < 26) left.resize(26, ' ');
    else left += "  ";
    text += left + option.help + (option.repeatable ? " (repeatable)" : "") +
            (option.required ? " (required)" : "") + "\n";
  }
  return text;
}

void SetQuiet(bool quiet) { quietMode = quiet; }
bool Quiet() { return quietMode; }

void PrintError(const std::string& message) { std::fprintf(stderr, "sfxpack: %s\n", message.c_str()); }

void PrintWarning(const std::string& message) {
  if (!quietMode) std::fprintf(stderr, "sfxpack: warning: %s\n", message.c_str());
}

}  // namespace sfx
