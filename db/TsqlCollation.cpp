// The text collations Turkish_CI_AS and Latin1_General_CI_AS, with LIKE, UPPER and LOWER under them.
#include <sqlite3.h>

#include <cstring>
#include <mutex>
#include <string>

#include "db/TsqlFunctionSupport.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace velmora::db::tsql {

namespace {

// The weight of an upper-case code point: digits and signs first, then the letters of the
// alphabet, each accented Turkish letter right after its base letter; other characters by code point.
uint32_t Weight(char32_t c) {
    if (c < 0x80) {
        if (c >= 'A' && c <= 'Z') return 0x100 + static_cast<uint32_t>(c - 'A') * 4;
        return static_cast<uint32_t>(c);
    }
    switch (c) {
    case 0xC7: return Weight('C') + 1;   // Ç
    case 0x11E: return Weight('G') + 1;  // Ğ
    case 0x130: return Weight('I') + 1;  // İ
    case 0xD6: return Weight('O') + 1;   // Ö
    case 0x15E: return Weight('S') + 1;  // Ş
    case 0xDC: return Weight('U') + 1;   // Ü
    default: return 0x1000 + static_cast<uint32_t>(c);
    }
}

struct WeightTable {
    uint32_t ascii[128];
    explicit WeightTable(Collation c) {
        for (char32_t ch = 0; ch < 128; ++ch) ascii[ch] = Weight(UpperCase(ch, c));
    }
};

const WeightTable& Table(Collation c) {
    static const WeightTable turkish(Collation::TurkishCiAs), latin1(Collation::Latin1CiAs);
    return c == Collation::TurkishCiAs ? turkish : latin1;
}

// Trailing blanks do not count in SQL Server's comparisons.
size_t LengthWithoutTrailingBlanks(const unsigned char* s, size_t n) {
    while (n > 0 && s[n - 1] == ' ') --n;
    return n;
}

int Compare(Collation c, const unsigned char* a, size_t na, const unsigned char* b, size_t nb) {
    const WeightTable& table = Table(c);
    na = LengthWithoutTrailingBlanks(a, na);
    nb = LengthWithoutTrailingBlanks(b, nb);
    size_t i = 0, j = 0;
    while (i < na && j < nb) {
        uint32_t wa, wb;
        if (a[i] < 0x80 && b[j] < 0x80) {
            if (a[i] == b[j]) { ++i; ++j; continue; }
            wa = table.ascii[a[i++]];
            wb = table.ascii[b[j++]];
        } else {
            wa = a[i] < 0x80 ? table.ascii[a[i++]] : Weight(UpperCase(DecodeUtf8At(a, na, i), c));
            wb = b[j] < 0x80 ? table.ascii[b[j++]] : Weight(UpperCase(DecodeUtf8At(b, nb, j), c));
        }
        if (wa != wb) return wa < wb ? -1 : 1;
    }
    if (i < na) return 1;
    if (j < nb) return -1;
    return 0;
}

int CompareTurkish(void*, int na, const void* a, int nb, const void* b) {
    return Compare(Collation::TurkishCiAs, static_cast<const unsigned char*>(a), static_cast<size_t>(na),
                   static_cast<const unsigned char*>(b), static_cast<size_t>(nb));
}

int CompareLatin1(void*, int na, const void* a, int nb, const void* b) {
    return Compare(Collation::Latin1CiAs, static_cast<const unsigned char*>(a), static_cast<size_t>(na),
                   static_cast<const unsigned char*>(b), static_cast<size_t>(nb));
}

int RegisterOnNewConnection(sqlite3* db, const char**, const struct sqlite3_api_routines*) {
    try {
        RegisterCollations(db);
    } catch (...) {
        return SQLITE_ERROR;
    }
    return SQLITE_OK;
}

// --- LIKE ------------------------------------------------------------------------------------

bool SameLetter(char32_t a, char32_t b, Collation c) { return a == b || Weight(UpperCase(a, c)) == Weight(UpperCase(b, c)); }

// [abc], [a-f], [^abc] at p (after the '['); moves p after the ']'. False when the set is not closed.
bool MatchSet(const std::u32string& p, size_t& k, char32_t ch, Collation c, bool& matched) {
    size_t x = k;
    bool negate = false;
    if (x < p.size() && p[x] == '^') { negate = true; ++x; }
    bool hit = false;
    const size_t first = x;
    while (x < p.size() && (p[x] != ']' || x == first)) {
        if (x + 2 < p.size() && p[x + 1] == '-' && p[x + 2] != ']') {
            const uint32_t w = Weight(UpperCase(ch, c));
            if (w >= Weight(UpperCase(p[x], c)) && w <= Weight(UpperCase(p[x + 2], c))) hit = true;
            x += 3;
        } else {
            if (SameLetter(p[x], ch, c)) hit = true;
            ++x;
        }
    }
    if (x >= p.size()) return false;
    k = x + 1;
    matched = hit != negate;
    return true;
}

bool Like(const std::u32string& p, size_t k, const std::u32string& s, size_t i, char32_t escape, Collation c,
          int& budget) {
    while (k < p.size()) {
        if (--budget < 0) return false;
        const char32_t pc = p[k];
        if (escape && pc == escape && k + 1 < p.size()) {
            if (i >= s.size() || !SameLetter(p[k + 1], s[i], c)) return false;
            k += 2;
            ++i;
        } else if (pc == '%') {
            while (k < p.size() && p[k] == '%') ++k;
            if (k == p.size()) return true;
            for (size_t x = i; x <= s.size(); ++x)
                if (Like(p, k, s, x, escape, c, budget)) return true;
            return false;
        } else if (pc == '_') {
            if (i >= s.size()) return false;
            ++k;
            ++i;
        } else if (pc == '[') {
            size_t after = k + 1;
            bool matched = false;
            if (i < s.size() && MatchSet(p, after, s[i], c, matched)) {
                if (!matched) return false;
                k = after;
                ++i;
            } else if (i >= s.size()) {
                return false;
            } else {
                if (!SameLetter('[', s[i], c)) return false;  // an unclosed '[' stands for itself
                ++k;
                ++i;
            }
        } else {
            if (i >= s.size() || !SameLetter(pc, s[i], c)) return false;
            ++k;
            ++i;
        }
    }
    return i == s.size();
}

// like(pattern, value[, escape]): "value LIKE pattern" as SQL Server matches it, under the
// database collation; trailing blanks of the value do not count, those of the pattern do.
void LikeFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL ||
        (argc > 2 && sqlite3_value_type(argv[2]) == SQLITE_NULL)) {
        sqlite3_result_null(ctx);
        return;
    }
    const std::u32string pattern = DecodeUtf8(ValueText(argv[0]));
    std::string value = ValueText(argv[1]);
    value.erase(LengthWithoutTrailingBlanks(reinterpret_cast<const unsigned char*>(value.data()), value.size()));
    char32_t escape = 0;
    if (argc > 2) {
        const std::u32string e = DecodeUtf8(ValueText(argv[2]));
        if (e.size() != 1) {
            ResultError(ctx, "The escape character of LIKE must be a single character.");
            return;
        }
        escape = e[0];
    }
    int budget = 10000000;  // a pathological pattern ends as no match instead of running for ever
    sqlite3_result_int(ctx, Like(pattern, 0, DecodeUtf8(value), 0, escape, StateOf(ctx)->collation, budget) ? 1 : 0);
}

