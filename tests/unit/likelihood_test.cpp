#include "model/likelihood.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "driver/settings.h"
#include "driver/tree.h"
#include "model/transition.h"
#include "session/params.h"
#include "tests/unit/tree_fixture.h"

namespace varnic {
namespace {

using fixture::build_tree;
using fixture::inner;
using fixture::mark_all_L;
using fixture::tip;
using fixture::use_model;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double SENTINEL = 42.0;

using fixture::params;
using fixture::random_rates;
using fixture::reversible_rates;

// The likelihood computed the other way: the sum, over every assignment of
// states to the internal nodes that respects the fixed states, of the
// product of the transition probabilities along every branch, with P(t) from
// the Taylor-series exponential. Reads the process-wide tree and model.
struct BruteForce {
  long double total = 0.0L;                 // summed over the root states
  long double given_root[MAX_STATES] = {};  // ... for one root state
};

BruteForce brute_force(const std::vector<double>& x) {
  const int n = num_states;
  StateMatrix Q{};
  build_rate_matrix(x.data(), Q);
  std::vector<StateMatrix> P(tree.size());
  std::vector<int> internal;
  for (int k = 0; k < nnodes; k++) {
    const Node& node = tree[k];
    if (&node != root) {
      const double t = scaling ? std::pow(node.length, x[num_params - 1]) : node.length;
      P[k] = fixture::expm(Q, t, n);
    }
    if (node.child1) internal.push_back(k);
  }
  BruteForce result;
  for (const Node& node : tree)
    if (!node.child1 && node.fossil != NO_FOSSIL && node.fossil != node.state) return result;

  std::vector<int> state(tree.size(), 0);
  for (int k = 0; k < nnodes; k++)
    if (!tree[k].child1) state[k] = tree[k].state;
  std::vector<int> digit(internal.size(), 0);
  for (;;) {
    bool allowed = true;
    for (std::size_t m = 0; m < internal.size(); m++) {
      const Node& node = tree[internal[m]];
      state[internal[m]] = digit[m];
      if (node.fossil != NO_FOSSIL && node.fossil != digit[m]) allowed = false;
    }
    if (allowed) {
      long double product = 1.0L;
      for (int k = 0; k < nnodes; k++)
        if (&tree[k] != root) product *= P[k][state[node_index(tree[k].parent)]][state[k]];
      result.given_root[state[node_index(root)]] += product;
      result.total += product;
    }
    std::size_t m = 0;
    while (m < digit.size() && ++digit[m] == n) digit[m++] = 0;
    if (m == digit.size()) break;
  }
  return result;
}

void expect_close(double actual, long double expected, const char* what) {
  const double e = static_cast<double>(expected);
  EXPECT_NEAR(actual, e, 1e-9 * std::fmax(1.0, std::fabs(e))) << what;
}

// a and b agree to 1e-12 relative; below 1 in magnitude (logs of
// probabilities near 1, which carry rounding of their own) to 1e-12
// absolute. Two NaN agree.
bool agree(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  if (std::isinf(a) || std::isinf(b)) return a == b;
  return std::fabs(a - b) <= 1e-12 * std::fmax(1.0, std::fmax(std::fabs(a), std::fabs(b)));
}

// Calc_Like12 against the term-by-term sums of Calc_Like12_reference: the
// same result and the same L in every record, the records neither wrote
// included, and the same states impossible (exactly 1.0).
void expect_agrees_with_reference(const std::vector<double>& x, const std::string& what) {
  const int n = num_states;
  mark_all_L(SENTINEL);
  const double expected = Calc_Like12_reference(x.data());
  std::vector<std::array<double, 10>> L_expected;
  for (const Node& node : tree) L_expected.push_back(node.L);
  mark_all_L(SENTINEL);
  const double actual = Calc_Like12(x.data());
  EXPECT_TRUE(agree(actual, expected)) << what << ": " << actual << " against " << expected;
  EXPECT_EQ(actual == PENALTY, expected == PENALTY) << what;
  int differing = 0;
  for (int k = 0; k < nnodes; k++)
    for (int i = 0; i < n; i++) {
      const double a = tree[k].L[i], e = L_expected[k][i];
      // Impossible (and unwritten) exactly as the reference has it; a log of
      // a probability never above 0, where another parent would read it as
      // impossible.
      const bool same = e > 0.0 ? a == e : (!(a > 0.0) && agree(a, e));
      if (!same && differing++ < 5)
        ADD_FAILURE() << what << ": record " << k << " state " << i << ": " << a << " against " << e;
    }
}

// Checks the result and the root's L against the second computation.
void expect_matches_brute_force(const std::vector<double>& x, const char* what) {
  expect_agrees_with_reference(x, what);
  const BruteForce b = brute_force(x);
  ASSERT_GT(b.total, 0.0L) << what;
  const double f = Calc_Like12(x.data());
  expect_close(f, -std::log(b.total), what);
  for (int s = 0; s < num_states; s++) {
    if (root->fossil != NO_FOSSIL && s != root->fossil) {
      EXPECT_EQ(root->L[s], 0.0) << what;
    } else if (b.given_root[s] > 0.0L) {
      expect_close(root->L[s], std::log(b.given_root[s]), what);
    }
  }
}

// The two-state closed form of P(t) for q01 = a, q10 = b.
double p2(int i, int j, double a, double b, double t) {
  const double e = std::exp(-(a + b) * t);
  const double p00 = (b + a * e) / (a + b), p11 = (a + b * e) / (a + b);
  if (i == 0) return j == 0 ? p00 : 1.0 - p00;
  return j == 1 ? p11 : 1.0 - p11;
}

class LikelihoodTest : public ::testing::Test {
 protected:
  void SetUp() override { use_model(2); }
  void TearDown() override { reset_tree(); }
};

TEST_F(LikelihoodTest, WorkedExampleWeighsEveryRootStateOne) {
  build_tree({tip(0, 0.5), tip(1, 1.0), inner(0, 1, 0.0)});
  const std::vector<double> x = params({1.0, 2.0});
  const double f = Calc_Like12(x.data());
  const double l0 = std::log(p2(0, 0, 1, 2, 0.5) * p2(0, 1, 1, 2, 1.0));
  const double l1 = std::log(p2(1, 0, 1, 2, 0.5) * p2(1, 1, 1, 2, 1.0));
  EXPECT_NEAR(root->L[0], l0, 1e-14);
  EXPECT_NEAR(root->L[1], l1, 1e-14);
  EXPECT_NEAR(root->L[0], -1.45, 0.005);
  EXPECT_NEAR(root->L[1], -1.66, 0.005);
  EXPECT_NEAR(f, -std::log(std::exp(l0) + std::exp(l1)), 1e-14);
  EXPECT_NEAR(f, 0.857, 0.001);
  // Terminal records: 0.0 at the observed state, 1.0 (impossible) elsewhere.
  EXPECT_EQ(tree[0].L[0], 0.0);
  EXPECT_EQ(tree[0].L[1], 1.0);
  EXPECT_EQ(tree[1].L[0], 1.0);
  EXPECT_EQ(tree[1].L[1], 0.0);
}

TEST_F(LikelihoodTest, RefusedVectorsReturnThePenaltyAndLeaveLAsWalked) {
  struct Case {
    const char* what;
    int n;
    std::vector<fixture::NodeShape> tree;
    std::vector<double> x;
    std::vector<std::pair<int, int>> fixed;  // node, state
    // Expected L per record, first n entries; empty: left at the sentinel.
    std::vector<std::vector<double>> L;
  };
  const std::vector<double> none;
  // X = (A:0.5 in state 0, B:0.5 in state 1) under q01 = 1, q10 = 2.
  const std::vector<double> x_of_ab = {std::log(p2(0, 0, 1, 2, 0.5) * p2(0, 1, 1, 2, 0.5)),
                                       std::log(p2(1, 0, 1, 2, 0.5) * p2(1, 1, 1, 2, 0.5))};
  const std::vector<Case> cases = {
      {"complex eigenvalues (the three-state cycle)",
       3,
       {tip(0, 0.5), tip(1, 0.5), tip(2, 1.0), inner(0, 1, 0.2), inner(3, 2, 0.0)},
       params({1, 0, 0, 1, 1, 0}),
       {},
       {none, none, none, none, none}},
      {"a negative entry of P(1.0)",
       2,
       {tip(0, 0.5), tip(1, 0.5), tip(1, 1.0), inner(0, 1, 0.2), inner(3, 2, 0.0)},
       params({-0.5, 1.0}),
       {},
       {none, none, none, none, none}},
      {"a terminal node fixed to a state it does not have",
       2,
       {tip(0, 0.5), tip(1, 0.5), tip(1, 1.0), inner(0, 1, 0.2), inner(3, 2, 0.0)},
       params({1.0, 2.0}),
       {{0, 1}},
       {{0.0, 1.0}, {1.0, 0.0}, {1.0, 0.0}, {1.0, 1.0}, {1.0, 1.0}}},
      {"... below an ancestor fixed to state 0",
       2,
       {tip(0, 0.5), tip(1, 0.5), tip(1, 1.0), inner(0, 1, 0.2), inner(3, 2, 0.0)},
       params({1.0, 2.0}),
       {{0, 1}, {3, 0}},
       {{0.0, 1.0}, {1.0, 0.0}, {1.0, 0.0}, {1.0, 0.0}, {1.0, 1.0}}},
      // A branch of length -50 makes exp(150) entries whose rounding
      // breaks the row sums far beyond the limit.
      {"row-sum deviation, at the root's child2",
       2,
       {tip(0, 0.5), tip(1, 0.5), tip(1, -50.0), inner(1, 2, 0.2), inner(0, 3, 0.0)},
       params({1.0, 2.0}),
       {},
       {{0.0, 1.0}, {1.0, 0.0}, {1.0, 0.0}, none, none}},
      {"row-sum deviation, in the second subtree",
       2,
       {tip(0, 0.5), tip(1, 0.5), tip(1, 0.3), tip(0, -50.0), tip(0, 0.4), inner(0, 1, 0.2),
        inner(2, 3, 0.1), inner(6, 4, 0.3), inner(5, 7, 0.0)},
       params({1.0, 2.0}),
       {},
       {{0.0, 1.0}, {1.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}, none, x_of_ab, none, none, none}},
  };
  for (const Case& c : cases) {
    use_model(c.n);
    build_tree(c.tree);
    mark_all_L(SENTINEL);
    for (auto [node, state] : c.fixed) Fossil(node, state);
    expect_agrees_with_reference(c.x, c.what);
    mark_all_L(SENTINEL);
    EXPECT_EQ(Calc_Like12(c.x.data()), PENALTY) << c.what;
    EXPECT_EQ(decomposition, Decomposition::none) << c.what;
    for (int k = 0; k < nnodes; k++) {
      for (int i = 0; i < c.n; i++) {
        if (c.L[k].empty()) {
          EXPECT_EQ(tree[k].L[i], SENTINEL) << c.what << ": record " << k;
        } else {
          EXPECT_NEAR(tree[k].L[i], c.L[k][i], 1e-14) << c.what << ": record " << k << " state " << i;
        }
      }
    }
  }
}

TEST_F(LikelihoodTest, BranchLengthExponent) {
  // ((A:0.3, B:0.7):0.5, (C:0, D:1.6):1.2): a zero length, lengths on both
  // sides of 1.
  const std::vector<fixture::NodeShape> shape = {tip(0, 0.3), tip(1, 0.7), tip(2, 0.0),
                                               tip(1, 1.6), inner(0, 1, 0.5), inner(2, 3, 1.2),
                                               inner(4, 5, 0.0)};
  auto with_lengths = [&](double (*f)(double)) {
    std::vector<fixture::NodeShape> s = shape;
    for (std::size_t k = 0; k + 1 < s.size(); k++) s[k].length = f(s[k].length);
    return s;
  };
  struct Case {
    const char* what;
    double scale;
    std::vector<fixture::NodeShape> plain;  // the same tree with scaling off
  };
  const Case cases[] = {
      {"scale 1 is scaling off", 1.0, shape},
      {"scale 0 makes every branch length 1", 0.0, with_lengths([](double) { return 1.0; })},
      {"scale 0.5 takes square roots", 0.5, with_lengths([](double l) { return std::sqrt(l); })},
      {"scale 2 squares", 2.0, with_lengths([](double l) { return l * l; })},
  };
  std::mt19937_64 rng(21);
  const std::vector<double> rates = reversible_rates(3, rng);
  for (const Case& c : cases) {
    std::vector<double> x = rates;
    x.back() = c.scale;
    use_model(3, 1);
    build_tree(shape);
    expect_agrees_with_reference(x, c.what);
    const double scaled = Calc_Like12(x.data());
    use_model(3, 0);
    build_tree(c.plain);
    const double plain = Calc_Like12(x.data());
    ASSERT_LT(plain, PENALTY) << c.what;
    EXPECT_NEAR(scaled, plain, 1e-12 * plain) << c.what;
  }
}

TEST_F(LikelihoodTest, FixedStates) {
  // (((A, B)X, C)Y, (D, E)Z): records A..E 0..4, X 5, Y 6, Z 7, root 8.
  const std::vector<fixture::NodeShape> shape = {tip(0, 0.4), tip(1, 0.3), tip(2, 0.8),
                                               tip(1, 0.5), tip(1, 0.9), inner(0, 1, 0.6),
                                               inner(5, 2, 0.2), inner(3, 4, 0.7), inner(6, 7, 0.0)};
  struct Case {
    const char* what;
    int node, state;
  };
  const Case cases[] = {
      {"a terminal node fixed to its own state", 0, 0},
      {"an internal node fixed to state 2", 5, 2},
      {"an internal node fixed to state 0", 7, 0},
      {"the root fixed to state 1", 8, 1},
  };
  std::mt19937_64 rng(31);
  const std::vector<double> x = reversible_rates(3, rng);
  use_model(3);
  build_tree(shape);
  const double unfixed = Calc_Like12(x.data());
  for (const Case& c : cases) {
    build_tree(shape);
    Fossil(c.node, c.state);
    expect_matches_brute_force(x, c.what);
    const double f = Calc_Like12(x.data());
    const Node& node = tree[c.node];
    if (node.child1) {
      for (int i = 0; i < 3; i++) {
        if (i == c.state) continue;
        EXPECT_EQ(node.L[i], 0.0) << c.what << " state " << i;
      }
      EXPECT_LT(node.L[c.state], 0.0) << c.what;
    } else {
      // Equal up to the last bits, in which two decompositions of one rate
      // matrix may differ.
      EXPECT_NEAR(f, unfixed, 1e-13 * unfixed) << c.what;
    }
    if (&node == root) {
      EXPECT_EQ(f, -root->L[c.state]) << c.what;
    }
  }
}

TEST_F(LikelihoodTest, RootFixedToAnImpossibleStateIsRefused) {
  // A is fixed to a state it does not have, so no root state is possible.
  build_tree({tip(0, 0.5), tip(0, 0.5), inner(0, 1, 0.0)});
  Fossil(0, 1);
  Fossil(2, 0);
  const std::vector<double> x = params({1.0, 2.0});
  EXPECT_EQ(Calc_Like12(x.data()), PENALTY);
  EXPECT_EQ(root->L[0], 1.0);
  EXPECT_EQ(root->L[1], 0.0);
}

TEST_F(LikelihoodTest, EqualSiblingLengthsShareOneTransitionMatrix) {
  // ((A:0.3, B:0.3):0.5, (C:0.2, D:0.7):0.5): one P(t) for the sanity check,
  // then one, two and one per internal node.
  build_tree({tip(0, 0.3), tip(1, 0.3), tip(1, 0.2), tip(0, 0.7), inner(0, 1, 0.5),
              inner(2, 3, 0.5), inner(4, 5, 0.0)});
  const std::vector<double> x = params({1.0, 2.0});
  const long before = precalc_counts.calc_p;
  const double f = Calc_Like12(x.data());
  EXPECT_EQ(precalc_counts.calc_p - before, 5);
  expect_matches_brute_force(x, "equal siblings");
  EXPECT_LT(f, PENALTY);
}

TEST_F(LikelihoodTest, TerminalStateOutsideTheModelIsImpossibleNotAFault) {
  build_tree({tip(0, 0.5), tip(7, 0.5), inner(0, 1, 0.0)});
  const std::vector<double> x = params({1.0, 2.0});
  EXPECT_EQ(Calc_Like12(x.data()), PENALTY);
  EXPECT_EQ(tree[1].L[0], 1.0);
  EXPECT_EQ(tree[1].L[1], 1.0);
}

// Zero-length branches, as left by polytomies resolved into binary splits:
// P(0) is the identity up to rounding, with off-diagonal entries of 0 or of
// either sign. Such a tree must evaluate like any other.
TEST_F(LikelihoodTest, ZeroLengthBranches) {
  // ((((A:0, B:0.4)X:0, C:0.3)Y:0, (D:0, E:0.6)Z:0.5)
  const std::vector<fixture::NodeShape> shape = {
      tip(0, 0.0), tip(1, 0.4), tip(1, 0.3), tip(0, 0.0), tip(2, 0.6),
      inner(0, 1, 0.0), inner(5, 2, 0.0), inner(3, 4, 0.5), inner(6, 7, 0.0)};
  std::mt19937_64 rng(41);
  int nonpositive_off_diagonal = 0;
  for (int n = 3; n <= MAX_STATES; n++) {
    use_model(n);
    for (int trial = 0; trial < 40; trial++) {
      const std::vector<double> x = trial % 2 ? reversible_rates(n, rng) : random_rates(n, rng);
      StateMatrix Q{}, P0{};
      build_rate_matrix(x.data(), Q);
      if (PreCalc(Q) == 0) {
        Calc_P(P0, 0.0);
        for (int i = 0; i < n; i++)
          for (int j = 0; j < n; j++)
            if (i != j && P0[i][j] <= 0.0) nonpositive_off_diagonal++;
      }
      const bool refused = decomposition != Decomposition::usable;
      Calc_End();
      build_tree(shape);
      if (refused) {
        EXPECT_EQ(Calc_Like12(x.data()), PENALTY);
        continue;
      }
      expect_matches_brute_force(x, "zero-length branches");
    }
  }
  // The case the tree is about did occur.
  EXPECT_GT(nonpositive_off_diagonal, 0);
}

// The whole likelihood against the sum over every assignment of internal
// states, on small random trees with zero-length internal branches, equal
// sibling lengths, fixed states and the branch-length exponent.
TEST_F(LikelihoodTest, MatchesTheSumOverEveryAssignmentOfStates) {
  std::mt19937_64 rng(51);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int most_tips[MAX_STATES + 1] = {0, 0, 12, 9, 8, 7, 6};  // n^(tips-1) stays small
  for (int n = 2; n <= MAX_STATES; n++) {
    int compared = 0;
    for (int trial = 0; trial < 60; trial++) {
      use_model(n, trial % 3 == 0);
      const int tips = 3 + static_cast<int>(unit(rng) * (most_tips[n] - 2));
      build_tree(fixture::random_tree(tips, n, rng, 0.2, 0.3));
      std::vector<double> x = trial % 2 ? reversible_rates(n, rng) : random_rates(n, rng);
      x.back() = 0.5 + unit(rng);
      if (unit(rng) < 0.3) {
        const int k = tips + static_cast<int>(unit(rng) * (nnodes - tips));
        Fossil(k, static_cast<int>(unit(rng) * n) % n);
      }
      if (unit(rng) < 0.3) {
        const int k = static_cast<int>(unit(rng) * tips) % tips;
        Fossil(k, tree[k].state);
      }
      StateMatrix Q{};
      build_rate_matrix(x.data(), Q);
      const int refused = PreCalc(Q);
      Calc_End();
      if (refused) {
        EXPECT_EQ(Calc_Like12(x.data()), PENALTY);
        continue;
      }
      expect_matches_brute_force(x, "random tree");
      compared++;
    }
    EXPECT_GE(compared, 30) << "n " << n;
  }
}

// Models with some rates fixed to 0 (the user's "restrict q02 = 0"): their
// P(1.0) has true zeros that rounding puts on either side of 0. Every such
// model whose decomposition is usable is evaluated, not refused.
TEST_F(LikelihoodTest, RatesFixedToZeroAreNotRefusedForRounding) {
  std::mt19937_64 rng(77);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int n = 3; n <= MAX_STATES; n++) {
    int compared = 0;
    for (int trial = 0; trial < 200; trial++) {
      use_model(n);
      build_tree(fixture::random_tree(5, n, rng));
      std::vector<double> x = random_rates(n, rng);
      for (int k = 0; k + 1 < num_params; k++)
        if (unit(rng) < 0.3) x[k] = 0.0;
      StateMatrix Q{};
      build_rate_matrix(x.data(), Q);
      const int refused = PreCalc(Q);
      Calc_End();
      if (refused) continue;
      // With rates of 0 some tip states may be unreachable from every root
      // state: the data are impossible, and the evaluation gives the penalty
      // or, where rounding leaves a true zero a few ulps above 0, a
      // likelihood of that size.
      const long double total = brute_force(x).total;
      if (total == 0.0L) {
        EXPECT_GT(Calc_Like12(x.data()), 25.0);
        continue;
      }
      // Each root state weighs 1, so the sum can pass 1; a root value above
      // 0 is refused like an impossible root.
      if (total > 1.0L + 1e-12L) {
        EXPECT_EQ(Calc_Like12(x.data()), PENALTY);
        continue;
      }
      expect_matches_brute_force(x, "rates fixed to zero");
      compared++;
    }
    EXPECT_GE(compared, 20) << "n " << n;
  }
}

TEST_F(LikelihoodTest, FixingOrReleasingAStateVoidsTheStoredAnalysis) {
  build_tree({tip(0, 0.5), tip(1, 0.5), inner(0, 1, 0.0)});
  tested = 1;
  Fossil(2, 1);
  EXPECT_EQ(tested, 0);
  tested = 1;
  Fossil(2, NO_FOSSIL);
  EXPECT_EQ(tested, 0);
  tested = 1;
  NoFossils();
  EXPECT_EQ(tested, 0);
  // An evaluation leaves it alone.
  tested = 1;
  const std::vector<double> x = params({1.0, 2.0});
  Calc_Like12(x.data());
  EXPECT_EQ(tested, 1);
  tested = 0;
}

// A random binary tree of any size in linear time (tips first, the root
// last): lengths uniform on (0.05, 1.5), internal ones 0 with probability
// zero_internal.
std::vector<fixture::NodeShape> large_random_tree(int tips, int n, std::mt19937_64& rng,
                                                double zero_internal = 0.0) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto length = [&] { return 0.05 + 1.45 * unit(rng); };
  std::vector<fixture::NodeShape> shape;
  std::vector<int> open;
  for (int k = 0; k < tips; k++) {
    shape.push_back(tip(static_cast<int>(unit(rng) * n) % n, length()));
    open.push_back(k);
  }
  auto take = [&] {
    const std::size_t i = static_cast<std::size_t>(unit(rng) * open.size()) % open.size();
    const int node = open[i];
    open[i] = open.back();
    open.pop_back();
    return node;
  };
  while (open.size() > 1) {
    const int c1 = take();
    const int c2 = take();
    shape.push_back(inner(c1, c2, unit(rng) < zero_internal ? 0.0 : length()));
    open.push_back(static_cast<int>(shape.size()) - 1);
  }
  shape.back().length = 0.0;
  return shape;
}

