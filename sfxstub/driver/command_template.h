// The setup program's arguments: the package's command template with the source-path switch where
// the package wants it, its placeholders replaced in a fixed order. Portable string logic.
#ifndef SFXSTUB_DRIVER_COMMAND_TEMPLATE_H_
#define SFXSTUB_DRIVER_COMMAND_TEMPLATE_H_

#include "sfxstub/archive/source_path_placement.h"
#include "sfxstub/platform/multibyte.h"
#include "sfxstub/platform/text.h"

namespace sfx {

constexpr char kSourcePathPlaceholder[] = "%SRCPATH%";
constexpr char kTempPathPlaceholder[] = "%TMPPATH%";
constexpr char kCommandLinePlaceholder[] = "%CMDLINE%";
// Appended by default, so that the setup program learns where the package is.
constexpr char kSourcePathSuffix[] = " /srcpath \"%SRCPATH%\"";
// The same switch put first, for programs that want their own last argument last (NSIS's "/D=").
constexpr char kSourcePathPrefix[] = "/srcpath \"%SRCPATH%\"";

// Replaces every placeholder in text by value; text inside an inserted value is never searched
// again. When value contains placeholder and text already contains value, those occurrences are
// first turned back into the placeholder, so that the value ends up expanded once, not twice. An
// empty value removes the placeholder. Does nothing when either is null, when placeholder is empty,
// or when the two are equal.
void ReplaceAll(Text& text, const char* placeholder, const char* value, LeadBytePredicate isLead);

// template + kSourcePathSuffix (kEnd), kSourcePathPrefix + a blank + template (kStart; no blank after
// it when the template is empty) or the template alone (kNone); then %SRCPATH%, %TMPPATH% and
// %CMDLINE% replaced in that order: text inserted earlier is searched by the later steps. Values are
// inserted raw.
Text BuildCommand(const Text& commandTemplate, SourcePathPlacement placement, const Text& sourceDirectory,
                  const Text& tempDirectory, const Text& commandLine, LeadBytePredicate isLead);

}  // namespace sfx

#endif  // SFXSTUB_DRIVER_COMMAND_TEMPLATE_H_
