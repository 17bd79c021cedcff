#pragma once
// File system services: the executable's directory, temporary files, directory creation.
#include <string>

namespace velmora::platform {

// The directory of the running executable, with its trailing path separator.
std::string ExecutableDirectory();
char PathSeparator();

// The user's temporary folder, with its trailing separator.
std::string TempDirectory();
// A unique, newly created file "<dir><prefix>XXXX.tmp"; throws EFileError on failure.
std::string CreateUniqueTempFile(const std::string& prefix);

// Creates the directory and its parents; throws EFileError on failure.
void ForceDirectories(const std::string& path);
// The directory part of a path (empty when there is none).
std::string ExtractFileDir(const std::string& path);
bool FileExists(const std::string& path);  // a regular file
bool DirectoryExists(const std::string& path);
bool DeleteFileIfExists(const std::string& path);
// Renames a file, replacing the target; false when it did not happen (no source, say).
bool RenameFile(const std::string& from, const std::string& to);
// Creates the file, empty and owner-only, only when nothing (not even a link) is at that path yet:
// true when created, false when the name is taken; throws EFileError on any other failure.
bool CreateExclusiveFile(const std::string& path);
// Who may read a file once it is in place (POSIX; on Windows the folder's permissions hold).
enum class FileReaders { Everyone, OwnerOnly };
// Replaces the file as a whole or not at all, so that even after a crash or a power cut a reader finds the
// old content or the new, never a part: the bytes go to a new owner-only file beside it, are flushed to the
// disk, and the new file is renamed over the old one. On failure (a full disk, say) the old file is left as
// it was and the temporary file is removed; throws EFileError.
void WriteFileAtomically(const std::string& path, const std::string& bytes,
                         FileReaders readers = FileReaders::Everyone);
// Replaces the file's whole content; throws EFileError on failure.
void WriteFileReplacing(const std::string& path, const std::string& bytes);
// Throws EFileError when the file cannot be read.
std::string ReadWholeFile(const std::string& path);

std::string GetEnv(const char* name);  // empty when unset

} // namespace velmora::platform
