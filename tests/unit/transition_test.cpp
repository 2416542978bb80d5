#include "model/transition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/unit/tree_fixture.h"

namespace varnic {
namespace {

using fixture::expm;
using fixture::use_model;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

using fixture::params;
using fixture::random_rates;
using fixture::reversible_rates;

StateMatrix rate_matrix(const std::vector<double>& x) {
  StateMatrix Q{};
  build_rate_matrix(x.data(), Q);
  return Q;
}

double max_difference(const StateMatrix& a, const StateMatrix& b, int n) {
  double worst = 0.0;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) worst = std::fmax(worst, std::fabs(a[i][j] - b[i][j]));
  return worst;
}


class TransitionTest : public ::testing::Test {
 protected:
  void TearDown() override { Calc_End(); }
};

TEST_F(TransitionTest, RateMatrixTakesTheRatesRowByRow) {
  use_model(3);
  const StateMatrix Q = rate_matrix({1, 2, 3, 4, 5, 6, 0.5});  // q01 q02 q10 q12 q20 q21 scale
  const double expected[3][3] = {{-3, 1, 2}, {3, -7, 4}, {5, 6, -11}};
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) EXPECT_EQ(Q[i][j], expected[i][j]) << i << "," << j;
}

TEST_F(TransitionTest, ScaleHasNoInfluenceOnTheRateMatrix) {
  use_model(4);
  std::mt19937_64 rng(7);
  std::vector<double> x = random_rates(4, rng);
  const StateMatrix Q = rate_matrix(x);
  for (double scale : {0.0, -3.0, 1e300, NaN}) {
    x.back() = scale;
    const StateMatrix other = rate_matrix(x);
    EXPECT_EQ(max_difference(Q, other, 4), 0.0) << scale;
  }
}

TEST_F(TransitionTest, TwoStatesFollowTheClosedForm) {
  struct Case {
    double a, b, t;  // q01, q10, branch length
  };
  const Case cases[] = {
      {1.0, 2.0, 0.5}, {1.0, 2.0, 1.0}, {0.3, 0.3, 2.0},   {5.0, 0.01, 0.1},
      {0.01, 5.0, 3.0}, {2.0, 1.0, 40.0}, {1e-3, 2e-3, 0.7}, {1.0, 2.0, 0.0},
  };
  use_model(2);
  for (const Case& c : cases) {
    ASSERT_EQ(PreCalc(rate_matrix(params({c.a, c.b}))), 0) << c.a << " " << c.b;
    StateMatrix P{};
    const double d = Calc_P(P, c.t);
    const double e = std::exp(-(c.a + c.b) * c.t);
    const double p00 = (c.b + c.a * e) / (c.a + c.b);
    const double p11 = (c.a + c.b * e) / (c.a + c.b);
    EXPECT_NEAR(P[0][0], p00, 1e-14) << c.a << " " << c.b << " " << c.t;
    EXPECT_NEAR(P[0][1], 1.0 - p00, 1e-14) << c.a << " " << c.b << " " << c.t;
    EXPECT_NEAR(P[1][1], p11, 1e-14) << c.a << " " << c.b << " " << c.t;
    EXPECT_NEAR(P[1][0], 1.0 - p11, 1e-14) << c.a << " " << c.b << " " << c.t;
    EXPECT_LT(d, 1e-15) << c.a << " " << c.b << " " << c.t;
    Calc_End();
  }
}

TEST_F(TransitionTest, ZeroLengthGivesTheIdentity) {
  std::mt19937_64 rng(11);
  for (int n = 2; n <= MAX_STATES; n++) {
    use_model(n);
    for (int trial = 0; trial < 20; trial++) {
      ASSERT_EQ(PreCalc(rate_matrix(reversible_rates(n, rng))), 0);
      StateMatrix P{};
      const double d = Calc_P(P, 0.0);
      for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) EXPECT_NEAR(P[i][j], i == j ? 1.0 : 0.0, 1e-13) << n;
      EXPECT_LT(d, 1e-13) << n;
      Calc_End();
    }
  }
}

