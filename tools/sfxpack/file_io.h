#ifndef SFXSTUB_TOOLS_SFXPACK_FILE_IO_H_
#define SFXSTUB_TOOLS_SFXPACK_FILE_IO_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sfx {

// Whole-file helpers for the tool. Errors are one line naming the file and the reason.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);
// At most limit bytes from the start of the file.
bool ReadFilePrefix(const std::string& path, size_t limit, std::vector<uint8_t>* bytes, std::string* error);
// A file written through a temporary file beside path and renamed over path by Commit, so that a
// failed or abandoned write never leaves a half-written output under the final name. The temporary
// file goes on destruction unless committed.
class ReplacingFile {
 public:
  ReplacingFile() = default;
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  bool Open(const std::string& path, std::string* error);
  bool Write(const uint8_t* bytes, size_t length, std::string* error);
  bool Commit(std::string* error);

 private:
  void Abandon();

  std::string path_, temporary_;
  std::FILE* file_ = nullptr;
};

// Writes through a temporary file beside path and renames it over path, so that a failed write
// never leaves a half-written output under the final name.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);
// The size of a regular file, from its metadata: nothing is read. Anything but a regular file is an
// error.
bool RegularFileSize(const std::string& path, uint64_t* size, std::string* error);
// Renames from onto to, replacing it.
bool RenameFile(const std::string& from, const std::string& to, std::string* error);
// Removes a file when it is there; what cannot be removed is left.
void RemoveFileIfPresent(const std::string& path);
// Modification time in seconds since 1970 UTC.
bool FileTime(const std::string& path, int64_t* seconds, std::string* error);
// Regular files directly inside dir, sorted by name; subdirectories are an error.
bool ListDirectory(const std::string& dir, std::vector<std::string>* names, std::string* error);
bool MakeDirectory(const std::string& dir, std::string* error);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_FILE_IO_H_
