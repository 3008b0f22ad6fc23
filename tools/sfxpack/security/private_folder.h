// A folder that only its owner can enter, for files handed to another program (a code signer) and
// taken back from it: made new beside the output, held open while it is used, so that whoever can
// write beside the output can neither read, replace nor swap what lies in it, and removed with all
// it holds at the end, on every path.
#ifndef SFXSTUB_TOOLS_SFXPACK_SECURITY_PRIVATE_FOLDER_H_
#define SFXSTUB_TOOLS_SFXPACK_SECURITY_PRIVATE_FOLDER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace sfx {

class PrivateFolder {
 public:
  PrivateFolder() = default;
  ~PrivateFolder() { Remove(); }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // Makes a folder of a new name beginning with beside's path (mode 0700; on Windows an access list
  // for the user alone, nothing inherited) and holds it. Fails if what was made is not the user's
  // own folder with those rights by the time it is held.
  bool Create(const std::string& beside, std::string* error);
  const std::string& path() const { return path_; }

  // Files directly inside, by plain name. A write creates a new file (never through a link); a
  // read takes a regular file only, never through a link.
  bool WriteFile(const std::string& name, const std::vector<uint8_t>& bytes, std::string* error);
  bool ReadFile(const std::string& name, std::vector<uint8_t>* bytes, std::string* error);
  void RemoveFile(const std::string& name);
  // name, inside, is removed with the folder when a signal ends the tool (InterruptCleanup); the
  // folder is registered from Create on.
  void RemoveOnInterrupt(const std::string& name);

  // Runs command through the shell (/bin/sh -c, or cmd /c) with the folder as its working
  // directory; this process's own stays as it was. Empty when the command exited with 0, else
  // what became of it ("exited with status 1").
  std::string Run(const std::string& command);

  // Removes everything inside (links themselves, never what they point to) and then the folder,
  // provided its path still names the folder held. Harmless when there is none.
  void Remove();

 private:
  void ForgetOnInterrupt();
  std::string AbsolutePath() const;

  std::string path_;
  std::vector<std::string> onInterrupt_;
#if defined(_WIN32)
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_SECURITY_PRIVATE_FOLDER_H_
