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
bool FileExists(const std::string& path);
bool DeleteFileIfExists(const std::string& path);
// Replaces the file's whole content; throws EFileError on failure.
void WriteFileReplacing(const std::string& path, const std::string& bytes);
// Throws EFileError when the file cannot be read.
std::string ReadWholeFile(const std::string& path);

std::string GetEnv(const char* name);  // empty when unset

} // namespace velmora::platform
