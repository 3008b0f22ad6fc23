// The signature record search and the verification, over an arbitrary file.
#include <cstdlib>

#include "sfxstub/verify/signed_file.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/signing_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sfx::fuzz::WriteScratch(data, size);
  const char* path = sfx::fuzz::ScratchPath().c_str();
  uint8_t signature[40];
  uint32_t kind = 99, signedLength = 0xFFFFFFFF;
  if (sfx::FindSignatureRecord(path, signature, &kind, &signedLength) == sfx::kOk) {
    if (kind > sfx::kTextDigest || signedLength > size) std::abort();
  }
  for (int mode : {1, 2, 3}) sfx::VerifySignedFile(path, mode, sfx::test::TestPublicKey());
  return 0;
}
