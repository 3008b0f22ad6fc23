#include "tools/sfxpack/sfxpack_commands.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/platform/join_path.h"
#include "sfxstub/verify/signed_file.h"
#include "tools/sfxpack/authenticode.h"
#include "tools/sfxpack/build_checks.h"
#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/package_file_writer.h"
#include "tools/sfxpack/package_layout.h"
#include "tools/sfxpack/prefix_block.h"
#include "tools/sfxpack/sfxpack_keys.h"
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

int Fail(const std::string& message) {
  std::fprintf(stderr, "sfxpack: %s\n", message.c_str());
  return kExitFailed;
}

void Progress(bool show, const char* stage) {
  if (show) std::fprintf(stderr, "\rsfxpack: %-40s", stage);
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

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The key to verify FILE with: --pub when given, else the key stamped in FILE's stub.
bool VerificationKey(const ParsedArgs& args, const std::string& file, DsaPublicKey* key,
                     std::string* error) {
  if (args.Has("pub")) return LoadPublicKeyFile(args.Get("pub"), key, error);
  ByteVector head;
  if (!ReadFilePrefix(file, kStubSearchLimit, &head, error)) return false;
  if (!ReadStubKey(head, key, error)) {
    *error = file + ": " + *error + "; give the key with --pub";
    return false;
  }
  return true;
}

std::string OpenFailure(const std::string& file, ResultCode result) {
  switch (result) {
    case kErrorFileNotFound: return file + ": cannot open";
    case kErrorInvalidParameter: return file + ": the package's mode is not \"extract\"";
    case kBadChunkDirectory: return file + ": damaged package directory (a \"CMDP\" chunk of the wrong size)";
    default: return file + ": not a valid signed package (damaged, or signed with another key)";
  }
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
    std::fprintf(stderr, "warning: %s is code-signed; its certificate table (%u bytes) is removed: code-sign "
                         "the package instead (build --authenticode)\n", path.c_str(), removed);
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
  if (prefix.empty()) return Fail("keygen: --out PREFIX is required");
  // A key pair replaced by mistake cannot be had back: packages signed with it no longer update.
  if (!args.Has("force")) {
    for (const std::string& path : {prefix + ".key", prefix + ".pub"}) {
      std::error_code code;
      // A link counts, even one that points nowhere.
      if (std::filesystem::symlink_status(path, code).type() != std::filesystem::file_type::not_found) {
        return Fail("keygen: --out " + prefix + ": " + path + " already exists (give --force to replace it)");
      }
    }
  }
  std::string error;
  if (!GenerateKeyFiles(prefix + ".key", prefix + ".pub", &error)) return Fail(error);
  std::printf("wrote %s.key (private, PKCS#8 PEM) and %s.pub (public, PEM)\n", prefix.c_str(),
              prefix.c_str());
  return kExitOk;
}

int RunStampKey(const ParsedArgs& args) {
  std::string in = args.Get("stub"), pub = args.Get("pub"), out = args.Get("out");
  if (in.empty() || pub.empty() || out.empty()) return Fail("stamp-key: --stub, --pub and -o are required");
  std::string error;
  ByteVector stub;
  DsaPublicKey key;
  if (!ReadWholeFile(in, &stub, &error) || !LoadPublicKeyFile(pub, &key, &error) ||
      !RemoveStubCertificateTable(in, &stub, &error)) {
    return Fail(error);
  }
  if (!StampStubKey(&stub, key, &error)) return Fail(in + ": " + error);
  if (!WriteWholeFile(out, stub, &error)) return Fail(error);
  std::printf("stamped %s into %s\n", pub.c_str(), out.c_str());
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

// File times are the sources' modification times, no later than SOURCE_DATE_EPOCH when it is set,
// and inside the signed 32-bit range the package stores.
bool PackageTime(const std::string& path, uint32_t* time, std::string* error) {
  int64_t seconds = 0;
  if (!FileTime(path, &seconds, error)) return false;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
    char* end = nullptr;
    long long limit = std::strtoll(epoch, &end, 10);
    if (end == epoch || *end != '\0') {
      *error = "SOURCE_DATE_EPOCH is not a number of seconds";
      return false;
    }
    if (seconds > limit) seconds = limit;
  }
  if (seconds < INT32_MIN) seconds = INT32_MIN;
  if (seconds > INT32_MAX) seconds = INT32_MAX;
  *time = static_cast<uint32_t>(static_cast<int32_t>(seconds));
  return true;
}

// The unsigned package in memory, for the code-signing flows, which hand the whole file to a signer.
bool LayOutInMemory(const StreamedPackage& package, const SigningKey& signer, ByteVector* out, std::string* error) {
  PackageSpec spec{package.stub, {}, package.mainProgram, package.commandTemplate, {}};
  for (const ListedSource& source : package.files) {
    PackageFile file{source.name, {}, source.time};
    if (!ReadWholeFile(source.path, &file.bytes, error)) return false;
    spec.files.push_back(std::move(file));
  }
  return MakePrefixBlock(signer, spec, &spec.prefixBlock, error) && LayOutPackage(spec, out, error) == kOk;
}

// The listed files of a build, in the order they are packed: every --file, then the files of --dir.
bool ListedInputs(const ParsedArgs& args, std::vector<BuildInput>* listed, std::string* error) {
  for (const std::string& item : args.All("file")) {
    size_t equals = item.find('=');
    if (equals == std::string::npos || equals == 0) {
      *error = "build: --file takes NAME=PATH, not '" + item + "'";
      return false;
    }
    listed->push_back({"--file " + item, item.substr(equals + 1), item.substr(0, equals)});
  }
  if (args.Has("dir")) {
    std::string dir = args.Get("dir");
    std::vector<std::string> names, links;
    if (!ListDirectory(dir, &names, error, &links)) return false;
    if (args.Has("verbose")) {
      for (const auto& link : links) {
        std::fprintf(stderr, "sfxpack: %s is a link; adding the file it points to\n",
                     JoinPath(dir, link.c_str()).c_str());
      }
    }
    for (const auto& name : names) {
      listed->push_back({"--dir " + dir, StdString(JoinPath(dir, name.c_str())), name});
    }
  }
  return true;
}

int RunBuild(const ParsedArgs& args) {
  std::string stubPath = args.Get("stub"), keyPath = args.Get("key"), setupPath = args.Get("setup"),
              out = args.Get("out");
  if (stubPath.empty() || keyPath.empty() || setupPath.empty() || out.empty()) {
    return Fail("build: --stub, --key, --setup and -o are required");
  }
  uint32_t kind = kBinarySignature;
  if (!ParseRecordKind(args.Get("record", "binary"), &kind)) {
    return Fail("build: --record takes binary, text or digest");
  }
  bool verbose = isatty(fileno(stderr)) != 0;
  std::string error;
  std::vector<BuildInput> listed;
  if (!ListedInputs(args, &listed, &error) || !CheckListedNames(listed, &error)) return Fail(error);
  std::vector<BuildInput> inputs = {
      {"--stub " + stubPath, stubPath, ""}, {"--key " + keyPath, keyPath, ""}, {"--setup " + setupPath, setupPath, ""}};
  inputs.insert(inputs.end(), listed.begin(), listed.end());
  if (!CheckOutputIsNoInput(out, inputs, &error)) return Fail(error);
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
  if (!LoadSigningKey(keyPath, &signer, &error) || !ReadWholeFile(stubPath, &package.stub, &error) ||
      !ReadWholeFile(setupPath, &package.mainProgram, &error)) {
    return Fail(error);
  }
  if (IsPackage(stubPath, package.stub)) return Fail("build: --stub " + stubPath + ": this is a package, not a stub");
  if (const char* problem = SetupProgramProblem(package.mainProgram)) {
    return Fail("build: --setup " + setupPath + " " + problem + ", and the stub starts it as a program");
  }
  uint32_t tableSize = 0;
  if (args.Has("authenticode-size") && !ParseTableSize(args.Get("authenticode-size"), &tableSize)) {
    return Fail("build: --authenticode-size takes the certificate table's length in bytes, from 1 to " +
                std::to_string(kMaxCertificateTableSize));
  }
  const bool codeSign = args.Has("authenticode");
  if ((codeSign || tableSize != 0) && kind != kBinarySignature) {
    return Fail("build: a code-signed package needs --record binary");
  }
  const std::string signCommand = args.Get("authenticode");
  if (codeSign && (signCommand.find("{in}") == std::string::npos || signCommand.find("{out}") == std::string::npos)) {
    return Fail("build: --authenticode COMMAND must hold {in} and {out}, the file to sign and the file to write");
  }
  if (!RemoveStubCertificateTable(stubPath, &package.stub, &error)) return Fail(error);
  if (!PrepareStubKey(&package.stub, signer, args.Has("restamp"), &error)) return Fail(stubPath + ": " + error);
  // The bare stub carries a signature record of its own, ahead of the package data.
  if (!AppendRecord(&package.stub, kBinarySignature, signer, &error)) return Fail(error);
  package.commandTemplate = args.Get("command");
  for (const std::string& warning : TemplateWarnings(package.commandTemplate)) {
    std::fprintf(stderr, "sfxpack: warning: %s\n", warning.c_str());
  }
  for (size_t i = 3; i < inputs.size(); ++i) {
    ListedSource source{inputs[i].name, inputs[i].path, inputs[i].size, 0};
    if (!PackageTime(source.path, &source.time, &error)) return Fail(error);
    package.files.push_back(std::move(source));
  }
  if (!IsPackageSignatureKind(kind)) {
    std::fprintf(stderr, "warning: the stub refuses packages with a %s record; sign with --record binary "
                         "for a package it runs\n", KindName(kind));
  }
  verbose = verbose && inputSize >= kLargeBuild;
  if (codeSign || tableSize != 0) {
    // The code signer works on the whole file: the package is laid out in memory.
    Progress(verbose, "compressing");
    ByteVector bytes;
    if (!LayOutInMemory(package, signer, &bytes, &error)) return Fail("build: " + error);
    Progress(verbose, "signing");
    if (verbose) std::fprintf(stderr, "\n");  // the signing command writes its own lines
    const RecordSigner sign = [&](ByteVector* toSign, std::string* signError) {
      return AppendRecord(toSign, kind, signer, signError);
    };
    if (codeSign) {
      CodeSigningRun run;
      run.command = signCommand;
      run.out = out;
      run.firstGuess = tableSize;
      if (!CodeSignPackage(bytes, sign, signer.PublicKey(), &run, &error)) return Fail(out + ": " + error);
      std::printf("wrote %s: %llu bytes, %zu files, %s record, code-signed in %zu round(s), certificate table "
                  "%u bytes\n", out.c_str(), static_cast<unsigned long long>(run.size), package.files.size(),
                  KindName(kind), run.tableSizes.size(), run.tableSizes.back());
      return kExitOk;
    }
    ByteVector signedPackage, handed;
    uint64_t tableOffset = CertificateTableOffsetAfter(bytes.size() + kBinarySignatureRecordSize);
    if (tableOffset > kMaxPackageSize) return Fail("build: the package would not fit in 2 GiB");
    if (!SignOverCertificateEntry(bytes, static_cast<uint32_t>(tableOffset), tableSize, sign, &signedPackage,
                                  &handed, &error) ||
        !WriteWholeFile(out, handed, &error)) {
      return Fail(out + ": " + error);
    }
    std::printf("wrote %s: %zu bytes, %zu files, %s record, awaiting a code signature whose certificate table is "
                "%u bytes: code-sign it, then run 'sfxpack finish-signed SIGNED -o OUT'\n",
                out.c_str(), handed.size(), package.files.size(), KindName(kind), tableSize);
    return kExitOk;
  }
  Progress(verbose, "writing");
  uint64_t size = 0;
  if (!WritePackageFile(package, signer, static_cast<SignatureKind>(kind), out, &size, &error)) {
    return Fail("build: " + error);
  }
  if (verbose) std::fprintf(stderr, "\n");
  std::printf("wrote %s: %llu bytes, %zu files, %s record\n", out.c_str(), static_cast<unsigned long long>(size),
              package.files.size(), KindName(kind));
  return kExitOk;
}

int RunFinishSigned(const ParsedArgs& args) {
  const std::string& file = args.positionals()[0];
  const std::string out = args.Get("out");
  if (out.empty()) return Fail("finish-signed: -o OUT is required");
  std::string error;
  DsaPublicKey key;
  if (!VerificationKey(args, file, &key, &error)) return Fail(error);
  if (!FinishCodeSigned(file, key, out, &error)) return Fail(error);
  std::printf("wrote %s: the package's own signature and the certificate table agree\n", out.c_str());
  return kExitOk;
}

int RunVerify(const ParsedArgs& args) {
  const std::string& file = args.positionals()[0];
  std::string error;
  DsaPublicKey key;
  if (!VerificationKey(args, file, &key, &error)) return Fail(error);
  ResultCode result = VerifySignedFile(file.c_str(), 2, key);
  uint32_t kind = 0, signedLength = 0;
  if (result == kOk) result = FindSignatureRecord(file.c_str(), nullptr, &kind, &signedLength);
  if (result != kOk) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", result);
    return Fail(file + ": signature NOT valid (" + code + ")");
  }
  if (!IsPackageSignatureKind(kind)) {
    return Fail(file + ": the " + KindName(kind) +
                " record verifies, but the stub refuses it: its digest skips every byte outside "
                "0x20..0x7F, so it does not protect a package");
  }
  std::printf("%s: valid %s record, signed length %u bytes\n", file.c_str(), KindName(kind), signedLength);
  PeSigningFields fields;
  if (CertificateTableAfterRecord(file, signedLength, &fields)) {
    std::printf("%s: a certificate table follows the record (offset %u, %u bytes); the package's signature "
                "does not cover it: check the code signature with osslsigncode verify or signtool verify\n",
                file.c_str(), fields.tableOffset, fields.tableSize);
  }
  return kExitOk;
}

