// The version resource (VS_VERSIONINFO): binary file and product versions, and strings in one
// language, U.S. English with code page 1200 (UTF-16), with the Translation entry that names it.
#ifndef SFXSTUB_TOOLS_SFXPACK_RESOURCES_VERSION_RESOURCE_H_
#define SFXSTUB_TOOLS_SFXPACK_RESOURCES_VERSION_RESOURCE_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sfx {

using ByteVector = std::vector<uint8_t>;

constexpr size_t kMaxVersionResourceSize = 64u << 10;

struct VersionInfo {
  uint16_t fileVersion[4] = {0, 0, 0, 0};
  uint16_t productVersion[4] = {0, 0, 0, 0};
  std::vector<std::pair<std::string, std::string>> strings;  // UTF-8 name and value, in order
};

// "A", "A.B", "A.B.C" or "A.B.C.D", each part decimal 0..65535; missing parts are 0.
bool ParseBinaryVersion(const std::string& text, uint16_t parts[4]);
std::string BinaryVersionText(const uint16_t parts[4]);

// The resource's bytes. Fails for a name or value that is not UTF-8 or holds a NUL, an empty name,
// and a resource over kMaxVersionResourceSize.
bool MakeVersionResource(const VersionInfo& info, ByteVector* data, std::string* error);
// Reads the versions and the strings of the first string table.
bool ReadVersionResource(const ByteVector& data, VersionInfo* info);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_RESOURCES_VERSION_RESOURCE_H_
