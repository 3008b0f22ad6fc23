#include "tools/sfxpack/authenticode.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "sfxstub/verify/signed_file.h"
#include "tools/sfxpack/cli/interrupt_cleanup.h"
#include "tools/sfxpack/cli/progress_hooks.h"
#include "tools/sfxpack/cli/progress_line.h"
#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/security/private_folder.h"
#include "tools/sfxpack/signing/signature_records.h"


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

// The names the signing command sees, relative to the private folder it runs in: plain, so that no
// quoting is needed and none can be turned inside out.
constexpr char kSignerInput[] = "in.exe";
constexpr char kSignerOutput[] = "out.exe";
constexpr char kCheckedPackage[] = "package.exe";

constexpr size_t kPieceSize = 1u << 20;
// The PE header fields a code signer changes lie in the stub's first bytes.
constexpr size_t kHeadSize = 64u << 10;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Bytes [from, to) of path in pieces of at most kPieceSize, each handed to use with its offset.
bool ForEachPiece(const std::string& path, uint64_t from, uint64_t to,
                  const std::function<bool(uint64_t offset, const uint8_t* bytes, size_t length)>& use,
                  std::string* error) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file || (from != 0 && !SeekFile(file.get(), from))) {
    *error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  ByteVector buffer(kPieceSize);
  for (uint64_t at = from; at < to;) {
    const size_t want = to - at < kPieceSize ? static_cast<size_t>(to - at) : kPieceSize;
    if (std::fread(buffer.data(), 1, want, file.get()) != want) {
      *error = path + ": cannot read (" + (std::ferror(file.get()) ? std::strerror(errno) : "it is shorter") + ")";
      return false;
    }
    if (!use(at, buffer.data(), want)) return false;
    at += want;
  }
  return true;
}

// The unsigned package's first bytes, with the offsets of the fields a code signer changes.
struct PackageHead {
  ByteVector bytes;
  PeSigningFields fields;
};

bool ReadPackageHead(const UnsignedPackageFile& package, PackageHead* head, std::string* error) {
  if (!ReadFilePrefix(package.path, kHeadSize, &head->bytes, error)) return false;
  if (!ReadPeSigningFields(head->bytes, &head->fields) || head->fields.entryAt + 8 > head->bytes.size() ||
      head->fields.checksumAt + 4 > head->bytes.size()) {
    *error = "no PE image with a certificate-table entry (a PE32 or PE32+ header, 5 data directories)";
    return false;
  }
  return true;
}

// The package's head with the entry and the checksum set, as a code signer sees or leaves them.
bool HeadWith(const PackageHead& head, uint32_t tableOffset, uint32_t tableSize, ByteVector* bytes,
              std::string* error) {
  *bytes = head.bytes;
  return WritePeSigningFields(bytes, tableOffset, tableSize, 0, error);
}

// The record over the package signed with the entry (tableOffset, tableSize) and a checksum of 0.
bool RecordOver(const UnsignedPackageFile& package, const PackageHead& head, uint32_t tableOffset,
                uint32_t tableSize, const RecordMaker& makeRecord, ByteVector* record, std::string* error) {
  ByteVector signedHead;
  if (!HeadWith(head, tableOffset, tableSize, &signedHead, error)) return false;
  RecordDigest digest(kBinarySignature);
  digest.Update(signedHead.data(), signedHead.size());
  auto add = [&](uint64_t, const uint8_t* bytes, size_t length) {
    digest.Update(bytes, length);
    return true;
  };
  if (!ForEachPiece(package.path, signedHead.size(), package.size, add, error)) return false;
  uint8_t value[kDigestBytes];
  digest.Final(value);
  return makeRecord(value, record, error);
}