int RunList(const ParsedArgs& args) {
  const std::string& file = args.positionals()[0];
  std::string error;
  DsaPublicKey key;
  if (!VerificationKey(args, file, &key, &error)) return Fail(error);
  SfxArchive archive(key);
  ResultCode result = archive.Open(file.c_str());
  if (result != kOk) return Fail(OpenFailure(file, result));
  uint32_t signedLength = 0;
  PeSigningFields fields;
  const bool table = FindSignatureRecord(file.c_str(), nullptr, nullptr, &signedLength) == kOk &&
                     CertificateTableAfterRecord(file, signedLength, &fields);
  if (args.Has("json")) {
    std::string tableJson = "null";
    if (table) {
      tableJson = "{\"offset\": " + std::to_string(fields.tableOffset) + ", \"size\": " +
                  std::to_string(fields.tableSize) + ", \"coveredBySignature\": false}";
    }
    std::printf("{\"mode\": %s, \"command\": %s, \"mainProgram\": {\"offset\": %u, \"size\": %u}, "
                "\"certificateTable\": %s, \"entries\": [",
                JsonString(StdString(archive.Mode())).c_str(), JsonString(StdString(archive.commandTemplate)).c_str(),
                archive.mainProgramOffset, archive.mainProgramSize, tableJson.c_str());
    for (size_t i = 0; i < archive.entries.size(); ++i) {
      const ArchiveEntry& e = archive.entries[i];
      std::printf("%s\n  {\"name\": %s, \"offset\": %u, \"size\": %u, \"time\": %s}", i ? "," : "",
                  JsonString(StdString(e.name)).c_str(), e.offset, e.size, JsonString(IsoTime(e.time)).c_str());
    }
    std::printf("%s]}\n", archive.entries.empty() ? "" : "\n");
    return kExitOk;
  }
  std::printf("mode:         %s\ncommand:      %s\nmain program: offset %u, size %u\nentries:      %zu\n",
              archive.Mode().c_str(), archive.commandTemplate.c_str(), archive.mainProgramOffset,
              archive.mainProgramSize, archive.entries.size());
  if (table) {
    std::printf("code signing: a certificate table follows the record (offset %u, %u bytes), outside the "
                "package's signature\n", fields.tableOffset, fields.tableSize);
  }
  for (const ArchiveEntry& e : archive.entries) {
    std::printf("  %-20s %10u %10u  %s\n", IsoTime(e.time).c_str(), e.offset, e.size, e.name.c_str());
  }
  return kExitOk;
}

