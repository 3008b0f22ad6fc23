// Where the stub puts " /srcpath \"...\"" on the setup program's command line. A package says so in
// its "SRCP" chunk, whose text is one of the names below; a package without one gets kEnd, so that
// packages made before the chunk existed run as they always did.
#ifndef SFXSTUB_ARCHIVE_SOURCE_PATH_PLACEMENT_H_
#define SFXSTUB_ARCHIVE_SOURCE_PATH_PLACEMENT_H_

#include <cstddef>
#include <cstring>

namespace sfx {

enum class SourcePathPlacement {
  kEnd,    // after the expanded template
  kStart,  // before it, right after the program's quoted path: "/D=" and "/DIR=" can stay last
  kNone,   // nowhere: for programs that refuse unknown switches
};

constexpr char kSourcePathAtEnd[] = "end";
constexpr char kSourcePathAtStart[] = "start";
constexpr char kSourcePathNowhere[] = "none";

inline const char* SourcePathPlacementName(SourcePathPlacement placement) {
  switch (placement) {
    case SourcePathPlacement::kStart: return kSourcePathAtStart;
    case SourcePathPlacement::kNone: return kSourcePathNowhere;
    case SourcePathPlacement::kEnd: break;
  }
  return kSourcePathAtEnd;
}

// name: length bytes, no terminator needed. False for anything but the three names, exactly.
inline bool ParseSourcePathPlacement(const char* name, size_t length, SourcePathPlacement* placement) {
  const SourcePathPlacement all[] = {SourcePathPlacement::kEnd, SourcePathPlacement::kStart,
                                     SourcePathPlacement::kNone};
  for (SourcePathPlacement candidate : all) {
    const char* known = SourcePathPlacementName(candidate);
    if (length == std::strlen(known) && std::memcmp(name, known, length) == 0) {
      *placement = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_SOURCE_PATH_PLACEMENT_H_
