#include "tools/sfxpack/build_checks.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "sfxstub/archive/entry_name.h"
#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/driver/command_template.h"
#include "sfxstub/platform/child_command_line.h"
#include "sfxstub/platform/path_limits.h"
#include "sfxstub/verify/key_block.h"
#include "sfxstub/verify/signed_file.h"
#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/resources/resource_section.h"
#include "tools/sfxpack/std_text.h"

namespace sfx {
namespace {

uint32_t LittleEndian(const ByteVector& bytes, size_t at, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
  return value;
}

bool IsWordCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

}  // namespace

bool CheckListedNames(const std::vector<BuildInput>& listed, std::string* error) {
  std::vector<std::string> names;
  for (const BuildInput& input : listed) {
    if (const char* problem = EntryNameProblem(input.name)) {
      *error = "build: " + input.option + ": the name '" + input.name + "' " + problem;
      return false;
    }
    names.push_back(input.name);
  }
  List<Text> folded;
  for (const std::string& name : names) folded.push_back(name);
  size_t first = 0, second = 0;
  if (FindNameClash(folded, &first, &second)) {
    *error = "build: " + listed[first].option + " and " + listed[second].option + ": the names '" +
             names[first] + "' and '" + names[second] +
             "' are one file on Windows, which does not tell upper from lower case";
    return false;
  }
  return true;
}

bool CheckLinksStayInside(const std::string& dir, const std::vector<std::string>& links, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code code;
  const fs::path folder = fs::canonical(FsPath(dir), code);
  for (const std::string& link : links) {
    const fs::path target = code ? fs::path() : fs::canonical(FsPath(dir) / FsPath(link), code);
    bool inside = !code;
    if (inside) {
      auto mismatch = std::mismatch(folder.begin(), folder.end(), target.begin(), target.end());
      inside = mismatch.first == folder.end() && mismatch.second != target.end();
    }
    if (!inside) {
      *error = "build: --dir " + dir + ": '" + link + "' is a link to " +
               (code ? std::string("what cannot be resolved") : FsText(target)) +
               ", outside the folder; --dir takes links to files inside it only";
      return false;
    }
  }
  return true;
}

bool CheckNoInputIsKey(const std::string& keyPath, const std::vector<BuildInput>& inputs, std::string* error) {
  for (const BuildInput& input : inputs) {
    std::error_code code;
    if (std::filesystem::equivalent(FsPath(keyPath), FsPath(input.path), code) && !code) {
      *error = "build: " + input.option + ": " + input.path + " is the private key (--key " + keyPath +
               "), which must never go into a package";
      return false;
    }
  }
  return true;
}

bool CheckOutputIsNoInput(const std::string& out, const std::vector<BuildInput>& inputs, std::string* error) {
  for (const BuildInput& input : inputs) {
    std::error_code code;
    if (std::filesystem::equivalent(FsPath(out), FsPath(input.path), code) && !code) {
      *error = "build: -o " + out + " is the same file as " + input.option + "; it would be overwritten";
      return false;
    }
  }
  return true;
}

const char* SetupProgramProblem(const ByteVector& program) {
  constexpr uint16_t kMachines[] = {0x014C, 0x8664, 0xAA64};  // i386, amd64, arm64
  if (program.empty()) return "is empty";
  if (program.size() < 0x40 || program[0] != 'M' || program[1] != 'Z') {
    return "is not a Windows program (no \"MZ\" header)";
  }
  const uint32_t header = LittleEndian(program, 0x3C, 4);
  if (header > program.size() || program.size() - header < 6 || program[header] != 'P' ||
      program[header + 1] != 'E' || program[header + 2] != 0 || program[header + 3] != 0) {
    return "is not a Windows program (no \"PE\" signature where its header points)";
  }
  const uint32_t machine = LittleEndian(program, header + 4, 2);
  for (uint16_t known : kMachines) {
    if (machine == known) return nullptr;
  }
  return "is a program for a machine Windows does not run (not i386, amd64 or arm64)";
}

bool ReadSetupImage(const std::string& path, ByteVector* image, std::string* error) {
  constexpr size_t kHeaders = 64u << 10, kLimit = 64u << 20;
  if (!ReadFilePrefix(path, kHeaders, image, error)) return false;
  // The manifest is a resource: the program is read as far as its resource section ends.
  const uint64_t end = std::min<uint64_t>(ResourceSectionEnd(*image), kLimit);
  return end <= image->size() || ReadFilePrefix(path, static_cast<size_t>(end), image, error);
}

bool IsPackage(const std::string& path, const ByteVector& image) {
  const size_t magic = sizeof kTrailerMagic - 1;
  if (image.size() >= magic &&
      std::equal(image.end() - magic, image.end(), reinterpret_cast<const uint8_t*>(kTrailerMagic))) {
    return true;
  }
  return FindSignatureRecord(path.c_str(), nullptr, nullptr, nullptr) == kOk;
}

std::string LongTemporaryFolder() {
  return "C:\\Users\\" + std::string(20, 'u') + "\\AppData\\Local\\Temp\\_kv_sfx.tm~a12345";
}

std::vector<std::string> TemplateWarnings(const std::string& commandTemplate, const std::string& option,
                                          SourcePathPlacement placement) {
  std::vector<std::string> warnings;
  const char* const placeholders[] = {kSourcePathPlaceholder, kTempPathPlaceholder, kCommandLinePlaceholder};
  for (size_t at = commandTemplate.find('%'); at != std::string::npos;) {
    size_t end = commandTemplate.find('%', at + 1);
    if (end == std::string::npos) break;
    const std::string word = commandTemplate.substr(at, end - at + 1);
    bool isWord = end > at + 1;
    for (size_t i = at + 1; i < end; ++i) isWord = isWord && IsWordCharacter(commandTemplate[i]);
    if (!isWord) {
      at = end;  // the closing '%' may open the next word
      continue;
    }
    bool known = false;
    for (const char* placeholder : placeholders) known = known || word == placeholder;
    if (!known) {
      warnings.push_back(option + ": " + word + " is not a placeholder and stays as typed (" +
                         kSourcePathPlaceholder + ", " + kTempPathPlaceholder + " and " +
                         kCommandLinePlaceholder + " are, in upper case)");
    }
    at = commandTemplate.find('%', end + 1);
  }
  // The shortest the other values can be: a package in a drive's root, started with no arguments.
  const std::string folder = LongTemporaryFolder();
  const std::string command = StdString(BuildCommand(commandTemplate, placement, "C:", folder, "", NoLeadBytes));
  const std::string program = folder + "\\" + kRunProgramName;
  const size_t length = 1 + program.size() + 2 + command.size();
  if (length + 1 > kMaxCommandLineChars) {
    warnings.push_back(option + ": the setup program's command line would be at least " + std::to_string(length) +
                       " bytes with the temporary folder " + folder + ", and the stub starts at most " +
                       std::to_string(kMaxCommandLineChars - 1));
  }
  return warnings;
}

}  // namespace sfx
