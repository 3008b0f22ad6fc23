#include "tools/sfxpack/packing/packing_choice.h"

#include "sfxstub/archive/stub_features.h"
#include "sfxstub/verify/key_block.h"

namespace sfx {

std::vector<OptionSpec> PackingOptionSpecs() {
  return {{"level", 0, "N", false, "zlib level of the listed files, 0 (store them) to 9 (default, smallest)"},
          {"store", 0, nullptr, false, "store every listed file as it is (no compression)"}};
}

bool ReadPackingOptions(const ParsedArgs& args, PackingOptions* options, std::string* problem) {
  *options = PackingOptions();
  options->store = args.Has("store");
  if (!args.Has("level")) return true;
  const std::string level = args.Get("level");
  if (level.size() != 1 || level[0] < '0' || level[0] > '9') {
    *problem = "--level takes a zlib level from 0 to 9, not '" + level + "'";
    return false;
  }
  if (options->store) {
    *problem = "--store stores every file: give it or --level, not both";
    return false;
  }
  options->level = level[0] - '0';
  return true;
}

std::string FitPackingToStub(const std::vector<uint8_t>& stub, PackingOptions* options) {
  // Searched up to the end of the image, as the key block is: a stub appended to the stub is no say.
  if (!options->Deflates() || (FindStubFeatures(stub.data(), PeImageEnd(stub)) & kStubFeatureDeflatedFiles) != 0) {
    return std::string();
  }
  options->store = true;
  return "the stub has no feature marker saying it inflates listed files (it is older than that), so every "
         "listed file is stored";
}

}  // namespace sfx
