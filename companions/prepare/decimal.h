// Exact decimal numbers for branch lengths: varnic reads only plain decimals,
// so lengths written with exponents are rewritten digit by digit instead of
// going through a double, which would change their last digits.
#pragma once

#include <string>

namespace companion {

// value = digits * 10^exponent; digits has no leading or trailing zeros and
// is empty for zero.
struct Decimal {
  bool negative = false;
  std::string digits;
  long exponent = 0;
};

// Reads [+-] digits [. digits] [e|E [+-] digits] (either digit run may be
// empty, not both). False when the text is anything else.
bool ParseDecimal(const std::string& text, Decimal& out);

// Sum of two numbers that are not negative.
Decimal AddDecimals(const Decimal& a, const Decimal& b);

// Most decimals written; smaller parts are rounded away (a branch of
// 1e-40 is as good as none).
constexpr long PLAIN_MAX_DECIMALS = 40;
// Most digits before the point.
constexpr long PLAIN_MAX_WHOLE_DIGITS = 30;

// The number written without an exponent ("0.0015", "12", "0"); false when
// it has more whole digits than varnic could use.
bool PlainDecimal(const Decimal& d, std::string& plain);

}  // namespace companion
