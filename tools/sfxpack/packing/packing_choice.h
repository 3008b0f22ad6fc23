// How `sfxpack build` packs the listed files: --level and --store, and the stub's say. A stub that
// does not announce that it inflates listed files (the feature marker in its image) would write a
// deflated file's stream as the file, so onto such a stub every file is stored.
#ifndef SFXSTUB_TOOLS_SFXPACK_PACKING_PACKING_CHOICE_H_
#define SFXSTUB_TOOLS_SFXPACK_PACKING_PACKING_CHOICE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sfxpack/command_line.h"
#include "tools/sfxpack/packing/listed_file_packer.h"

namespace sfx {

// build's options for packing: --level N and --store.
std::vector<OptionSpec> PackingOptionSpecs();
// The options args give; false with a one-line problem when they are wrong.
bool ReadPackingOptions(const ParsedArgs& args, PackingOptions* options, std::string* problem);
// Stores every file when stub (the image the package goes onto) cannot inflate them, and returns the
// note that says so; empty when nothing changed.
std::string FitPackingToStub(const std::vector<uint8_t>& stub, PackingOptions* options);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_PACKING_PACKING_CHOICE_H_
