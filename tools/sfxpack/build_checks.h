// What `sfxpack build` checks before it reads or writes a package, so that it never builds one the
// stub cannot run and never overwrites one of its own inputs. Each check that fails gives one line
// naming the option and the reason.
#ifndef SFXSTUB_TOOLS_SFXPACK_BUILD_CHECKS_H_
#define SFXSTUB_TOOLS_SFXPACK_BUILD_CHECKS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/archive/source_path_placement.h"
#include "tools/sfxpack/package_layout.h"

namespace sfx {

// An input file and the option that named it ("--file readme.txt=docs/readme.txt", "--dir payload").
struct BuildInput {
  std::string option;
  std::string path;
  std::string name;  // listed files only: the name it is extracted under
  uint64_t size = 0;  // once measured
};

// Every listed name as the stub judges it, and no two that are one file to Windows.
bool CheckListedNames(const std::vector<BuildInput>& listed, std::string* error);

// Every link among --dir's files (links: their names inside dir) must resolve to a file inside dir:
// one that leads out of it would pack a file nobody put there (a private key beside the folder).
bool CheckLinksStayInside(const std::string& dir, const std::vector<std::string>& links, std::string* error);

// No input may be the private key, by device and inode (or file index), whatever path or link names
// it: the key would go into the package.
bool CheckNoInputIsKey(const std::string& keyPath, const std::vector<BuildInput>& inputs, std::string* error);

// out must not be any of the inputs: the same file by device and inode (or file index), whatever the
// path that names it.
bool CheckOutputIsNoInput(const std::string& out, const std::vector<BuildInput>& inputs, std::string* error);

// The stub starts the setup program with CreateProcess: it must be a Windows program for a machine
// Windows runs (i386, amd64, arm64). Null when it is, else why not.
const char* SetupProgramProblem(const ByteVector& program);

// The start of the setup program as far as its manifest may lie: its first 64 KiB, or up to the end
// of its resource section when that is further (at most 64 MiB). Data appended after the image, or
// sections after the resources, are not read.
bool ReadSetupImage(const std::string& path, ByteVector* image, std::string* error);

// A stub that already carries a package (its trailer, or a signature record, at the end).
bool IsPackage(const std::string& path, const ByteVector& image);

// Warnings for a command template (given by option, with the source-path switch placed as the package
// says): "%WORD%" that is no placeholder (it stays as typed), and a template that makes the setup
// program's command line longer than CreateProcess takes (32,767 characters with the terminator).
std::vector<std::string> TemplateWarnings(const std::string& commandTemplate, const std::string& option = "--command",
                                          SourcePathPlacement placement = SourcePathPlacement::kEnd);

// The temporary folder the length warning assumes: the default TEMP of a 20-character user name (the
// longest Windows allows) with the stub's run directory in it.
std::string LongTemporaryFolder();

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_BUILD_CHECKS_H_
