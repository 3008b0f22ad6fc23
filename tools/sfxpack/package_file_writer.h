// Writes a signed package file in one pass: the stub and the prefix block from memory, the setup
// program and the listed files compressed as streams by the packing pool (through temporary files,
// so that every size is known before the first byte is written), stored files copied from their
// sources in bounded chunks, the directory, the trailer and the signature record, every byte
// digested on its way out. The setup program and the listed files are read twice: once for the
// prefix block, which goes before them, once to compress or copy them (a file compressed and then
// found not to save 1 % is read a third time, to be copied). The memory a build takes does not grow
// with the setup program or the listed files.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACKAGE_FILE_WRITER_H_
#define SFXSTUB_TOOLS_SFXPACK_PACKAGE_FILE_WRITER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sfxstub/verify/signed_file.h"
#include "tools/sfxpack/package_layout.h"
#include "tools/sfxpack/packing/packing_pool.h"
#include "tools/sfxpack/signing/signing_key.h"

namespace sfx {

struct StreamedPackage {
  ByteVector stub;  // stamped, with its own signature record
  ListedSource mainProgram;  // its path and measured size; the name is not used
  std::string commandTemplate;
  std::vector<ListedSource> files;
  ByteVector commandChunks;  // appended to the directory (DirectoryChunks)
  PackingOptions packing;  // how the listed files are packed (packing/listed_file_packer.h)
};

// The bytes the inputs pass through at a time (fewer when every input is smaller): larger pieces
// would cost memory and save nothing, the reads being buffered.
constexpr size_t kCopyChunkSize = 64u << 10;

// Writes package, signed with a record of kind, to out through a temporary file that replaces out
// only once complete. The same bytes MakePrefixBlock, LayOutPackage and SignPackage give for the same
// inputs. Returns
// false with a one-line error; *size receives the file's size.
bool WritePackageFile(const StreamedPackage& package, const SigningKey& signer, SignatureKind kind,
                      const std::string& out, uint64_t* size, std::string* error);

// Where the unsigned package's bytes go, in order.
using PackageSink = std::function<bool(const uint8_t* bytes, size_t length, std::string* error)>;

// The unsigned package (no record) for package, through sink: the same bytes as
// MakePrefixBlock and LayOutPackage give. *size receives the unsigned size, checked against the
// 2 GiB limit with room for recordSize bytes after it.
bool WriteUnsignedPackage(const StreamedPackage& package, const SigningKey& signer, uint32_t recordSize,
                          const PackageSink& sink, uint64_t* size, std::string* error);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_PACKAGE_FILE_WRITER_H_
