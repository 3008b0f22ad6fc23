#include "tools/sfxpack/package_file_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "sfxstub/archive/package_blob.h"
#include "sfxstub/archive/package_blob_writer.h"
#include "tools/sfxpack/cli/progress_line.h"
#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/packing/listed_file_packer.h"
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

// The block keyed by the signer over every input (prefix_block.h): the setup program and the listed
// files are read once for it, in pieces, before they are packed.
bool PrefixBlock(const StreamedPackage& package, const SigningKey& signer, ByteVector* buffer, ByteVector* block,
                 std::string* error) {
  PrefixBlockInputs inputs;
  auto add = [&](const uint8_t* bytes, size_t length) {
    inputs.AddBytes(bytes, length);
    return true;
  };
  inputs.Begin(package.stub, package.mainProgram.size);
  if (!ReadSource(package.mainProgram, buffer, add, error)) return false;
  inputs.EndMainProgram(package.commandTemplate, package.files.size(), package.commandChunks);
  for (const ListedSource& source : package.files) {
    inputs.AddFile(source.name, source.size);
    if (!ReadSource(source, buffer, add, error)) return false;
    inputs.EndFile(source.time);
  }
  return inputs.Finish(signer, block, error);
}

}  // namespace

bool WriteUnsignedPackage(const StreamedPackage& package, const SigningKey& signer, uint32_t recordSize,
                          const PackageSink& sink, uint64_t* size, std::string* error) {
  std::vector<std::string> names;
  for (const auto& file : package.files) names.push_back(file.name);
  *error = ListedNamesProblem(names);
  if (!error->empty()) return false;
  if (package.mainProgram.size > kMaxPackageBlobSize) {
    *error = "the package would not fit in 2 GiB";
    return false;
  }

  // Inputs smaller than a chunk pass through a buffer of the largest one's size: a small build
  // holds no more than it reads (the bytes written do not depend on the buffer's size).
  uint64_t largest = package.mainProgram.size;
  for (const auto& file : package.files) largest = std::max(largest, file.size);
  ByteVector buffer(static_cast<size_t>(std::clamp<uint64_t>(largest, 1, kCopyChunkSize)));
  ByteVector prefixBlock;
  if (!PrefixBlock(package, signer, &buffer, &prefixBlock, error)) return false;
  // Job 0 is the setup program's blob data; then every listed file that may be deflated.
  constexpr size_t kNoJob = SIZE_MAX;
  std::vector<PackJob> jobs = {{&package.mainProgram, 9, false}};
  std::vector<size_t> jobOf(package.files.size(), kNoJob);
  for (size_t i = 0; i < package.files.size() && package.packing.Deflates(); ++i) {
    jobOf[i] = jobs.size();
    jobs.push_back({&package.files[i], package.packing.level, true});
  }
  PackingPool pool;
  if (!pool.Run(jobs, PackingWorkers(), error)) return false;
  const uint64_t packedSize = pool.Result(0).size;
  auto deflated = [&](size_t file) { return jobOf[file] != kNoJob && pool.Result(jobOf[file]).deflated; };
  // Everything but the compressed program's and the listed files' bytes is laid out first, so that
  // the size is known before a byte is written.
  PackageLayout head(package.stub);
  head.AddRaw(prefixBlock);
  const uint64_t programOffset = head.bytes().size();
  AppendPackageBlobHeader(static_cast<uint32_t>(package.mainProgram.size), static_cast<uint32_t>(packedSize),
                          &head.bytes());
  const uint64_t programSize = kPackageBlobHeaderSize + packedSize;
  uint64_t end = programOffset + programSize;
  std::vector<FileLocation> locations;
  for (size_t i = 0; i < package.files.size(); ++i) {
    const ListedSource& file = package.files[i];
    const uint64_t stored = deflated(i) ? pool.Result(jobOf[i]).size : file.size;
    if (end + stored > kMaxPackageSize) break;  // refused below
    locations.push_back({file.name, static_cast<uint32_t>(end), static_cast<uint32_t>(stored), file.time,
                         deflated(i), static_cast<uint32_t>(file.size)});
    end += stored;
  }
  PackageLayout tail(ByteVector(), end);
  if (end <= kMaxPackageSize && locations.size() == package.files.size() &&
      tail.Finish(DirectoryChunks(package.commandTemplate, static_cast<uint32_t>(programOffset),
                                  static_cast<uint32_t>(programSize), locations,
                                  package.commandChunks)) != kOk) {
    *error = "cannot compress the directory";
    return false;
  }
  *size = end + tail.bytes().size();
  if (end > kMaxPackageSize || locations.size() != package.files.size() || *size + recordSize > kMaxSignedFileSize) {
    *error = "the package would not fit in 2 GiB";
    return false;
  }

  if (!sink(head.bytes().data(), head.bytes().size(), error)) return false;
  if (!pool.Copy(0, &buffer, sink, error)) return false;
  for (size_t i = 0; i < package.files.size(); ++i) {
    auto copy = [&](const uint8_t* bytes, size_t length) { return sink(bytes, length, error); };
    if (deflated(i) ? !pool.Copy(jobOf[i], &buffer, sink, error)
                    : !ReadSource(package.files[i], &buffer, copy, error, jobOf[i] == kNoJob)) {
      return false;
    }
  }
  return sink(tail.bytes().data(), tail.bytes().size(), error);
}

bool WritePackageFile(const StreamedPackage& package, const SigningKey& signer, SignatureKind kind,
                      const std::string& out, uint64_t* size, std::string* error) {
  DigestingOutput output(kind);
  if (!output.Open(out, error)) return false;
  auto write = [&](const uint8_t* bytes, size_t length, std::string* writeError) {
    return output.Write(bytes, length, writeError);
  };
  uint64_t unsignedSize = 0;
  if (!WriteUnsignedPackage(package, signer, RecordSize(kind), write, &unsignedSize, error) ||
      !output.Finish(signer, kind, error)) {
    return false;
  }
  *size = unsignedSize + RecordSize(kind);
  return true;
}

}  // namespace sfx