// P(t) against the Taylor-series exponential, for every number of states,
// with the row-sum deviation as the definition gives it. Unrestricted random
// rates often give complex eigenvalues (refused, see below); every
// reversible model must be accepted.
TEST_F(TransitionTest, MatchesAnIndependentMatrixExponential) {
  std::mt19937_64 rng(12);
  for (int n = 2; n <= MAX_STATES; n++) {
    use_model(n);
    int accepted = 0;
    for (int trial = 0; trial < 100; trial++) {
      const bool reversible = trial % 2 == 0;
      const std::vector<double> x = reversible ? reversible_rates(n, rng) : random_rates(n, rng);
      const StateMatrix Q = rate_matrix(x);
      const int refused = PreCalc(Q);
      if (reversible) {
        ASSERT_EQ(refused, 0) << "n " << n << " trial " << trial;
      }
      if (refused) {
        Calc_End();
        continue;
      }
      accepted++;
      for (double t : {0.01, 0.3, 1.0, 4.0, 25.0}) {
        StateMatrix P{};
        const double d = Calc_P(P, t);
        EXPECT_LT(max_difference(P, expm(Q, t, n), n), 1e-11) << "n " << n << " t " << t;
        double sum = 0.0;
        for (int i = 0; i < n; i++) {
          double deficit = 1.0;
          for (int j = 0; j < n; j++) deficit -= P[i][j];
          sum += deficit * deficit;
        }
        EXPECT_EQ(d, std::sqrt(sum));
        EXPECT_LT(d, 1e-12) << "n " << n << " t " << t;
      }
      Calc_End();
    }
    EXPECT_GT(accepted, 50) << "n " << n;
  }
}

TEST_F(TransitionTest, ComplexEigenvaluesAreRefused) {
  use_model(3);
  // The cycle 0 -> 1 -> 2 -> 0: eigenvalues 0 and -1.5 ± i·sqrt(3)/2.
  EXPECT_EQ(PreCalc(rate_matrix(params({1, 0, 0, 1, 1, 0}))), 1);
  EXPECT_EQ(decomposition, Decomposition::singular);
  Calc_End();
  EXPECT_EQ(decomposition, Decomposition::none);
  Calc_End();
  EXPECT_EQ(decomposition, Decomposition::none);
}

// Schur forms that Meschach's schur_vecs cannot take as they come: an
// eigenvalue held as an exact 0.0 on the diagonal (its eigenvector came back
// NaN), and a 2×2 block with real eigenvalues (the library raised an error
// that ended the process). The matrices with such a block were found by the
// survey of random rate matrices.
TEST_F(TransitionTest, SchurFormsMeschachCannotTakeAreMended) {
  struct Case {
    const char* what;
    std::vector<double> rates;
    long PreCalcCounts::*mend;
  };
  const Case cases[] = {
      {"exact zero eigenvalue", {1.0, 2.0}, &PreCalcCounts::tiny_eigenvalue},
      {"real 2x2 block, n = 2", {0x1.2d2b58da5c33p-1, 0x1.5b78206c182fdp-1}, &PreCalcCounts::split_block},
      {"real 2x2 block, n = 2", {0x1.472675a0f286cp-1, 0x1.aabe4e26809dap-1}, &PreCalcCounts::split_block},
      {"real 2x2 block, n = 3",
       {0x1.82e251bb8bb8ap-2, 0x1.7770d15ad0d22p-5, 0x1.d9eb8af650355p-1, 0x1.8909ec106b342p-1,
        0x1.724e70c9188dcp-2, 0x1.e720b1dc18a4dp-1},
       &PreCalcCounts::split_block},
      {"real 2x2 block, n = 4",
       {0x1.f9cd434f8d336p-1, 0x1.d1b63c09444c8p-6, 0x1.89629da7c4cbfp-1, 0x1.11c5ad7589684p-2,
        0x1.5240b3bcbd641p-1, 0x1.e68f3939be5b6p-5, 0x1.9d8c8d4c93a11p-6, 0x1.82794c22b1476p-1,
        0x1.0ce0d9812f148p-1, 0x1.257ca3fa5d2adp-1, 0x1.666e641d9736fp-3, 0x1.607512c53b8acp-1},
       &PreCalcCounts::split_block},
  };
  for (const Case& c : cases) {
    int n = 2;
    while (n * (n - 1) < static_cast<int>(c.rates.size())) n++;
    use_model(n);
    const StateMatrix Q = rate_matrix(params(c.rates));
    const PreCalcCounts before = precalc_counts;
    ASSERT_EQ(PreCalc(Q), 0) << c.what;
    EXPECT_GT(precalc_counts.*c.mend, before.*c.mend) << c.what;
    EXPECT_EQ(precalc_counts.library_error, before.library_error) << c.what;
    for (double t : {0.0, 0.5, 1.0, 10.0}) {
      StateMatrix P{};
      const double d = Calc_P(P, t);
      EXPECT_LT(max_difference(P, expm(Q, t, n), n), 1e-12) << c.what << " t " << t;
      EXPECT_LT(d, 1e-13) << c.what << " t " << t;
    }
    Calc_End();
  }
}