// Rates of a reversible model spread over two orders of magnitude.
std::vector<double> spread_reversible_rates(int n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  double pi[MAX_STATES], s[MAX_STATES][MAX_STATES];
  for (int i = 0; i < n; i++) pi[i] = std::pow(10.0, unit(rng) - 0.5);
  for (int i = 0; i < n; i++)
    for (int j = i + 1; j < n; j++) s[i][j] = s[j][i] = std::pow(10.0, 2.0 * unit(rng) - 1.0);
  std::vector<double> x;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      if (j != i) x.push_back(s[i][j] * pi[j]);
  return params(x);
}

// Sum of the row-sum deviations of P(t) over every branch of the tree (each
// sibling pair of equal length once, as the walk adds them).
double total_deviation(const std::vector<double>& x) {
  StateMatrix Q{}, P{};
  build_rate_matrix(x.data(), Q);
  EXPECT_EQ(PreCalc(Q), 0);
  double total = 0.0;
  for (const Node* v : postorder) {
    total += Calc_P(P, v->child1->length);
    if (v->child2->length != v->child1->length) total += Calc_P(P, v->child2->length);
  }
  Calc_End();
  return total;
}

// The shifted sums of Calc_Like12 against the term-by-term sums on trees of
// up to 2,000 tips: rates of every kind (some fixed to 0, some far apart),
// fixed states on terminal and internal nodes, zero-length and equal
// sibling branches, the exponent, and now and then a negative branch
// length, whose P(t) has entries below 0. The paths where the shifted sums
// give way to term-by-term ones are taken, and agree too.
TEST_F(LikelihoodTest, ShiftedSumsAgreeWithTheTermByTermSums) {
  std::mt19937_64 rng(61);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const TermwiseCounts before = termwise_counts;
  const int sizes[] = {3, 20, 200, 2000};
  for (int n = 2; n <= MAX_STATES; n++) {
    int evaluated = 0;
    for (int trial = 0; trial < 40; trial++) {
      use_model(n, trial % 3 == 0);
      const int tips = sizes[trial % 4];
      std::vector<fixture::NodeShape> shape = large_random_tree(tips, n, rng, 0.1);
      for (std::size_t k = tips; k + 1 < shape.size(); k++)
        if (unit(rng) < 0.2) shape[shape[k].child2].length = shape[shape[k].child1].length;
      if (trial % 10 == 9) shape[static_cast<std::size_t>(unit(rng) * tips)].length = -0.05;
      build_tree(shape);
      std::vector<double> x;
      switch (trial % 4) {
        case 0: x = reversible_rates(n, rng); break;
        case 1: x = random_rates(n, rng); break;
        case 2: x = spread_reversible_rates(n, rng); break;
        default:
          x = reversible_rates(n, rng);
          for (int k = 0; k + 1 < num_params; k++)
            if (unit(rng) < 0.4) x[k] = 0.0;
      }
      x.back() = 0.5 + unit(rng);
      if (unit(rng) < 0.5) Fossil(tips + static_cast<int>(unit(rng) * (nnodes - tips)), static_cast<int>(unit(rng) * n) % n);
      if (unit(rng) < 0.3) {
        const int k = static_cast<int>(unit(rng) * tips) % tips;
        Fossil(k, unit(rng) < 0.8 ? tree[k].state : (tree[k].state + 1) % n);
      }
      expect_agrees_with_reference(x, "n " + std::to_string(n) + " trial " + std::to_string(trial));
      if (Calc_Like12(x.data()) != PENALTY) evaluated++;
    }
    EXPECT_GE(evaluated, 15) << "n " << n;
  }
  EXPECT_GT(termwise_counts.sums, before.sums);
  EXPECT_GT(termwise_counts.nodes, before.nodes);
}

