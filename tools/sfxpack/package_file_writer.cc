#include "tools/sfxpack/package_file_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/prefix_block.h"
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

// Reads source in pieces of the buffer's size, handing each to use; false when it cannot be read, when
// use fails, or when it no longer has the size it was measured at.
bool ReadSource(const ListedSource& source, ByteVector* buffer,
                const std::function<bool(const uint8_t*, size_t)>& use, std::string* error) {
  std::unique_ptr<std::FILE, FileCloser> input(std::fopen(source.path.c_str(), "rb"));
  if (!input) {
    *error = source.path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  uint64_t read = 0;
  for (;;) {
    size_t got = std::fread(buffer->data(), 1, buffer->size(), input.get());
    if (got == 0) break;
    read += got;
    if (read > source.size) break;
    if (!use(buffer->data(), got)) return false;
  }
  if (std::ferror(input.get())) {
    *error = source.path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  if (read != source.size) {
    *error = source.path + ": changed while the package was built (it was " + std::to_string(source.size) +
             " bytes)";
    return false;
  }
  return true;
}

// The block keyed by the signer over every input (prefix_block.h): the listed files are read once
// for it, in pieces, before they are copied.
bool PrefixBlock(const StreamedPackage& package, const SigningKey& signer, ByteVector* buffer, ByteVector* block,
                 std::string* error) {
  PrefixBlockInputs inputs;
  inputs.Begin(package.stub, package.mainProgram, package.commandTemplate, package.files.size(),
               package.commandChunks);
  for (const ListedSource& source : package.files) {
    inputs.AddFile(source.name, source.size);
    auto add = [&](const uint8_t* bytes, size_t length) {
      inputs.AddBytes(bytes, length);
      return true;
    };
    if (!ReadSource(source, buffer, add, error)) return false;
    inputs.EndFile(source.time);
  }
  return inputs.Finish(signer, block, error);
}

}  // namespace

bool WritePackageFile(const StreamedPackage& package, const SigningKey& signer, SignatureKind kind,
                      const std::string& out, uint64_t* size, std::string* error) {
  std::vector<std::string> names;
  for (const auto& file : package.files) names.push_back(file.name);
  *error = ListedNamesProblem(names);
  if (!error->empty()) return false;

  ByteVector buffer(kCopyChunkSize), prefixBlock;
  if (!PrefixBlock(package, signer, &buffer, &prefixBlock, error)) return false;
  // Everything but the listed files' bytes is laid out first, so that the size is known before a
  // byte is written.
  PackageLayout head(package.stub);
  head.AddRaw(prefixBlock);
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
      tail.Finish(DirectoryChunks(package.commandTemplate, programOffset, programSize, locations, package.commandChunks)) != kOk) {
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
  for (const auto& file : package.files) {
    auto copy = [&](const uint8_t* bytes, size_t length) { return output.Write(bytes, length, error); };
    if (!ReadSource(file, &buffer, copy, error)) return false;
  }
  return output.Write(tail.bytes(), error) && output.Finish(signer, kind, error);
}

}  // namespace sfx
