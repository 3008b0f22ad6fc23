#include "tools/sfxpack/packing/packing_pool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tools/sfxpack/cli/progress_line.h"
#include "tools/sfxpack/file_io.h"
#include "tools/sfxpack/packing/listed_file_packer.h"

namespace sfx {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

std::string SystemError() { return std::strerror(errno); }

}  // namespace

bool ReadSource(const ListedSource& source, std::vector<uint8_t>* buffer,
                const std::function<bool(const uint8_t*, size_t)>& use, std::string* error, bool counted) {
  UniqueFile input(std::fopen(source.path.c_str(), "rb"));
  if (!input) {
    *error = source.path + ": cannot open: " + SystemError();
    return false;
  }
  uint64_t read = 0;
  for (;;) {
    size_t got = std::fread(buffer->data(), 1, buffer->size(), input.get());
    if (got == 0) break;
    read += got;
    if (read > source.size) break;
    if (!use(buffer->data(), got)) return false;
    if (counted) ProgressLine::Advance(got);
  }
  if (std::ferror(input.get())) {
    *error = source.path + ": cannot read: " + SystemError();
    return false;
  }
  if (read != source.size) {
    *error = source.path + ": changed while the package was built (it was " + std::to_string(source.size) +
             " bytes)";
    return false;
  }
  return true;
}

unsigned PackingWorkers() {
  if (const char* forced = std::getenv("SFXPACK_WORKERS")) {
    const long count = std::strtol(forced, nullptr, 10);
    if (count >= 1) return count < kMaxPackingWorkers ? static_cast<unsigned>(count) : kMaxPackingWorkers;
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : std::min(cores, kMaxPackingWorkers);
}

// A worker's temporary file: streams end to end, a given-up one overwritten by the next.
struct PackingPool::Spill {
  UniqueFile file;
  uint64_t end = 0;
};

PackingPool::PackingPool() = default;
PackingPool::~PackingPool() = default;

namespace {

// Compresses job into spill at its end. A listed file that cannot save 1 % is given up at once (the
// progress line still moves by the bytes not read) and left stored.
bool PackOne(const PackJob& job, std::FILE* spill, uint64_t* spillEnd, std::vector<uint8_t>* buffer,
             PackedJob* result, std::string* error) {
  const ListedSource& source = *job.source;
  StreamDeflater deflater(job.level);
  if (!deflater.ready() || !SeekFile(spill, *spillEnd)) {
    *error = source.path + ": cannot compress: " + (deflater.ready() ? SystemError() : "out of memory");
    return false;
  }
  bool gaveUp = false, writeFailed = false;
  uint64_t taken = 0;
  const PieceSink out = [&](const uint8_t* bytes, size_t length) {
    if (std::fwrite(bytes, 1, length, spill) != length) {
      writeFailed = true;
      return false;
    }
    return true;
  };
  const auto use = [&](const uint8_t* bytes, size_t length) {
    if (!deflater.Add(bytes, length, out)) return false;
    if (job.mayStore && CannotKeepDeflated(source.size, deflater.packedSize())) {
      gaveUp = true;
      return false;
    }
    taken += length;
    return true;
  };
  std::string readError;
  if (!ReadSource(source, buffer, use, &readError) || !deflater.Finish(out)) {
    if (gaveUp) {
      ProgressLine::Advance(source.size - taken);
      return true;
    }
    *error = !readError.empty() ? readError
             : source.path + ": cannot compress: " +
                   (writeFailed ? "cannot write the temporary file: " + SystemError() : std::string("zlib failed"));
    return false;
  }
  if (job.mayStore && !KeepsDeflated(source.size, deflater.packedSize())) return true;
  result->deflated = true;
  result->size = deflater.packedSize();
  result->offset = *spillEnd;
  *spillEnd += result->size;
  return true;
}

}  // namespace

bool PackingPool::Run(const std::vector<PackJob>& jobs, unsigned workers, std::string* error) {
  results_.assign(jobs.size(), PackedJob());
  std::vector<std::string> errors(jobs.size());
  std::vector<size_t> order;
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (!(jobs[i].mayStore && jobs[i].source->size == 0)) order.push_back(i);  // empty files stay stored
  }
  // Biggest first, so that the last jobs are short ones and the workers finish together.
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return jobs[a].source->size > jobs[b].source->size; });
  if (workers > order.size()) workers = static_cast<unsigned>(order.size());
  spills_.clear();
  for (unsigned i = 0; i < workers; ++i) {
    spills_.emplace_back(new Spill);
    spills_.back()->file.reset(OpenScratchFile());
    if (!spills_.back()->file) {
      *error = "cannot make a temporary file for the compressed data: " + SystemError();
      return false;
    }
  }
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  const auto work = [&](size_t worker) {
    std::vector<uint8_t> buffer(kPackPieceSize);
    Spill& spill = *spills_[worker];
    for (size_t taken = next++; taken < order.size() && !failed; taken = next++) {
      const size_t job = order[taken];
      results_[job].spill = worker;
      if (!PackOne(jobs[job], spill.file.get(), &spill.end, &buffer, &results_[job], &errors[job])) failed = true;
    }
  };
  {
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < workers; ++i) threads.emplace_back(work, i);
    if (workers != 0) work(0);
    for (std::thread& thread : threads) thread.join();
  }
  for (const std::string& jobError : errors) {
    if (!jobError.empty()) {
      *error = jobError;
      return false;
    }
  }
  for (const auto& spill : spills_) {
    if (std::fflush(spill->file.get()) != 0) {
      *error = "cannot write the compressed data to a temporary file: " + SystemError();
      return false;
    }
  }
  return true;
}

bool PackingPool::Copy(size_t job, std::vector<uint8_t>* buffer,
                       const std::function<bool(const uint8_t*, size_t, std::string*)>& sink, std::string* error) {
  const PackedJob& packed = results_[job];
  std::FILE* file = spills_[packed.spill]->file.get();
  if (!SeekFile(file, packed.offset)) {
    *error = "cannot read the compressed data back: " + SystemError();
    return false;
  }
  for (uint64_t left = packed.size; left > 0;) {
    const size_t want = left < buffer->size() ? static_cast<size_t>(left) : buffer->size();
    if (std::fread(buffer->data(), 1, want, file) != want) {
      *error = "cannot read the compressed data back: " + SystemError();
      return false;
    }
    if (!sink(buffer->data(), want, error)) return false;
    left -= want;
  }
  return true;
}

}  // namespace sfx