// Two evaluations of one vector are the same to the last bit, whatever ran
// in between, so that a search can reproduce the value it found.
TEST_F(LikelihoodTest, RepeatedEvaluationsAreIdentical) {
  std::mt19937_64 rng(71);
  for (int n = 2; n <= MAX_STATES; n++) {
    use_model(n);
    build_tree(large_random_tree(50, n, rng));
    const std::vector<double> x = reversible_rates(n, rng);
    const double first = Calc_Like12(x.data());
    const auto root_L = root->L;
    const std::vector<double> other = reversible_rates(n, rng);
    Calc_Like12(other.data());
    EXPECT_EQ(Calc_Like12(x.data()), first) << "n " << n;
    EXPECT_EQ(root->L, root_L) << "n " << n;
  }
}

TEST(DeviationAllowanceTest, TheTotalGrowsWithTheBranchesBeyondAThousand) {
  EXPECT_EQ(deviation_allowance(2), 1e-10);
  EXPECT_EQ(deviation_allowance(1000), 1e-10);
  EXPECT_DOUBLE_EQ(deviation_allowance(2000), 2e-10);
  EXPECT_DOUBLE_EQ(deviation_allowance(400000), 4e-8);
}

// On 100,000 tips rounding alone takes the total deviation past 1e-10; a
// sound vector is still evaluated, and agrees with the term-by-term sums.
TEST_F(LikelihoodTest, LargeTreeWithASoundVectorIsEvaluated) {
  std::mt19937_64 rng(81);
  use_model(6);
  build_tree(large_random_tree(100000, 6, rng));
  const std::vector<double> x = spread_reversible_rates(6, rng);
  const double total = total_deviation(x);
  EXPECT_GT(total, 1e-10);
  EXPECT_LT(total, deviation_allowance(2 * (nnodes / 2)));
  const double f = Calc_Like12(x.data());
  EXPECT_LT(f, PENALTY);
  EXPECT_GT(f, 1000.0);
  EXPECT_TRUE(agree(f, Calc_Like12_reference(x.data()))) << f;
}

