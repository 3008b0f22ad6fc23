// The application manifest's execution level. The stub's manifest is rewritten in place, so that
// everything else it asks for (the UTF-8 code page, common controls 6, the supported systems) stays.
#ifndef SFXSTUB_TOOLS_SFXPACK_RESOURCES_MANIFEST_H_
#define SFXSTUB_TOOLS_SFXPACK_RESOURCES_MANIFEST_H_

#include <string>

namespace sfx {

// "requireAdministrator", "highestAvailable", "asInvoker", exactly as the manifest spells them.
bool IsExecutionLevel(const std::string& level);

// The level a manifest requests; empty when it requests none.
std::string ManifestExecutionLevel(const std::string& manifest);

// manifest with its requestedExecutionLevel element made level, uiAccess false. Fails when it has
// no such element, or lacks the UTF-8 code page or the common controls 6 dependency.
bool RewriteManifest(const std::string& manifest, const std::string& level, std::string* out, std::string* error);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_RESOURCES_MANIFEST_H_
