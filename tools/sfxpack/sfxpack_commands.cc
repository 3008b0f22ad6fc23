#include "tools/sfxpack/sfxpack_commands.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/platform/join_path.h"
#include "sfxstub/verify/key_block.h"
#include "sfxstub/verify/signed_file.h"
#include "tools/sfxpack/authenticode.h"
#include "tools/sfxpack/build_checks.h"
#include "tools/sfxpack/cli/key_input.h"
#include "tools/sfxpack/cli/progress_hooks.h"
#include "tools/sfxpack/cli/progress_line.h"
#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/installer/run_options.h"
#include "tools/sfxpack/key_fingerprint.h"
#include "tools/sfxpack/package_file_writer.h"
#include "tools/sfxpack/output/escaped_text.h"
#include "tools/sfxpack/package_layout.h"
#include "tools/sfxpack/packing/listed_inputs.h"
#include "tools/sfxpack/packing/packing_choice.h"
#include "tools/sfxpack/prefix_block.h"
#include "tools/sfxpack/resources/branding.h"
#include "tools/sfxpack/security/private_folder.h"
#include "tools/sfxpack/sfxpack_keys.h"
#include "tools/sfxpack/signing/signature_records.h"
#include "tools/sfxpack/std_text.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace sfx {
namespace {

// The key block sits in the stub, at the start of a package file; no stub comes near this size.
constexpr size_t kStubSearchLimit = 4u << 20;
constexpr size_t kLargeBuild = 16u << 20;
// The PE headers lie in the first bytes of a file; no stub comes near this size.
constexpr size_t kHeaderReadLimit = 64u << 10;
// Certificate tables hold a few certificates and a signature; anything near this size is a mistake.
constexpr uint32_t kMaxCertificateTableSize = 16u << 20;

// The installed 32-bit stub, relative to the tool so that a moved install or an unpacked tarball
// finds its own (bin/sfxpack and windows/sfxpack.exe both sit one level below share/).
constexpr char kInstalledStub[] = "../share/sfxstub/sfxstub.exe";

const CommandSpec* running = nullptr;  // the command RunCommand is running, for usage errors

int Fail(const std::string& message) {
  PrintError(message);
  return kExitFailed;
}

// A value the command line got wrong: exit 2, naming the option.
int UsageError(const std::string& message) {
  const char* name = running ? running->name : "sfxpack";
  PrintError(std::string(name) + ": " + message + " (see 'sfxpack help " + name + "')");
  return kExitUsage;
}

void Progress(bool show, const char* stage) {
  if (show && !Quiet()) std::fprintf(stderr, "\rsfxpack: %-40s", stage);
}

// --stub, or the installed stub when it is not given.
int StubPath(const ParsedArgs& args, std::string* path) {
  if (args.Has("stub")) {
    *path = args.Get("stub");
    return kExitOk;
  }
  *path = BesideExecutable(kInstalledStub);
  if (!path->empty() && IsRegularFile(*path)) return kExitOk;
  return UsageError("missing option --stub STUB (no installed stub at " +
                    (path->empty() ? std::string(kInstalledStub) : *path) + ")");
}

std::string FingerprintText(const DsaPublicKey& key) {
  KeyFingerprint fingerprint;
  std::string error;
  return KeyFingerprint::Of(key, &fingerprint, &error) ? fingerprint.Text() : "(" + error + ")";
}

const char* KindName(uint32_t kind) {
  switch (kind) {
    case kBinarySignature: return "binary signature";
    case kTextSignature: return "text signature";
    case kTextDigest: return "text digest";
    default: return "unknown";
  }
}

std::string IsoTime(uint32_t time) {
  std::time_t seconds = static_cast<int32_t>(time);
  std::tm parts{};
#if defined(_WIN32)
  gmtime_s(&parts, &seconds);
#else
  gmtime_r(&seconds, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

struct PackageKey {
  DsaPublicKey key;
  KeyFingerprint fingerprint;
  bool stamped = false;  // read from the file itself, so it proves integrity only
  // Set when --pub is not the key stamped in the stub, which is the one the stub verifies with: a
  // package that --pub's key verifies would still never run.
  std::string stubRefuses;
};

// The key to verify FILE with: --pub when given, else the key stamped in FILE's stub; with
// --fingerprint, that key must be one of those named. Returns an exit code.
int VerificationKey(const ParsedArgs& args, const std::string& file, PackageKey* out) {
  std::vector<KeyFingerprint> wanted;
  for (const std::string& text : args.All("fingerprint")) {
    wanted.emplace_back();
    if (!KeyFingerprint::Parse(text, &wanted.back())) {
      return UsageError("--fingerprint takes SHA256:BASE64 or 64 hex digits, not '" + text + "'");
    }
  }
  std::string error;
  if (!CheckRegularFile(file, &error)) return Fail(error);
  out->stamped = !args.Has("pub");
  ByteVector head;
  if (!ReadFilePrefix(file, kStubSearchLimit, &head, &error)) return Fail(error);
  if (!out->stamped) {
    if (!LoadPublicKeyFile(args.Get("pub"), &out->key, &error)) return Fail(error);
  } else if (!ReadStubKey(head, &out->key, &error)) {
    return Fail(file + ": " + error + "; give the key with --pub");
  }
  if (!KeyFingerprint::Of(out->key, &out->fingerprint, &error)) {
    return Fail((out->stamped ? file : args.Get("pub")) + ": " + error);
  }
  DsaPublicKey inStub;
  if (!out->stamped && ReadStampedKey(head, &inStub, &error) == kOk && !SameKey(inStub, out->key)) {
    KeyFingerprint stubPrint;
    std::string held = IsZeroKey(inStub) || !KeyFingerprint::Of(inStub, &stubPrint, &error)
                           ? "no key" : "another key, " + stubPrint.Text();
    out->stubRefuses = "its stub holds " + held + ", not the key of " + args.Get("pub") + " (" +
                       out->fingerprint.Text() + "), so the stub would refuse it";
  }
  if (wanted.empty()) return kExitOk;
  for (const KeyFingerprint& fingerprint : wanted) {
    if (fingerprint == out->fingerprint) return kExitOk;
  }
  return Fail(file + ": " + (out->stamped ? "the key stamped in it, " : "the key of " + args.Get("pub") + ", ") +
              out->fingerprint.Text() + ", is not one named by --fingerprint");
}

std::string CodeText(ResultCode result) {
  char text[40];
  std::snprintf(text, sizeof text, "error %u, 0x%08X", result, result);
  return text;
}

int FailStubRefuses(const std::string& file, const PackageKey& key) {
  return Fail(file + ": " + key.stubRefuses + " (" + CodeText(kErrorFileInvalid) + ")");
}

// Why FILE is not a package the stub would run, in the same words whichever command found it.
// *result is what the archive's open or the signature check returned; it becomes the code the stub
// reports for the cause. The signature is looked at again to tell the causes apart.
std::string PackageFailure(const std::string& file, const DsaPublicKey& key, ResultCode* result) {
  std::string words;
  switch (*result) {
    case kErrorInvalidParameter: words = "the package's mode is not \"extract\""; break;
    case kBadChunkDirectory: words = "damaged package directory (a \"CMDP\" chunk of the wrong size)"; break;
    case kErrorFileInvalid:
    case kBadSignature:
    case kDamagedPackage: {
      uint32_t kind = 0;
      *result = kErrorFileInvalid;  // what the stub shows for every cause below
      if (FindSignatureRecord(file.c_str(), nullptr, &kind, nullptr) != kOk) {
        words = "no signature record at its end (not a package, or cut short)";
      } else if (!IsPackageSignatureKind(kind)) {
        words = std::string("its ") + KindName(kind) + " record is one the stub refuses: " +
                (kind == kTextSignature
                     ? "its digest skips every byte outside 0x20..0x7F, so it does not protect a package"
                     : "a digest nobody signed proves nothing");
      } else if (VerifySignedFile(file.c_str(), 2, key) != kOk) {
        words = "the signature does not match (the file is damaged, or signed with another key)";
      } else {
        words = "damaged package directory";
      }
      break;
    }
    default: words = "cannot read the package"; break;
  }
  return words;
}

int FailPackage(const std::string& file, const DsaPublicKey& key, ResultCode result) {
  std::string words = PackageFailure(file, key, &result);
  return Fail(file + ": " + words + " (" + CodeText(result) + ")");
}

// A stub that is itself code-signed: its table is removed, for no signer handles a table that other
// data follows.
bool RemoveStubCertificateTable(const std::string& path, ByteVector* stub, std::string* error) {
  uint32_t removed = 0;
  if (!RemoveCertificateTable(stub, &removed, error)) {
    *error = path + ": " + *error;
    return false;
  }
  if (removed != 0) {
    PrintWarning(path + " is code-signed; its certificate table (" + std::to_string(removed) +
                 " bytes) is removed: code-sign the package instead (build --authenticode)");
  }
  return true;
}

// The certificate table that follows the record of a package with the given signed length; false
// when there is none.
bool CertificateTableAfterRecord(const std::string& file, uint32_t signedLength, PeSigningFields* fields) {
  ByteVector head;
  std::string ignored;
  return ReadFilePrefix(file, kHeaderReadLimit, &head, &ignored) && ReadPeSigningFields(head, fields) &&
         fields->tableOffset != 0 && uint64_t{fields->tableOffset} >= uint64_t{signedLength} + kBinarySignatureRecordSize;
}

int RunKeygen(const ParsedArgs& args) {
  std::string prefix = args.Get("out");
  // A key pair replaced by mistake cannot be had back: packages signed with it no longer update.
  if (!args.Has("force")) {
    for (const std::string& path : {prefix + ".key", prefix + ".pub"}) {
      std::error_code code;
      // A link counts, even one that points nowhere.
      if (std::filesystem::symlink_status(FsPath(path), code).type() != std::filesystem::file_type::not_found) {
        return Fail("keygen: --out " + prefix + ": " + path + " already exists (give --force to replace it)");
      }
    }
  }
  std::string error, passphrase;
  if (args.Has("encrypt") && !KeyInput::Passphrase(args, prefix + ".key", true, &passphrase, &error)) {
    return Fail("keygen: " + error);
  }
  DsaPublicKey key;
  if (!GenerateKeyFiles(prefix + ".key", prefix + ".pub", passphrase, &error) ||
      !LoadPublicKeyFile(prefix + ".pub", &key, &error)) {
    return Fail(error);
  }
  std::printf("wrote %s.key (private, %sPKCS#8 PEM) and %s.pub (public, PEM)\nkey %s\n", prefix.c_str(),
              passphrase.empty() ? "" : "encrypted ", prefix.c_str(), FingerprintText(key).c_str());
  return kExitOk;
}

int RunStampKey(const ParsedArgs& args) {
  std::string in, pub = args.Get("pub"), out = args.Get("out");
  std::string error;
  Branding branding;
  if (!ParseBranding(args, out, &branding, &error)) return UsageError(error);
  if (int status = StubPath(args, &in)) return status;
  ByteVector stub;
  DsaPublicKey key;
  if (!ReadWholeFile(in, &stub, &error) || !LoadPublicKeyFile(pub, &key, &error) ||
      !RemoveStubCertificateTable(in, &stub, &error)) {
    return Fail(error);
  }
  if (branding.Any() && !ApplyBranding(branding, in, &stub, &error)) return Fail("stamp-key: " + error);
  if (!StampStubKey(&stub, key, &error)) return Fail(in + ": " + error);
  if (!WriteWholeFile(out, stub, &error)) return Fail(error);
  std::printf("stamped %s (key %s) into %s\nstub %s\n", pub.c_str(), FingerprintText(key).c_str(), out.c_str(),
              in.c_str());
  return kExitOk;
}

bool ParseRecordKind(const std::string& text, uint32_t* kind) {
  if (text == "binary") *kind = kBinarySignature;
  else if (text == "text") *kind = kTextSignature;
  else if (text == "digest") *kind = kTextDigest;
  else return false;
  return true;
}

bool ParseTableSize(const std::string& text, uint32_t* size) {
  char* end = nullptr;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || text[0] < '0' || text[0] > '9' || *end != '\0') return false;
  if (value == 0 || value > kMaxCertificateTableSize) return false;
  *size = static_cast<uint32_t>(value);
  return true;
}

// The setup program's first bytes, through its PE header's machine field where the file holds it:
// what SetupProgramProblem needs, without reading the whole program.
bool ReadSetupProgramStart(const std::string& path, uint64_t size, ByteVector* start, std::string* error) {
  constexpr size_t kDosHeader = 0x40;
  if (!ReadFilePrefix(path, kDosHeader, start, error)) return false;
  if (start->size() < kDosHeader) return true;
  uint64_t header = 0;
  for (int i = 3; i >= 0; --i) header = header << 8 | (*start)[0x3C + i];
  if (header + 6 > size || header + 6 <= kDosHeader) return true;
  return ReadFilePrefix(path, static_cast<size_t>(header + 6), start, error);
}

// The stub and key a build used, after its "wrote" line.
void PrintBuildInputs(const std::string& stubPath, const SigningKey& signer) {
  std::printf("stub %s\nkey %s\n", stubPath.c_str(), FingerprintText(signer.PublicKey()).c_str());
}

int RunBuild(const ParsedArgs& args) {
  std::string stubPath, keyPath = args.Get("key"), setupPath = args.Get("setup"), out = args.Get("out");
  if (const std::string problem = KeyInput::UsageProblem(args); !problem.empty()) return UsageError(problem);
  uint32_t kind = kBinarySignature;
  if (!ParseRecordKind(args.Get("record", "binary"), &kind)) {
    return UsageError("--record takes binary, text or digest, not '" + args.Get("record") + "'");
  }
  for (const std::string& item : args.All("file")) {
    if (item.find('=') == std::string::npos || item[0] == '=') {
      return UsageError("--file takes NAME=PATH, not '" + item + "'");
    }
  }
  uint32_t tableSize = 0;
  if (args.Has("authenticode-size") && !ParseTableSize(args.Get("authenticode-size"), &tableSize)) {
    return UsageError("--authenticode-size takes the certificate table's length in bytes, from 1 to " +
                      std::to_string(kMaxCertificateTableSize));
  }
  const bool codeSign = args.Has("authenticode");
  if ((codeSign || tableSize != 0) && kind != kBinarySignature) {
    return UsageError("--authenticode and --authenticode-size need --record binary");
  }
  const std::string signCommand = args.Get("authenticode");
  if (codeSign && (signCommand.find("{in}") == std::string::npos || signCommand.find("{out}") == std::string::npos)) {
    return UsageError("--authenticode COMMAND must hold {in} and {out}, the file to sign and the file to write");
  }
  std::string error;
  Branding branding;
  PackingOptions packing;
  if (!ParseBranding(args, out, &branding, &error) || !ReadPackingOptions(args, &packing, &error)) {
    return UsageError(error);
  }
  RunOptions run;
  std::string runProblem;
  if (!ReadRunOptions(args, &run, &runProblem)) return UsageError(runProblem);
  const std::string setupOption = run.msiPath.empty() ? "--setup " : "--runner ";
  if (!run.msiPath.empty()) setupPath = run.runnerPath;
  if (int status = StubPath(args, &stubPath)) return status;
  bool verbose = isatty(fileno(stderr)) != 0;
  std::vector<BuildInput> listed;
  if (!ListedInputs(args, &listed, &error) || !AddMsiInput(run, &listed, &error) ||
      !CheckListedNames(listed, &error)) {
    return Fail(error);
  }
  std::vector<BuildInput> inputs = {{"--stub " + stubPath, stubPath, ""}, {setupOption + setupPath, setupPath, ""}};
  // A key in a file is an input the output must not replace, and none of the others may be it; one
  // from a pipe, stdin or the environment is read once, below. The listed files come last.
  const bool keyFile = KeyInput::NamesFile(args) && IsRegularFile(keyPath);
  std::vector<BuildInput> packed = inputs;  // what goes into the package: all but the key
  packed.insert(packed.end(), listed.begin(), listed.end());
  if (keyFile) inputs.push_back({"--key " + keyPath, keyPath, ""});
  inputs.insert(inputs.end(), listed.begin(), listed.end());
  if ((keyFile && !CheckNoInputIsKey(keyPath, packed, &error)) || !CheckOutputIsNoInput(out, inputs, &error) ||
      (!branding.iconPath.empty() &&
       !CheckOutputIsNoInput(out, {{"--icon " + branding.iconPath, branding.iconPath, ""}}, &error))) {
    return Fail(error);
  }
  // Sized before anything is read, so that a package too large is refused at once.
  uint64_t inputSize = 0;
  for (BuildInput& input : inputs) {
    if (!RegularFileSize(input.path, &input.size, &error)) return Fail(error);
    inputSize += input.size;
  }
  if (inputSize > kMaxPackageSize) {
    return Fail("build: the inputs add up to " + std::to_string(inputSize) +
                " bytes, and a package must stay under 2 GiB");
  }

  SigningKey signer;
  StreamedPackage package;
  bool keyUsage = false;
  if (!KeyInput::Load(args, &signer, &keyUsage, &error)) return keyUsage ? UsageError(error) : Fail(error);
  ByteVector setupStart;
  if (!ReadWholeFile(stubPath, &package.stub, &error) ||
      !ReadSetupProgramStart(setupPath, inputs[1].size, &setupStart, &error)) {
    return Fail(error);
  }
  package.mainProgram = {"", setupPath, inputs[1].size, 0};
  if (IsPackage(stubPath, package.stub)) return Fail("build: --stub " + stubPath + ": this is a package, not a stub");
  if (const char* problem = SetupProgramProblem(setupStart)) {
    return Fail("build: " + setupOption + setupPath + " " + problem + ", and the stub starts it as a program");
  }
  if (!RemoveStubCertificateTable(stubPath, &package.stub, &error)) return Fail(error);
  // Resources first: the key block keeps its place, and the resources' layout is the stub's.
  if (branding.Any() && !ApplyBranding(branding, stubPath, &package.stub, &error)) return Fail("build: " + error);
  std::vector<std::string> elevation;
  // The manifest lies in the setup program's image, ahead of whatever data is appended to it.
  ByteVector setupImage;
  if (!ReadSetupImage(setupPath, &setupImage, &error)) return Fail("build: " + error);
  if (!CheckSetupElevation(package.stub, setupImage, &elevation, &error)) {
    return Fail("build: " + setupOption + setupPath + ": " + error);
  }
  for (const std::string& warning : elevation) PrintWarning(setupOption + setupPath + ": " + warning);
  if (!PrepareStubKey(&package.stub, signer, args.Has("restamp"), &error)) return Fail(stubPath + ": " + error);
  // The bare stub carries a signature record of its own, ahead of the package data.
  if (!AppendRecord(&package.stub, kBinarySignature, signer, &error)) return Fail(error);
  package.commandTemplate = run.commandTemplate;
  package.commandChunks = RunOptionChunks(run);
  for (const std::string& warning : TemplateWarnings(run.commandTemplate, "--command", run.placement)) {
    PrintWarning(warning);
  }
  for (const std::string& warning : TemplateWarnings(run.silentTemplate, "--silent-command", run.placement)) {
    if (run.hasSilentTemplate) PrintWarning(warning);
  }
  for (size_t i = inputs.size() - listed.size(); i < inputs.size(); ++i) {
    ListedSource source{inputs[i].name, inputs[i].path, inputs[i].size, 0};
    if (!PackageTime(source.path, &source.time, &error)) return Fail(error);
    package.files.push_back(std::move(source));
  }
  if (!IsPackageSignatureKind(kind)) {
    PrintWarning(std::string("the stub refuses packages with a ") + KindName(kind) +
                 " record; sign with --record binary for a package it runs");
  }
  package.packing = packing;
  const std::string packingNote = FitPackingToStub(package.stub, &package.packing);
  if (!packingNote.empty() && !Quiet()) std::fprintf(stderr, "sfxpack: note: %s\n", packingNote.c_str());
  verbose = verbose && inputSize >= kLargeBuild;
  if (codeSign || tableSize != 0) {
    // The code signer works on a whole file: the unsigned package is written once, into a folder of
    // this run's alone beside out (a fixed name there could be replaced between its digest and its
    // hand-over), and signed from there.
    Progress(verbose, "compressing");
    PrivateFolder staging;
    if (!staging.Create(out, &error)) return Fail("build: " + error);
    staging.RemoveOnInterrupt("unsigned.exe");
    const std::string unsignedPath = staging.path() + "/unsigned.exe";
    UnsignedPackageFile unsignedPackage{unsignedPath, 0};
    {
      ReplacingFile file;
      auto write = [&](const uint8_t* bytes, size_t length, std::string* writeError) {
        return file.Write(bytes, length, writeError);
      };
      if (!file.Open(unsignedPath, &error) ||
          !WriteUnsignedPackage(package, signer, kBinarySignatureRecordSize, write, &unsignedPackage.size, &error) ||
          !file.Commit(&error)) {
        return Fail("build: " + error);
      }
    }
    Progress(verbose, "signing");
    if (verbose && !Quiet()) std::fprintf(stderr, "\n");  // the signing command writes its own lines
    const RecordMaker makeRecord = [&](const uint8_t digest[16], ByteVector* record, std::string* signError) {
      std::string reason;
      if (MakeRecord(signer, static_cast<SignatureKind>(kind), digest, record, &reason) == kOk) return true;
      *signError = "cannot sign: " + reason;
      return false;
    };
    if (codeSign) {
      CodeSigningRun run;
      run.command = signCommand;
      run.out = out;
      run.firstGuess = tableSize;
      if (!CodeSignPackage(unsignedPackage, makeRecord, signer.PublicKey(), &run, &error)) {
        return Fail(out + ": " + error);
      }
      std::printf("wrote %s: %llu bytes, %zu files, %s record, code-signed in %zu round(s), certificate table "
                  "%u bytes\n", out.c_str(), static_cast<unsigned long long>(run.size), package.files.size(),
                  KindName(kind), run.tableSizes.size(), run.tableSizes.back());
      PrintBuildInputs(stubPath, signer);
      return kExitOk;
    }
    uint64_t tableOffset = CertificateTableOffsetAfter(unsignedPackage.size + kBinarySignatureRecordSize);
    if (tableOffset > kMaxPackageSize) return Fail("build: the package would not fit in 2 GiB");
    uint64_t handedSize = 0;
    if (!WriteAwaitingCodeSignature(unsignedPackage, static_cast<uint32_t>(tableOffset), tableSize, makeRecord, out,
                                    &handedSize, &error)) {
      return Fail(out + ": " + error);
    }
    std::printf("wrote %s: %llu bytes, %zu files, %s record, awaiting a code signature whose certificate table is "
                "%u bytes: code-sign it, then run 'sfxpack finish-signed SIGNED -o OUT'\n",
                out.c_str(), static_cast<unsigned long long>(handedSize), package.files.size(), KindName(kind),
                tableSize);
    PrintBuildInputs(stubPath, signer);
    return kExitOk;
  }
  uint64_t inputsSize = package.mainProgram.size, size = 0;
  for (const ListedSource& source : package.files) inputsSize += source.size;
  ProgressLine::Begin("building", 2 * inputsSize);  // read for the prefix block, then packed
  if (!WritePackageFile(package, signer, static_cast<SignatureKind>(kind), out, &size, &error)) {
    ProgressLine::Abandon();
    return Fail("build: " + error);
  }
  ProgressLine::End();
  std::printf("wrote %s: %llu bytes, %zu files, %s record\n", out.c_str(), static_cast<unsigned long long>(size),
              package.files.size(), KindName(kind));
  PrintBuildInputs(stubPath, signer);
  return kExitOk;
}

int RunFinishSigned(const ParsedArgs& args) {
  const std::string& file = args.positionals()[0];
  const std::string out = args.Get("out");
  PackageKey key;
  if (int status = VerificationKey(args, file, &key)) return status;
  if (!key.stubRefuses.empty()) return FailStubRefuses(file, key);
  std::string error;
  if (!FinishCodeSigned(file, key.key, out, &error)) {
    ProgressLine::Abandon();
    return Fail(error);
  }
  ProgressLine::End();
  std::printf("wrote %s: the package's own signature and the certificate table agree\n", out.c_str());
  return kExitOk;
}

int RunVerify(const ParsedArgs& args) {
  const std::string& file = args.positionals()[0];
  PackageKey key;
  if (int status = VerificationKey(args, file, &key)) return status;
  ResultCode result = VerifyShowingProgress(file, key.key);
  uint32_t kind = 0, signedLength = 0;
  if (result == kOk) result = FindSignatureRecord(file.c_str(), nullptr, &kind, &signedLength);
  if (result == kOk && !IsPackageSignatureKind(kind)) result = kErrorFileInvalid;
  // Valid means what the stub would open: the directory too, and every listed file inside the
  // signed range.
  if (result == kOk) {
    SfxArchive archive(key.key);
    result = archive.Open(file.c_str());
  }
  ResultCode code = result;
  std::string failure = result == kOk ? "valid" : PackageFailure(file, key.key, &code);
  if (result == kOk && !key.stubRefuses.empty()) {
    result = code = kErrorFileInvalid;
    failure = key.stubRefuses;
  }
  if (args.Has("json")) {
    bool found = FindSignatureRecord(file.c_str(), nullptr, &kind, &signedLength) == kOk;
    PeSigningFields fields;
    std::string table = "null";
    if (found && CertificateTableAfterRecord(file, signedLength, &fields)) {
      table = "{\"offset\": " + std::to_string(fields.tableOffset) + ", \"size\": " +
              std::to_string(fields.tableSize) + ", \"coveredBySignature\": false}";
    }
    std::printf("{\"file\": %s, \"kind\": %s, \"signedLength\": %s, \"key\": %s, \"fingerprint\": %s, "
                "\"certificateTable\": %s, \"result\": %s, \"code\": %u}\n",
                JsonString(file).c_str(), found ? JsonString(KindName(kind)).c_str() : "null",
                found ? std::to_string(signedLength).c_str() : "null", key.stamped ? "\"stamped\"" : "\"--pub\"",
                JsonString(key.fingerprint.Hex()).c_str(), table.c_str(),
                JsonString(failure).c_str(), code);
  }
  if (result != kOk) return Fail(file + ": " + failure + " (" + CodeText(code) + ")");
  PeSigningFields fields;
  if (!args.Has("json")) {
    std::printf("%s: valid %s record, signed length %u bytes, key %s\n", file.c_str(), KindName(kind), signedLength,
                key.fingerprint.Text().c_str());
    if (CertificateTableAfterRecord(file, signedLength, &fields)) {
      std::printf("%s: a certificate table follows the record (offset %u, %u bytes); the package's signature "
                  "does not cover it: check the code signature with osslsigncode verify or signtool verify\n",
                  file.c_str(), fields.tableOffset, fields.tableSize);
    }
  }
  if (key.stamped && !args.Has("fingerprint")) {
    PrintWarning(file + ": checked against the key stamped in the file itself, which proves it is intact, not who "
                 "signed it; give --fingerprint FP or --pub PUB to check its origin");
  }
  return kExitOk;
}

int RunList(const ParsedArgs& args) {
  const std::string& file = args.positionals()[0];
  PackageKey key;
  if (int status = VerificationKey(args, file, &key)) return status;
  SfxArchive archive(key.key);
  ResultCode result = archive.Open(file.c_str());
  if (result != kOk) return FailPackage(file, key.key, result);
  if (!key.stubRefuses.empty()) return FailStubRefuses(file, key);
  uint32_t signedLength = 0;
  PeSigningFields fields;
  const bool table = FindSignatureRecord(file.c_str(), nullptr, nullptr, &signedLength) == kOk &&
                     CertificateTableAfterRecord(file, signedLength, &fields);
  BrandingSummary branding;
  ByteVector head;
  std::string error;
  const bool branded = ReadFilePrefix(file, kStubSearchLimit, &head, &error) && ReadBranding(head, &branding);
  if (args.Has("json")) {
    std::string tableJson = "null";
    if (table) {
      tableJson = "{\"offset\": " + std::to_string(fields.tableOffset) + ", \"size\": " +
                  std::to_string(fields.tableSize) + ", \"coveredBySignature\": false}";
    }
    std::printf("{\"mode\": %s, \"command\": %s, \"fingerprint\": %s, \"mainProgram\": {\"offset\": %u, "
                "\"size\": %u}, \"certificateTable\": %s, \"branding\": %s, \"entries\": [",
                JsonString(StdString(archive.Mode())).c_str(),
                (JsonString(StdString(archive.commandTemplate)) + RunOptionsJson(archive, JsonString)).c_str(),
                JsonString(key.fingerprint.Hex()).c_str(), archive.mainProgramOffset, archive.mainProgramSize,
                tableJson.c_str(), branded ? BrandingJson(branding).c_str() : "null");
    for (size_t i = 0; i < archive.entries.size(); ++i) {
      const ArchiveEntry& e = archive.entries[i];
      std::printf("%s\n  {\"name\": %s, \"offset\": %u, \"size\": %u, \"unpackedSize\": %u, \"method\": \"%s\", "
                  "\"time\": %s}", i ? "," : "", JsonString(StdString(e.name)).c_str(), e.offset, e.size, e.ExtractedSize(),
                  e.deflated ? "deflated" : "stored", JsonString(IsoTime(e.time)).c_str());
    }
    std::printf("%s]}\n", archive.entries.empty() ? "" : "\n");
    return kExitOk;
  }
  // The package's own text is escaped: a template or name with line ends or terminal controls could
  // otherwise print lines of its own, or hide these.
  std::printf("mode:         %s\ncommand:      %s\n%skey:          %s\nmain program: offset %u, size %u\n"
              "entries:      %zu\n",
              EscapedText(StdString(archive.Mode())).c_str(), EscapedText(StdString(archive.commandTemplate)).c_str(),
              RunOptionsText(archive).c_str(),
              key.fingerprint.Text().c_str(),
              archive.mainProgramOffset, archive.mainProgramSize, archive.entries.size());
  if (branded) std::fputs(BrandingText(branding).c_str(), stdout);
  if (table) {
    std::printf("code signing: a certificate table follows the record (offset %u, %u bytes), outside the "
                "package's signature\n", fields.tableOffset, fields.tableSize);
  }
  for (const ArchiveEntry& e : archive.entries) {
    std::printf("  %-20s %10u %10u %10u %-8s  %s\n", IsoTime(e.time).c_str(), e.offset, e.size, e.ExtractedSize(),
                e.deflated ? "deflated" : "stored", EscapedText(StdString(e.name)).c_str());
  }
  return kExitOk;
}

int RunExtract(const ParsedArgs& args) {
  const std::string& file = args.positionals()[0];
  const std::string& dir = args.positionals()[1];
  PackageKey key;
  if (int status = VerificationKey(args, file, &key)) return status;
  SfxArchive archive(key.key);
  ResultCode result = archive.Open(file.c_str());
  if (result != kOk) return FailPackage(file, key.key, result);
  if (!key.stubRefuses.empty()) return FailStubRefuses(file, key);
  std::string error;
  if (!MakeDirectory(dir, &error)) return Fail(error);
  // Every output is created new and never through a link; what stands at an output's name already is
  // an error, or with --force is removed first (a link itself, never what it points to).
  std::vector<std::string> outputs = {kMainProgramName};
  for (const ArchiveEntry& entry : archive.entries) outputs.push_back(StdString(entry.name));
  for (const std::string& name : outputs) {
    if (!ClearOutput(StdString(JoinPath(dir, name.c_str())), args.Has("force"), &error)) return Fail(error);
  }
  std::string setup = StdString(JoinPath(dir, kMainProgramName));
  result = archive.ExtractMainProgram(setup.c_str());
  if (result != kOk) return Fail(setup + ": cannot extract the setup program (" + CodeText(result) + ")");
  {
    ExtractionProgress progress;
    result = archive.ExtractFiles(dir.c_str());
    if (result == kOk) ProgressLine::End();
  }
  if (result != kOk) return Fail(dir + ": cannot extract the listed files (" + CodeText(result) + ")");
  std::printf("extracted setup.ovr and %zu files into %s, key %s\n", archive.entries.size(), dir.c_str(),
              key.fingerprint.Text().c_str());
  return kExitOk;
}

const OptionSpec kPubOption = {"pub", 0, "PUB", false, "public key (PEM); default: the key stamped in FILE"};
const OptionSpec kFingerprintOption = {"fingerprint", 0, "FP", true,
                                       "fail unless the key has this fingerprint (SHA256:... or hex)"};
const OptionSpec kStubOption = {"stub", 0, "STUB", false,
                                "the stub executable; default: the installed one, ../share/sfxstub/sfxstub.exe "
                                "from the tool's folder"};
const OptionSpec kPassphraseEnvOption = {
    "passphrase-env", 0, "NAME", false,
    "an encrypted key's passphrase is in environment variable NAME (default: asked on the terminal)"};
const OptionSpec kQuietOption = {"quiet", 'q', nullptr, false, "no progress line, no warnings; errors still print"};
const char kBrandingUsage[] =
    "[--icon FILE.ico] [--file-version A.B.C.D] [--product-version A.B.C.D] [--version-string NAME=VALUE]... "
    "[--execution-level LEVEL] [--caption TEXT]";

// options with the branding options before the last one, -o OUT.
std::vector<OptionSpec> Branded(std::vector<OptionSpec> options) {
  const std::vector<OptionSpec> branding = BrandingOptions();
  options.insert(options.end() - 1, branding.begin(), branding.end());
  return options;
}

}  // namespace

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands = {
      {"keygen", "--out PREFIX [--force] [--encrypt [--passphrase-env NAME]]", "Make a DSA key pair: PREFIX.key (PKCS#8 PEM) and PREFIX.pub (SPKI PEM).",
       {{"out", 'o', "PREFIX", false, "where to write the two key files", true},
        {"force", 0, nullptr, false, "replace key files that already exist"},
        {"encrypt", 0, nullptr, false, "encrypt PREFIX.key with a passphrase (PBES2, AES-256-CBC), asked "
         "twice on the terminal or taken from --passphrase-env"},
        kPassphraseEnvOption},
       0, RunKeygen},
      {"stamp-key", std::string("[--stub IN] --pub PUB ") + kBrandingUsage + " -o OUT",
       "Write a copy of a stub with a public key in its key block, and the branding given.",
       Branded({kStubOption,
                {"pub", 0, "PUB", false, "public key (PEM)", true},
                {"out", 'o', "OUT", false, "the stamped copy", true}}),
       0, RunStampKey},
      {"build",
       "[--stub STUB] (--key KEY|--key-env NAME) [--passphrase-env NAME] (--setup PROGRAM | --msi PRODUCT.msi [--runner RUNNER]) "
       "[--command TEMPLATE] [--silent-command TEMPLATE] [--srcpath end|start|none] [--file NAME=PATH]... [--dir DIR] [--level N|--store] [--record binary|text|digest] [--restamp] [--authenticode COMMAND] "
       "[--authenticode-size BYTES] [-v] " + std::string(kBrandingUsage) + " -o OUT",
       "Build a signed package: the stub, the setup program, the listed files, the signature.",
       Branded({kStubOption,
        {"key", 0, "KEY", false, "private key (PEM; '-' reads it from standard input)"},
        {"key-env", 0, "NAME", false, "read the private key (PEM) from environment variable NAME instead"},
        kPassphraseEnvOption,
        {"setup", 0, "PROGRAM", false, "the setup program, run after extraction"},
        {"command", 0, "TEMPLATE", false, "its arguments; %SRCPATH%, %TMPPATH%, %CMDLINE% are expanded"},
        {"silent-command", 0, "TEMPLATE", false,
         "its arguments instead when the stub is started with /silent, /verysilent or /msi"},
        {"srcpath", 0, "WHERE", false,
         "where /srcpath \"FOLDER\" goes: end (default, after the arguments), start (before them) or none"},
        {"msi", 0, "PRODUCT.msi", false,
         "instead of --setup: a Windows Installer package, listed and run by the MSI runner through msiexec "
         "(default --command: none, --silent-command: /qn; the folder as the property SFXSRCPATH)"},
        {"runner", 0, "RUNNER", false,
         "the MSI runner; default: the installed one, ../share/sfxstub/msirunner.exe from the tool's folder"},
        {"file", 0, "NAME=PATH", true, "a file to extract beside it, as NAME"},
        {"dir", 0, "DIR", false, "every file directly inside DIR, by its own name"},
        PackingOptionSpecs()[0], PackingOptionSpecs()[1],
        {"record", 0, "KIND", false, "signature record: binary (default), text or digest"},
        {"restamp", 0, nullptr, false, "replace another key already stamped in the stub"},
        {"verbose", 'v', nullptr, false, "say what is done on the way (links followed in --dir)"},
        {"authenticode", 0, "COMMAND", false,
         "code-sign the package: COMMAND signs {in} into {out}, run by the shell in a private folder beside "
         "OUT (so other files by absolute path), for example "
         "'osslsigncode sign -certs /keys/c.crt -key /keys/c.key -in {in} -out {out}'"},
        {"authenticode-size", 0, "BYTES", false,
         "the certificate table's length in bytes: alone, write a package to code-sign by hand and "
         "finish with finish-signed; with --authenticode, the length tried first"},
        {"out", 'o', "OUT", false, "the package to write", true}}),
       0, RunBuild},
      {"finish-signed", "[--pub PUB] [--fingerprint FP]... SIGNED -o OUT",
       "Finish a package built with --authenticode-size and code-signed since: checksum back to 0, "
       "checked and verified.",
       {kPubOption, kFingerprintOption, {"out", 'o', "OUT", false, "the finished package", true}}, 1,
       RunFinishSigned},
      {"verify", "[--pub PUB] [--fingerprint FP]... [--json] FILE",
       "Check a package's signature as the stub does, and show whose key signed it.",
       {kPubOption, kFingerprintOption, {"json", 0, nullptr, false, "print JSON"}}, 1, RunVerify},
      {"list", "[--pub PUB] [--fingerprint FP]... [--json] FILE", "Show a verified package's directory.",
       {kPubOption, kFingerprintOption, {"json", 0, nullptr, false, "print JSON"}}, 1, RunList},
      {"extract", "[--pub PUB] [--fingerprint FP]... [--force] FILE DIR",
       "Verify, then extract setup.ovr and every listed file into DIR.",
       {kPubOption, kFingerprintOption,
        {"force", 0, nullptr, false, "remove files already standing at the outputs' names"}},
       2,
       RunExtract},
  };
  return commands;
}

