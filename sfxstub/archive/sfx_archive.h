// The package appended to the stub: verified first, then read through the trailer at the end of the
// signed range, the chunk directory it points to, and the file list.
#ifndef SFXSTUB_ARCHIVE_SFX_ARCHIVE_H_
#define SFXSTUB_ARCHIVE_SFX_ARCHIVE_H_

#include <cstdint>

#include "sfxstub/archive/byte_stream.h"
#include "sfxstub/archive/entry_name.h"
#include "sfxstub/archive/file_stream.h"
#include "sfxstub/archive/source_path_placement.h"
#include "sfxstub/archive/stub_features.h"
#include "sfxstub/platform/list.h"
#include "sfxstub/platform/text.h"
#include "sfxstub/result_code.h"
#include "sfxstub/verify/dsa_public_key.h"

namespace sfx {

constexpr char kTrailerMagic[] = "JUXsetupSelfExt2";
constexpr uint32_t kTrailerSize = 20;

// One listed file: size bytes at offset (absolute in the package file), stamped with time (seconds
// since 1970 UTC, signed 32-bit) on extraction. Stored, the bytes are the file's; deflated (a "ZLIB"
// sub-chunk), they are one zlib stream that inflates to exactly unpackedSize bytes.
struct ArchiveEntry {
  Text name;
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t time = 0;
  bool deflated = false;
  uint32_t unpackedSize = 0;  // read only when deflated

  uint32_t ExtractedSize() const { return deflated ? unpackedSize : size; }
};

// Listed files and the main program pass through buffers of this size, read and written piece by
// piece, and progress moves after each piece of a listed file. Of 1, 2, 4 and 8 MiB, 4 MiB was the
// fastest (sfxpack extract, which runs this code, of a 768 MiB setup program and a 1 GiB file).
constexpr uint32_t kExtractPieceSize = 4u << 20;

class SfxArchive {
 public:
  // Verifies with the key built into the program.
  SfxArchive();
  // Verifies with another key: the packaging tool and tests.
  explicit SfxArchive(const DsaPublicKey& key);
  ~SfxArchive();
  SfxArchive(const SfxArchive&) = delete;
  SfxArchive& operator=(const SfxArchive&) = delete;

  // Opens the package file first (denying writers, renames and deletion until destruction), then
  // verifies its signature and reads the directory. Returns 0, 2 (cannot open), 87 (mode is not
  // "extract", or a "SRCP" chunk names no placement this stub knows), 1006 (damaged, not signed,
  // signed with a record kind that does not protect it, a listed file whose bytes do not all lie
  // inside the signed range, a deflated file declaring more than deflate can give, or listed files
  // that unpack to more than 2 GiB - 1 together), 0xFFFFFFFF (a "CMDP" chunk not 8 bytes long), or
  // the error of a read that failed.
  ResultCode Open(const char* path);
  // Inflates the main program to destination, a new file (an existing name is refused with 82), in
  // pieces. Returns 0, 1006 (damaged), 82 (cannot create or write), 8 or the error of a read that
  // failed; no partial file stays.
  ResultCode ExtractMainProgram(const char* destination);
  // The same into output, open for writing, which stays open (the caller may keep holding the file
  // it wrote). Returns 0, 1006, 82 (a write failed), 8 or the error of a read that failed.
  ResultCode ExtractMainProgram(ByteStream& output);
  // Writes every listed file into directory, in list order, each a new file (an existing name is
  // refused with 183 and left as it is), copied or inflated in pieces with a progress step of the
  // piece's unpacked bytes after each. Returns 0 or the first failure (a failed read of the
  // package's bytes with its error; 1006 for a deflated file whose data are corrupt or do not give
  // exactly its unpacked size), whose partial file is deleted.
  ResultCode ExtractFiles(const char* directory);
  ResultCode ExtractEntry(const char* directory, const ArchiveEntry& entry);

  // The chunk walks, over memory streams of the decompressed directory.
  ResultCode ParseDirectory(ByteStream& directory);
  ResultCode ParseFileList(ByteStream& list);
  ResultCode ParseFileRecord(ByteStream& record);

  // Where the package's signed data end, after a successful Open.
  uint32_t SignedLength() const { return signedLength; }
  // The "MODE" text read by the last ParseDirectory.
  const Text& Mode() const { return mode; }

  uint32_t mainProgramOffset = 0;
  uint32_t mainProgramSize = 0;
  FileStream stream;
  Text commandTemplate;
  // "CMDS": the template for runs started with "/silent", "/verysilent" or "/msi"; without the
  // chunk those runs use commandTemplate.
  Text silentCommandTemplate;
  bool hasSilentCommandTemplate = false;
  // "SRCP"; kEnd without the chunk.
  SourcePathPlacement sourcePathPlacement = SourcePathPlacement::kEnd;
  List<ArchiveEntry> entries;

 private:
  ResultCode OpenPackage(const char* path);
  // The entry's bytes into output, open and positioned at its start; the caller deletes a partial file.
  ResultCode CopyEntry(const ArchiveEntry& entry, FileStream& output);
  ResultCode InflateEntry(const ArchiveEntry& entry, FileStream& output);

  DsaPublicKey key;  // a copy: the caller's key need not outlive the archive
  uint32_t signedLength = 0;
  Text mode;
};

// True for the signature record kinds a package is opened with: the binary signature only. A text
// signature verifies, but its digest leaves out every byte outside 0x20..0x7F (machine code,
// compressed data), which could then be changed at will under a valid signature.
bool IsPackageSignatureKind(uint32_t kind);

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_SFX_ARCHIVE_H_
