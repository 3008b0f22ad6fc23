// The resource tree of arbitrary images as sfxpack reads it, and what it writes back: a tree that
// loads and stores loads again with the same entries. Icon files and version resources too.
#include <cstdlib>
#include <vector>

#include "tools/sfxpack/resources/icon_file.h"
#include "tools/sfxpack/resources/resource_section.h"
#include "tools/sfxpack/resources/version_resource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const sfx::ByteVector bytes(data, data + size);
  sfx::IconFile icon;
  std::string error;
  icon.Parse(bytes, &error);
  sfx::VersionInfo info;
  sfx::ReadVersionResource(bytes, &info);

  sfx::ResourceSection section;
  if (!section.Load(bytes, &error)) return 0;
  sfx::ByteVector image = bytes;
  if (icon.images().empty() && !section.Store(&image, &error)) return 0;
  if (!icon.images().empty() && (!icon.Apply(1, &section, &error) || !section.Store(&image, &error))) return 0;
  sfx::ResourceSection again;
  if (!again.Load(image, &error)) std::abort();
  if (again.entries().size() != section.entries().size()) std::abort();
  for (size_t i = 0; i < again.entries().size(); ++i) {
    if (again.entries()[i].data != section.entries()[i].data || !(again.entries()[i].name == section.entries()[i].name)) {
      std::abort();
    }
  }
  return 0;
}
