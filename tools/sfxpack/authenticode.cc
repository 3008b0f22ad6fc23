#include "tools/sfxpack/authenticode.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sfxstub/verify/signed_file.h"
#include "tools/sfxpack/cli/interrupt_cleanup.h"
#include "tools/sfxpack/file_io.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace sfx {
namespace {

constexpr uint64_t kTableAlignment = 8;

class VectorReader final : public ByteReader {
 public:
  explicit VectorReader(const ByteVector& bytes) : bytes_(bytes) {}
  bool ReadAt(uint64_t offset, void* buffer, uint32_t count) override {
    if (offset > bytes_.size() || bytes_.size() - offset < count) return false;
    std::memcpy(buffer, bytes_.data() + offset, count);
    return true;
  }

 private:
  const ByteVector& bytes_;
};

void PutU32(ByteVector* bytes, uint64_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

bool InsideField(uint64_t offset, uint64_t fieldAt, uint64_t fieldSize) {
  return offset >= fieldAt && offset < fieldAt + fieldSize;
}

std::string Number(uint64_t value) { return std::to_string(value); }

// Quoted for /bin/sh: single quotes, each quote inside closed, escaped and reopened. For cmd.exe:
// double quotes, which a Windows path cannot hold.
std::string ShellQuote(const std::string& text) {
#if defined(_WIN32)
  return "\"" + text + "\"";
#else
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
#endif
}

// The shell's verdict on a command: empty when it exited with 0.
std::string RunShell(const std::string& command) {
  std::fflush(nullptr);
#if defined(_WIN32)
  // cmd /c drops the first and the last quote of a line that starts with one; the outer pair keeps
  // the command's own quotes.
  int status = std::system(("\"" + command + "\"").c_str());
  if (status == 0) return "";
  return status == -1 ? "cannot be started" : "exited with status " + Number(static_cast<uint32_t>(status));
#else
  int status = std::system(command.c_str());
  if (status == 0) return "";
  if (status == -1) return "cannot be started";
  if (WIFEXITED(status)) return "exited with status " + Number(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was killed by signal " + Number(WTERMSIG(status));
  return "failed";
#endif
}

// Removes the temporary files of a signing run on every path.
class TemporaryFiles {
 public:
  explicit TemporaryFiles(std::vector<std::string> paths) : paths_(std::move(paths)) {
    for (const auto& path : paths_) {
      RemoveFileIfPresent(path);
      InterruptCleanup::Remember(path);
    }
  }
  ~TemporaryFiles() {
    for (const auto& path : paths_) {
      RemoveFileIfPresent(path);
      InterruptCleanup::Forget(path);
    }
  }
  TemporaryFiles(const TemporaryFiles&) = delete;
  TemporaryFiles& operator=(const TemporaryFiles&) = delete;

 private:
  std::vector<std::string> paths_;
};

// Writes bytes to temporary and checks that they read back as written.
bool WriteChecked(const ByteVector& bytes, const std::string& temporary, std::string* error) {
  if (bytes.size() > kMaxPackageSize) {
    *error = "the code-signed package would reach 2 GiB, which the stub cannot read";
    return false;
  }
  ByteVector written;
  if (!WriteWholeFile(temporary, bytes, error) || !ReadWholeFile(temporary, &written, error)) return false;
  if (written != bytes) {
    *error = temporary + ": does not read back as written";
    return false;
  }
  return true;
}

// Empty when the package's record in file verifies with key, else why not.
std::string OwnSignatureFailure(const std::string& file, const DsaPublicKey& key) {
  ResultCode result = VerifySignedFile(file.c_str(), 2, key);
  if (result == kOk) return "";
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", result);
  return std::string("the package's own signature does not verify (") + code + ")";
}

}  // namespace

bool ReadPeSigningFields(const ByteVector& image, PeSigningFields* fields) {
  VectorReader reader(image);
  return FindPeSigningFields(reader, fields);
}

bool WritePeSigningFields(ByteVector* image, uint32_t tableOffset, uint32_t tableSize, uint32_t checksum,
                          std::string* error) {
  PeSigningFields fields;
  if (!ReadPeSigningFields(*image, &fields)) {
    *error = "no PE image with a certificate-table entry (a PE32 or PE32+ header, 5 data directories)";
    return false;
  }
  if (fields.entryAt + 8 > fields.optionalHeaderEnd || fields.entryAt + 8 > image->size()) {
    *error = "the optional header ends before its certificate-table entry";
    return false;
  }
  PutU32(image, fields.entryAt, tableOffset);
  PutU32(image, fields.entryAt + 4, tableSize);
  PutU32(image, fields.checksumAt, checksum);
  return true;
}

bool RemoveCertificateTable(ByteVector* stub, uint32_t* removedSize, std::string* error) {
  *removedSize = 0;
  PeSigningFields fields;
  if (!ReadPeSigningFields(*stub, &fields) || (fields.tableOffset == 0 && fields.tableSize == 0)) return true;
  if (fields.tableOffset == 0 || uint64_t{fields.tableOffset} + fields.tableSize != stub->size()) {
    *error = "its certificate table (offset " + Number(fields.tableOffset) + ", " + Number(fields.tableSize) +
             " bytes) does not end the file (" + Number(stub->size()) + " bytes)";
    return false;
  }
  stub->resize(fields.tableOffset);
  *removedSize = fields.tableSize;
  return WritePeSigningFields(stub, 0, 0, 0, error);
}

uint64_t CertificateTableOffsetAfter(uint64_t size) {
  return (size + kTableAlignment - 1) / kTableAlignment * kTableAlignment;
}

bool SignOverCertificateEntry(const ByteVector& package, uint32_t tableOffset, uint32_t tableSize,
                              const RecordSigner& sign, ByteVector* signedPackage, ByteVector* handed,
                              std::string* error) {
  ByteVector bytes = package;
  if (!WritePeSigningFields(&bytes, tableOffset, tableSize, 0, error) || !sign(&bytes, error)) return false;
  *handed = bytes;
  if (!WritePeSigningFields(handed, 0, 0, 0, error)) return false;
  *signedPackage = std::move(bytes);
  return true;
}

std::string CheckCodeSignerOutput(const ByteVector& input, const ByteVector& output, PeSigningFields* fields) {
  PeSigningFields in;
  if (!ReadPeSigningFields(input, &in)) return "its input is no PE image";
  if (!ReadPeSigningFields(output, fields)) return "its output is no PE image";
  if (fields->tableOffset == 0 || fields->tableSize == 0) return "its output has no certificate table";
  const uint64_t table = fields->tableOffset;
  if (table + fields->tableSize != output.size()) {
    return "its certificate table (offset " + Number(table) + ", " + Number(fields->tableSize) +
           " bytes) does not end its output (" + Number(output.size()) + " bytes)";
  }
  if (table < input.size() || table - input.size() >= kTableAlignment) {
    return "its certificate table starts at " + Number(table) + ", not within 7 bytes after the end of its input (" +
           Number(input.size()) + ")";
  }
  for (uint64_t i = 0; i < input.size(); ++i) {
    if (output[i] != input[i] && !InsideField(i, in.checksumAt, 4) && !InsideField(i, in.entryAt, 8)) {
      return "it changed byte " + Number(i) + " of its input (only the checksum and the certificate-table "
             "entry may change)";
    }
  }
  for (uint64_t i = input.size(); i < table; ++i) {
    if (output[i] != 0) return "a nonzero byte at " + Number(i) + " lies between its input and the certificate table";
  }
  return "";
}

std::string ExpandSignerCommand(const std::string& command, const std::string& in, const std::string& out) {
  std::string expanded;
  for (size_t i = 0; i < command.size();) {
    if (command.compare(i, 4, "{in}") == 0) {
      expanded += ShellQuote(in);
      i += 4;
    } else if (command.compare(i, 5, "{out}") == 0) {
      expanded += ShellQuote(out);
      i += 5;
    } else {
      expanded += command[i++];
    }
  }
  return expanded;
}

bool CodeSignPackage(const ByteVector& package, const RecordSigner& sign, const DsaPublicKey& key,
                     CodeSigningRun* run, std::string* error) {
  // Signers that pick the file's format by its name see an .exe.
  const std::string inPath = run->out + ".codesign-in.tmp.exe";
  const std::string outPath = run->out + ".codesign-out.tmp.exe";
  TemporaryFiles temporaries({inPath, outPath, outPath + ".tmp~"});
  const uint64_t tableOffset = CertificateTableOffsetAfter(package.size() + kBinarySignatureRecordSize);
  if (tableOffset > kMaxPackageSize) {
    *error = "the package would reach 2 GiB, which the stub cannot read";
    return false;
  }
  uint32_t tableSize = run->firstGuess;
  for (int round = 1; round <= run->maxRounds; ++round) {
    const std::string prefix = "code signing, round " + Number(round) + ": ";
    ByteVector signedPackage, handed, output;
    // Without a size to try, the first round signs over an empty entry only to learn the size.
    const uint32_t entryOffset = tableSize != 0 ? static_cast<uint32_t>(tableOffset) : 0;
    if (!SignOverCertificateEntry(package, entryOffset, tableSize, sign, &signedPackage, &handed, error) ||
        !WriteWholeFile(inPath, handed, error)) {
      *error = prefix + *error;
      return false;
    }
    RemoveFileIfPresent(outPath);
    const std::string command = ExpandSignerCommand(run->command, inPath, outPath);
    // The command is not repeated in errors: it may hold a password.
    std::string verdict = RunShell(command);
    if (!verdict.empty()) {
      *error = prefix + "the signing command " + verdict;
      return false;
    }
    std::string readError;
    if (!ReadWholeFile(outPath, &output, &readError)) {
      *error = prefix + "the signing command wrote nothing to {out} (" + readError + ")";
      return false;
    }
    PeSigningFields fields;
    std::string wrong = CheckCodeSignerOutput(handed, output, &fields);
    if (!wrong.empty()) {
      *error = prefix + "the signing command's output is not its input code-signed: " + wrong;
      return false;
    }
    run->tableSizes.push_back(fields.tableSize);
    if (fields.tableOffset == entryOffset && fields.tableSize == tableSize) {
      PutU32(&output, fields.checksumAt, 0);
      if (!std::equal(signedPackage.begin(), signedPackage.end(), output.begin())) {
        *error = prefix + "the code-signed package does not start with the package signed";
        return false;
      }
      // What is renamed onto out reads back as the signer's output with the checksum zeroed.
      std::string wrongSignature;
      if (!WriteChecked(output, outPath, error) ||
          !(wrongSignature = OwnSignatureFailure(outPath, key)).empty() ||
          !RenameFile(outPath, run->out, error)) {
        *error = prefix + (wrongSignature.empty() ? *error : wrongSignature);
        return false;
      }
      run->size = output.size();
      return true;
    }
    if (fields.tableOffset != tableOffset) {
      *error = prefix + "the signing command put its table at " + Number(fields.tableOffset) + ", not at " +
               Number(tableOffset);
      return false;
    }
    tableSize = fields.tableSize;
  }
  std::string sizes;
  for (uint32_t size : run->tableSizes) sizes += (sizes.empty() ? "" : ", ") + Number(size);
  *error = "code signing: the certificate table's length changed in every one of " + Number(run->maxRounds) +
           " rounds (" + sizes + " bytes); a signer whose table length varies (a timestamp) needs a length it "
           "repeats";
  return false;
}

bool FinishCodeSigned(const std::string& signedPath, const DsaPublicKey& key, const std::string& out,
                      std::string* error) {
  ByteVector bytes;
  if (!ReadWholeFile(signedPath, &bytes, error)) return false;
  PeSigningFields fields;
  if (!ReadPeSigningFields(bytes, &fields) || fields.tableOffset == 0 || fields.tableSize == 0) {
    *error = signedPath + ": no certificate table; sign the file with the code signer first";
    return false;
  }
  if (uint64_t{fields.tableOffset} + fields.tableSize != bytes.size()) {
    *error = signedPath + ": the certificate table (offset " + Number(fields.tableOffset) + ", " +
             Number(fields.tableSize) + " bytes) does not end the file";
    return false;
  }
  PutU32(&bytes, fields.checksumAt, 0);
  const std::string temporary = out + ".finish.tmp.exe";
  TemporaryFiles temporaries({temporary, temporary + ".tmp~"});
  if (!WriteChecked(bytes, temporary, error)) return false;
  if (OwnSignatureFailure(temporary, key).empty()) return RenameFile(temporary, out, error);
  uint32_t signedLength = 0;
  if (FindSignatureRecord(temporary.c_str(), nullptr, nullptr, &signedLength) != kOk) {
    *error = signedPath + ": no package record just before the certificate table (offset " +
             Number(fields.tableOffset) + ")";
    return false;
  }
  *error = signedPath + ": the package's own signature does not hold with the certificate table the code "
           "signer wrote (offset " + Number(fields.tableOffset) + ", " + Number(fields.tableSize) +
           " bytes); if the package was built with another --authenticode-size, build it again with "
           "--authenticode-size " + Number(fields.tableSize) + " and sign that";
  return false;
}

}  // namespace sfx
