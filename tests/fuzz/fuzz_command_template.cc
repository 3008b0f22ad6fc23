// Command template expansion: the template comes from the package, the command line from the caller
// and the two paths from the environment; any of them may hold placeholders, '%' runs and
// double-byte text.
#include <cstdlib>
#include <cstring>
#include <string>

#include "sfxstub/driver/command_template.h"

namespace {

bool ShiftJisLead(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

// Splits the input at 0xFF bytes into the template and the three values.
void Split(const uint8_t* data, size_t size, std::string parts[4]) {
  size_t part = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && part < 3) {
      ++part;
    } else {
      parts[part].push_back(static_cast<char>(data[i]));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  sfx::LeadBytePredicate isLead = (data[0] & 1) ? ShiftJisLead : sfx::NoLeadBytes;
  std::string parts[4];
  Split(data + 1, size - 1, parts);
  // The paths and the command line come from the system as C strings; the template is the package's
  // bytes and may hold anything.
  for (int i = 1; i < 4; ++i) parts[i].resize(std::strlen(parts[i].c_str()));
  const std::string& commandTemplate = parts[0];
  const sfx::SourcePathPlacement placement = static_cast<sfx::SourcePathPlacement>((data[0] >> 1) % 3);
  const sfx::Text built = sfx::BuildCommand(commandTemplate, placement, parts[1], parts[2], parts[3], isLead);
  const std::string command(built.data(), built.size());
  if (command != sfx::BuildCommand(commandTemplate, placement, parts[1], parts[2], parts[3], isLead)) {
    std::abort();
  }

  // Without any '%' nothing is a placeholder except the source-path switch's own.
  bool percentFree = true;
  for (const std::string& part : parts) percentFree = percentFree && part.find('%') == std::string::npos;
  const std::string sourceSwitch = "/srcpath \"" + parts[1] + "\"";
  const std::string expected =
      placement == sfx::SourcePathPlacement::kEnd     ? commandTemplate + " " + sourceSwitch
      : placement == sfx::SourcePathPlacement::kStart ? sourceSwitch + (commandTemplate.empty() ? "" : " ") + commandTemplate
                                                      : commandTemplate;
  if (percentFree && command != expected) std::abort();

  // Replacing a placeholder by itself, or in text that does not hold it, changes nothing.
  sfx::Text same = commandTemplate;
  sfx::ReplaceAll(same, parts[1].c_str(), parts[1].c_str(), isLead);
  if (same != commandTemplate) std::abort();
  if (!parts[2].empty() && commandTemplate.find(parts[2]) == std::string::npos) {
    same = commandTemplate;
    sfx::ReplaceAll(same, parts[2].c_str(), parts[3].c_str(), isLead);
    if (same != commandTemplate) std::abort();
  }
  return 0;
}