// Large trees do not hide an unsound decomposition: deviations of 1e-12 on
// every branch, each far below 1e-10, are refused by their total, and one
// P(t) that deviates by more than 1e-10 is refused even where the total
// allowed for the tree is larger.
TEST_F(LikelihoodTest, LargeTreeStillRefusesLargeDeviations) {
  std::mt19937_64 rng(91);
  use_model(2);
  const std::vector<double> extreme = params({8809.5862489245101, 12.516512494820507});
  build_tree(large_random_tree(5000, 2, rng));
  const double total = total_deviation(extreme);
  EXPECT_GT(total / (2 * (nnodes / 2)), 1e-13);
  EXPECT_EQ(Calc_Like12(extreme.data()), PENALTY);
  // The same vector on three tips is evaluated: each P(t) is sound.
  build_tree({tip(0, 0.5), tip(1, 0.7), inner(0, 1, 0.0)});
  EXPECT_LT(Calc_Like12(extreme.data()), PENALTY);

  // One branch below the root with a deviation between 1e-10 and the
  // allowance at the root (1e-10 · 9998 / 1000).
  const std::vector<double> x = params({1.0, 2.0});
  std::vector<fixture::NodeShape> shape = large_random_tree(5000, 2, rng);
  const int below_root = shape.back().child1;
  StateMatrix Q{}, P{};
  build_rate_matrix(x.data(), Q);
  ASSERT_EQ(PreCalc(Q), 0);
  double length = 0.0, deviation = 0.0;
  for (double t = -2.0; t > -15.0; t -= 0.125) {
    deviation = Calc_P(P, t);
    if (deviation > 2e-10) {
      length = t;
      break;
    }
  }
  Calc_End();
  ASSERT_LT(length, 0.0);
  ASSERT_LT(deviation, 6e-10);
  build_tree(shape);
  EXPECT_LT(Calc_Like12(x.data()), PENALTY);
  shape[below_root].length = length;
  build_tree(shape);
  EXPECT_LT(total_deviation(x), deviation_allowance(2 * (nnodes / 2)));
  EXPECT_EQ(Calc_Like12(x.data()), PENALTY);
  EXPECT_EQ(Calc_Like12_reference(x.data()), PENALTY);
}

