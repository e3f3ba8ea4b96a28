#pragma once
// The file operations the piano's record needs, each as careful as the
// octave file's: whole reads with a cap, atomic replacement through a
// temporary file in the same folder, links written through, and a damaged
// file moved aside without overwriting anything. POSIX and the standard
// library only. Each returns 0 or the errno of what failed.

#include <cstddef>
#include <string>

namespace harmolune::tuning {

// The whole of a regular file into bytes, or an error: ENOENT when there is
// none, EISDIR for anything that is not a regular file, EFBIG past maxBytes.
int ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& bytes);

// Replaces the file that path names (through any link) with data: a
// temporary file in the same folder, flushed to the disk, then renamed over
// it. Creates the missing folders when asked. A crash leaves the old file or
// the new.
int ReplaceFileAtomically(const std::string& path, const std::string& data,
                          bool makeFolders = false);

// Renames path to aside, or to aside.2, aside.3... when those exist, so
// that no earlier file is lost; puts the name used in used.
int MoveAside(const std::string& path, const std::string& aside, std::string& used);

}  // namespace harmolune::tuning
