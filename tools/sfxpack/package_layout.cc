#include "tools/sfxpack/package_layout.h"

#include <cstring>

#include "sfxstub/archive/entry_name.h"
#include "sfxstub/archive/package_blob_writer.h"
#include "sfxstub/archive/sfx_archive.h"
#include "tools/sfxpack/packing/segmented_deflate.h"

namespace sfx {
namespace {

void AppendU32(ByteVector* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

ChunkWriter& ChunkWriter::Add(const char* tag, const ByteVector& payload) {
  bytes_.insert(bytes_.end(), tag, tag + 4);
  AppendU32(&bytes_, static_cast<uint32_t>(payload.size()));
  bytes_.insert(bytes_.end(), payload.begin(), payload.end());
  return *this;
}

ChunkWriter& ChunkWriter::AddText(const char* tag, const std::string& text) {
  return Add(tag, ByteVector(text.begin(), text.end()));
}

ChunkWriter& ChunkWriter::AddWords(const char* tag, const std::vector<uint32_t>& words) {
  ByteVector payload;
  for (uint32_t word : words) AppendU32(&payload, word);
  return Add(tag, payload);
}

ResultCode PackageLayout::AddBlob(const ByteVector& data, uint32_t* offset, uint32_t* size) {
  size_t start = bytes_.size();
  ResultCode result = WritePackageBlob(data.data(), static_cast<uint32_t>(data.size()), &bytes_);
  if (result != kOk) return result;
  *offset = static_cast<uint32_t>(base_ + start);
  *size = static_cast<uint32_t>(bytes_.size() - start);
  return kOk;
}

ResultCode PackageLayout::AddProgram(const ByteVector& data, uint32_t* offset, uint32_t* size) {
  ByteVector packed;
  if (data.size() > kMaxPackageBlobSize || !DeflateSegmented(data.data(), data.size(), 9, &packed)) {
    return kErrorNotEnoughMemory;
  }
  *offset = static_cast<uint32_t>(base_ + bytes_.size());
  AppendPackageBlobHeader(static_cast<uint32_t>(data.size()), static_cast<uint32_t>(packed.size()), &bytes_);
  bytes_.insert(bytes_.end(), packed.begin(), packed.end());
  *size = static_cast<uint32_t>(base_ + bytes_.size() - *offset);
  return kOk;
}

uint32_t PackageLayout::AddRaw(const ByteVector& data) {
  uint32_t offset = static_cast<uint32_t>(base_ + bytes_.size());
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return offset;
}

ResultCode PackageLayout::Finish(const ByteVector& directoryChunks) {
  uint32_t offset = 0;
  uint32_t size = 0;
  ResultCode result = AddBlob(directoryChunks, &offset, &size);
  if (result != kOk) return result;
  AppendU32(&bytes_, offset);
  bytes_.insert(bytes_.end(), kTrailerMagic, kTrailerMagic + 16);
  return kOk;
}

ByteVector DirectoryChunks(const std::string& commandTemplate, uint32_t programOffset, uint32_t programSize,
                           const std::vector<FileLocation>& files, const ByteVector& commandChunks) {
  ChunkWriter list;
  for (const auto& file : files) {
    ChunkWriter record;
    record.AddText("NAME", file.name).AddWords("PTRL", {file.offset, file.size, file.time});
    if (file.deflated) record.AddWords("ZLIB", {file.unpackedSize});
    list.Add("FILE", record.bytes());
  }
  ChunkWriter directory;
  directory.AddText("MODE", "extract")
      .AddText("CMDL", commandTemplate)
      .AddWords("CMDP", {programOffset, programSize})
      .Add("LIST", list.bytes());
  ByteVector chunks = directory.bytes();
  chunks.insert(chunks.end(), commandChunks.begin(), commandChunks.end());
  return chunks;
}

std::string ListedNamesProblem(const std::vector<std::string>& names) {
  for (const auto& name : names) {
    if (const char* problem = EntryNameProblem(name)) return "the name '" + name + "' " + problem;
  }
  List<Text> listed;
  for (const auto& name : names) listed.push_back(name);
  size_t first = 0, second = 0;
  if (FindNameClash(listed, &first, &second)) {
    return "the names '" + names[first] + "' and '" + names[second] + "' are one file on Windows";
  }
  return std::string();
}

ResultCode LayOutPackage(const PackageSpec& spec, ByteVector* out, std::string* error) {
  uint64_t total = spec.stub.size() + spec.prefixBlock.size() + spec.mainProgram.size() + 4096;
  std::vector<std::string> names;
  for (const auto& file : spec.files) {
    names.push_back(file.name);
    total += file.bytes.size() + 64 + file.name.size();
  }
  *error = ListedNamesProblem(names);
  if (!error->empty()) return kErrorInvalidParameter;
  // Deflate never grows data by more than a few bytes per 16 KiB block; the margin covers it.
  if (total + spec.mainProgram.size() / 1000 > kMaxPackageSize) {
    *error = "the package would not fit in 2 GiB";
    return kErrorFileTooLarge;
  }

  PackageLayout layout(spec.stub);
  layout.AddRaw(spec.prefixBlock);
  uint32_t programOffset = 0;
  uint32_t programSize = 0;
  if (layout.AddProgram(spec.mainProgram, &programOffset, &programSize) != kOk) {
    *error = "cannot compress the setup program";
    return kErrorNotEnoughMemory;
  }
  std::vector<FileLocation> locations;
  for (const auto& file : spec.files) {
    ByteVector packed;
    const bool deflated = PackListedBytes(file.bytes, spec.packing, &packed);
    const ByteVector& stored = deflated ? packed : file.bytes;
    uint32_t offset = layout.AddRaw(stored);
    locations.push_back({file.name, offset, static_cast<uint32_t>(stored.size()), file.time, deflated,
                         static_cast<uint32_t>(file.bytes.size())});
  }
  if (layout.Finish(DirectoryChunks(spec.commandTemplate, programOffset, programSize, locations, spec.commandChunks)) != kOk) {
    *error = "cannot compress the directory";
    return kErrorNotEnoughMemory;
  }
  *out = std::move(layout.bytes());
  return kOk;
}

}  // namespace sfx