// The file a code signer signs: the package with the entry empty, then record.
bool WriteHanded(const UnsignedPackageFile& package, const PackageHead& head, const ByteVector& record,
                 const std::string& path, std::string* error) {
  if (package.size + record.size() > kMaxPackageSize) {
    *error = "the package would reach 2 GiB, which the stub cannot read";
    return false;
  }
  ByteVector handedHead;
  ReplacingFile file;
  if (!HeadWith(head, 0, 0, &handedHead, error) || !file.Open(path, error) ||
      !file.Write(handedHead.data(), handedHead.size(), error)) {
    return false;
  }
  auto copy = [&](uint64_t, const uint8_t* bytes, size_t length) { return file.Write(bytes, length, error); };
  return ForEachPiece(package.path, handedHead.size(), package.size, copy, error) &&
         file.Write(record.data(), record.size(), error) && file.Commit(error);
}

// Why output is not input code-signed (empty when it is): the bytes before the table must be the
// input's, apart from the checksum and the entry (in.fields), and up to 7 zero bytes of padding
// after its end, and a table must end the file. fields receives output's header fields.
std::string CodeSignerOutputProblem(const std::string& input, uint64_t inputSize, const PackageHead& in,
                                    const std::string& output, PeSigningFields* fields, std::string* error) {
  uint64_t outputSize = 0;
  ByteVector outputHead;
  if (!RegularFileSize(output, &outputSize, error) || !ReadFilePrefix(output, kHeadSize, &outputHead, error)) {
    return "it cannot be read back (" + *error + ")";
  }
  if (!ReadPeSigningFields(outputHead, fields)) return "its output is no PE image";
  if (fields->tableOffset == 0 || fields->tableSize == 0) return "its output has no certificate table";
  const uint64_t table = fields->tableOffset;
  if (table + fields->tableSize != outputSize) {
    return "its certificate table (offset " + Number(table) + ", " + Number(fields->tableSize) +
           " bytes) does not end its output (" + Number(outputSize) + " bytes)";
  }
  if (table < inputSize || table - inputSize >= kTableAlignment) {
    return "its certificate table starts at " + Number(table) + ", not within 7 bytes after the end of its input (" +
           Number(inputSize) + ")";
  }
  UniqueFile original(std::fopen(input.c_str(), "rb"));
  if (!original) return "its input cannot be read back";
  ByteVector theirs(kPieceSize);
  std::string problem;
  auto compare = [&](uint64_t at, const uint8_t* bytes, size_t length) {
    if (std::fread(theirs.data(), 1, length, original.get()) != length) {
      problem = "its input cannot be read back";
      return false;
    }
    if (std::memcmp(theirs.data(), bytes, length) == 0) return true;
    for (size_t i = 0; i < length; ++i) {
      if (bytes[i] != theirs[i] && !InsideField(at + i, in.fields.checksumAt, 4) &&
          !InsideField(at + i, in.fields.entryAt, 8)) {
        problem = "it changed byte " + Number(at + i) +
                  " of its input (only the checksum and the certificate-table entry may change)";
        return false;
      }
    }
    return true;
  };
  std::string readError;
  if (!ForEachPiece(output, 0, inputSize, compare, &readError)) return problem.empty() ? readError : problem;
  auto zeros = [&](uint64_t at, const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) {
      if (bytes[i] != 0) {
        problem = "a nonzero byte at " + Number(at + i) + " lies between its input and the certificate table";
        return false;
      }
    }
    return true;
  };
  if (!ForEachPiece(output, inputSize, table, zeros, &readError)) return problem.empty() ? readError : problem;
  return "";
}

