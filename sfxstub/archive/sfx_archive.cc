#include "sfxstub/archive/sfx_archive.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstring>

#include "sfxstub/archive/heap_block.h"
#include "sfxstub/archive/memory_stream.h"
#include "sfxstub/archive/package_blob.h"
#include "sfxstub/platform/join_path.h"
#include "sfxstub/progress/progress.h"
#include "sfxstub/verify/signed_file.h"

#if defined(_WIN32)
#include <sys/utime.h>
#else
#include <utime.h>
#endif

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

constexpr char kExtractMode[] = "extract";
constexpr uint32_t kVerifySignatureKinds = 2;
// No 32-bit process can hold a block this large; refuse it before allocating.
constexpr uint32_t kMaxBlock = 0x7FFFFFFF;

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

bool SetFileTimes(const Text& path, uint32_t time) {
  int64_t seconds = static_cast<int32_t>(time);
#if defined(_WIN32)
  __utimbuf64 times = {seconds, seconds};
  return _utime64(path.c_str(), &times) == 0;
#else
  struct utimbuf times = {static_cast<time_t>(seconds), static_cast<time_t>(seconds)};
  return utime(path.c_str(), &times) == 0;
#endif
}

}  // namespace

bool IsPackageSignatureKind(uint32_t kind) { return kind == kBinarySignature; }

SfxArchive::SfxArchive() : key(BuiltInPublicKey()) {}

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
  return ParseDirectory(walk);
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
    }
    record.Seek(static_cast<int32_t>(chunk.next), kSeekSet);
  }
  // A record must say where its bytes are, and its name must stay inside the target directory.
  if (!located || !IsSafeEntryName(entry.name)) return kErrorFileInvalid;
  entries.push_back(std::move(entry));
  return kOk;
}

ResultCode SfxArchive::ExtractMainProgram(const char* destination) {
  // The program that will run must come from the signed bytes.
  if (!WithinSignedRange(mainProgramOffset, mainProgramSize, signedLength)) return kErrorFileInvalid;
  stream.Seek(static_cast<int32_t>(mainProgramOffset), kSeekSet);
  HeapBlock program;
  uint32_t programLength = 0;
  {
    AcquiredBlock<FileStream> packed(stream, mainProgramSize);
    if (!packed) return stream.LastError();
    MemoryStream blob;
    if (!blob.Attach(packed.get(), mainProgramSize)) return kErrorFileInvalid;
    if (ReadPackageBlob(blob, &program, &programLength) != kOk) return kErrorFileInvalid;
  }
  FileStream output;
  if (!output.OpenNew(destination)) return kErrorCannotMake;
  uint32_t written = 0;
  bool ok = output.Write(program.get(), programLength, &written) && written == programLength;
  output.Close();
  if (ok) return kOk;
  std::remove(destination);
  return kErrorCannotMake;
}

ResultCode SfxArchive::ExtractFiles(const char* directory) {
  uint32_t total = 0;
  for (const auto& entry : entries) total += entry.size;
  ProgressSetTotal(static_cast<int32_t>(total));
  for (const auto& entry : entries) {
    ResultCode result = ExtractEntry(directory, entry);
    if (result != kOk) return result;
  }
  return kOk;
}

ResultCode SfxArchive::ExtractEntry(const char* directory, const ArchiveEntry& entry) {
  if (entry.size > kMaxBlock) return kErrorNotEnoughMemory;
  stream.Seek(static_cast<int32_t>(entry.offset), kSeekSet);
  AcquiredBlock<FileStream> block(stream, entry.size);
  if (!block) return stream.LastError();  // 8, or the error of a read that failed
  Text path = JoinPath(directory, entry.name.c_str());
  FileStream output;
  // Never into a name that exists: what stands there is not this run's.
  if (!output.OpenNew(path.c_str())) return output.LastError();
  uint32_t written = 0;
  bool ok = output.Write(block.get(), entry.size, &written) && written == entry.size;
  output.Close();
  if (ok) {
    ProgressStep(static_cast<int32_t>(entry.size));
    SetFileTimes(path, entry.time);
    return kOk;
  }
  std::remove(path.c_str());
  // A short write that the system did not call an error means the disk filled up.
  return output.LastError() != kOk ? output.LastError() : kErrorDiskFull;
}

}  // namespace sfx
