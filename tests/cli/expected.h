// What the end-to-end tests expect, worked out independently of the
// program: the two-state transition probabilities in closed form, the
// worked example on two leaves, and small text helpers.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace cli {

// A two-leaf tree: A (state 0, branch 0.5) and B (state 1, branch 1.0)
// below the root.
inline const char* const TWO_LEAVES = "2 1\nA root 0.5 0\nB root 1.0 1\n";

inline std::string fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// P_ij(t) of the two-state model with q01 = a, q10 = b.
inline double p2(int i, int j, double a, double b, double t) {
  const double e = std::exp(-(a + b) * t);
  const double stay0 = (b + a * e) / (a + b), stay1 = (a + b * e) / (a + b);
  if (i == 0) return j == 0 ? stay0 : 1 - stay0;
  return j == 1 ? stay1 : 1 - stay1;
}

// The likelihood of the two-leaf tree given each root state, for q01 = 1
// and q10 = 2.
struct RootLikelihoods {
  double given0, given1;
};
inline RootLikelihoods two_leaves_worked_example() {
  return {p2(0, 0, 1, 2, 0.5) * p2(0, 1, 1, 2, 1.0), p2(1, 0, 1, 2, 0.5) * p2(1, 1, 1, 2, 1.0)};
}

inline ::testing::AssertionResult StartsWith(const std::string& text, const std::string& prefix) {
  if (text.compare(0, prefix.size(), prefix) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "text:\n" << text << "\ndoes not start with:\n" << prefix;
}

}  // namespace cli
