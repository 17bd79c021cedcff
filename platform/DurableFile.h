#pragma once
// Files that must survive a crash or a power cut: written whole under a temporary name, flushed to the
// disk, then renamed over the final name, so a reader finds either the old content or the new, never a part.
#include <string>

namespace velmora::platform {

// Creates the file's folder when missing (owner-only on POSIX), writes bytes to a new owner-only file
// beside path, flushes it to the disk and renames it over path. Throws EFileError on any failure,
// leaving path as it was.
void WriteFileDurably(const std::string& path, const std::string& bytes);

} // namespace velmora::platform
