// Exact money amounts in ten-thousandths: parsing, rounding and formatting.
#include "platform/Money.h"

#include <cmath>
#include <cstdlib>

namespace velmora {

Currency Currency::FromDouble(double value) { return Currency{static_cast<int64_t>(std::llround(value * 10000.0))}; }

bool Currency::TryParse(const std::string& text, Currency& out) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int64_t whole = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) whole = whole * 10 + (text[i] - '0');
    int64_t frac = 0;
    int fracDigits = 0;
    bool roundUp = false;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
            if (fracDigits < 4) { frac = frac * 10 + (text[i] - '0'); ++fracDigits; }
            else if (fracDigits == 4) { roundUp = text[i] >= '5'; ++fracDigits; }
        }
    }
    while (i < text.size() && text[i] == ' ') ++i;
    if (digits == 0 || i != text.size()) return false;
    for (int k = std::min(fracDigits, 4); k < 4; ++k) frac *= 10;
    int64_t units = whole * 10000 + frac + (roundUp ? 1 : 0);
    out.units = negative ? -units : units;
    return true;
}

int64_t Currency::RoundBankers() const {
    int64_t q = units / 10000;
    int64_t r = units % 10000;  // same sign as units
    if (r > 5000 || (r == 5000 && (q % 2 != 0))) ++q;
    else if (r < -5000 || (r == -5000 && (q % 2 != 0))) --q;
    return q;
}

std::string Currency::ToPlainString() const {
    int64_t a = std::llabs(units);
    std::string s = std::to_string(a / 10000);
    int64_t frac = a % 10000;
    if (frac != 0) {
        std::string f = std::to_string(frac);
        f.insert(0, 4 - f.size(), '0');
        while (!f.empty() && f.back() == '0') f.pop_back();
        s += "." + f;
    }
    return units < 0 ? "-" + s : s;
}

} // namespace velmora