TEST(AddLogTest, SumsTwoProbabilitiesHeldAsLogarithms) {
  const double big = 1000.0;
  struct Case {
    double a, b, expected;
  };
  const Case cases[] = {
      {0.0, 0.0, std::log(2.0)},
      {-1.0, -1.0, -1.0 + std::log(2.0)},
      {-1.0, -2.0, std::log(std::exp(-1.0) + std::exp(-2.0))},
      {-2.0, -1.0, std::log(std::exp(-1.0) + std::exp(-2.0))},
      {-700.0, -705.0, -700.0 + std::log1p(std::exp(-5.0))},
      {-3.0, -40.0, -3.0 + std::log1p(std::exp(-37.0))},
      // One probability 0: the other one.
      {-3.0, -INF, -3.0},
      {-INF, -0.25, -0.25},
      {-INF, -INF, -INF},
      // Arguments so far apart that cosh overflows: the larger one.
      {-1.0, -1.0 - 2 * big, -1.0},
      {-5000.0, -1.0, -1.0},
  };
  for (const Case& c : cases) {
    const double tolerance = 4e-16 * std::fmax(1.0, std::fabs(c.expected));
    if (std::isinf(c.expected)) {
      EXPECT_EQ(AddLog(c.a, c.b), c.expected) << c.a << " " << c.b;
    } else {
      EXPECT_NEAR(AddLog(c.a, c.b), c.expected, tolerance) << c.a << " " << c.b;
    }
  }
  EXPECT_EQ(AddLog(-1.0, -1e300), -1.0);
  EXPECT_TRUE(std::isnan(AddLog(NaN, -1.0)));
  EXPECT_TRUE(std::isnan(AddLog(-1.0, NaN)));
}

}  // namespace
}  // namespace varnic
