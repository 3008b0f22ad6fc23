// Code signing a package with Authenticode. A code signer rewrites two fields of the PE header, the
// checksum and the Certificate Table entry, and appends its table after the file padded to 8 bytes;
// its own digest skips exactly those. The package's record signs the header as it stands, so the
// package is signed over the entry the code signer is going to write and a checksum of 0, which is
// put back once the code signer is done. The signer then signs a copy whose entry is empty, as it
// expects an unsigned file to be.
#ifndef SFXSTUB_TOOLS_SFXPACK_AUTHENTICODE_H_
#define SFXSTUB_TOOLS_SFXPACK_AUTHENTICODE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sfxstub/verify/dsa_public_key.h"
#include "sfxstub/verify/pe_signing_fields.h"
#include "tools/sfxpack/package_layout.h"

namespace sfx {

// The checksum and Certificate Table entry of an image in memory; false when it is no PE image.
bool ReadPeSigningFields(const ByteVector& image, PeSigningFields* fields);
// Writes the entry and the checksum. Fails when image is no PE image whose optional header holds
// the entry.
bool WritePeSigningFields(ByteVector* image, uint32_t tableOffset, uint32_t tableSize, uint32_t checksum,
                          std::string* error);

// A stub that is itself code-signed loses its table: the table is cut off the end of the file, the
// entry emptied and the checksum zeroed. removedSize is the table's size, 0 when there was none.
// Fails for a table that does not end the file.
bool RemoveCertificateTable(ByteVector* stub, uint32_t* removedSize, std::string* error);

// Where a code signer puts its table after a file of size bytes: the next multiple of 8.
uint64_t CertificateTableOffsetAfter(uint64_t size);

// The package's own record over a digest of the bytes before it (the binary kind).
using RecordMaker = std::function<bool(const uint8_t digest[16], ByteVector* record, std::string* error)>;

// An unsigned package (no record yet), written once to a file: the code-signing flows read it there
// in pieces, so their memory does not grow with the package.
struct UnsignedPackageFile {
  std::string path;
  uint64_t size = 0;
};

// Writes to out the package signed over the entry (tableOffset, tableSize) and a checksum of 0, with
// the entry empty: the file a code signer signs. *size receives its size.
bool WriteAwaitingCodeSignature(const UnsignedPackageFile& package, uint32_t tableOffset, uint32_t tableSize,
                                const RecordMaker& makeRecord, const std::string& out, uint64_t* size,
                                std::string* error);

// COMMAND with {in} and {out} replaced by in and out as they stand: the plain names of the two files
// in the private folder the command runs in, which need no quoting.
std::string ExpandSignerCommand(const std::string& command, const std::string& in, const std::string& out);

struct CodeSigningRun {
  std::string command;       // with {in} and {out}
  std::string out;           // the package to write
  uint32_t firstGuess = 0;   // the table size to try first; 0 learns it in a first round
  int maxRounds = 4;
  std::vector<uint32_t> tableSizes;  // what the command wrote, round by round
  uint64_t size = 0;                 // of the package written
};

// Runs the command until the table it writes is the one the package's record covers, then puts the
// checksum back to 0, checks that nothing else differs from what it wrote and that the package's own
// signature verifies with key, and only then renames the result onto run->out. The command runs in a
// private folder made beside run->out (PrivateFolder), on "in.exe" and "out.exe" there; the folder and
// all it holds never outlive the call. Errors name the round.
bool CodeSignPackage(const UnsignedPackageFile& package, const RecordMaker& makeRecord, const DsaPublicKey& key,
                     CodeSigningRun* run, std::string* error);

// The second step of signing by hand: signed is what the code signer made of a file written by
// build --authenticode-size. Zeroes the checksum, checks the table against what the package's record
// covers and verifies, then writes out. The file passes through in pieces (memory stays the same
// whatever its size) and drives the progress line "finishing"; the caller ends the line.
bool FinishCodeSigned(const std::string& signedPath, const DsaPublicKey& key, const std::string& out,
                      std::string* error);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_AUTHENTICODE_H_
