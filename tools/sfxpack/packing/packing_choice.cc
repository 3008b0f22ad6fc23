#include "tools/sfxpack/packing/packing_choice.h"

#include <algorithm>
#include <cstring>

#include "sfxstub/verify/key_block.h"

namespace sfx {
namespace {

// TODO(merge): the stub's own reader of its feature marker.
bool StubInflatesListedFiles(const std::vector<uint8_t>& stub) {
  static const char kMarker[] = "JUXsetupFeatures";
  const size_t end = PeImageEnd(stub);
  auto at = std::search(stub.begin(), stub.begin() + end, kMarker, kMarker + 16);
  if (at == stub.begin() + end || static_cast<size_t>(at - stub.begin()) + 20 > end) return false;
  return (at[16] & 1) != 0;
}

}  // namespace

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
  if (!options->Deflates() || StubInflatesListedFiles(stub)) return std::string();
  options->store = true;
  return "the stub has no feature marker saying it inflates listed files (it is older than that), so every "
         "listed file is stored";
}

}  // namespace sfx