const CommandSpec* FindCommand(const std::string& name) {
  for (const auto& command : Commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::vector<OptionSpec> CommandOptions(const CommandSpec& command) {
  std::vector<OptionSpec> options = command.options;
  options.push_back(kQuietOption);
  return options;
}

std::string CommandHelp(const CommandSpec& command) {
  std::vector<OptionSpec> options = CommandOptions(command);
  options.push_back({"help", 'h', nullptr, false, "this help"});
  return std::string("usage: sfxpack ") + command.name + " " + command.usage + "\n\n" + command.summary +
         "\n\noptions:\n" + DescribeOptions(options);
}

int RunCommand(const CommandSpec& command, const std::vector<std::string>& args) {
  running = &command;
  ParsedArgs parsed;
  std::string error;
  std::vector<OptionSpec> options = CommandOptions(command);
  if (!ParseArgs(options, args, &parsed, &error)) return UsageError(error);
  SetQuiet(parsed.Has("quiet"));
  ProgressLine::Enable(ProgressLine::StderrIsTerminal() && !Quiet() && !parsed.Has("json"));
  if (parsed.positionals().size() != command.positionals) {
    return UsageError("expected " + std::to_string(command.positionals) + " argument(s), got " +
                      std::to_string(parsed.positionals().size()) + ": " + command.usage);
  }
  // Packages and keys are files: read with seeks, written through a temporary beside them.
  for (const auto& value : parsed.positionals()) {
    if (value == "-") return UsageError("'-' is not a file: packages need a file to seek in");
  }
  for (const auto& option : options) {
    if (option.valueName == nullptr) continue;
    if (!std::strcmp(option.name, "command") || !std::strcmp(option.name, "silent-command") ||
        !std::strcmp(option.name, "srcpath") || !std::strcmp(option.name, "record") ||
        !std::strcmp(option.name, "fingerprint") || !std::strcmp(option.name, "authenticode") ||
        !std::strcmp(option.name, "authenticode-size") || !std::strcmp(option.name, "key") ||
        IsBrandingTextOption(option.name)) {
      continue;  // not file names
    }
    for (const auto& value : parsed.All(option.name)) {
      if (value == "-") {
        return UsageError(std::string("--") + option.name + " -: '-' is not a file: packages need a file to seek in");
      }
    }
  }
  return command.run(parsed);
}

}  // namespace sfx
