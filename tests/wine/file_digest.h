// The digest the probe reports for each file it was asked about, and the tests compare against:
// FNV-1a, 64 bits, over the whole file, as 16 hex digits.
#ifndef SFXSTUB_TESTS_WINE_FILE_DIGEST_H_
#define SFXSTUB_TESTS_WINE_FILE_DIGEST_H_

#include <string>

namespace sfx {
namespace test {

// "unreadable" when the file cannot be opened.
std::string FileDigest(const std::string& path);

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_WINE_FILE_DIGEST_H_
