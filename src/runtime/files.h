// Files, the in-memory hand-over file and the folder picker.
//
// Paths are Texts written with "\\" or "/" as separators; they are turned into
// platform paths at this edge (UTF-8, "/"), after the conversion, so the second
// byte of a double-byte character is never taken for a separator.
#pragma once

#include <cstdint>

#include "text/text.h"

// True when the file system has an entry of that name, a folder included.
[[nodiscard]] bool fileExists(const Text& name);
// The whole file; empty on any failure.
[[nodiscard]] Bytes readFileBytes(const Text& name);
// Creates or replaces the file whole, through a temporary file in the same
// folder and a rename, so no partial file ever stands under the name. False on
// any failure, and when the calling thread has been stopped.
bool writeFileBytes(const Text& name, const Bytes& data);

using MemoryFile = std::int32_t;  // 0 names none
[[nodiscard]] MemoryFile openMemoryFile();
bool fileWriteText(MemoryFile file, const Text& text);
bool fileSeekToStart(MemoryFile file);
// From the position to the end, up to the first character 0 or 0x1A.
[[nodiscard]] Text fileReadText(MemoryFile file);

// Qt's own folder dialog, modal to the program's windows; the absolute path
// without a trailing separator (but for the root), or the empty text on cancel.
// User interface thread.
[[nodiscard]] Text browseForFolder(const Text& title, bool includeFiles);