template <bool Upper>
void CaseFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    const Collation c = StateOf(ctx)->collation;
    std::u32string s = DecodeUtf8(ValueText(argv[0]));
    for (char32_t& ch : s) ch = Upper ? UpperCase(ch, c) : LowerCase(ch, c);
    ResultText(ctx, EncodeUtf8(s));
}

} // namespace

// --- Code points and casing ------------------------------------------------------------------

char32_t DecodeUtf8At(const unsigned char* s, size_t n, size_t& i) {
    const unsigned char b = s[i];
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    char32_t c = extra == 3 ? (b & 0x07) : extra == 2 ? (b & 0x0F) : extra == 1 ? (b & 0x1F) : b;
    ++i;
    while (extra-- > 0 && i < n && (s[i] & 0xC0) == 0x80) c = (c << 6) | (s[i++] & 0x3F);
    return c;
}

std::u32string DecodeUtf8(const std::string& s) {
    std::u32string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t i = 0;
    while (i < s.size()) out += DecodeUtf8At(p, s.size(), i);
    return out;
}

std::string EncodeUtf8(const std::u32string& s) {
    std::string out;
    out.reserve(s.size());
    for (char32_t c : s) platform::AppendUtf8(out, c);
    return out;
}

char32_t UpperCase(char32_t c, Collation col) {
    if (c < 0x80) {
        if (c == 'i' && col == Collation::TurkishCiAs) return 0x130;  // i -> İ
        return c >= 'a' && c <= 'z' ? c - 0x20 : c;
    }
    if (c == 0x131) return 'I';                                           // ı -> I
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;           // Latin-1 letters
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        // Latin Extended-A pairs: upper even, lower odd, except two runs where it is the other way round.
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper) return (c % 2 == 0) ? c - 1 : c;
        return (c % 2 == 1) ? c - 1 : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;  // Greek
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;                // Cyrillic
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

