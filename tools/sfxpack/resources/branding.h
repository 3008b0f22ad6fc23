// The options of `sfxpack build` and `stamp-key` that give a stub its maker's identity: the icon, the
// version resource, the execution level and the caption of its windows; and what `list` shows of them.
#ifndef SFXSTUB_TOOLS_SFXPACK_RESOURCES_BRANDING_H_
#define SFXSTUB_TOOLS_SFXPACK_RESOURCES_BRANDING_H_

#include <string>
#include <vector>

#include "tools/sfxpack/command_line.h"
#include "tools/sfxpack/resources/resource_section.h"
#include "tools/sfxpack/resources/version_resource.h"

namespace sfx {

// The stub loads its caption from this string resource; without it, its windows keep their own
// titles. The stub's side is in sfxstub/driver/win32_setup_services.cc.
constexpr uint16_t kCaptionStringId = 1;
constexpr size_t kMaxCaptionLength = 100;  // UTF-16 code units

std::vector<OptionSpec> BrandingOptions();
// Options whose values are texts, not file names.
bool IsBrandingTextOption(const std::string& name);

struct Branding {
  std::string iconPath;
  bool hasVersion = false;
  VersionInfo version;
  std::string executionLevel;  // empty: the stub's as it is
  bool hasCaption = false;
  std::string caption;

  bool Any() const { return !iconPath.empty() || hasVersion || !executionLevel.empty() || hasCaption; }
};

// Reads the options; outPath names the file written (OriginalFilename's default). A value the
// command line got wrong gives false and *usage, which names the option and the accepted form.
bool ParseBranding(const ParsedArgs& args, const std::string& outPath, Branding* branding, std::string* usage);

// Brands stub (read from stubPath) in place. Nothing changes when it fails; error names the option,
// or the stub and its problem.
bool ApplyBranding(const Branding& branding, const std::string& stubPath, ByteVector* stub, std::string* error);

// The setup program against the stub's execution level: false with error when the stub could never
// start it (Windows refuses with error 740), warnings for what Windows may refuse.
bool CheckSetupElevation(const ByteVector& stub, const ByteVector& setup, std::vector<std::string>* warnings,
                         std::string* error);

// What a stub (or the start of a package) carries.
struct BrandingSummary {
  std::string executionLevel;
  std::vector<std::string> iconSizes;
  bool hasVersion = false;
  VersionInfo version;
  std::string caption;  // empty: the stub's own titles
};
bool ReadBranding(const ByteVector& image, BrandingSummary* summary);
// The summary as lines of `list` (each ending in a newline), and as a JSON object.
std::string BrandingText(const BrandingSummary& summary);
std::string BrandingJson(const BrandingSummary& summary);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_RESOURCES_BRANDING_H_
