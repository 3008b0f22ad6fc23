#include "tools/sfxpack/package_file_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/signing/signature_records.h"

namespace sfx {
namespace {

// The package file as it is written: every byte goes to the file and into the record's digest.
class DigestingOutput {
 public:
  explicit DigestingOutput(SignatureKind kind) : digest_(kind) {}

  bool Open(const std::string& path, std::string* error) { return file_.Open(path, error); }
  bool Write(const uint8_t* bytes, size_t length, std::string* error) {
    digest_.Update(bytes, length);
    return file_.Write(bytes, length, error);
  }
  bool Write(const ByteVector& bytes, std::string* error) { return Write(bytes.data(), bytes.size(), error); }
  // The record goes after every digested byte, and is not digested itself.
  bool Finish(const SigningKey& signer, SignatureKind kind, std::string* error) {
    uint8_t digest[kDigestBytes];
    digest_.Final(digest);
    ByteVector record;
    std::string reason;
    if (MakeRecord(signer, kind, digest, &record, &reason) != kOk) {
      *error = "cannot sign: " + reason;
      return false;
    }
    return file_.Write(record.data(), record.size(), error) && file_.Commit(error);
  }

 private:
  RecordDigest digest_;
  ReplacingFile file_;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

bool CopySource(const ListedSource& source, ByteVector* buffer, DigestingOutput* output, std::string* error) {
  std::unique_ptr<std::FILE, FileCloser> input(std::fopen(source.path.c_str(), "rb"));
  if (!input) {
    *error = source.path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  uint64_t copied = 0;
  for (;;) {
    size_t got = std::fread(buffer->data(), 1, buffer->size(), input.get());
    if (got == 0) break;
    copied += got;
    if (copied > source.size) break;
    if (!output->Write(buffer->data(), got, error)) return false;
  }
  if (std::ferror(input.get())) {
    *error = source.path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  if (copied != source.size) {
    *error = source.path + ": changed while the package was built (it was " + std::to_string(source.size) +
             " bytes)";
    return false;
  }
  return true;
}

}  // namespace

bool WritePackageFile(const StreamedPackage& package, const SigningKey& signer, SignatureKind kind,
                      const std::string& out, uint64_t* size, std::string* error) {
  std::vector<std::string> names;
  for (const auto& file : package.files) names.push_back(file.name);
  *error = ListedNamesProblem(names);
  if (!error->empty()) return false;

  // Everything but the listed files' bytes is laid out first, so that the size is known before a
  // byte is written.
  PackageLayout head(package.stub);
  uint32_t programOffset = 0, programSize = 0;
  if (head.AddBlob(package.mainProgram, &programOffset, &programSize) != kOk) {
    *error = "cannot compress the setup program";
    return false;
  }
  uint64_t end = head.bytes().size();
  std::vector<FileLocation> locations;
  for (const auto& file : package.files) {
    if (end + file.size > kMaxPackageSize) break;  // refused below
    locations.push_back({file.name, static_cast<uint32_t>(end), static_cast<uint32_t>(file.size), file.time});
    end += file.size;
  }
  PackageLayout tail(ByteVector(), end);
  if (locations.size() == package.files.size() &&
      tail.Finish(DirectoryChunks(package.commandTemplate, programOffset, programSize, locations)) != kOk) {
    *error = "cannot compress the directory";
    return false;
  }
  *size = end + tail.bytes().size() + RecordSize(kind);
  if (locations.size() != package.files.size() || *size > kMaxSignedFileSize) {
    *error = "the package would not fit in 2 GiB";
    return false;
  }

  DigestingOutput output(kind);
  if (!output.Open(out, error) || !output.Write(head.bytes(), error)) return false;
  ByteVector buffer(kCopyChunkSize);
  for (const auto& file : package.files) {
    if (!CopySource(file, &buffer, &output, error)) return false;
  }
  return output.Write(tail.bytes(), error) && output.Finish(signer, kind, error);
}

}  // namespace sfx