// Puts 0 into the checksum of the file at path, in place, and reads it back.
bool ZeroChecksum(const std::string& path, uint64_t checksumAt, std::string* error) {
  UniqueFile file(std::fopen(path.c_str(), "r+b"));
  const uint8_t zero[4] = {0, 0, 0, 0};
  uint8_t back[4] = {1, 1, 1, 1};
  if (!file || !SeekFile(file.get(), checksumAt) ||
      std::fwrite(zero, 1, 4, file.get()) != 4 || std::fflush(file.get()) != 0 ||
      !SeekFile(file.get(), checksumAt) ||
      std::fread(back, 1, 4, file.get()) != 4 || std::memcmp(back, zero, 4) != 0) {
    *error = path + ": cannot put the checksum back to 0: " + std::strerror(errno);
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

bool WriteAwaitingCodeSignature(const UnsignedPackageFile& package, uint32_t tableOffset, uint32_t tableSize,
                                const RecordMaker& makeRecord, const std::string& out, uint64_t* size,
                                std::string* error) {
  PackageHead head;
  ByteVector record;
  if (!ReadPackageHead(package, &head, error) ||
      !RecordOver(package, head, tableOffset, tableSize, makeRecord, &record, error) ||
      !WriteHanded(package, head, record, out, error)) {
    return false;
  }
  *size = package.size + record.size();
  return true;
}

std::string ExpandSignerCommand(const std::string& command, const std::string& in, const std::string& out) {
  std::string expanded;
  for (size_t i = 0; i < command.size();) {
    if (command.compare(i, 4, "{in}") == 0) {
      expanded += in;
      i += 4;
    } else if (command.compare(i, 5, "{out}") == 0) {
      expanded += out;
      i += 5;
    } else {
      expanded += command[i++];
    }
  }
  return expanded;
}

bool CodeSignPackage(const UnsignedPackageFile& package, const RecordMaker& makeRecord, const DsaPublicKey& key,
                     CodeSigningRun* run, std::string* error) {
  const uint64_t tableOffset = CertificateTableOffsetAfter(package.size + kBinarySignatureRecordSize);
  if (tableOffset > kMaxPackageSize) {
    *error = "the package would reach 2 GiB, which the stub cannot read";
    return false;
  }
  PackageHead head;
  if (!ReadPackageHead(package, &head, error)) return false;
  // The command runs in a folder of this run's alone, on plain names there (signers that pick the
  // file's format by its name see an .exe); the folder and all it holds never outlive the call.
  PrivateFolder folder;
  if (!folder.Create(run->out, error)) return false;
  folder.RemoveOnInterrupt(kSignerInput);
  folder.RemoveOnInterrupt(kSignerOutput);
  const std::string inPath = folder.path() + "/" + kSignerInput;
  const std::string outPath = folder.path() + "/" + kSignerOutput;
  uint32_t tableSize = run->firstGuess;
  for (int round = 1; round <= run->maxRounds; ++round) {
    const std::string prefix = "code signing, round " + Number(round) + ": ";
    // Without a size to try, the first round signs over an empty entry only to learn the size.
    const uint32_t entryOffset = tableSize != 0 ? static_cast<uint32_t>(tableOffset) : 0;
    ByteVector record;
    folder.RemoveFile(kSignerInput);
    if (!RecordOver(package, head, entryOffset, tableSize, makeRecord, &record, error) ||
        !WriteHanded(package, head, record, inPath, error)) {
      *error = prefix + *error;
      return false;
    }
    const uint64_t handedSize = package.size + record.size();
    folder.RemoveFile(kSignerOutput);
    const std::string command = ExpandSignerCommand(run->command, kSignerInput, kSignerOutput);
    // The command is not repeated in errors: it may hold a password.
    std::string verdict = folder.Run(command);
    if (!verdict.empty()) {
      *error = prefix + "the signing command " + verdict;
      return false;
    }
    if (!IsRegularFile(outPath)) {
      *error = prefix + "the signing command wrote nothing to {out} (" + kSignerOutput + ": no such file)";
      return false;
    }
    PeSigningFields fields;
    std::string readError;
    std::string wrong = CodeSignerOutputProblem(inPath, handedSize, head, outPath, &fields, &readError);
    if (!wrong.empty()) {
      *error = prefix + "the signing command's output is not its input code-signed: " + wrong;
      return false;
    }
    run->tableSizes.push_back(fields.tableSize);
    if (fields.tableOffset == entryOffset && fields.tableSize == tableSize) {
      // Apart from the checksum, the output's first handedSize bytes are the file handed to the
      // signer with the entry the record covers: the package signed.
      const uint64_t outputSize = uint64_t{fields.tableOffset} + fields.tableSize;
      std::string wrongSignature;
      if (outputSize > kMaxPackageSize) {
        *error = prefix + "the code-signed package would reach 2 GiB, which the stub cannot read";
        return false;
      }
      if (!ZeroChecksum(outPath, head.fields.checksumAt, error) ||
          !(wrongSignature = OwnSignatureFailure(outPath, key)).empty() ||
          !RenameFile(outPath, run->out, error)) {
        *error = prefix + (wrongSignature.empty() ? *error : wrongSignature);
        return false;
      }
      run->size = outputSize;
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
  uint64_t size = 0;
  ByteVector head;
  if (!RegularFileSize(signedPath, &size, error) || !ReadFilePrefix(signedPath, kHeadSize, &head, error)) return false;
  PeSigningFields fields;
  if (!ReadPeSigningFields(head, &fields) || fields.tableOffset == 0 || fields.tableSize == 0) {
    *error = signedPath + ": no certificate table; sign the file with the code signer first";
    return false;
  }
  if (uint64_t{fields.tableOffset} + fields.tableSize != size) {
    *error = signedPath + ": the certificate table (offset " + Number(fields.tableOffset) + ", " +
             Number(fields.tableSize) + " bytes) does not end the file";
    return false;
  }
  if (size > kMaxPackageSize) {
    *error = "the code-signed package would reach 2 GiB, which the stub cannot read";
    return false;
  }
  // Three passes over the file: the copy into the private folder, its check, and the output.
  ProgressLine::Begin("finishing", 3 * size);
  PrivateFolder folder;
  if (!folder.Create(out, error)) return false;
  folder.RemoveOnInterrupt(kCheckedPackage);
  const std::string checked = folder.path() + "/" + kCheckedPackage;
  // The copy is what is checked and written out: the signed file's name may meanwhile lead
  // elsewhere. It is digested as written, and again as it is read back for the output.
  RecordDigest written(kBinarySignature);
  {
    ReplacingFile copy;
    if (!copy.Open(checked, error, FileAccess::kOwnerOnly)) return false;
    ByteVector piece;
    auto put = [&](uint64_t at, const uint8_t* bytes, size_t length) {
      piece.assign(bytes, bytes + length);
      for (uint64_t i = fields.checksumAt; i < fields.checksumAt + 4; ++i) {
        if (i >= at && i < at + length) piece[i - at] = 0;
      }
      written.Update(piece.data(), length);
      ProgressLine::Advance(length);
      return copy.Write(piece.data(), length, error);
    };
    if (!ForEachPiece(signedPath, 0, size, put, error) || !copy.Commit(error)) return false;
  }
  const ResultCode verified = VerifyAdvancingProgress(checked, key);
  if (verified != kOk) {
    uint32_t signedLength = 0;
    if (FindSignatureRecord(checked.c_str(), nullptr, nullptr, &signedLength) != kOk) {
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
  RecordDigest readBack(kBinarySignature);
  ReplacingFile output;
  if (!output.Open(out, error)) return false;
  uint64_t copied = 0;
  auto put = [&](uint64_t, const uint8_t* bytes, size_t length) {
    readBack.Update(bytes, length);
    copied += length;
    ProgressLine::Advance(length);
    return output.Write(bytes, length, error);
  };
  if (!ForEachPiece(checked, 0, size, put, error)) return false;
  uint8_t before[kDigestBytes], after[kDigestBytes];
  written.Final(before);
  readBack.Final(after);
  uint64_t checkedSize = 0;
  if (!RegularFileSize(checked, &checkedSize, error)) return false;
  if (checkedSize != size || copied != size || std::memcmp(before, after, kDigestBytes) != 0) {
    *error = checked + ": does not read back as written";
    return false;
  }
  return output.Commit(error);
}

}  // namespace sfx
