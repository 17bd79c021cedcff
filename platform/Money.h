#pragma once
// Money values are exact decimals with four fractional digits.
#include <cstdint>
#include <string>

namespace velmora {

struct Currency {
    int64_t units = 0;  // ten-thousandths

    static Currency FromUnits(int64_t u) { return Currency{u}; }
    static Currency FromDouble(double value);
    static Currency FromInteger(int64_t value) { return Currency{value * 10000}; }
    // Parses "-123.4567" (a '.' or ',' as the decimal mark); false on anything else.
    static bool TryParse(const std::string& text, Currency& out);

    double ToDouble() const { return static_cast<double>(units) / 10000.0; }
    // To the nearest whole number, a half to the even neighbour.
    int64_t RoundBankers() const;
    std::string ToPlainString() const;  // "-123.4567", trailing zeros trimmed, at least one digit

    friend bool operator==(Currency a, Currency b) { return a.units == b.units; }
};

} // namespace velmora
