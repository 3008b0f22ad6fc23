#include "tools/sfxpack/cli/progress_hooks.h"

#include "sfxstub/archive/file_stream.h"
#include "sfxstub/verify/signed_file.h"
#include "tools/sfxpack/cli/progress_line.h"

namespace sfx {
namespace {

class CountingFileStream final : public FileStream {
 public:
  bool Read(void* buffer, uint32_t count, uint32_t* transferred) override {
    const bool ok = FileStream::Read(buffer, count, transferred);
    ProgressLine::Advance(*transferred);
    return ok;
  }
};

}  // namespace

ResultCode VerifyShowingProgress(const std::string& file, const DsaPublicKey& key) {
  CountingFileStream stream;
  if (!stream.OpenRead(file.c_str())) return VerifySignedFile(file.c_str(), 2, key);  // the same error
  ProgressLine::Begin("verifying", stream.Length());
  const ResultCode result = VerifySignedStream(stream, 2, key, nullptr, nullptr);
  if (result == kOk) ProgressLine::End();
  else ProgressLine::Abandon();
  return result;
}

ResultCode VerifyAdvancingProgress(const std::string& file, const DsaPublicKey& key) {
  CountingFileStream stream;
  if (!stream.OpenRead(file.c_str())) return VerifySignedFile(file.c_str(), 2, key);  // the same error
  return VerifySignedStream(stream, 2, key, nullptr, nullptr);
}

ExtractionProgress::ExtractionProgress() { SetProgressListener(this); }

ExtractionProgress::~ExtractionProgress() {
  SetProgressListener(nullptr);
  ProgressLine::Abandon();
}

void ExtractionProgress::OnSetTotal(int32_t total) {
  ProgressLine::Begin("extracting", total > 0 ? static_cast<uint64_t>(total) : 0);
}

void ExtractionProgress::OnStep(int32_t bytes) {
  if (bytes > 0) ProgressLine::Advance(static_cast<uint64_t>(bytes));
}

}  // namespace sfx
