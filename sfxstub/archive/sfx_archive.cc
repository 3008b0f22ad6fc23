#include "sfxstub/archive/sfx_archive.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sfxstub/archive/heap_block.h"
#include "sfxstub/archive/memory_stream.h"
#include "sfxstub/archive/package_blob.h"
#include "sfxstub/platform/join_path.h"
#include "sfxstub/progress/progress.h"
#include "sfxstub/verify/signed_file.h"

namespace sfx {
namespace {

constexpr uint32_t Tag(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

constexpr uint32_t kTagMode = Tag("MODE");
constexpr uint32_t kTagCommandLine = Tag("CMDL");
constexpr uint32_t kTagSilentCommandLine = Tag("CMDS");
constexpr uint32_t kTagSourcePath = Tag("SRCP");
constexpr uint32_t kTagMainProgram = Tag("CMDP");
constexpr uint32_t kTagList = Tag("LIST");
constexpr uint32_t kTagFile = Tag("FILE");
constexpr uint32_t kTagName = Tag("NAME");
constexpr uint32_t kTagPointer = Tag("PTRL");
constexpr uint32_t kTagDeflated = Tag("ZLIB");

constexpr char kExtractMode[] = "extract";
constexpr uint32_t kVerifySignatureKinds = 2;
// No listed file of a package the stub can address is this large, nor all of them unpacked.
constexpr uint32_t kMaxBlock = 0x7FFFFFFF;

struct StubFeatures {
  char marker[kStubFeaturesMarkerSize];
  uint8_t mask[4];
};

// What this stub can read, found by the packaging tool in the image. volatile, and read once per
// archive: the linker drops data nobody reads.
volatile StubFeatures stubFeatures = {
    {'J', 'U', 'X', 's', 'e', 't', 'u', 'p', 'F', 'e', 'a', 't', 'u', 'r', 'e', 's'},
    {kStubFeatureDeflatedFiles, 0, 0, 0}};

struct ChunkHeader {
  uint32_t tag;
  uint32_t length;
  uint32_t next;
  bool fits;  // the payload lies inside the data that holds it
};

ChunkHeader ReadChunkHeader(ByteStream& stream) {
  ChunkHeader header;
  header.tag = ReadU32(stream);
  header.length = ReadU32(stream);
  uint64_t end = static_cast<uint64_t>(stream.position) + header.length;
  header.fits = end <= stream.Length();
  header.next = static_cast<uint32_t>(end);
  return header;
}

// The payload of the chunk whose header was just read, as text.
Text ReadText(ByteStream& stream, uint32_t length) {
  AcquiredBlock<ByteStream> block(stream, length);
  return block ? Text(reinterpret_cast<const char*>(block.get()), length) : Text();
}

// Two listed files that are one file to Windows: the later would silently replace the earlier.
bool HasNameClash(const List<ArchiveEntry>& entries) {
  List<Text> names;
  for (const auto& entry : entries) names.push_back(entry.name.Copy());
  return FindNameClash(names, nullptr, nullptr);
}

bool WithinSignedRange(uint32_t offset, uint32_t size, uint32_t signedLength) {
  return static_cast<uint64_t>(offset) + size <= signedLength;
}

}  // namespace

bool IsPackageSignatureKind(uint32_t kind) { return kind == kBinarySignature; }

SfxArchive::SfxArchive() : key(BuiltInPublicKey()) { static_cast<void>(stubFeatures.mask[0]); }

SfxArchive::SfxArchive(const DsaPublicKey& verifyKey) : key(verifyKey) {}

SfxArchive::~SfxArchive() { stream.Close(); }

ResultCode SfxArchive::Open(const char* path) {
  ResultCode result = OpenPackage(path);
  // A package that does not open is not held either.
  if (result != kOk) stream.Close();
  return result;
}

ResultCode SfxArchive::OpenPackage(const char* path) {
  // The file is held first, with writers, renames and deletion shut out, so that what is verified
  // below is what is extracted afterwards.
  // The check reads through that same handle: where names can be swapped under an open file (POSIX
  // has no share modes), a second open by name could verify one file and extract another.
  if (!stream.OpenRead(path, FileShare::kReadOnly)) return kErrorFileNotFound;
  uint32_t signedEnd = 0;
  uint32_t kind = 0;
  if (VerifySignedStream(stream, kVerifySignatureKinds, key, &kind, &signedEnd) != kOk) {
    return kErrorFileInvalid;
  }
  if (!IsPackageSignatureKind(kind)) return kErrorFileInvalid;
  if (stream.Length() < signedEnd || signedEnd < kTrailerSize) return kErrorFileInvalid;
  signedLength = signedEnd;

  uint32_t trailerPosition = signedLength - kTrailerSize;
  stream.Seek(static_cast<int32_t>(trailerPosition), kSeekSet);
  uint32_t directoryOffset = ReadU32(stream);
  char magic[16] = {};
  uint32_t got = 0;
  if (!stream.Read(magic, sizeof magic, &got) || got != sizeof magic ||
      std::memcmp(magic, kTrailerMagic, sizeof magic) != 0) {
    return kErrorFileInvalid;
  }
  if (directoryOffset > trailerPosition) return kErrorFileInvalid;

  stream.Seek(static_cast<int32_t>(directoryOffset), kSeekSet);
  HeapBlock directory;
  uint32_t directoryLength = 0;
  {
    AcquiredBlock<FileStream> packed(stream, trailerPosition - directoryOffset);
    if (!packed) return stream.LastError();
    MemoryStream blob;
    if (!blob.Attach(packed.get(), trailerPosition - directoryOffset)) return kErrorFileInvalid;
    if (ReadPackageBlob(blob, &directory, &directoryLength) != kOk) return kErrorFileInvalid;
  }
  MemoryStream walk;
  if (!walk.Attach(directory.get(), directoryLength)) return kErrorFileInvalid;
  ResultCode result = ParseDirectory(walk);
  if (result != kOk) return result;
  // Every listed file comes from the signed bytes: a range into the record, a certificate table or
  // past the end of the file would extract bytes nobody signed. What the files unpack to is bounded
  // before anything is written, so that a few signed bytes cannot claim the disk.
  uint64_t unpacked = 0;
  for (const auto& entry : entries) {
    if (!WithinSignedRange(entry.offset, entry.size, signedLength)) return kErrorFileInvalid;
    if (entry.deflated && entry.unpackedSize > static_cast<uint64_t>(entry.size) * kMaxDeflateRatio) {
      return kErrorFileInvalid;
    }
    unpacked += entry.ExtractedSize();
  }
  if (unpacked > kMaxBlock) return kErrorFileInvalid;
  return kOk;
}

ResultCode SfxArchive::ParseDirectory(ByteStream& directory) {
  ResultCode result = kOk;
  bool placementKnown = true;
  mode.clear();
  while (directory.position < directory.Length()) {
    ChunkHeader chunk = ReadChunkHeader(directory);
    if (chunk.tag == kTagMainProgram && chunk.length != 8) return kBadChunkDirectory;
    if (!chunk.fits) return kErrorFileInvalid;
    if (chunk.tag == kTagMainProgram) {
      mainProgramOffset = ReadU32(directory);
      mainProgramSize = ReadU32(directory);
    } else if (chunk.tag == kTagList) {
      AcquiredBlock<ByteStream> block(directory, chunk.length);
      MemoryStream list;
      list.Attach(block.get(), chunk.length);
      ResultCode listResult = ParseFileList(list);
      // A damaged record anywhere damages the package; the mode check below still comes first.
      if (result == kOk) result = listResult;
    } else if (chunk.tag == kTagMode) {
      mode = ReadText(directory, chunk.length);
    } else if (chunk.tag == kTagCommandLine) {
      commandTemplate = ReadText(directory, chunk.length);
    } else if (chunk.tag == kTagSilentCommandLine) {
      silentCommandTemplate = ReadText(directory, chunk.length);
      hasSilentCommandTemplate = true;
    } else if (chunk.tag == kTagSourcePath) {
      const Text name = ReadText(directory, chunk.length);
      placementKnown = name.size() == chunk.length &&
                       ParseSourcePathPlacement(name.c_str(), name.size(), &sourcePathPlacement);
    }
    directory.Seek(static_cast<int32_t>(chunk.next), kSeekSet);
  }
  if (mode != kExtractMode) return kErrorInvalidParameter;
  // A placement this stub does not know is a package made for another one: running the setup program
  // with the source path where it does not expect it could install in the wrong place.
  if (!placementKnown) return kErrorInvalidParameter;
  if (result == kOk && HasNameClash(entries)) return kErrorFileInvalid;
  return result;
}

ResultCode SfxArchive::ParseFileList(ByteStream& list) {
  ResultCode result = kOk;
  while (list.position < list.Length()) {
    ChunkHeader chunk = ReadChunkHeader(list);
    if (!chunk.fits) return kErrorFileInvalid;
    if (chunk.tag == kTagFile) {
      AcquiredBlock<ByteStream> block(list, chunk.length);
      MemoryStream record;
      record.Attach(block.get(), chunk.length);
      ResultCode recordResult = ParseFileRecord(record);
      if (result == kOk) result = recordResult;
    }
    list.Seek(static_cast<int32_t>(chunk.next), kSeekSet);
  }
  return result;
}

ResultCode SfxArchive::ParseFileRecord(ByteStream& record) {
  ArchiveEntry entry;
  bool located = false;
  while (record.position < record.Length()) {
    ChunkHeader chunk = ReadChunkHeader(record);
    if (!chunk.fits) return kErrorFileInvalid;
    if (chunk.tag == kTagName) {
      entry.name = ReadText(record, chunk.length);
    } else if (chunk.tag == kTagPointer) {
      if (chunk.length != 12) return kErrorFileInvalid;
      entry.offset = ReadU32(record);
      entry.size = ReadU32(record);
      entry.time = ReadU32(record);
      located = true;
    } else if (chunk.tag == kTagDeflated) {
      if (chunk.length != 4) return kErrorFileInvalid;
      entry.unpackedSize = ReadU32(record);
      entry.deflated = true;
    }
    record.Seek(static_cast<int32_t>(chunk.next), kSeekSet);
  }
  // A record must say where its bytes are, and its name must stay inside the target directory.
  if (!located || !IsSafeEntryName(entry.name)) return kErrorFileInvalid;
  entries.push_back(std::move(entry));
  return kOk;
}

ResultCode SfxArchive::ExtractMainProgram(const char* destination) {
  FileStream output;
  if (!output.OpenNew(destination)) return kErrorCannotMake;
  ResultCode result = ExtractMainProgram(output);
  output.Close();
  if (result != kOk) std::remove(destination);
  return result;
}

ResultCode SfxArchive::ExtractMainProgram(ByteStream& output) {
  // The program that will run must come from the signed bytes.
  if (!WithinSignedRange(mainProgramOffset, mainProgramSize, signedLength)) return kErrorFileInvalid;
  if (stream.Seek(static_cast<int32_t>(mainProgramOffset), kSeekSet) != mainProgramOffset) {
    return stream.LastError();
  }
  PackageBlobHeader header;
  if (ReadPackageBlobHeader(stream, mainProgramSize, &header) != kOk) return kErrorFileInvalid;
  uint32_t written = 0;
  switch (InflatePackageBlob(stream, header, output, kExtractPieceSize, &written)) {
    case kOk: return kOk;
    case kErrorReadFault: return stream.LastError();
    case kErrorWriteFault: return kErrorCannotMake;
    case kErrorNotEnoughMemory: return kErrorNotEnoughMemory;
    default: return kErrorFileInvalid;
  }
}

ResultCode SfxArchive::ExtractFiles(const char* directory) {
  uint32_t total = 0;
  for (const auto& entry : entries) total += entry.ExtractedSize();
  ProgressSetTotal(static_cast<int32_t>(total));
  for (const auto& entry : entries) {
    ResultCode result = ExtractEntry(directory, entry);
    if (result != kOk) return result;
  }
  return kOk;
}

ResultCode SfxArchive::ExtractEntry(const char* directory, const ArchiveEntry& entry) {
  if (entry.size > kMaxBlock || entry.ExtractedSize() > kMaxBlock) return kErrorNotEnoughMemory;
  stream.Seek(static_cast<int32_t>(entry.offset), kSeekSet);
  Text path = JoinPath(directory, entry.name.c_str());
  FileStream output;
  // Never into a name that exists: what stands there is not this run's.
  if (!output.OpenNew(path.c_str())) return output.LastError();
  ResultCode result = entry.deflated ? InflateEntry(entry, output) : CopyEntry(entry, output);
  // The times go on through the open file: by name after the close, they could land on whatever
  // was put at the name meanwhile (a link, followed). A failure to set them is not an error.
  if (result == kOk) output.SetTimes(entry.time);
  output.Close();
  if (result != kOk) {
    std::remove(path.c_str());
    return result;
  }
  if (entry.ExtractedSize() == 0) ProgressStep(0);
  return kOk;
}

namespace {

// Why a write came up short: the system's error, or a full disk when it named none.
ResultCode ShortWriteError(FileStream& output) {
  return output.LastError() != kOk ? output.LastError() : kErrorDiskFull;
}

// Passes writes on to the extracted file and moves the progress bar by what was written.
class ProgressOutput : public ByteStream {
 public:
  explicit ProgressOutput(ByteStream& file) : file_(file) {}
  bool Write(const void* buffer, uint32_t count, uint32_t* transferred) override {
    const bool ok = file_.Write(buffer, count, transferred);
    if (ok && *transferred == count) ProgressStep(static_cast<int32_t>(count));
    return ok;
  }
  uint8_t* Acquire(uint32_t) override { return nullptr; }
  void Release(uint8_t*) override {}
  uint32_t Seek(int32_t, int) override { return 0xFFFFFFFF; }
  void Close() override {}

