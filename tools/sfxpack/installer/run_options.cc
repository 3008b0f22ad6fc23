#include "tools/sfxpack/installer/run_options.h"

#include <algorithm>

#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/output/escaped_text.h"
#include "tools/sfxpack/std_text.h"

namespace sfx {
namespace {

constexpr char kMsiSilentDefault[] = "/qn";

std::string ListedName(const std::string& path) {
#if defined(_WIN32)
  size_t slash = path.find_last_of("/\\");
#else
  size_t slash = path.rfind('/');
#endif
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool ReadRunOptions(const ParsedArgs& args, RunOptions* options, std::string* usageError) {
  if (args.Has("srcpath")) {
    const std::string name = args.Get("srcpath");
    if (!ParseSourcePathPlacement(name.data(), name.size(), &options->placement)) {
      *usageError = "--srcpath takes end, start or none, not '" + name + "'";
      return false;
    }
  }
  options->commandTemplate = args.Get("command");
  options->hasSilentTemplate = args.Has("silent-command");
  options->silentTemplate = args.Get("silent-command");
  if (!args.Has("msi")) {
    if (args.Has("runner")) {
      *usageError = "--runner goes with --msi";
      return false;
    }
    if (!args.Has("setup")) {
      *usageError = "missing option --setup PROGRAM (or --msi PRODUCT.msi)";
      return false;
    }
    return true;
  }
  if (args.Has("setup")) {
    *usageError = "--msi and --setup exclude each other: with --msi the setup program is the MSI runner";
    return false;
  }
  if (args.Has("srcpath") && options->placement != SourcePathPlacement::kNone) {
    *usageError = "--srcpath does not go with --msi: the MSI gets the source folder as the property " +
                  std::string(kMsiSourceProperty);
    return false;
  }
  options->msiPath = args.Get("msi");
  options->msiName = ListedName(options->msiPath);
  options->runnerPath = args.Get("runner");
  if (options->runnerPath.empty()) {
    options->runnerPath = BesideExecutable(kInstalledMsiRunner);
    if (options->runnerPath.empty() || !IsRegularFile(options->runnerPath)) {
      *usageError = "missing option --runner RUNNER (no installed MSI runner at " +
                    (options->runnerPath.empty() ? std::string(kInstalledMsiRunner) : options->runnerPath) + ")";
      return false;
    }
  }
  options->placement = SourcePathPlacement::kNone;  // msiexec refuses switches it does not know
  options->commandTemplate = MsiRunnerTemplate(options->msiName, options->commandTemplate);
  options->silentTemplate = MsiRunnerTemplate(
      options->msiName, options->hasSilentTemplate ? options->silentTemplate : kMsiSilentDefault);
  options->hasSilentTemplate = true;
  return true;
}

bool AddMsiInput(const RunOptions& options, std::vector<BuildInput>* listed, std::string* error) {
  if (options.msiPath.empty()) return true;
  ByteVector head;
  if (!ReadFilePrefix(options.msiPath, sizeof kCompoundFileSignature, &head, error)) return false;
  if (!HasCompoundFileSignature(head)) {
    *error = "build: --msi " + options.msiPath +
             ": not a Windows Installer package (it lacks the compound-file signature D0 CF 11 E0 A1 B1 1A E1)";
    return false;
  }
  listed->insert(listed->begin(), BuildInput{"--msi " + options.msiPath, options.msiPath, options.msiName});
  return true;
}

std::string MsiRunnerTemplate(const std::string& msiName, const std::string& userTemplate) {
  std::string text = "\"" + msiName + "\"";
  if (!userTemplate.empty()) text += " " + userTemplate;
  return text + " " + kMsiSourceProperty + "=\"%SRCPATH%\"";
}

bool HasCompoundFileSignature(const ByteVector& bytes) {
  return bytes.size() >= sizeof kCompoundFileSignature &&
         std::equal(kCompoundFileSignature, kCompoundFileSignature + sizeof kCompoundFileSignature, bytes.begin());
}

ByteVector RunOptionChunks(const RunOptions& options) {
  ChunkWriter chunks;
  if (options.hasSilentTemplate) chunks.AddText("CMDS", options.silentTemplate);
  if (options.placement != SourcePathPlacement::kEnd) {
    chunks.AddText("SRCP", SourcePathPlacementName(options.placement));
  }
  return chunks.bytes();
}

std::string RunOptionsText(const SfxArchive& archive) {
  std::string text = "silent:       ";
  text += archive.hasSilentCommandTemplate ? EscapedText(StdString(archive.silentCommandTemplate)) : "(the command above)";
  text += "\nsrcpath:      ";
  text += SourcePathPlacementName(archive.sourcePathPlacement);
  return text + "\n";
}

std::string RunOptionsJson(const SfxArchive& archive, std::string (*jsonString)(const std::string&)) {
  return ", \"silentCommand\": " +
         (archive.hasSilentCommandTemplate ? jsonString(StdString(archive.silentCommandTemplate)) : "null") +
         ", \"srcpath\": " + jsonString(SourcePathPlacementName(archive.sourcePathPlacement));
}

}  // namespace sfx
