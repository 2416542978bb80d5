#include "companions/prepare/decimal.h"

#include <algorithm>
#include <cctype>

namespace companion {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void normalise(Decimal& d) {
  const std::size_t first = d.digits.find_first_not_of('0');
  if (first == std::string::npos) {
    d.digits.clear();
    d.exponent = 0;
    d.negative = false;
    return;
  }
  d.digits.erase(0, first);
  const std::size_t last = d.digits.find_last_not_of('0');
  d.exponent += static_cast<long>(d.digits.size() - 1 - last);
  d.digits.erase(last + 1);
}

// Sum of two digit strings of the same length; may grow by one digit.
std::string add_digits(const std::string& a, const std::string& b) {
  std::string sum(a.size(), '0');
  int carry = 0;
  for (std::size_t i = a.size(); i-- > 0;) {
    const int v = (a[i] - '0') + (b[i] - '0') + carry;
    sum[i] = static_cast<char>('0' + v % 10);
    carry = v / 10;
  }
  return carry ? "1" + sum : sum;
}

}  // namespace

bool ParseDecimal(const std::string& text, Decimal& out) {
  out = Decimal();
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) out.negative = text[i++] == '-';
  std::size_t whole = 0, fraction = 0;
  while (i < text.size() && is_digit(text[i])) {
    out.digits += text[i++];
    whole++;
  }
  if (i < text.size() && text[i] == '.') {
    i++;
    while (i < text.size() && is_digit(text[i])) {
      out.digits += text[i++];
      fraction++;
    }
  }
  if (whole + fraction == 0) return false;
  long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    i++;
    bool minus = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) minus = text[i++] == '-';
    if (i >= text.size() || !is_digit(text[i])) return false;
    // Exponents beyond a million are clamped: the value is then either far
    // too large or rounds to zero, whatever the exact figure.
    while (i < text.size() && is_digit(text[i])) {
      if (exponent < 1000000) exponent = exponent * 10 + (text[i] - '0');
      i++;
    }
    if (minus) exponent = -exponent;
  }
  if (i != text.size()) return false;
  out.exponent = exponent - static_cast<long>(fraction);
  normalise(out);
  return true;
}

Decimal AddDecimals(const Decimal& a, const Decimal& b) {
  if (a.digits.empty()) return b;
  if (b.digits.empty()) return a;
  const long low = std::min(a.exponent, b.exponent);
  std::string x = a.digits + std::string(static_cast<std::size_t>(a.exponent - low), '0');
  std::string y = b.digits + std::string(static_cast<std::size_t>(b.exponent - low), '0');
  const std::size_t width = std::max(x.size(), y.size());
  x.insert(0, width - x.size(), '0');
  y.insert(0, width - y.size(), '0');
  Decimal sum;
  sum.digits = add_digits(x, y);
  sum.exponent = low;
  normalise(sum);
  return sum;
}

bool PlainDecimal(const Decimal& d, std::string& plain) {
  Decimal r = d;
  if (r.exponent < -PLAIN_MAX_DECIMALS && !r.digits.empty()) {
    // Round half up at the last decimal kept.
    const long drop = -PLAIN_MAX_DECIMALS - r.exponent;
    if (drop > static_cast<long>(r.digits.size())) {
      r.digits.clear();
    } else {
      const std::size_t keep = r.digits.size() - static_cast<std::size_t>(drop);
      const bool up = r.digits[keep] >= '5';
      std::string kept = r.digits.substr(0, keep);
      if (kept.empty()) kept = "0";
      if (up) kept = add_digits(kept, std::string(kept.size() - 1, '0') + "1");
      r.digits = kept;
    }
    r.exponent = -PLAIN_MAX_DECIMALS;
    normalise(r);
  }
  if (r.digits.empty()) {
    plain = "0";
    return true;
  }
  if (static_cast<long>(r.digits.size()) + r.exponent > PLAIN_MAX_WHOLE_DIGITS) return false;
  std::string whole, fraction;
  if (r.exponent >= 0) {
    whole = r.digits + std::string(static_cast<std::size_t>(r.exponent), '0');
  } else {
    const long point = static_cast<long>(r.digits.size()) + r.exponent;
    if (point <= 0) {
      fraction = std::string(static_cast<std::size_t>(-point), '0') + r.digits;
    } else {
      whole = r.digits.substr(0, static_cast<std::size_t>(point));
      fraction = r.digits.substr(static_cast<std::size_t>(point));
    }
  }
  plain = (r.negative ? "-" : "") + (whole.empty() ? "0" : whole);
  if (!fraction.empty()) plain += "." + fraction;
  return true;
}

}  // namespace companion
