// The names a listed file may have. One set of rules for the packaging tool, which refuses to build
// a package with a bad name, and for the stub's extraction, which refuses to open one: names are
// UTF-8 (the stub runs with UTF-8 as its code page) and name one plain file directly inside the
// extraction folder, distinct from every other listed file and from the files the stub writes itself.
#ifndef SFXSTUB_ARCHIVE_ENTRY_NAME_H_
#define SFXSTUB_ARCHIVE_ENTRY_NAME_H_

#include <cstddef>

#include "sfxstub/platform/list.h"
#include "sfxstub/platform/text.h"

namespace sfx {

// The files the stub writes into the extraction folder beside the listed ones: the main program,
// and the copy of it that runs.
constexpr char kMainProgramName[] = "setup.ovr";
constexpr char kRunProgramName[] = "kelvo.setup";

// Why name cannot be a listed file's name (a phrase that follows "the name"), or null when it can.
const char* EntryNameProblem(const Text& name);
inline bool IsSafeEntryName(const Text& name) { return EntryNameProblem(name) == nullptr; }

// name, valid UTF-8, with every character of the Basic Multilingual Plane upper-cased on its own,
// the way Windows compares file names; two names are one file to Windows when these are equal. The
// table errs on the side of folding: a pair it calls equal may be two files to some Windows version,
// never the other way round.
Text FoldedEntryName(const Text& name);

// True when two of names are one file to Windows; *first and *second (either may be null) receive
// their indices, first < second.
bool FindNameClash(const List<Text>& names, size_t* first, size_t* second);

}  // namespace sfx

#endif  // SFXSTUB_ARCHIVE_ENTRY_NAME_H_
