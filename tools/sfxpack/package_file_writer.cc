#include "tools/sfxpack/package_file_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "sfxstub/archive/package_blob.h"
#include "tools/sfxpack/cli/progress_line.h"
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
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Reads source in pieces of the buffer's size, handing each to use; false when it cannot be read, when
// use fails, or when it no longer has the size it was measured at.
bool ReadSource(const ListedSource& source, ByteVector* buffer,
                const std::function<bool(const uint8_t*, size_t)>& use, std::string* error) {
  UniqueFile input(std::fopen(source.path.c_str(), "rb"));
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
    ProgressLine::Advance(got);
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

// A zlib deflate state at the level package blobs use, ended on every path.
class Deflater {
 public:
  Deflater() { ready_ = deflateInit(&stream_, Z_BEST_COMPRESSION) == Z_OK; }
  ~Deflater() {
    if (ready_) deflateEnd(&stream_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  bool ready() const { return ready_; }
  z_stream& stream() { return stream_; }

 private:
  z_stream stream_ = {};
  bool ready_ = false;
};

// The setup program's zlib data, compressed in pieces into packed (an anonymous temporary file) with
// the same bytes the one-call compressor gives; *packedSize receives their length.
bool CompressMainProgram(const ListedSource& program, ByteVector* buffer, std::FILE* packed, uint64_t* packedSize,
                         std::string* error) {
  Deflater deflater;
  if (!deflater.ready()) {
    *error = "cannot compress the setup program";
    return false;
  }
  z_stream& z = deflater.stream();
  ByteVector out(buffer->size());
  *packedSize = 0;
  auto drain = [&](int flush) {
    int status = Z_OK;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      status = deflate(&z, flush);
      if (status == Z_STREAM_ERROR) return false;
      const size_t produced = out.size() - z.avail_out;
      *packedSize += produced;
      if (produced != 0 && std::fwrite(out.data(), 1, produced, packed) != produced) return false;
    } while (z.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    return true;
  };
  auto compress = [&](const uint8_t* bytes, size_t length) {
    z.next_in = const_cast<uint8_t*>(bytes);
    z.avail_in = static_cast<uInt>(length);
    return drain(Z_NO_FLUSH);
  };
  std::string readError;
  if (!ReadSource(program, buffer, compress, &readError)) {
    *error = readError.empty() ? "cannot compress the setup program" : readError;
    return false;
  }
  if (!drain(Z_FINISH) || std::fflush(packed) != 0) {
    *error = "cannot compress the setup program: " + std::string(std::strerror(errno));
    return false;
  }
  return true;
}

void AppendU32(ByteVector* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
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
  ByteVector buffer(static_cast<size_t>(std::clamp<uint64_t>(largest, kMinCopyChunkSize, kCopyChunkSize)));
  ByteVector prefixBlock;
  if (!PrefixBlock(package, signer, &buffer, &prefixBlock, error)) return false;
  UniqueFile packed(std::tmpfile());
  uint64_t packedSize = 0;
  if (!packed) {
    *error = "cannot make a temporary file for the compressed setup program: " + std::string(std::strerror(errno));
    return false;
  }
  if (!CompressMainProgram(package.mainProgram, &buffer, packed.get(), &packedSize, error)) return false;
  // Everything but the compressed program's and the listed files' bytes is laid out first, so that
  // the size is known before a byte is written.
  PackageLayout head(package.stub);
  head.AddRaw(prefixBlock);
  const uint64_t programOffset = head.bytes().size();
  head.bytes().insert(head.bytes().end(), kPackageBlobMagic, kPackageBlobMagic + kPackageBlobMagicSize);
  AppendU32(&head.bytes(), static_cast<uint32_t>(package.mainProgram.size));
  AppendU32(&head.bytes(), static_cast<uint32_t>(packedSize));
  const uint64_t programSize = kPackageBlobHeaderSize + packedSize;
  uint64_t end = programOffset + programSize;
  std::vector<FileLocation> locations;
  for (const auto& file : package.files) {
    if (end + file.size > kMaxPackageSize) break;  // refused below
    locations.push_back({file.name, static_cast<uint32_t>(end), static_cast<uint32_t>(file.size), file.time});
    end += file.size;
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
  std::rewind(packed.get());
  for (uint64_t left = packedSize; left > 0;) {
    const size_t want = left < buffer.size() ? static_cast<size_t>(left) : buffer.size();
    if (std::fread(buffer.data(), 1, want, packed.get()) != want) {
      *error = "cannot read the compressed setup program back: " + std::string(std::strerror(errno));
      return false;
    }
    if (!sink(buffer.data(), want, error)) return false;
    left -= want;
  }
  for (const auto& file : package.files) {
    auto copy = [&](const uint8_t* bytes, size_t length) { return sink(bytes, length, error); };
    if (!ReadSource(file, &buffer, copy, error)) return false;
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