// Rate matrices with repeated eigenvalues or absorbing states, which the
// models of practice produce (equal rates, rates fixed to 0).
TEST_F(TransitionTest, DegenerateRateMatricesGiveTheirExponential) {
  struct Case {
    const char* what;
    int n;
    std::vector<double> rates;
  };
  const std::vector<Case> cases = {
      {"no change at all", 2, {0.0, 0.0}},
      {"no change at all", 4, std::vector<double>(12, 0.0)},
      {"state 1 absorbing", 2, {0.8, 0.0}},
      {"state 2 absorbing", 3, {0.5, 0.2, 0.3, 0.4, 0.0, 0.0}},
      {"equal rates", 3, std::vector<double>(6, 0.7)},
      {"equal rates", 4, std::vector<double>(12, 0.3)},
      {"equal rates", 5, std::vector<double>(20, 1.0)},
      {"equal rates", 6, std::vector<double>(30, 0.1)},
      {"rates below the normal range", 2, {1e-310, 1e-310}},
      {"rates of 1e-120", 2, {1e-120, 3e-120}},
  };
  for (const Case& c : cases) {
    use_model(c.n);
    const StateMatrix Q = rate_matrix(params(c.rates));
    ASSERT_EQ(PreCalc(Q), 0) << c.what << " n " << c.n;
    for (double t : {0.0, 0.5, 3.0}) {
      StateMatrix P{};
      const double d = Calc_P(P, t);
      EXPECT_LT(max_difference(P, expm(Q, t, c.n), c.n), 1e-12) << c.what << " n " << c.n << " t " << t;
      EXPECT_LT(d, 1e-13) << c.what << " n " << c.n << " t " << t;
    }
    Calc_End();
  }
}

// Whatever the rates, PreCalc returns: 0 with a finite decomposition, or 1.
TEST_F(TransitionTest, ExtremeRatesNeverEndTheProcess) {
  struct Case {
    std::vector<double> rates;
    int expected;  // -1: either answer will do
  };
  const Case cases[] = {
      {{INF, 1.0}, 1},   {{1.0, NaN}, 1},     {{1e308, 1e308}, 1}, {{-INF, 1.0}, 1},
      {{1e300, 1e300}, -1}, {{1e200, 1e-200}, -1}, {{1e-300, 1e300}, -1}, {{-1.0, -2.0}, -1},
  };
  use_model(2);
  for (const Case& c : cases) {
    const int result = PreCalc(rate_matrix(params(c.rates)));
    if (c.expected >= 0) {
      EXPECT_EQ(result, c.expected) << c.rates[0] << " " << c.rates[1];
    }
    if (result == 0) {
      for (int i = 0; i < 2; i++)
        for (int k = 0; k < 2; k++) {
          EXPECT_TRUE(std::isfinite(vec[i][k]));
          EXPECT_TRUE(std::isfinite(inv_vec[i][k]));
        }
    }
    Calc_End();
  }
}

}  // namespace
}  // namespace varnic

namespace {

// Matrices on which the decomposition never returned: rates that span more
// than 60 orders of magnitude are refused, and matrices of tiny (or huge)
// rates are decomposed scaled, with eigenvalues of the right size.
TEST(TransitionRange, MatricesThatHungTheDecompositionReturn) {
  using namespace varnic;
  fixture::use_model(3);
  std::vector<double> x(7, 0.5);
  x[0] = 1.1e100;
  StateMatrix Q{};
  build_rate_matrix(x.data(), Q);
  EXPECT_EQ(PreCalc(Q), 1);
  Calc_End();

  for (double rate : {1e-100, 1e-300, 1e30, 1e45}) {
    std::vector<double> equal(7, rate);
    build_rate_matrix(equal.data(), Q);
    ASSERT_EQ(PreCalc(Q), 0) << rate;
    // Equal rates: eigenvalues 0 and -3·rate (twice).
    std::vector<double> values(val.begin(), val.begin() + 3);
    std::sort(values.begin(), values.end());
    EXPECT_NEAR(values[0] / rate, -3.0, 1e-9) << rate;
    EXPECT_NEAR(values[1] / rate, -3.0, 1e-9) << rate;
    StateMatrix P{};
    const double t = 1.0 / rate;  // P(1/rate): off-diagonal (1 - e^-3)/3
    Calc_P(P, t);
    EXPECT_NEAR(P[0][1], (1 - std::exp(-3.0)) / 3, 1e-9) << rate;
    Calc_End();
  }
}

}  // namespace
