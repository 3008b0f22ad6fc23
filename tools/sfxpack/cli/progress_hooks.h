// The progress line fed from the stub's own code as sfxpack reuses it: the signature check through a
// stream that counts what it reads, the extraction through the progress reports it makes per file.
#ifndef SFXSTUB_TOOLS_SFXPACK_CLI_PROGRESS_HOOKS_H_
#define SFXSTUB_TOOLS_SFXPACK_CLI_PROGRESS_HOOKS_H_

#include <string>

#include "sfxstub/progress/progress.h"
#include "sfxstub/result_code.h"
#include "sfxstub/verify/dsa_public_key.h"

namespace sfx {

// VerifySignedFile(file, 2, key), the same result, with the progress line "verifying".
ResultCode VerifyShowingProgress(const std::string& file, const DsaPublicKey& key);
// The same check, advancing the line the caller began by the bytes it reads.
ResultCode VerifyAdvancingProgress(const std::string& file, const DsaPublicKey& key);

// While it lives, the extraction's reports drive the progress line "extracting".
class ExtractionProgress final : public ProgressListener {
 public:
  ExtractionProgress();
  ~ExtractionProgress() override;
  ExtractionProgress(const ExtractionProgress&) = delete;
  ExtractionProgress& operator=(const ExtractionProgress&) = delete;
  void OnSetTotal(int32_t total) override;
  void OnStep(int32_t bytes) override;
};

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_CLI_PROGRESS_HOOKS_H_
