// Writing side of the package format: chunk lists, the directory, and the layout of a package file
// after the stub (blobs, raw files, the directory blob and the trailer). Signing comes after.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACKAGE_LAYOUT_H_
#define SFXSTUB_TOOLS_SFXPACK_PACKAGE_LAYOUT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/result_code.h"
#include "tools/sfxpack/packing/listed_file_packer.h"

namespace sfx {

using ByteVector = std::vector<uint8_t>;

// Appends chunks: a four-letter tag, the payload's 32-bit little-endian length, the payload.
class ChunkWriter {
 public:
  ChunkWriter& Add(const char* tag, const ByteVector& payload);
  ChunkWriter& AddText(const char* tag, const std::string& text);
  ChunkWriter& AddWords(const char* tag, const std::vector<uint32_t>& words);
  const ByteVector& bytes() const { return bytes_; }

 private:
  ByteVector bytes_;
};

struct PackageFile {
  std::string name;
  ByteVector bytes;
  uint32_t time = 0;  // seconds since 1970 UTC
};

// A package file being laid out: the stub first, then whatever is added, in order.
class PackageLayout {
 public:
  explicit PackageLayout(ByteVector stub) : bytes_(std::move(stub)) {}
  // A part of a package file that starts at base: offsets count from the start of the file.
  PackageLayout(ByteVector start, uint64_t base) : bytes_(std::move(start)), base_(base) {}

  // Appends data compressed as a package blob; returns 0 or 8, with the blob's offset and size.
  ResultCode AddBlob(const ByteVector& data, uint32_t* offset, uint32_t* size);
  // The setup program's blob: its stream compressed in segments at level 9, as a build's workers
  // make it.
  ResultCode AddProgram(const ByteVector& data, uint32_t* offset, uint32_t* size);
  // Appends data as they are; returns their offset.
  uint32_t AddRaw(const ByteVector& data);
  // Appends the directory blob for the given chunk list, then the trailer that points to it.
  ResultCode Finish(const ByteVector& directoryChunks);

  ByteVector& bytes() { return bytes_; }

 private:
  ByteVector bytes_;
  uint64_t base_ = 0;
};

// Where a listed file lies in the package.
struct FileLocation {
  std::string name;
  uint32_t offset = 0;
  uint32_t size = 0;  // the bytes at offset: the file's, or its zlib stream's
  uint32_t time = 0;
  bool deflated = false;  // the record then carries "ZLIB" with unpackedSize
  uint32_t unpackedSize = 0;
};

// The chunk list of a package's directory: "MODE" "extract", "CMDL", "CMDP", one "LIST" (a "FILE"
// record per file: "NAME", "PTRL", and "ZLIB" for a deflated one), then
// commandChunks as they are (the options of installer/run_options.h; none for a package built without
// them, which is then what it was before they existed).
ByteVector DirectoryChunks(const std::string& commandTemplate, uint32_t programOffset, uint32_t programSize,
                           const std::vector<FileLocation>& files, const ByteVector& commandChunks = {});

// Why a package with these listed names cannot be built (one line), or empty when it can.
std::string ListedNamesProblem(const std::vector<std::string>& names);

struct PackageSpec {
  ByteVector stub;  // with its key already stamped
  // Written right after the stub, before the first blob, referred to by nothing (prefix_block.h);
  // none when empty.
  ByteVector prefixBlock;
  ByteVector mainProgram;
  std::string commandTemplate;
  std::vector<PackageFile> files;
  ByteVector commandChunks;  // appended to the directory (DirectoryChunks)
  PackingOptions packing;  // which listed files are deflated (PackListedBytes)
};

// The unsigned package for spec: stub, prefix block, main program blob, the files (each stored or
// deflated as PackListedBytes says), the directory
// ("MODE" "extract", "CMDL", "CMDP", one "LIST") and the trailer. Refuses names the stub would refuse and
// packages that would not fit in 2 GiB; error then says why.
ResultCode LayOutPackage(const PackageSpec& spec, ByteVector* out, std::string* error);

// The biggest package the stub's 32-bit file offsets can address, signature included.
constexpr uint64_t kMaxPackageSize = 0x7FFFFFFF;

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_PACKAGE_LAYOUT_H_