char32_t LowerCase(char32_t c, Collation col) {
    if (c < 0x80) {
        if (c == 'I' && col == Collation::TurkishCiAs) return 0x131;  // I -> ı
        return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
    }
    if (c == 0x130) return 'i';  // İ -> i
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c == 0x178) return 0xFF;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper) return (c % 2 == 1) ? c + 1 : c;
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3A9) return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

int CompareText(Collation c, const std::string& a, const std::string& b) {
    return Compare(c, reinterpret_cast<const unsigned char*>(a.data()), a.size(),
                   reinterpret_cast<const unsigned char*>(b.data()), b.size());
}

bool SameCharacter(char32_t a, char32_t b, Collation c) { return SameLetter(a, b, c); }

// --- Registration ----------------------------------------------------------------------------

const char* CollationName(Collation c) {
    return c == Collation::TurkishCiAs ? "Turkish_CI_AS" : "Latin1_General_CI_AS";
}

Collation CollationOfSchema(const std::string& schemaSql) {
    // SQLite keeps the schema as written; the names compare without regard to letter case.
    const std::string lower = platform::LowerAscii(schemaSql);
    const size_t turkish = lower.find("turkish_ci_as"), latin1 = lower.find("latin1_general_ci_as");
    return latin1 < turkish ? Collation::Latin1CiAs : Collation::TurkishCiAs;
}

void RegisterCollations(sqlite3* db) {
    if (sqlite3_create_collation_v2(db, "Turkish_CI_AS", SQLITE_UTF8, nullptr, CompareTurkish, nullptr) != SQLITE_OK ||
        sqlite3_create_collation_v2(db, "Latin1_General_CI_AS", SQLITE_UTF8, nullptr, CompareLatin1, nullptr) !=
            SQLITE_OK)
        throw EDatabaseError(std::string("Cannot register the text collations: ") + sqlite3_errmsg(db));
}

void RegisterCollationsForEveryConnection() {
    static std::once_flag once;
    std::call_once(once, [] {
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(RegisterOnNewConnection));
    });
}

void RegisterCollationFunctions(sqlite3* db, FunctionState* state) {
    RegisterCollations(db);
    Register(db, "like", 2, state, LikeFn);
    Register(db, "like", 3, state, LikeFn);
    Register(db, "upper", 1, state, CaseFn<true>);
    Register(db, "lower", 1, state, CaseFn<false>);
}

} // namespace velmora::db::tsql
