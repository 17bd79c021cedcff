#pragma once
// ANSI code page conversion for the run log (Windows: the system ANSI code page; elsewhere Windows-1254).
#include <string>

namespace velmora::platform {

// UTF-8 in, ANSI bytes out; characters the code page lacks become '?'.
std::string Utf8ToAnsi(const std::string& utf8);
std::string AnsiToUtf8(const std::string& ansi);

// The byte of a character in Windows-1254 (or ISO-8859-9 when iso is set); -1 when it has none.
int TurkishCodePageByte(char32_t cp, bool iso);
// Windows-1254 (or ISO-8859-9 when iso is set) text as UTF-8; bytes Windows-1254 leaves undefined become U+FFFD.
std::string TurkishCodePageToUtf8(const std::string& bytes, bool iso);

// One character's UTF-8 bytes appended to out.
void AppendUtf8(std::string& out, char32_t cp);

// UTF-8 <-> UTF-16 for APIs that take wide text (ODBC, WinInet).
std::u16string Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const std::u16string& utf16);

} // namespace velmora::platform
