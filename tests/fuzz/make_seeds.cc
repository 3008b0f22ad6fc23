// Writes the seed corpora of the fuzz targets: small real inputs of every kind, made by the same
// writers sfxpack uses. Usage: fuzz_make_seeds OUTDIR (one subfolder per target).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sfxstub/archive/package_blob_writer.h"
#include "tests/signing_fixture.h"
#include "tests/test_support.h"
#include "tools/sfxpack/package_layout.h"
#include "tools/sfxpack/resources/icon_file.h"
#include "tools/sfxpack/resources/resource_section.h"
#include "tools/sfxpack/resources/version_resource.h"
#include "tools/sfxpack/signing/signature_records.h"

namespace {

using sfx::ByteVector;
using sfx::ChunkWriter;

void Put(const std::string& dir, const std::string& name, const ByteVector& bytes) {
  std::filesystem::create_directories(dir);
  sfx::test::WriteFileBytes(dir + "/" + name, bytes);
}

sfx::PackageSpec SmallSpec(size_t files) {
  sfx::PackageSpec spec;
  spec.stub = sfx::test::BytesOf("MZ stub");
  spec.mainProgram = sfx::test::BytesOf("a tiny setup program, a tiny setup program");
  spec.commandTemplate = "/q %CMDLINE% /tmp \"%TMPPATH%\"";
  for (size_t i = 0; i < files; ++i) {
    spec.files.push_back(sfx::PackageFile{"file" + std::to_string(i) + ".txt",
                                          sfx::test::NoiseBytes(8 + i * 5, static_cast<uint32_t>(i)), static_cast<uint32_t>(1000 + i)});
  }
  return spec;
}

ByteVector Package(size_t files) {
  ByteVector package;
  std::string error;
  sfx::LayOutPackage(SmallSpec(files), &package, &error);
  return package;
}

void PutU32(ByteVector* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A code-signed package in small: a PE32 or PE32+ header whose certificate-table entry points past
// the record, 3 zero bytes and a table.
ByteVector CodeSignedPackage(bool pe32Plus) {
  ByteVector image(0x200, 0);
  image[0] = 'M';
  image[1] = 'Z';
  PutU32(&image, 0x3C, 0x80);
  image[0x80] = 'P';
  image[0x81] = 'E';
  image[0x80 + 20] = pe32Plus ? 240 : 224;               // SizeOfOptionalHeader
  image[0x80 + 24] = 0x0B;                                // the optional header's magic
  image[0x80 + 25] = pe32Plus ? 0x02 : 0x01;
  PutU32(&image, 0x80 + (pe32Plus ? 132 : 116), 16);      // NumberOfRvaAndSizes
  const uint32_t table = 0x200 + 48 + 3;
  PutU32(&image, 0x80 + (pe32Plus ? 168 : 152), table);   // the Certificate Table entry
  PutU32(&image, 0x80 + (pe32Plus ? 172 : 156), 16);
  ByteVector file = sfx::test::SignedPackage(image, sfx::kBinarySignature);
  file.resize(table, 0);
  ByteVector certificates = sfx::test::NoiseBytes(16, 9);
  file.insert(file.end(), certificates.begin(), certificates.end());
  return file;
}

// An image of the stubs' layout (.text, .rsrc, .reloc) whose resources hold an icon group and a
// version resource, written by the resource section writer; and the two resources alone.
ByteVector ResourceImage(const ByteVector& icon, const ByteVector& version) {
  ByteVector image(0xA00, 0);
  image[0] = 'M';
  image[1] = 'Z';
  PutU32(&image, 0x3C, 0x80);
  image[0x80] = 'P';
  image[0x81] = 'E';
  image[0x80 + 6] = 3;                 // sections
  image[0x80 + 20] = 224;              // SizeOfOptionalHeader
  image[0x80 + 24] = 0x0B;
  image[0x80 + 25] = 0x01;
  PutU32(&image, 0x98 + 32, 0x1000);   // SectionAlignment
  PutU32(&image, 0x98 + 36, 0x200);    // FileAlignment
  PutU32(&image, 0x98 + 56, 0x4000);   // SizeOfImage
  PutU32(&image, 0x98 + 92, 16);       // NumberOfRvaAndSizes
  PutU32(&image, 0x98 + 96 + 16, 0x2000);
  PutU32(&image, 0x98 + 96 + 20, 16);
  PutU32(&image, 0x98 + 96 + 40, 0x3000);
  PutU32(&image, 0x98 + 96 + 44, 16);
  const char* names[] = {".text", ".rsrc", ".reloc"};
  for (uint32_t i = 0; i < 3; ++i) {
    const size_t at = 0x98 + 224 + 40 * i;
    for (size_t k = 0; names[i][k]; ++k) image[at + k] = static_cast<uint8_t>(names[i][k]);
    PutU32(&image, at + 8, 16);
    PutU32(&image, at + 12, 0x1000 * (i + 1));
    PutU32(&image, at + 16, 0x200);
    PutU32(&image, at + 20, 0x400 + 0x200 * i);
  }
  sfx::ResourceSection section;
  sfx::IconFile file;
  std::string error;
  section.Put(sfx::ResourceKey::Id(sfx::kResourceVersion), sfx::ResourceKey::Id(1), version);
  section.Put(sfx::ResourceKey{true, 0, u"AVI"}, sfx::ResourceKey::Id(129), sfx::test::NoiseBytes(40, 3));
  if (!file.Parse(icon, &error) || !file.Apply(1, &section, &error) || !section.Store(&image, &error)) {
    std::fprintf(stderr, "fuzz_make_seeds: %s\n", error.c_str());
    std::exit(1);
  }
  return image;
}

ByteVector IconFileOf(const ByteVector& png) {
  // The header and one 16-byte entry: 256 pixels, one plane, 32 bits; then its size and offset.
  ByteVector file = {0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 32, 0};
  file.resize(22, 0);
  PutU32(&file, 14, static_cast<uint32_t>(png.size()));
  PutU32(&file, 18, 22);
  file.insert(file.end(), png.begin(), png.end());
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_seeds OUTDIR\n");
    return 2;
  }
  std::string out = argv[1];

  ByteVector list = ChunkWriter()
                        .Add("FILE", ChunkWriter().AddText("NAME", "a.txt").AddWords("PTRL", {1, 2, 3}).bytes())
                        .Add("FILE", ChunkWriter().AddText("NAME", "sub\\b.dat").AddWords("PTRL", {4, 5, 6}).bytes())
                        .bytes();
  Put(out + "/directory", "full", ChunkWriter()
                                      .AddText("MODE", "extract")
                                      .AddText("CMDL", "/S %CMDLINE%")
                                      .AddWords("CMDP", {100, 200})
                                      .Add("LIST", list)
                                      .bytes());
  Put(out + "/directory", "mode-only", ChunkWriter().AddText("MODE", "extract").bytes());
  Put(out + "/directory", "two-lists", ChunkWriter().Add("LIST", list).AddText("MODE", "extract").Add("LIST", list).bytes());

  for (size_t size : {0u, 1u, 100u, 3000u}) {
    ByteVector blob;
    ByteVector data = sfx::test::NoiseBytes(size, 3);
    for (size_t i = 0; i < data.size(); i += 2) data[i] = 'z';
    sfx::WritePackageBlob(data.data(), static_cast<uint32_t>(data.size()), &blob);
    Put(out + "/package_blob", "blob" + std::to_string(size), blob);
  }

  for (sfx::SignatureKind kind : {sfx::kBinarySignature, sfx::kTextSignature, sfx::kTextDigest}) {
    Put(out + "/signed_file", "package-kind" + std::to_string(kind), sfx::test::SignedPackage(Package(1), kind));
  }
  Put(out + "/signed_file", "code-signed-pe32", CodeSignedPackage(false));
  Put(out + "/signed_file", "code-signed-pe32plus", CodeSignedPackage(true));

  Put(out + "/archive_open", "no-files", Package(0));
  Put(out + "/archive_open", "two-files", Package(2));
  Put(out + "/archive_open", "five-files", Package(5));

  sfx::VersionInfo info;
  info.fileVersion[0] = 1;
  info.strings = {{"ProductName", "Kelvo"}, {"FileVersion", "1.0.0.0"}};
  ByteVector version;
  std::string error;
  sfx::MakeVersionResource(info, &version, &error);
  ByteVector png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  const ByteVector icon = IconFileOf(png);
  Put(out + "/resources", "image", ResourceImage(icon, version));
  Put(out + "/resources", "icon", icon);
  Put(out + "/resources", "version", version);

  Put(out + "/command_template", "plain", sfx::test::BytesOf("/S %CMDLINE%\n/silent /x\nC:\\dir"));
  Put(out + "/command_template", "nested", sfx::test::BytesOf("%SRCPATH% %TMPPATH%\n%CMDLINE%\n%SRCPATH%"));
  return 0;
}
