// The setup program's arguments: the package's command template with the fixed source-path suffix,
// its placeholders replaced in a fixed order. Portable string logic.
#ifndef SFXSTUB_DRIVER_COMMAND_TEMPLATE_H_
#define SFXSTUB_DRIVER_COMMAND_TEMPLATE_H_

#include "sfxstub/platform/multibyte.h"
#include "sfxstub/platform/text.h"

namespace sfx {

constexpr char kSourcePathPlaceholder[] = "%SRCPATH%";
constexpr char kTempPathPlaceholder[] = "%TMPPATH%";
constexpr char kCommandLinePlaceholder[] = "%CMDLINE%";
// Always appended, so that the setup program always learns where the package is.
constexpr char kSourcePathSuffix[] = " /srcpath \"%SRCPATH%\"";

// Replaces every placeholder in text by value; text inside an inserted value is never searched
// again. When value contains placeholder and text already contains value, those occurrences are
// first turned back into the placeholder, so that the value ends up expanded once, not twice. An
// empty value removes the placeholder. Does nothing when either is null, when placeholder is empty,
// or when the two are equal.
void ReplaceAll(Text& text, const char* placeholder, const char* value, LeadBytePredicate isLead);

// template + kSourcePathSuffix, then %SRCPATH%, %TMPPATH% and %CMDLINE% replaced in that order: text
// inserted earlier is searched by the later steps. Values are inserted raw.
Text BuildCommand(const Text& commandTemplate, const Text& sourceDirectory, const Text& tempDirectory,
                  const Text& commandLine, LeadBytePredicate isLead);

}  // namespace sfx

#endif  // SFXSTUB_DRIVER_COMMAND_TEMPLATE_H_