 private:
  ByteStream& file_;
};

}  // namespace

ResultCode SfxArchive::InflateEntry(const ArchiveEntry& entry, FileStream& output) {
  PackageBlobHeader header;
  header.unpackedSize = entry.unpackedSize;
  header.packedSize = entry.size;
  // The pieces need not exceed the file: many small files then cost little memory each.
  const uint32_t larger = entry.size > entry.unpackedSize ? entry.size : entry.unpackedSize;
  const uint32_t pieceSize = larger < kExtractPieceSize ? larger + 1 : kExtractPieceSize;
  ProgressOutput reported(output);
  uint32_t written = 0;
  switch (InflatePackageBlob(stream, header, reported, pieceSize, &written)) {
    case kOk: return written == entry.unpackedSize ? kOk : kErrorFileInvalid;  // never a short file
    case kErrorReadFault: return stream.LastError();
    case kErrorWriteFault: return ShortWriteError(output);
    case kErrorNotEnoughMemory: return kErrorNotEnoughMemory;
    default: return kErrorFileInvalid;
  }
}

ResultCode SfxArchive::CopyEntry(const ArchiveEntry& entry, FileStream& output) {
  const uint32_t pieceSize = entry.size < kExtractPieceSize ? entry.size : kExtractPieceSize;
  HeapBlock piece(static_cast<uint8_t*>(std::malloc(pieceSize ? pieceSize : 1)));
  if (!piece) return kErrorNotEnoughMemory;
  ResultCode result = kOk;
  for (uint32_t remaining = entry.size; remaining > 0 && result == kOk;) {
    const uint32_t want = remaining < pieceSize ? remaining : pieceSize;
    uint32_t got = 0;
    if (!stream.Read(piece.get(), want, &got)) {
      result = stream.LastError();  // never zeros in place of bytes that failed to read
      break;
    }
    std::memset(piece.get() + got, 0, want - got);  // only bytes past the end of the file are missing
    uint32_t written = 0;
    if (!output.Write(piece.get(), want, &written) || written != want) {
      // A short write that the system did not call an error means the disk filled up.
      result = ShortWriteError(output);
      break;
    }
    remaining -= want;
    ProgressStep(static_cast<int32_t>(want));
  }
  return result;
}

}  // namespace sfx
