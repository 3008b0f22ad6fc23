#include "tools/sfxpack/packing/packing_pool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
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

std::string ChangedWhileBuilt(const ListedSource& source) {
  return source.path + ": changed while the package was built (it was " + std::to_string(source.size) + " bytes)";
}

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
    *error = ChangedWhileBuilt(source);
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

// A worker's temporary file: its segments' deflate data end to end.
struct PackingPool::Spill {
  UniqueFile file;
  uint64_t end = 0;
};

PackingPool::PackingPool() = default;
PackingPool::~PackingPool() = default;

namespace {

// One segment of a job.
struct Task {
  size_t job = 0;
  uint64_t segment = 0;
  uint64_t start = 0;
  size_t length = 0;
  bool last = false;
};

// What the workers share about a job while it is compressed.
struct JobProgress {
  std::atomic<uint64_t> packed{0};  // deflate bytes of its segments done so far
  std::atomic<bool> givenUp{false};
};

// Reads the segment with the dictionary before it into buffer; false (with error) when the source
// cannot be read or no longer has the size it was measured at.
bool ReadSegment(const ListedSource& source, const Task& task, size_t dictionary, uint8_t* buffer,
                 std::string* error) {
  UniqueFile input(std::fopen(source.path.c_str(), "rb"));
  if (!input) {
    *error = source.path + ": cannot open: " + SystemError();
    return false;
  }
  const size_t want = dictionary + task.length;
  if (!SeekFile(input.get(), task.start - dictionary)) {
    *error = source.path + ": cannot read: " + SystemError();
    return false;
  }
  const size_t got = std::fread(buffer, 1, want, input.get());
  if (std::ferror(input.get())) {
    *error = source.path + ": cannot read: " + SystemError();
    return false;
  }
  if (got != want || (task.last && std::fgetc(input.get()) != EOF)) {
    *error = ChangedWhileBuilt(source);
    return false;
  }
  return true;
}

// Compresses one segment onto the end of spill (spill number spillIndex), unless its job is given up
// (a listed file that can no longer save 1 %, which this segment may find out). The progress line
// moves by the segment either way.
bool PackSegment(const PackJob& job, const Task& task, JobProgress* progress, size_t spillIndex,
                 std::FILE* spill, uint64_t* spillEnd, SegmentDeflater* deflater, uint8_t* buffer,
                 PackedSegment* result, std::string* error) {
  const ListedSource& source = *job.source;
  if (!progress->givenUp) {
    const size_t dictionary = static_cast<size_t>(std::min<uint64_t>(task.start, kDeflateDictionarySize));
    if (!ReadSegment(source, task, dictionary, buffer, error)) return false;
    // Written at the spill's end, which moves past them only when the file is still kept deflated.
    uint64_t packedLength = 0;
    bool writeFailed = !SeekFile(spill, *spillEnd);
    const auto write = [&](const uint8_t* packed, size_t length) {
      writeFailed = std::fwrite(packed, 1, length, spill) != length;
      packedLength += length;
      return !writeFailed;
    };
    if (writeFailed ||
        !deflater->Compress(job.level, buffer, dictionary, buffer + dictionary, task.length, task.last, write)) {
      *error = source.path + ": cannot compress: " +
               (writeFailed ? "cannot write the temporary file: " + SystemError() : std::string("zlib failed"));
      return false;
    }
    const uint64_t soFar = progress->packed += packedLength;
    if (job.mayStore && CannotKeepDeflated(source.size, soFar)) {
      progress->givenUp = true;
    } else {
      *result = {spillIndex, *spillEnd, packedLength, SegmentCheck(buffer + dictionary, task.length), task.length};
      *spillEnd += packedLength;
    }
  }
  ProgressLine::Advance(task.length);
  return true;
}

}  // namespace

