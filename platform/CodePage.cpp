// Code page conversions: the ANSI code page, Windows-1254 / ISO-8859-9, UTF-8 and UTF-16.
#include "platform/CodePage.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

namespace velmora::platform {

namespace {

// Decodes one UTF-8 sequence; malformed bytes yield U+FFFD and advance by one.
char32_t NextCodePoint(const std::string& s, size_t& i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) { ++i; return 0xFFFD; }
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k) {
        unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc >> 6) != 2) { ++i; return 0xFFFD; }
        cp = (cp << 6) | (cc & 0x3F);
    }
    i += len;
    return cp;
}

// Windows-1254 bytes 0x80..0xFF; 0 marks a byte the code page leaves undefined.
const char16_t kCp1254High[128] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0, 0x0178,
    0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0x011E, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0x0130, 0x015E, 0xDF,
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
    0x011F, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0x0131, 0x015F, 0xFF,
};

} // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) out += static_cast<char>(cp);
    else if (cp < 0x800) { out += static_cast<char>(0xC0 | (cp >> 6)); out += static_cast<char>(0x80 | (cp & 0x3F)); }
    else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

int TurkishCodePageByte(char32_t cp, bool iso) {
    if (cp < 0x80) return static_cast<int>(cp);
    for (int b = iso ? 32 : 0; b < 128; ++b)
        if (kCp1254High[b] != 0 && kCp1254High[b] == cp) return 0x80 + b;
    if (iso && cp >= 0x80 && cp < 0xA0) return static_cast<int>(cp);  // ISO-8859-9 keeps the C1 controls
    return -1;
}

std::string TurkishCodePageToUtf8(const std::string& bytes, bool iso) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (unsigned char c : bytes) {
        if (c < 0x80 || (iso && c < 0xA0)) AppendUtf8(out, c);  // ISO-8859-9 keeps the C1 controls
        else AppendUtf8(out, kCp1254High[c - 0x80] ? kCp1254High[c - 0x80] : 0xFFFD);
    }
    return out;
}

std::u16string Utf8ToUtf16(const std::string& utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t cp = NextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

#ifdef _WIN32
std::string Utf8ToAnsi(const std::string& utf8) {
    std::u16string w = Utf8ToUtf16(utf8);
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(w.data()), static_cast<int>(w.size()),
                                nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(w.data()), static_cast<int>(w.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::string AnsiToUtf8(const std::string& ansi) {
    if (ansi.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::u16string w(n, u'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), reinterpret_cast<wchar_t*>(w.data()), n);
    return Utf16ToUtf8(w);
}
#else
std::string Utf8ToAnsi(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t cp = NextCodePoint(utf8, i);
        if (cp < 0x80) { out += static_cast<char>(cp); continue; }
        const int byte = TurkishCodePageByte(cp, false);
        out += byte < 0 ? '?' : static_cast<char>(byte);
    }
    return out;
}

std::string AnsiToUtf8(const std::string& ansi) { return TurkishCodePageToUtf8(ansi, false); }
#endif

} // namespace velmora::platform
