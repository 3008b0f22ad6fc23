#include "tools/sfxpack/packing/listed_inputs.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "sfxstub/platform/join_path.h"
#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/std_text.h"

namespace sfx {

bool PackageTime(const std::string& path, uint32_t* time, std::string* error) {
  int64_t seconds = 0;
  if (!FileTime(path, &seconds, error)) return false;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
    char* end = nullptr;
    long long limit = std::strtoll(epoch, &end, 10);
    if (end == epoch || *end != '\0') {
      *error = "SOURCE_DATE_EPOCH is not a number of seconds";
      return false;
    }
    if (seconds > limit) seconds = limit;
  }
  if (seconds < INT32_MIN) seconds = INT32_MIN;
  if (seconds > INT32_MAX) seconds = INT32_MAX;
  *time = static_cast<uint32_t>(static_cast<int32_t>(seconds));
  return true;
}

bool ListedInputs(const ParsedArgs& args, std::vector<BuildInput>* listed, std::string* error) {
  for (const std::string& item : args.All("file")) {
    size_t equals = item.find('=');
    if (equals == std::string::npos || equals == 0) {
      *error = "build: --file takes NAME=PATH, not '" + item + "'";
      return false;
    }
    listed->push_back({"--file " + item, item.substr(equals + 1), item.substr(0, equals)});
  }
  if (args.Has("dir")) {
    std::string dir = args.Get("dir");
    std::vector<std::string> names, links;
    if (!ListDirectory(dir, &names, error, &links) || !CheckLinksStayInside(dir, links, error)) return false;
    if (args.Has("verbose")) {
      for (const auto& link : links) {
        std::fprintf(stderr, "sfxpack: %s is a link; adding the file it points to\n",
                     JoinPath(dir, link.c_str()).c_str());
      }
    }
    for (const auto& name : names) {
      listed->push_back({"--dir " + dir, StdString(JoinPath(dir, name.c_str())), name});
    }
  }
  return true;
}

}  // namespace sfx