bool PackingPool::Run(const std::vector<PackJob>& jobs, unsigned workers, std::string* error) {
  results_.assign(jobs.size(), PackedJob());
  // Every segment of every job to be compressed, in job order; empty listed files stay stored.
  std::vector<Task> tasks;
  size_t biggest = 0;
  for (size_t i = 0; i < jobs.size(); ++i) {
    const uint64_t size = jobs[i].source->size;
    if (jobs[i].mayStore && size == 0) continue;
    const uint64_t count = SegmentCount(size);
    results_[i].level = jobs[i].level;
    results_[i].segments.resize(static_cast<size_t>(count));
    for (uint64_t segment = 0; segment < count; ++segment) {
      const uint64_t start = segment * kDeflateSegmentSize;
      const size_t length = static_cast<size_t>(std::min<uint64_t>(size - start, kDeflateSegmentSize));
      tasks.push_back({i, segment, start, length, segment + 1 == count});
      biggest = std::max(biggest, length + static_cast<size_t>(std::min<uint64_t>(start, kDeflateDictionarySize)));
    }
  }
  // Biggest job first, so that the last segments are short ones and the workers finish together.
  std::vector<size_t> order(tasks.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return jobs[tasks[a].job].source->size > jobs[tasks[b].job].source->size;
  });
  if (workers > tasks.size()) workers = static_cast<unsigned>(tasks.size());
  spills_.clear();
  for (unsigned i = 0; i < workers; ++i) {
    spills_.emplace_back(new Spill);
    spills_.back()->file.reset(OpenScratchFile());
    if (!spills_.back()->file) {
      *error = "cannot make a temporary file for the compressed data: " + SystemError();
      return false;
    }
  }
  std::vector<JobProgress> progress(jobs.size());
  std::vector<std::string> errors(tasks.size());
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  const auto work = [&](size_t worker) {
    // Left uninitialised: a small build touches only the pages its inputs fill.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[biggest]);
    SegmentDeflater deflater;
    Spill& spill = *spills_[worker];
    for (size_t taken = next++; taken < order.size() && !failed; taken = next++) {
      const Task& task = tasks[order[taken]];
      PackedSegment& result = results_[task.job].segments[static_cast<size_t>(task.segment)];
      if (!buffer) {
        errors[order[taken]] = "out of memory";
      } else if (PackSegment(jobs[task.job], task, &progress[task.job], worker, spill.file.get(), &spill.end,
                             &deflater, buffer.get(), &result, &errors[order[taken]])) {
        continue;
      }
      failed = true;
    }
  };
  {
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < workers; ++i) threads.emplace_back(work, i);
    if (workers != 0) work(0);
    for (std::thread& thread : threads) thread.join();
  }
  for (const std::string& taskError : errors) {
    if (!taskError.empty()) {
      *error = taskError;
      return false;
    }
  }
  for (const auto& spill : spills_) {
    if (std::fflush(spill->file.get()) != 0) {
      *error = "cannot write the compressed data to a temporary file: " + SystemError();
      return false;
    }
  }
  for (size_t i = 0; i < jobs.size(); ++i) {
    PackedJob& result = results_[i];
    if (result.segments.empty() || progress[i].givenUp) continue;
    const uint64_t size = kZlibHeaderSize + progress[i].packed + kZlibTrailerSize;
    if (jobs[i].mayStore && !KeepsDeflated(jobs[i].source->size, size)) continue;
    result.deflated = true;
    result.size = size;
    result.adler = kEmptyCheck;
    for (const PackedSegment& segment : result.segments) {
      result.adler = JoinChecks(result.adler, segment.adler, segment.length);
    }
  }
  return true;
}

bool PackingPool::Copy(size_t job, std::vector<uint8_t>* buffer,
                       const std::function<bool(const uint8_t*, size_t, std::string*)>& sink, std::string* error) {
  const PackedJob& packed = results_[job];
  std::vector<uint8_t> edge;
  AppendZlibHeader(packed.level, &edge);
  if (!sink(edge.data(), edge.size(), error)) return false;
  for (const PackedSegment& segment : packed.segments) {
    std::FILE* file = spills_[segment.spill]->file.get();
    if (!SeekFile(file, segment.offset)) {
      *error = "cannot read the compressed data back: " + SystemError();
      return false;
    }
    for (uint64_t left = segment.size; left > 0;) {
      const size_t want = left < buffer->size() ? static_cast<size_t>(left) : buffer->size();
      if (std::fread(buffer->data(), 1, want, file) != want) {
        *error = "cannot read the compressed data back: " + SystemError();
        return false;
      }
      if (!sink(buffer->data(), want, error)) return false;
      left -= want;
    }
  }
  edge.clear();
  AppendZlibTrailer(packed.adler, &edge);
  return sink(edge.data(), edge.size(), error);
}

}  // namespace sfx
