#include "sfxstub/driver/command_template.h"

namespace sfx {

void ReplaceAll(Text& text, const char* placeholder, const char* value, LeadBytePredicate isLead) {
  if (placeholder == nullptr || value == nullptr || *placeholder == '\0') return;
  const Text from = placeholder;
  const Text to = value;
  if (from == to) return;
  // to is longer than from here, so the inner call cannot take this branch again.
  if (ContainsText(to, from, isLead) && ContainsText(text, to, isLead)) {
    ReplaceAll(text, value, placeholder, isLead);
  }
  for (size_t at = FindText(text, from, isLead); at != kNotFound;
       at = FindText(text, from, isLead, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

Text BuildCommand(const Text& commandTemplate, SourcePathPlacement placement, const Text& sourceDirectory,
                  const Text& tempDirectory, const Text& commandLine, LeadBytePredicate isLead) {
  Text command;
  if (placement == SourcePathPlacement::kStart) {
    command = kSourcePathPrefix;
    if (!commandTemplate.empty()) command += ' ';
  }
  command += commandTemplate;
  if (placement == SourcePathPlacement::kEnd) command += kSourcePathSuffix;
  ReplaceAll(command, kSourcePathPlaceholder, sourceDirectory.c_str(), isLead);
  ReplaceAll(command, kTempPathPlaceholder, tempDirectory.c_str(), isLead);
  ReplaceAll(command, kCommandLinePlaceholder, commandLine.c_str(), isLead);
  return command;
}

}  // namespace sfx
