// The listed files of a build as the command line names them, and the times they are stamped with.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACKING_LISTED_INPUTS_H_
#define SFXSTUB_TOOLS_SFXPACK_PACKING_LISTED_INPUTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sfxpack/build_checks.h"
#include "tools/sfxpack/command_line.h"

namespace sfx {

// The listed files of a build, in the order they are packed: every --file, then the files of --dir.
bool ListedInputs(const ParsedArgs& args, std::vector<BuildInput>* listed, std::string* error);

// File times are the sources' modification times, no later than SOURCE_DATE_EPOCH when it is set,
// and inside the signed 32-bit range the package stores.
bool PackageTime(const std::string& path, uint32_t* time, std::string* error);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_PACKING_LISTED_INPUTS_H_
