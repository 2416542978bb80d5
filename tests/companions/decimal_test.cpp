// Branch lengths rewritten as plain decimals, digit for digit.

#include <gtest/gtest.h>

#include "companions/prepare/decimal.h"

namespace companion {
namespace {

std::string plain_of(const std::string& text) {
  Decimal d;
  EXPECT_TRUE(ParseDecimal(text, d)) << text;
  std::string plain;
  EXPECT_TRUE(PlainDecimal(d, plain)) << text;
  return plain;
}

struct PlainCase {
  const char* text;
  const char* plain;
};

TEST(PlainDecimal, WritesEveryNotationWithoutExponent) {
  const PlainCase cases[] = {
      {"0.5", "0.5"},
      {"5e-1", "0.5"},
      {"1.5E-3", "0.0015"},
      {"1.5e-03", "0.0015"},
      {"2.5E+2", "250"},
      {"1e3", "1000"},
      {"+2", "2"},
      {".25", "0.25"},
      {"3.", "3"},
      {"0.10", "0.1"},
      {"000.0100", "0.01"},
      {"-0", "0"},
      {"0e-5", "0"},
      {"12.5e-1", "1.25"},
      {"0.000001", "0.000001"},
      {"1e-8", "0.00000001"},
      // More digits than a double holds, all of them kept.
      {"0.12345678901234567890123", "0.12345678901234567890123"},
      {"1234567890123456789012345e-31", "0.0000001234567890123456789012345"},
      // Beyond 40 decimals the value is rounded.
      {"1e-40", "0.0000000000000000000000000000000000000001"},
      {"6e-41", "0.0000000000000000000000000000000000000001"},
      {"4e-41", "0"},
      {"1e-300", "0"},
      {"0.99999999999999999999999999999999999999999", "1"},
      {"1e29", "100000000000000000000000000000"},
  };
  for (const auto& c : cases) EXPECT_EQ(plain_of(c.text), c.plain) << c.text;
}

TEST(PlainDecimal, KeepsTheSignOfNegativeNumbers) {
  Decimal d;
  ASSERT_TRUE(ParseDecimal("-1.5e-1", d));
  EXPECT_TRUE(d.negative);
  std::string plain;
  ASSERT_TRUE(PlainDecimal(d, plain));
  EXPECT_EQ(plain, "-0.15");
}

TEST(PlainDecimal, RefusesNumbersTooLargeToUse) {
  for (const char* text : {"1e30", "1e31", "5e999999999"}) {
    Decimal d;
    ASSERT_TRUE(ParseDecimal(text, d)) << text;
    std::string plain;
    EXPECT_FALSE(PlainDecimal(d, plain)) << text;
  }
}

TEST(ParseDecimal, RefusesWhatIsNotANumber) {
  for (const char* text : {"", ".", "e5", "1e", "1e+", "1.2.3", "abc", "--1", "+-1", "0x10", "inf", "nan", "1,5",
                           "1 ", " 1", "1d-3"}) {
    Decimal d;
    EXPECT_FALSE(ParseDecimal(text, d)) << "'" << text << "'";
  }
}

struct SumCase {
  const char* a;
  const char* b;
  const char* sum;
};

TEST(AddDecimals, AddsExactly) {
  const SumCase cases[] = {
      {"0.1", "0.2", "0.3"},   {"1e-3", "2", "2.001"}, {"0", "0.5", "0.5"}, {"9.99", "0.01", "10"},
      {"0.5", "0", "0.5"},     {"1e5", "1e-5", "100000.00001"},
  };
  for (const auto& c : cases) {
    Decimal a, b;
    ASSERT_TRUE(ParseDecimal(c.a, a));
    ASSERT_TRUE(ParseDecimal(c.b, b));
    std::string plain;
    ASSERT_TRUE(PlainDecimal(AddDecimals(a, b), plain));
    EXPECT_EQ(plain, c.sum) << c.a << " + " << c.b;
  }
}

}  // namespace
}  // namespace companion
