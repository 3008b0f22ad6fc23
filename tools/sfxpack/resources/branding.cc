#include "tools/sfxpack/resources/branding.h"

#include <algorithm>
#include <cstdio>

#include "sfxstub/verify/built_in_key.h"
#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/output/escaped_text.h"
#include "tools/sfxpack/resources/icon_file.h"
#include "tools/sfxpack/resources/manifest.h"
#include "tools/sfxpack/resources/utf16_text.h"

namespace sfx {
namespace {

constexpr uint16_t kIconGroup = 1;
constexpr uint16_t kVersionId = 1;
constexpr uint16_t kManifestId = 1;
constexpr char kDefaultLevel[] = "requireAdministrator";
constexpr uint32_t kMachineI386 = 0x14C;

// A string table block holds 16 strings, each its length in UTF-16 units and then the units.
uint16_t StringBlock(uint16_t id) { return static_cast<uint16_t>((id >> 4) + 1); }

ByteVector CaptionBlock(const std::u16string& caption) {
  ByteVector block;
  for (uint16_t i = 0; i < 16; ++i) {
    const std::u16string text = i == (kCaptionStringId & 15) ? caption : std::u16string();
    block.push_back(static_cast<uint8_t>(text.size()));
    block.push_back(static_cast<uint8_t>(text.size() >> 8));
    for (char16_t c : text) {
      block.push_back(static_cast<uint8_t>(c));
      block.push_back(static_cast<uint8_t>(c >> 8));
    }
  }
  return block;
}

std::string ReadCaption(const ResourceSection& section) {
  const ResourceEntry* entry =
      section.Find(ResourceKey::Id(kResourceString), ResourceKey::Id(StringBlock(kCaptionStringId)));
  if (!entry) return std::string();
  const ByteVector& b = entry->data;
  size_t at = 0;
  for (uint16_t i = 0; i < 16 && at + 2 <= b.size(); ++i) {
    const size_t length = b[at] | b[at + 1] << 8;
    if (at + 2 + 2 * length > b.size()) break;
    if (i == (kCaptionStringId & 15)) {
      std::u16string text;
      for (size_t k = 0; k < length; ++k) text += static_cast<char16_t>(b[at + 2 + 2 * k] | b[at + 3 + 2 * k] << 8);
      return Utf16ToUtf8(text);
    }
    at += 2 + 2 * length;
  }
  return std::string();
}

std::string ManifestOf(const ResourceSection& section) {
  for (const ResourceEntry& e : section.entries()) {
    if (e.type == ResourceKey::Id(kResourceManifest)) return std::string(e.data.begin(), e.data.end());
  }
  return std::string();
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasString(const VersionInfo& info, const std::string& name) {
  return std::any_of(info.strings.begin(), info.strings.end(), [&](const auto& s) { return s.first == name; });
}

std::string StringValue(const VersionInfo& info, const std::string& name) {
  for (const auto& s : info.strings) {
    if (s.first == name) return s.second;
  }
  return std::string();
}

uint32_t Machine(const ByteVector& image) {
  if (image.size() < 0x40) return 0;
  const uint64_t header = image[0x3C] | image[0x3D] << 8 | image[0x3E] << 16 | uint64_t{image[0x3F]} << 24;
  return header + 6 <= image.size() ? static_cast<uint32_t>(image[header + 4] | image[header + 5] << 8) : 0;
}


}  // namespace

std::vector<OptionSpec> BrandingOptions() {
  return {
      {"icon", 0, "FILE.ico", false, "the program's icon: every image of FILE.ico replaces the stub's"},
      {"file-version", 0, "A.B.C.D", false, "the version resource's file version (1 to 4 parts, each 0-65535)"},
      {"product-version", 0, "A.B.C.D", false, "its product version (default: the file version)"},
      {"version-string", 0, "NAME=VALUE", true,
       "a string of the version resource (ProductName, CompanyName, LegalCopyright, ...); needs --file-version"},
      {"execution-level", 0, "LEVEL", false,
       "requireAdministrator (default), highestAvailable or asInvoker, written into the manifest"},
      {"caption", 0, "TEXT", false, "the title of the progress window and of the error box"},
  };
}

bool IsBrandingTextOption(const std::string& name) {
  return name == "file-version" || name == "product-version" || name == "version-string" ||
         name == "execution-level" || name == "caption";
}

bool ParseBranding(const ParsedArgs& args, const std::string& outPath, Branding* branding, std::string* usage) {
  branding->iconPath = args.Get("icon");
  const char* versionForm = "takes 1 to 4 decimal parts A.B.C.D, each 0 to 65535";
  const bool anyVersion = args.Has("file-version") || args.Has("product-version") || args.Has("version-string");
  if (anyVersion && !args.Has("file-version")) {
    *usage = "a version resource needs --file-version A.B.C.D (its binary version)";
    return false;
  }
  VersionInfo& info = branding->version;
  if (anyVersion) {
    branding->hasVersion = true;
    if (!ParseBinaryVersion(args.Get("file-version"), info.fileVersion)) {
      *usage = std::string("--file-version ") + versionForm + ", not '" + args.Get("file-version") + "'";
      return false;
    }
    std::copy(info.fileVersion, info.fileVersion + 4, info.productVersion);
    if (args.Has("product-version") && !ParseBinaryVersion(args.Get("product-version"), info.productVersion)) {
      *usage = std::string("--product-version ") + versionForm + ", not '" + args.Get("product-version") + "'";
      return false;
    }
    for (const std::string& item : args.All("version-string")) {
      const size_t equals = item.find('=');
      if (equals == std::string::npos || equals == 0) {
        *usage = "--version-string takes NAME=VALUE, not '" + item + "'";
        return false;
      }
      const std::string name = item.substr(0, equals);
      if (HasString(info, name)) {
        *usage = "--version-string " + name + " given twice";
        return false;
      }
      info.strings.emplace_back(name, item.substr(equals + 1));
    }
    if (!HasString(info, "FileDescription") && HasString(info, "ProductName")) {
      info.strings.emplace_back("FileDescription", StringValue(info, "ProductName"));
    }
    if (!HasString(info, "FileVersion")) info.strings.emplace_back("FileVersion", BinaryVersionText(info.fileVersion));
    if (!HasString(info, "ProductVersion")) {
      info.strings.emplace_back("ProductVersion", BinaryVersionText(info.productVersion));
    }
    if (!HasString(info, "OriginalFilename")) info.strings.emplace_back("OriginalFilename", BaseName(outPath));
    ByteVector ignored;
    std::string error;
    if (!MakeVersionResource(info, &ignored, &error)) {
      *usage = "--version-string: " + error;
      return false;
    }
  }
  if (args.Has("execution-level")) {
    const std::string level = args.Get("execution-level");
    std::string lower = level;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.find("uiaccess") != std::string::npos) {
      *usage = "--execution-level: uiAccess is not offered (it is for accessibility tools signed and installed "
               "under Program Files, never for a setup stub)";
      return false;
    }
    if (!IsExecutionLevel(level)) {
      *usage = "--execution-level takes requireAdministrator, highestAvailable or asInvoker, not '" + level + "'";
      return false;
    }
    branding->executionLevel = level;
  }
  if (args.Has("caption")) {
    branding->hasCaption = true;
    branding->caption = args.Get("caption");
    std::u16string units;
    const bool control = std::any_of(branding->caption.begin(), branding->caption.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    if (!Utf8ToUtf16(branding->caption, &units) || units.empty() || units.size() > kMaxCaptionLength || control) {
      *usage = "--caption takes 1 to " + std::to_string(kMaxCaptionLength) +
               " characters of UTF-8 text without control characters";
      return false;
    }
  }
  return true;
}

bool ApplyBranding(const Branding& branding, const std::string& stubPath, ByteVector* stub, std::string* error) {
  ResourceSection section;
  const auto stubFails = [&](const std::string& why) {
    *error = stubPath + ": " + why;
    return false;
  };
  if (!section.Load(*stub, error)) return stubFails(*error);
  if (!branding.iconPath.empty()) {
    ByteVector file;
    IconFile icon;
    std::string why;
    // Sized from its metadata first: a file far too large is refused without being read.
    uint64_t size = 0;
    if (!RegularFileSize(branding.iconPath, &size, error)) return false;
    if (size > kMaxIconFileSize) {
      *error = "--icon " + branding.iconPath + ": an icon file over " + std::to_string(kMaxIconFileSize >> 20) + " MiB";
      return false;
    }
    if (!ReadWholeFile(branding.iconPath, &file, error)) return false;
    if (!icon.Parse(file, &why) || !icon.Apply(kIconGroup, &section, &why)) {
      *error = "--icon " + branding.iconPath + ": " + why;
      return false;
    }
  }
  if (branding.hasVersion) {
    ByteVector data;
    if (!MakeVersionResource(branding.version, &data, error)) return false;
    section.Put(ResourceKey::Id(kResourceVersion), ResourceKey::Id(kVersionId), std::move(data));
  }
  if (!branding.executionLevel.empty()) {
    std::string manifest;
    if (!RewriteManifest(ManifestOf(section), branding.executionLevel, &manifest, error)) return stubFails(*error);
    section.Put(ResourceKey::Id(kResourceManifest), ResourceKey::Id(kManifestId),
                ByteVector(manifest.begin(), manifest.end()));
  }
  if (branding.hasCaption) {
    std::u16string caption;
    Utf8ToUtf16(branding.caption, &caption);
    section.Put(ResourceKey::Id(kResourceString), ResourceKey::Id(StringBlock(kCaptionStringId)),
                CaptionBlock(caption));
  }
  // The key block must stay the one place its marker occurs.
  uint8_t marker[kKeyBlockMarkerSize];
  KeyBlockMarker(marker);
  for (const ResourceEntry& e : section.entries()) {
    if (std::search(e.data.begin(), e.data.end(), marker, marker + kKeyBlockMarkerSize) != e.data.end()) {
      *error = (!branding.iconPath.empty() && e.type == ResourceKey::Id(kResourceIcon) ? "--icon " + branding.iconPath + ": "
                                                                                        : std::string()) +
               "resource data holds the key block's marker";
      return false;
    }
  }
  ByteVector branded = *stub;
  if (!section.Store(&branded, error)) return stubFails(*error);
  stub->swap(branded);
  return true;
}

bool CheckSetupElevation(const ByteVector& stub, const ByteVector& setup, std::vector<std::string>* warnings,
                         std::string* error) {
  ResourceSection stubResources, setupResources;
  std::string ignored;
  stubResources.Load(stub, &ignored);
  std::string level = ManifestExecutionLevel(ManifestOf(stubResources));
  if (level.empty()) level = kDefaultLevel;
  if (level == kDefaultLevel) return true;
  const bool loaded = setupResources.Load(setup, &ignored);
  const std::string setupManifest = loaded ? ManifestOf(setupResources) : std::string();
  const std::string setupLevel = ManifestExecutionLevel(setupManifest);
  if (setupLevel == kDefaultLevel || (level == "asInvoker" && setupLevel == "highestAvailable")) {
    const std::string refusal = "the setup program's manifest asks for " + setupLevel +
                                ", and a stub that runs " + level + " starts it unelevated, which Windows refuses "
                                "(error 740): use --execution-level requireAdministrator";
    if (level == "asInvoker" && setupLevel == kDefaultLevel) {
      *error = refusal;
      return false;
    }
    warnings->push_back(level == "asInvoker" ? refusal + " (administrators are refused, standard users are not)"
                                             : refusal + " (standard users are refused, administrators are not)");
  }
  if (setupManifest.empty() && Machine(setup) == kMachineI386) {
    warnings->push_back("the setup program is a 32-bit program without a manifest, which Windows's installer "
                        "detection runs elevated (the stub names it kelvo.setup); a stub that runs " + level +
                        " cannot start it unelevated (error 740): give it a manifest with a requestedExecutionLevel, "
                        "or use --execution-level requireAdministrator");
  }
  return true;
}

bool ReadBranding(const ByteVector& image, BrandingSummary* summary) {
  ResourceSection section;
  std::string ignored;
  if (!section.Load(image, &ignored)) return false;
  summary->executionLevel = ManifestExecutionLevel(ManifestOf(section));
  summary->iconSizes = IconGroupSizes(section, kIconGroup);
  const ResourceEntry* version = section.Find(ResourceKey::Id(kResourceVersion), ResourceKey::Id(kVersionId));
  summary->hasVersion = version && ReadVersionResource(version->data, &summary->version);
  summary->caption = ReadCaption(section);
  return true;
}

std::string BrandingText(const BrandingSummary& s) {
  std::string text = "execution:    " + (s.executionLevel.empty() ? std::string("(no manifest level)") : s.executionLevel) + "\n";
  std::string sizes;
  for (const std::string& size : s.iconSizes) sizes += (sizes.empty() ? "" : ", ") + size;
  text += "icon:         " + (sizes.empty() ? std::string("none") : sizes) + "\n";
  if (!s.caption.empty()) text += "caption:      " + s.caption + "\n";
  if (!s.hasVersion) return text + "version:      none\n";
  text += "version:      file " + BinaryVersionText(s.version.fileVersion) + ", product " +
          BinaryVersionText(s.version.productVersion) + "\n";
  for (const auto& item : s.version.strings) {
    std::string name = item.first;
    if (name.size() < 18) name.resize(18, ' ');
    text += "  " + name + " " + item.second + "\n";
  }
  return text;
}

std::string BrandingJson(const BrandingSummary& s) {
  std::string json = "{\"executionLevel\": " + (s.executionLevel.empty() ? std::string("null") : JsonString(s.executionLevel)) +
                     ", \"icon\": [";
  for (size_t i = 0; i < s.iconSizes.size(); ++i) json += (i ? ", " : "") + JsonString(s.iconSizes[i]);
  json += "], \"caption\": " + (s.caption.empty() ? std::string("null") : JsonString(s.caption)) + ", \"version\": ";
  if (!s.hasVersion) return json + "null}";
  json += "{\"fileVersion\": " + JsonString(BinaryVersionText(s.version.fileVersion)) +
          ", \"productVersion\": " + JsonString(BinaryVersionText(s.version.productVersion)) + ", \"strings\": {";
  for (size_t i = 0; i < s.version.strings.size(); ++i) {
    json += (i ? ", " : "") + JsonString(s.version.strings[i].first) + ": " + JsonString(s.version.strings[i].second);
  }
  return json + "}}}";
}

}  // namespace sfx