int RunExtract(const ParsedArgs& args) {
  const std::string& file = args.positionals()[0];
  const std::string& dir = args.positionals()[1];
  std::string error;
  DsaPublicKey key;
  if (!VerificationKey(args, file, &key, &error)) return Fail(error);
  SfxArchive archive(key);
  ResultCode result = archive.Open(file.c_str());
  if (result != kOk) return Fail(OpenFailure(file, result));
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
  if (result != kOk) return Fail(setup + ": cannot extract the setup program (error " + std::to_string(result) + ")");
  result = archive.ExtractFiles(dir.c_str());
  if (result != kOk) return Fail(dir + ": cannot extract the listed files (error " + std::to_string(result) + ")");
  std::printf("extracted setup.ovr and %zu files into %s\n", archive.entries.size(), dir.c_str());
  return kExitOk;
}

const OptionSpec kPubOption = {"pub", 0, "PUB", false, "public key (PEM); default: the key stamped in FILE"};

}  // namespace

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands = {
      {"keygen", "--out PREFIX [--force]", "Make a DSA key pair: PREFIX.key (PKCS#8 PEM) and PREFIX.pub (SPKI PEM).",
       {{"out", 'o', "PREFIX", false, "where to write the two key files"},
        {"force", 0, nullptr, false, "replace key files that already exist"}},
       0, RunKeygen},
      {"stamp-key", "--stub IN --pub PUB -o OUT", "Write a copy of a stub with a public key in its key block.",
       {{"stub", 0, "IN", false, "the stub executable"},
        {"pub", 0, "PUB", false, "public key (PEM)"},
        {"out", 'o', "OUT", false, "the stamped copy"}},
       0, RunStampKey},
      {"build",
       "--stub STUB --key KEY --setup PROGRAM [--command TEMPLATE] [--file NAME=PATH]... [--dir DIR] "
       "[--record binary|text|digest] [--restamp] [--authenticode COMMAND] [--authenticode-size BYTES] [-v] "
       "-o OUT",
       "Build a signed package: the stub, the setup program, the listed files, the signature.",
       {{"stub", 0, "STUB", false, "the stub executable"},
        {"key", 0, "KEY", false, "private key (PEM)"},
        {"setup", 0, "PROGRAM", false, "the setup program, run after extraction"},
        {"command", 0, "TEMPLATE", false, "its arguments; %SRCPATH%, %TMPPATH%, %CMDLINE% are expanded"},
        {"file", 0, "NAME=PATH", true, "a file to extract beside it, as NAME"},
        {"dir", 0, "DIR", false, "every file directly inside DIR, by its own name"},
        {"record", 0, "KIND", false, "signature record: binary (default), text or digest"},
        {"restamp", 0, nullptr, false, "replace another key already stamped in the stub"},
        {"verbose", 'v', nullptr, false, "say what is done on the way (links followed in --dir)"},
        {"authenticode", 0, "COMMAND", false,
         "code-sign the package: COMMAND signs {in} into {out} (run by the shell), for example "
         "'osslsigncode sign -certs c.crt -key c.key -in {in} -out {out}'"},
        {"authenticode-size", 0, "BYTES", false,
         "the certificate table's length in bytes: alone, write a package to code-sign by hand and "
         "finish with finish-signed; with --authenticode, the length tried first"},
        {"out", 'o', "OUT", false, "the package to write"}},
       0, RunBuild},
      {"finish-signed", "[--pub PUB] SIGNED -o OUT",
       "Finish a package built with --authenticode-size and code-signed since: checksum back to 0, "
       "checked and verified.",
       {kPubOption, {"out", 'o', "OUT", false, "the finished package"}}, 1, RunFinishSigned},
      {"verify", "[--pub PUB] FILE", "Check a package's signature as the stub does.", {kPubOption}, 1, RunVerify},
      {"list", "[--pub PUB] [--json] FILE", "Show a verified package's directory.",
       {kPubOption, {"json", 0, nullptr, false, "print JSON"}}, 1, RunList},
      {"extract", "[--pub PUB] [--force] FILE DIR",
       "Verify, then extract setup.ovr and every listed file into DIR.",
       {kPubOption, {"force", 0, nullptr, false, "remove files already standing at the outputs' names"}}, 2,
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

int RunCommand(const CommandSpec& command, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(command.options, args, &parsed, &error)) {
    std::fprintf(stderr, "sfxpack %s: %s (see 'sfxpack %s --help')\n", command.name, error.c_str(), command.name);
    return kExitUsage;
  }
  if (parsed.positionals().size() != command.positionals) {
    std::fprintf(stderr, "sfxpack %s: expected %zu argument(s): %s\n", command.name, command.positionals,
                 command.usage);
    return kExitUsage;
  }
  return command.run(parsed);
}

}  // namespace sfx
