// How `sfxpack build` says the setup program is to be run: where the source-path switch goes
// (--srcpath), the template for unattended runs (--silent-command), and a Windows Installer package
// run by the MSI runner shipped beside the stubs (--msi, --runner). The first two are stored as
// directory chunks ("SRCP", "CMDS") only when they differ from the defaults, so that a package built
// without them is byte for byte what it always was.
#ifndef SFXSTUB_TOOLS_SFXPACK_INSTALLER_RUN_OPTIONS_H_
#define SFXSTUB_TOOLS_SFXPACK_INSTALLER_RUN_OPTIONS_H_

#include <string>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/archive/source_path_placement.h"
#include "tools/sfxpack/build_checks.h"
#include "tools/sfxpack/command_line.h"
#include "tools/sfxpack/package_layout.h"

namespace sfx {

// The public property through which the MSI runner hands the package's folder to the MSI.
constexpr char kMsiSourceProperty[] = "SFXSRCPATH";
// The installed runner, relative to the tool, beside the installed stubs.
constexpr char kInstalledMsiRunner[] = "../share/sfxstub/msirunner.exe";
// The compound-file signature every MSI database starts with.
constexpr uint8_t kCompoundFileSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

struct RunOptions {
  SourcePathPlacement placement = SourcePathPlacement::kEnd;
  std::string commandTemplate;  // as stored in "CMDL"
  bool hasSilentTemplate = false;
  std::string silentTemplate;   // as stored in "CMDS"
  std::string msiPath;          // --msi; empty without
  std::string msiName;          // the name it is listed under
  std::string runnerPath;       // with --msi: the setup program
};

// Reads --command, --silent-command, --srcpath, --setup, --msi and --runner (default: the installed
// runner). False with a usage error (one line) for a value or a combination that makes no package: an
// unknown placement, --msi with --setup or with --srcpath other than none, neither --setup nor --msi,
// no runner.
// With --msi the templates become the runner's: the MSI's quoted name, the user's template (default
// for --command: none; for --silent-command: /qn) and the source folder as kMsiSourceProperty;
// the source-path switch is placed nowhere.
bool ReadRunOptions(const ParsedArgs& args, RunOptions* options, std::string* usageError);

// With --msi: the MSI checked (the compound-file signature) and listed first, ahead of listed.
// False with a one-line error.
bool AddMsiInput(const RunOptions& options, std::vector<BuildInput>* listed, std::string* error);

// The MSI runner's command template for msiName and the user's template.
std::string MsiRunnerTemplate(const std::string& msiName, const std::string& userTemplate);

// True when bytes start with the compound-file signature.
bool HasCompoundFileSignature(const ByteVector& bytes);

// The "CMDS" and "SRCP" chunks these options need; none for the defaults.
ByteVector RunOptionChunks(const RunOptions& options);

// What `list` shows of a package's run options: text lines ("silent:", "srcpath:") or the JSON
// members (", \"silentCommand\": ..., \"srcpath\": ...") that follow "command", its strings quoted
// by jsonString.
std::string RunOptionsText(const SfxArchive& archive);
std::string RunOptionsJson(const SfxArchive& archive, std::string (*jsonString)(const std::string&));

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_INSTALLER_RUN_OPTIONS_H_
