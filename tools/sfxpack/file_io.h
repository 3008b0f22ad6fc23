#ifndef SFXSTUB_TOOLS_SFXPACK_FILE_IO_H_
#define SFXSTUB_TOOLS_SFXPACK_FILE_IO_H_

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace sfx {

// Paths are UTF-8 (the Windows tool's manifest makes UTF-8 its code page, so its command line and
// its fopen and _sopen take UTF-8 too). std::filesystem on Windows reads a narrow string in the C
// locale's code page, not the process's: every path goes in through FsPath and out through FsText.
std::filesystem::path FsPath(const std::string& utf8);
std::string FsText(const std::filesystem::path& path);

// Whole-file helpers for the tool. Errors are one line naming the file and the reason.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);
// At most limit bytes from the start of the file.
bool ReadFilePrefix(const std::string& path, size_t limit, std::vector<uint8_t>* bytes, std::string* error);
// A new file for the tool's own scratch data, open for reading and writing, gone once closed (or
// when the process ends); null with errno set when none can be made. On Windows it lies in the
// user's temporary folder: msvcrt's tmpfile() uses the drive's root, which users may not write to.
std::FILE* OpenScratchFile();
// Moves file's position to offset from its start, past 2 GiB too; false when it cannot.
bool SeekFile(std::FILE* file, uint64_t offset);
// Who may read a file the tool writes: everyone the umask lets in, or its owner alone (private keys).
enum class FileAccess { kShared, kOwnerOnly };

// A file written through a temporary file beside path and renamed over path by Commit, so that a
// failed or abandoned write never leaves a half-written output under the final name. The temporary
// file has a name of its own, is created exclusively (never through a link planted at its name),
// with access's mode from its first moment, and is flushed to the disk before the rename; every
// step's failure is reported and removes it, and so does destruction before Commit.
class ReplacingFile {
 public:
  ReplacingFile() = default;
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  bool Open(const std::string& path, std::string* error, FileAccess access = FileAccess::kShared);
  bool Write(const uint8_t* bytes, size_t length, std::string* error);
  bool Commit(std::string* error);

 private:
  void Abandon();

  std::string path_, temporary_;
  int fd_ = -1;
};

// The whole of bytes through a ReplacingFile.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error,
                    FileAccess access = FileAccess::kShared);
// Creates a file that does not exist yet, never through a link, with access's mode from the start:
// for the temporary files above, and tests. Returns a descriptor, or -1 with errno set.
int CreateNewFile(const std::string& path, FileAccess access);
// The size of a regular file, from its metadata: nothing is read. Anything but a regular file is an
// error.
bool RegularFileSize(const std::string& path, uint64_t* size, std::string* error);
// Renames from onto to, replacing it.
bool RenameFile(const std::string& from, const std::string& to, std::string* error);
// Removes a file when it is there; what cannot be removed is left.
void RemoveFileIfPresent(const std::string& path);
// Modification time in seconds since 1970 UTC.
bool FileTime(const std::string& path, int64_t* seconds, std::string* error);
// Regular files directly inside dir, sorted by name, links to regular files included (their names
// also go to links, when given). Subdirectories, FIFOs, devices, sockets and dangling links are an
// error: reading a FIFO or a device would never end.
bool ListDirectory(const std::string& dir, std::vector<std::string>* names, std::string* error,
                   std::vector<std::string>* links = nullptr);
bool MakeDirectory(const std::string& dir, std::string* error);
// For an output about to be created new at path: true when nothing stands there; with remove, what
// stands there (a link itself, not its target) is removed first. Otherwise false, error saying why.
bool ClearOutput(const std::string& path, bool remove, std::string* error);
// Packages are read with seeks from both ends, so a pipe, a device or a folder is refused up front
// ("not a regular file") rather than failing later as a damaged signature.
bool CheckRegularFile(const std::string& path, std::string* error);
bool IsRegularFile(const std::string& path);
// relative, taken from the running executable's folder and normalized ("/usr/bin/../share/x" is
// "/usr/share/x"); empty when the system does not say where the executable is.
std::string BesideExecutable(const std::string& relative);

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_FILE_IO_H_
