// The hostile-input table: packages damaged or built to mislead, each with the outcome the stub owes
// it. Most are signed with the package key, so that the signature holds and the archive's own checks
// are what stops them. The host tests open every row with SfxArchive; the Windows tests run the stub
// on the rows marked for it.
#ifndef SFXSTUB_TESTS_HOSTILE_PACKAGES_H_
#define SFXSTUB_TESTS_HOSTILE_PACKAGES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/result_code.h"
#include "tests/test_support.h"
#include "tools/sfxpack/signing/signing_key.h"

namespace sfx {
namespace test {

// The run stage a row stops in; kRuns: every step succeeds and the setup program runs.
enum class HostileStage { kOpening, kExtractingMain, kExtractingFiles, kRuns };

// Where a row is checked. The host runs SfxArchive on every row but kWindowsOnly ones (names whose
// meaning needs '\\' as the separator, or a case-insensitive file system).
enum class HostileWhere { kHostOnly, kEverywhere, kWindowsOnly };

struct ListedFile {
  std::string name;
  Bytes bytes;
  uint32_t time = 0;
};

struct HostileRow {
  std::string name;  // also the package's file name, without ".exe"
  Bytes package;
  HostileStage stage = HostileStage::kOpening;
  ResultCode code = 0;  // the failure; unused for kRuns
  HostileWhere where = HostileWhere::kEverywhere;
  // kRuns: the listed files as they must be after extraction; kExtractingFiles: those written before
  // the failing one.
  std::vector<ListedFile> files;
};

// Where the parts of a package lie. Offsets are absolute; the signature record starts at signedEnd.
struct PackageParts {
  uint32_t stubImageEnd = 0;   // the stub's own record begins here
  uint32_t mainOffset = 0;     // right after the stub's record
  uint32_t mainSize = 0;
  std::vector<uint32_t> fileOffsets;
  uint32_t directoryOffset = 0;  // the directory blob
  uint32_t trailerOffset = 0;
  uint32_t signedEnd = 0;
};

class HostilePackages {
 public:
  // stubImage: the stub as built, with the signer's key already stamped where it has a key block.
  HostilePackages(Bytes stubImage, Bytes mainProgram, const SigningKey& signer);

  // Every row of the table.
  std::vector<HostileRow> Rows() const;

  // The well-formed package, unsigned, and where its parts lie; signed with kind, or left unsigned.
  Bytes Unsigned(PackageParts* parts = nullptr) const;
  Bytes Signed(const Bytes& unsignedPackage, uint32_t kind) const;

  static const std::vector<ListedFile>& StandardFiles();
  static constexpr char kCommandTemplate[] = "/hostile \"%TMPPATH%\"";

 private:
  Bytes stub_;  // image and its own binary record
  uint32_t stubImageEnd_;
  Bytes mainProgram_;
  const SigningKey& signer_;
};

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_HOSTILE_PACKAGES_H_
