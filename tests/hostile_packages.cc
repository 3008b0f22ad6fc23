#include "tests/hostile_packages.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "sfxstub/archive/package_blob.h"
#include "tools/sfxpack/package_layout.h"
#include "tools/sfxpack/packing/listed_file_packer.h"
#include "tools/sfxpack/signing/signature_records.h"

namespace sfx {
namespace test {
namespace {

using DirectoryFn = std::function<ByteVector(const PackageParts&)>;
using PatchFn = std::function<void(Bytes*, const PackageParts&)>;

constexpr uint32_t k2GiB = 0x80000000u;
constexpr uint32_t kAllOnes = 0xFFFFFFFFu;
constexpr uint32_t kTrailerSize = 20;
constexpr uint32_t kBlobUnpackedSizeField = 16;
constexpr uint32_t kBlobPackedSizeField = 20;

void PutU32(Bytes* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const Bytes& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | bytes[at + i];
  return value;
}

ByteVector Record(const std::string& name, uint32_t offset, uint32_t size, uint32_t time) {
  return ChunkWriter().AddText("NAME", name).AddWords("PTRL", {offset, size, time}).bytes();
}

// A "FILE" record of a deflated file: "ZLIB" gives its unpacked size, the range holds its stream.
ByteVector DeflatedRecord(const std::string& name, uint32_t offset, uint32_t size, uint32_t unpacked) {
  return ChunkWriter().AddText("NAME", name).AddWords("PTRL", {offset, size, 0}).AddWords("ZLIB", {unpacked}).bytes();
}

ByteVector ListOf(const std::vector<ByteVector>& records) {
  ChunkWriter list;
  for (const auto& record : records) list.Add("FILE", record);
  return list.bytes();
}

// The directory as the packaging tool writes it, with the given file list.
ByteVector Directory(const PackageParts& parts, const ByteVector& list) {
  return ChunkWriter()
      .AddText("MODE", "extract")
      .AddText("CMDL", HostilePackages::kCommandTemplate)
      .AddWords("CMDP", {parts.mainOffset, parts.mainSize})
      .Add("LIST", list)
      .bytes();
}

ByteVector StandardList(const PackageParts& parts) {
  std::vector<ByteVector> records;
  const auto& files = HostilePackages::StandardFiles();
  for (size_t i = 0; i < files.size(); ++i) {
    records.push_back(Record(files[i].name, parts.fileOffsets[i],
                             static_cast<uint32_t>(files[i].bytes.size()), files[i].time));
  }
  return ListOf(records);
}

ByteVector StandardDirectory(const PackageParts& parts) { return Directory(parts, StandardList(parts)); }

// A directory whose file list holds one record with these fields in place of the standard ones.
DirectoryFn OneFile(const std::string& name, uint32_t offset, uint32_t size) {
  return [=](const PackageParts& parts) { return Directory(parts, ListOf({Record(name, offset, size, 0)})); };
}

// The standard directory with the 4-byte length field of the chunk that starts at chunkStart (found
// by the caller in the chunk bytes) set to length.
ByteVector WithLength(ByteVector chunks, size_t chunkStart, uint32_t length) {
  PutU32(&chunks, chunkStart + 4, length);
  return chunks;
}

size_t Find(const ByteVector& bytes, const std::string& text) {
  auto at = std::search(bytes.begin(), bytes.end(), text.begin(), text.end());
  return static_cast<size_t>(at - bytes.begin());
}

// The directory blob's header fields sit right at parts.directoryOffset.
PatchFn DirectoryBlobField(uint32_t field, uint32_t value) {
  return [=](Bytes* bytes, const PackageParts& parts) { PutU32(bytes, parts.directoryOffset + field, value); };
}

PatchFn MainBlobField(uint32_t field, uint32_t value) {
  return [=](Bytes* bytes, const PackageParts& parts) { PutU32(bytes, parts.mainOffset + field, value); };
}

// A declared unpacked size one short of what the blob really inflates to.
PatchFn OneShort(bool mainBlob) {
  return [=](Bytes* bytes, const PackageParts& parts) {
    uint32_t at = (mainBlob ? parts.mainOffset : parts.directoryOffset) + kBlobUnpackedSizeField;
    PutU32(bytes, at, GetU32(*bytes, at) - 1);
  };
}

void Flip(Bytes* bytes, size_t at) { (*bytes)[at] ^= 0x01; }

}  // namespace

constexpr char HostilePackages::kCommandTemplate[];

const std::vector<ListedFile>& HostilePackages::StandardFiles() {
  static const std::vector<ListedFile> files = {
      {"readme.txt", BytesOf("read me\r\n"), 1500000000},
      {"data.bin", NoiseBytes(3000, 8), 1600000000},
  };
  return files;
}

HostilePackages::HostilePackages(Bytes stubImage, Bytes mainProgram, const SigningKey& signer)
    : stub_(std::move(stubImage)), mainProgram_(std::move(mainProgram)), signer_(signer) {
  stubImageEnd_ = static_cast<uint32_t>(stub_.size());
  // The bare stub carries a record of its own, ahead of the package data, as the tool writes it.
  std::string error;
  SignPackage(signer_, kBinarySignature, &stub_, &error);
}

Bytes HostilePackages::Signed(const Bytes& unsignedPackage, uint32_t kind) const {
  Bytes bytes = unsignedPackage;
  std::string error;
  SignPackage(signer_, static_cast<SignatureKind>(kind), &bytes, &error);
  return bytes;
}

namespace {

// One package: the stub, the main program's blob, the stored files raw, then the directory blob and
// the trailer; patch runs on the finished bytes, before any signing.
Bytes Build(const Bytes& stub, uint32_t stubImageEnd, const Bytes& mainProgram,
            const std::vector<ListedFile>& stored, const DirectoryFn& directory, const PatchFn& patch,
            PackageParts* parts) {
  PackageLayout layout(stub);
  parts->stubImageEnd = stubImageEnd;
  layout.AddBlob(mainProgram, &parts->mainOffset, &parts->mainSize);
  parts->fileOffsets.clear();
  for (const auto& file : stored) parts->fileOffsets.push_back(layout.AddRaw(file.bytes));
  parts->directoryOffset = static_cast<uint32_t>(layout.bytes().size());
  layout.Finish(directory(*parts));
  Bytes bytes = layout.bytes();
  parts->signedEnd = static_cast<uint32_t>(bytes.size());
  parts->trailerOffset = parts->signedEnd - kTrailerSize;
  if (patch) patch(&bytes, *parts);
  return bytes;
}

}  // namespace

Bytes HostilePackages::Unsigned(PackageParts* parts) const {
  PackageParts local;
  return Build(stub_, stubImageEnd_, mainProgram_, StandardFiles(), StandardDirectory, nullptr,
               parts ? parts : &local);
}

std::vector<HostileRow> HostilePackages::Rows() const {
  using S = HostileStage;
  using W = HostileWhere;
  std::vector<HostileRow> rows;
  PackageParts parts;
  const Bytes good = Unsigned(&parts);
  const Bytes goodBinary = Signed(good, kBinarySignature);
  const std::vector<ListedFile>& standard = StandardFiles();

  auto add = [&](const std::string& name, Bytes package, S stage, ResultCode code, W where,
                 std::vector<ListedFile> files = {}) {
    rows.push_back(HostileRow{name, std::move(package), stage, code, where, std::move(files)});
  };
  // A package signed with the package key, its directory and bytes shaped by the row.
  auto signedRow = [&](const std::string& name, S stage, ResultCode code, W where,
                       const DirectoryFn& directory, const PatchFn& patch = nullptr,
                       std::vector<ListedFile> files = {}) {
    PackageParts own;
    Bytes bytes = Build(stub_, stubImageEnd_, mainProgram_, standard, directory, patch, &own);
    add(name, Signed(bytes, kBinarySignature), stage, code, where, std::move(files));
  };
  auto damaged = [&](Bytes bytes, size_t at) {
    Flip(&bytes, at);
    return bytes;
  };

  // Controls: the well-formed package with each record kind that verifies.
  add("good-binary", goodBinary, S::kRuns, 0, W::kEverywhere, standard);
  // A text signature verifies but does not protect a package (its digest skips every byte outside
  // 0x20..0x7F): refused.
  add("good-text", Signed(good, kTextSignature), S::kOpening, kErrorFileInvalid, W::kEverywhere);

  // The record: damaged in each kind, followed by a stray byte, of another key, of a refused kind.
  const uint32_t record = parts.signedEnd;
  Bytes appended = goodBinary;
  appended.push_back(0);
  add("binary-record-then-one-byte", appended, S::kOpening, kErrorFileInvalid, W::kEverywhere);
  Bytes textThenLine = Signed(good, kTextSignature);
  textThenLine.push_back('\n');  // text records may be followed by a line end
  add("text-record-then-line-end", textThenLine, S::kOpening, kErrorFileInvalid, W::kHostOnly);
  add("binary-record-r-damaged", damaged(goodBinary, record), S::kOpening, kErrorFileInvalid, W::kHostOnly);
  add("binary-record-s-damaged", damaged(goodBinary, record + 39), S::kOpening, kErrorFileInvalid,
      W::kEverywhere);
  add("binary-record-magic-damaged", damaged(goodBinary, record + 47), S::kOpening, kErrorFileInvalid,
      W::kHostOnly);
  const Bytes goodText = Signed(good, kTextSignature);
  add("text-record-digit-damaged", damaged(goodText, record + 8 + 41), S::kOpening, kErrorFileInvalid,
      W::kEverywhere);
  add("text-record-opening-magic-damaged", damaged(goodText, record), S::kOpening, kErrorFileInvalid,
      W::kHostOnly);
  add("digest-record", Signed(good, kTextDigest), S::kOpening, kErrorFileInvalid, W::kEverywhere);
  add("digest-record-damaged", damaged(Signed(good, kTextDigest), record + 8), S::kOpening,
      kErrorFileInvalid, W::kHostOnly);
  add("signed-data-changed", damaged(goodBinary, parts.trailerOffset - 1), S::kOpening,
      kErrorFileInvalid, W::kHostOnly);

  // The package cut at each boundary between its parts, and at the first, middle and last byte of
  // the trailer and of the record. The cut right after the stub's own record leaves a file whose
  // signature verifies: the trailer must stop it.
  struct Cut {
    const char* name;
    uint32_t at;
  };
  const Cut cuts[] = {
      {"stub-image-end", parts.stubImageEnd},
      {"stub-record-end", parts.mainOffset},
      {"main-blob-header-end", parts.mainOffset + kPackageBlobHeaderSize},
      {"main-blob-end", parts.mainOffset + parts.mainSize},
      {"first-file-end", parts.fileOffsets[1]},
      {"directory-blob-start", parts.directoryOffset},
      {"directory-blob-header-end", parts.directoryOffset + kPackageBlobHeaderSize},
      {"trailer-first-byte", parts.trailerOffset + 1},
      {"trailer-middle-byte", parts.trailerOffset + kTrailerSize / 2},
      {"trailer-last-byte", parts.trailerOffset + kTrailerSize - 1},
      {"record-start", record},
      {"record-middle-byte", record + kBinarySignatureRecordSize / 2},
      {"record-last-byte", record + kBinarySignatureRecordSize - 1},
  };
  for (const Cut& cut : cuts) {
    add(std::string("cut-at-") + cut.name, Bytes(goodBinary.begin(), goodBinary.begin() + cut.at),
        S::kOpening, kErrorFileInvalid, W::kEverywhere);
  }
  // Cut, then signed again: the signature holds, the trailer is missing.
  for (const Cut& cut : {Cut{"directory-blob-start", parts.directoryOffset},
                         Cut{"trailer-last-byte", parts.trailerOffset + kTrailerSize - 1}}) {
    add(std::string("cut-and-resigned-at-") + cut.name,
        Signed(Bytes(good.begin(), good.begin() + cut.at), kBinarySignature), S::kOpening,
        kErrorFileInvalid, W::kEverywhere);
  }

  // The trailer's directory offset.
  signedRow("directory-offset-past-trailer", S::kOpening, kErrorFileInvalid, W::kEverywhere,
            StandardDirectory, [](Bytes* bytes, const PackageParts& p) {
              PutU32(bytes, p.trailerOffset, p.trailerOffset + 1);
            });
  signedRow("directory-offset-at-stub", S::kOpening, kErrorFileInvalid, W::kHostOnly, StandardDirectory,
            [](Bytes* bytes, const PackageParts& p) { PutU32(bytes, p.trailerOffset, 0); });

  // Lengths that run past what holds them.
  signedRow("command-template-past-directory", S::kOpening, kErrorFileInvalid, W::kEverywhere,
            [](const PackageParts& p) {
              ByteVector d = StandardDirectory(p);
              return WithLength(d, Find(d, "CMDL"), 0x1000);
            });
  signedRow("list-past-directory", S::kOpening, kErrorFileInvalid, W::kEverywhere, [](const PackageParts& p) {
    ByteVector d = StandardDirectory(p);
    return WithLength(d, Find(d, "LIST"), static_cast<uint32_t>(d.size()));
  });
  signedRow("file-record-past-list", S::kOpening, kErrorFileInvalid, W::kEverywhere, [](const PackageParts& p) {
    ByteVector d = StandardDirectory(p);
    return WithLength(d, Find(d, "FILE"), 0x200);
  });
  signedRow("name-past-file-record", S::kOpening, kErrorFileInvalid, W::kEverywhere, [](const PackageParts& p) {
    ByteVector d = StandardDirectory(p);
    return WithLength(d, Find(d, "NAME"), 0x100);
  });
  signedRow("pointer-record-of-16-bytes", S::kOpening, kErrorFileInvalid, W::kEverywhere,
            [](const PackageParts& p) {
              return Directory(p, ListOf({ChunkWriter().AddText("NAME", "a").AddWords("PTRL", {0, 1, 2, 3}).bytes()}));
            });
  signedRow("main-program-chunk-of-12-bytes", S::kOpening, kBadChunkDirectory, W::kEverywhere,
            [](const PackageParts& p) {
              return ChunkWriter().AddText("MODE", "extract").AddWords("CMDP", {p.mainOffset, p.mainSize, 0}).bytes();
            });

  // Sizes of 2 GiB and more: refused before anything of that size is allocated.
  signedRow("chunk-length-4GiB", S::kOpening, kErrorFileInvalid, W::kEverywhere, [](const PackageParts& p) {
    ByteVector d = StandardDirectory(p);
    return WithLength(d, Find(d, "CMDL"), kAllOnes);
  });
  signedRow("name-length-2GiB", S::kOpening, kErrorFileInvalid, W::kHostOnly, [](const PackageParts& p) {
    ByteVector d = StandardDirectory(p);
    return WithLength(d, Find(d, "NAME"), k2GiB);
  });
  signedRow("directory-blob-unpacked-4GiB", S::kOpening, kErrorFileInvalid, W::kEverywhere,
            StandardDirectory, DirectoryBlobField(kBlobUnpackedSizeField, kAllOnes));
  signedRow("directory-blob-unpacked-2GiB", S::kOpening, kErrorFileInvalid, W::kHostOnly, StandardDirectory,
            DirectoryBlobField(kBlobUnpackedSizeField, k2GiB));
  signedRow("directory-blob-packed-4GiB", S::kOpening, kErrorFileInvalid, W::kEverywhere, StandardDirectory,
            DirectoryBlobField(kBlobPackedSizeField, kAllOnes));
  signedRow("main-program-size-2GiB", S::kExtractingMain, kErrorFileInvalid, W::kEverywhere,
            [](const PackageParts& p) {
              return ChunkWriter().AddText("MODE", "extract").AddWords("CMDP", {p.mainOffset, k2GiB}).bytes();
            });
  signedRow("main-blob-unpacked-4GiB", S::kExtractingMain, kErrorFileInvalid, W::kEverywhere,
            StandardDirectory, MainBlobField(kBlobUnpackedSizeField, kAllOnes));
  signedRow("main-blob-unpacked-2GiB", S::kExtractingMain, kErrorFileInvalid, W::kHostOnly, StandardDirectory,
            MainBlobField(kBlobUnpackedSizeField, k2GiB));
  signedRow("main-blob-packed-4GiB", S::kExtractingMain, kErrorFileInvalid, W::kEverywhere, StandardDirectory,
            MainBlobField(kBlobPackedSizeField, kAllOnes));
  signedRow("listed-file-size-2GiB", S::kOpening, kErrorFileInvalid, W::kEverywhere,
            [](const PackageParts& p) { return Directory(p, ListOf({Record("big", p.fileOffsets[0], k2GiB, 0)})); });
  signedRow("listed-file-size-4GiB", S::kOpening, kErrorFileInvalid, W::kEverywhere,
            [](const PackageParts& p) { return Directory(p, ListOf({Record("big", p.fileOffsets[0], kAllOnes, 0)})); });

  // Offsets past the end, and a program that is no blob.
  signedRow("main-program-past-the-end", S::kExtractingMain, kErrorFileInvalid, W::kEverywhere,
            [](const PackageParts& p) {
              return ChunkWriter().AddText("MODE", "extract").AddWords("CMDP", {p.signedEnd + 4096, p.mainSize}).bytes();
            });
  signedRow("main-program-into-the-record", S::kExtractingMain, kErrorFileInvalid, W::kHostOnly,
            [](const PackageParts& p) {
              return ChunkWriter().AddText("MODE", "extract").AddWords("CMDP", {p.mainOffset, p.signedEnd - p.mainOffset + 1}).bytes();
            });
  signedRow("main-program-missing", S::kExtractingMain, kErrorFileInvalid, W::kEverywhere,
            [](const PackageParts&) { return ChunkWriter().AddText("MODE", "extract").bytes(); });
  signedRow("main-program-not-a-blob", S::kExtractingMain, kErrorFileInvalid, W::kHostOnly,
            [](const PackageParts& p) {
              return ChunkWriter().AddText("MODE", "extract").AddWords("CMDP", {p.fileOffsets[1], 100}).bytes();
            });
  // A listed file must lie inside the signed range: one byte into the record (or a certificate table,
  // or past the end of the file) is bytes nobody signed, and the package is refused before anything
  // is written. Its last byte may be the trailer's last.
  signedRow("listed-file-past-the-end", S::kOpening, kErrorFileInvalid, W::kEverywhere,
            OneFile("far.bin", 0xFFFFFF00u, 16));
  signedRow("listed-file-wrapping-past-4GiB", S::kOpening, kErrorFileInvalid, W::kHostOnly,
            [](const PackageParts& p) { return Directory(p, ListOf({Record("w.bin", 0x100, kAllOnes - 0xFF, 0)})); });
  // A file at an offset from the signed end, which the directory that holds it moves: built again
  // until the end it names is the end it makes.
  auto fromEndRow = [&](const std::string& name, S stage, ResultCode code, W where, int32_t fromEnd, uint32_t size,
                        std::vector<ListedFile> files) {
    uint32_t end = parts.signedEnd;
    for (int attempt = 0; attempt < 8; ++attempt) {
      PackageParts own;
      const DirectoryFn directory = [&](const PackageParts& p) {
        return Directory(p, ListOf({Record("r.bin", end + fromEnd, size, 0)}));
      };
      Bytes bytes = Build(stub_, stubImageEnd_, mainProgram_, standard, directory, nullptr, &own);
      if (own.signedEnd == end) {
        add(name, Signed(bytes, kBinarySignature), stage, code, where, std::move(files));
        return;
      }
      end = own.signedEnd;
    }
    add(name + "-never-settled", Bytes(), S::kRuns, 0, where);  // fails every check that runs it
  };
  fromEndRow("listed-file-one-byte-into-the-record", S::kOpening, kErrorFileInvalid, W::kEverywhere, -4, 5, {});
  fromEndRow("listed-file-starting-at-the-record", S::kOpening, kErrorFileInvalid, W::kHostOnly, 0, 1, {});
  // The trailer magic's last 4 bytes.
  fromEndRow("listed-file-ending-with-the-trailer", S::kRuns, 0, W::kEverywhere, -4, 4, {{"r.bin", BytesOf("Ext2"), 0}});

  // Blobs that inflate to more than they declare.
  signedRow("main-blob-inflates-past-its-size", S::kExtractingMain, kErrorFileInvalid, W::kEverywhere,
            StandardDirectory, OneShort(true));
  signedRow("directory-blob-inflates-past-its-size", S::kOpening, kErrorFileInvalid, W::kEverywhere,
            StandardDirectory, OneShort(false));

  // Deflated listed files: a stream that does not give exactly the declared bytes, with a good check
  // value, fails the extraction and leaves no file; declared sizes that could not come from the
  // range (past deflate's ratio, or over 2 GiB in all) and ranges outside the signed range are
  // refused when the package opens. Most rows hold one file, the stream of inflated.
  Bytes inflated;
  for (int line = 0; inflated.size() < 20000; ++line) {
    const Bytes text = BytesOf("line " + std::to_string(line * 7919 % 1000) + " of a deflated file\r\n");
    inflated.insert(inflated.end(), text.begin(), text.end());
  }
  Bytes stream;
  PackListedBytes(inflated, PackingOptions(), &stream);
  const uint32_t streamSize = static_cast<uint32_t>(stream.size());
  const uint32_t unpacked = static_cast<uint32_t>(inflated.size());
  auto deflatedRow = [&](const std::string& name, S stage, W where, const DirectoryFn& directory,
                         const PatchFn& patch = nullptr, const Bytes& range = Bytes()) {
    PackageParts own;
    Bytes bytes = Build(stub_, stubImageEnd_, mainProgram_, {{"packed.bin", range.empty() ? stream : range, 0}},
                        directory, patch, &own);
    const bool runs = stage == S::kRuns;
    add(name, Signed(bytes, kBinarySignature), stage, runs ? 0 : kErrorFileInvalid, where,
        runs ? std::vector<ListedFile>{{"packed.bin", inflated, 0}} : std::vector<ListedFile>{});
  };
  // The record with the given range and declared size, at the stream's place.
  auto declaring = [&](uint32_t size, uint32_t declared) -> DirectoryFn {
    return [=](const PackageParts& p) {
      return Directory(p, ListOf({DeflatedRecord("packed.bin", p.fileOffsets[0], size, declared)}));
    };
  };
  auto streamByte = [](uint32_t at) -> PatchFn {
    return [=](Bytes* bytes, const PackageParts& p) { Flip(bytes, p.fileOffsets[0] + at); };
  };
  deflatedRow("deflated-good", S::kRuns, W::kEverywhere, declaring(streamSize, unpacked));
  deflatedRow("deflated-declared-one-byte-short", S::kExtractingFiles, W::kEverywhere,
              declaring(streamSize, unpacked - 1));
  deflatedRow("deflated-declared-one-byte-long", S::kExtractingFiles, W::kEverywhere,
              declaring(streamSize, unpacked + 1));
  deflatedRow("deflated-stream-cut-short", S::kExtractingFiles, W::kEverywhere,
              declaring(streamSize - 8, unpacked));
  deflatedRow("deflated-bad-adler32", S::kExtractingFiles, W::kEverywhere, declaring(streamSize, unpacked),
              streamByte(streamSize - 1));
  deflatedRow("deflated-corrupt-stream-header", S::kExtractingFiles, W::kHostOnly, declaring(streamSize, unpacked),
              streamByte(0));
  deflatedRow("deflated-past-the-signed-range", S::kOpening, W::kEverywhere, [=](const PackageParts& p) {
    return Directory(p, ListOf({DeflatedRecord("packed.bin", 0x7FFFFF00u, streamSize, unpacked)}));
  });
  deflatedRow("deflated-past-deflates-ratio", S::kOpening, W::kHostOnly,
              declaring(streamSize, streamSize * 1032 + 1));
  deflatedRow("deflated-zlib-chunk-of-8-bytes", S::kOpening, W::kHostOnly, [=](const PackageParts& p) {
    return Directory(p, ListOf({ChunkWriter().AddText("NAME", "packed.bin").AddWords("PTRL", {p.fileOffsets[0], streamSize, 0})
                                    .AddWords("ZLIB", {unpacked, 0}).bytes()}));
  });
  // 64 files at deflate's ratio from one 64 KiB range: 4.3 GB in all, which a sum kept in 32 bits
  // would wrap to 34 MB.
  const Bytes filler = NoiseBytes(64 << 10, 25);
  deflatedRow("deflated-total-over-2GiB", S::kOpening, W::kEverywhere, [=](const PackageParts& p) {
    std::vector<ByteVector> records;
    for (int i = 0; i < 64; ++i) {
      records.push_back(DeflatedRecord("part" + std::to_string(i), p.fileOffsets[0], 64 << 10, (64 << 10) * 1032));
    }
    return Directory(p, ListOf(records));
  }, nullptr, filler);

  // Names that would leave the directory, name no file or a device, replace a file the stub writes
  // itself, or could be the short name of another listed file: the whole package is refused.
  const char* const escaping[] = {"..\\x", "a\\..\\..\\x", "C:\\x", "\\\\server\\x", "x:stream", "",
                                  "sub\\x.txt", "Setup.Ovr", "KELVO~1.SET", "NUL .txt", "COM\xc2\xb9",
                                  "\xff.txt", "ABCDEF~1.TXT"};
  for (size_t i = 0; i < sizeof escaping / sizeof escaping[0]; ++i) {
    signedRow("unsafe-name-" + std::to_string(i + 1), S::kOpening, kErrorFileInvalid, W::kEverywhere,
              [&, i](const PackageParts& p) {
                return Directory(p, ListOf({Record("fine.txt", p.fileOffsets[0], 3, 0),
                                            Record(escaping[i], p.fileOffsets[0], 3, 0)}));
              });
  }
  const std::pair<const char*, const char*> alsoUnsafe[] = {
      {"parent-by-slash", "../x"}, {"rooted", "/x"}, {"device", "NUL"}, {"trailing-separator", "x\\"},
      {"dot-component", "a\\.\\b"}, {"drive-relative", "C:x"},
  };
  for (const auto& unsafe : alsoUnsafe) {
    signedRow(std::string("unsafe-name-") + unsafe.first, S::kOpening, kErrorFileInvalid, W::kHostOnly,
              OneFile(unsafe.second, 0, 1));
  }
  // The same name twice, or in another case: one file to Windows, so the package is refused.
  const std::pair<const char*, const char*> laterNames[] = {{"", "dup.txt"}, {"-differing-in-case", "DUP.TXT"}};
  for (const auto& [suffix, later] : laterNames) {
    signedRow(std::string("duplicate-names") + suffix, S::kOpening, kErrorFileInvalid, W::kEverywhere,
              [later = later](const PackageParts& p) {
                return Directory(p, ListOf({Record("dup.txt", p.fileOffsets[0], 3, 0),
                                            Record(later, p.fileOffsets[0], 3, 0)}));
              });
  }
  return rows;
}

}  // namespace test
}  // namespace sfx
