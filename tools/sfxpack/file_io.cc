#include "tools/sfxpack/file_io.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace sfx {
namespace {

namespace fs = std::filesystem;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

std::string Describe(const std::string& path, const char* what) {
  return path + ": " + what + ": " + std::strerror(errno);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *error = Describe(path, "cannot open");
    return false;
  }
  bytes->clear();
  uint8_t buffer[1 << 16];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  if (std::ferror(file.get())) {
    *error = Describe(path, "cannot read");
    return false;
  }
  return true;
}

bool ReadFilePrefix(const std::string& path, size_t limit, std::vector<uint8_t>* bytes, std::string* error) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *error = Describe(path, "cannot open");
    return false;
  }
  bytes->resize(limit);
  size_t got = std::fread(bytes->data(), 1, limit, file.get());
  if (std::ferror(file.get())) {
    *error = Describe(path, "cannot read");
    return false;
  }
  bytes->resize(got);
  return true;
}

ReplacingFile::~ReplacingFile() { Abandon(); }

void ReplacingFile::Abandon() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
  std::remove(temporary_.c_str());
}

bool ReplacingFile::Open(const std::string& path, std::string* error) {
  Abandon();
  path_ = path;
  temporary_ = path + ".tmp~";
  file_ = std::fopen(temporary_.c_str(), "wb");
  if (file_ == nullptr) {
    *error = Describe(path, "cannot create");
    return false;
  }
  return true;
}

bool ReplacingFile::Write(const uint8_t* bytes, size_t length, std::string* error) {
  if (file_ != nullptr && std::fwrite(bytes, 1, length, file_) == length) return true;
  *error = Describe(path_, "cannot write");
  Abandon();
  return false;
}

bool ReplacingFile::Commit(std::string* error) {
  if (file_ == nullptr) {
    *error = path_ + ": cannot write";
    return false;
  }
  if (std::fflush(file_) != 0) {
    *error = Describe(path_, "cannot write");
    Abandon();
    return false;
  }
  std::fclose(file_);
  file_ = nullptr;
  if (!RenameFile(temporary_, path_, error)) {
    std::remove(temporary_.c_str());
    return false;
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  ReplacingFile file;
  return file.Open(path, error) && file.Write(bytes.data(), bytes.size(), error) && file.Commit(error);
}

bool RegularFileSize(const std::string& path, uint64_t* size, std::string* error) {
  std::error_code code;
  fs::file_status status = fs::status(path, code);
  if (code) {
    *error = path + ": cannot open: " + code.message();
    return false;
  }
  if (!fs::is_regular_file(status)) {
    *error = path + ": not a regular file";
    return false;
  }
  *size = fs::file_size(path, code);
  if (code) {
    *error = path + ": cannot read the size: " + code.message();
    return false;
  }
  return true;
}

bool RenameFile(const std::string& from, const std::string& to, std::string* error) {
  std::error_code code;
  fs::rename(from, to, code);
  if (code) {
    *error = to + ": cannot replace: " + code.message();
    return false;
  }
  return true;
}

void RemoveFileIfPresent(const std::string& path) {
  std::error_code ignored;
  fs::remove(path, ignored);
}

bool FileTime(const std::string& path, int64_t* seconds, std::string* error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *error = Describe(path, "cannot read the time of");
    return false;
  }
  *seconds = static_cast<int64_t>(info.st_mtime);
  return true;
}

bool ListDirectory(const std::string& dir, std::vector<std::string>* names, std::string* error) {
  std::error_code code;
  for (fs::directory_iterator it(dir, code), end; !code && it != end; it.increment(code)) {
    if (it->is_directory(code)) {
      *error = dir + ": holds the folder '" + it->path().filename().string() +
               "'; a package extracts into one folder, so --dir takes files only";
      return false;
    }
    names->push_back(it->path().filename().string());
  }
  if (code) {
    *error = dir + ": cannot list: " + code.message();
    return false;
  }
  std::sort(names->begin(), names->end());
  return true;
}

bool MakeDirectory(const std::string& dir, std::string* error) {
  std::error_code code;
  fs::create_directories(dir, code);
  if (code) {
    *error = dir + ": cannot create: " + code.message();
    return false;
  }
  return true;
}

}  // namespace sfx
