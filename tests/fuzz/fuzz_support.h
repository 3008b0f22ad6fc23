// Shared by the fuzz targets: a scratch file per process, and the test key's signer.
#ifndef SFXSTUB_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define SFXSTUB_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace sfx {
namespace fuzz {

// A file path private to this process; WriteScratch replaces its content.
const std::string& ScratchPath();
void WriteScratch(const uint8_t* data, size_t size);
// A directory private to this process, emptied by ClearScratchDir.
const std::string& ScratchDir();
void ClearScratchDir();

}  // namespace fuzz
}  // namespace sfx

#endif  // SFXSTUB_TESTS_FUZZ_FUZZ_SUPPORT_H_
