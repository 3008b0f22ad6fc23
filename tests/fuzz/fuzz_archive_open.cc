// Whole packages, signed with the test key after mutation so that the fuzzer reaches everything
// behind the signature check: the trailer, the directory blob, the walk and the extraction.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sfxstub/archive/sfx_archive.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/signing_fixture.h"
#include "tools/sfxpack/signing/signature_records.h"

namespace {

// Every file the extraction made must be a direct child of the folder it was given.
void CheckNothingEscaped(const std::string& dir) {
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, error);
       !error && it != std::filesystem::end(it); it.increment(error)) {
    if (it.depth() > 0) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> package(data, data + size);
  std::string error;
  if (sfx::SignPackage(sfx::test::TestSigningKey(), sfx::kBinarySignature, &package, &error) != sfx::kOk) {
    return 0;
  }
  sfx::fuzz::WriteScratch(package.data(), package.size());
  sfx::SfxArchive archive(sfx::test::TestPublicKey());
  if (archive.Open(sfx::fuzz::ScratchPath().c_str()) != sfx::kOk) return 0;
  const std::string& dir = sfx::fuzz::ScratchDir();
  sfx::fuzz::ClearScratchDir();
  archive.ExtractMainProgram((dir + "/setup.ovr").c_str());
  archive.ExtractFiles(dir.c_str());
  CheckNothingEscaped(dir);
  return 0;
}
