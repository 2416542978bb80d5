#include "optimise/praxis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace varnic {
namespace {

// Objectives are plain function pointers, so what they record lives here.
std::vector<std::vector<double>> recorded_points;
std::vector<bool> recorded_at_caller;  // evaluated in the caller's own array
const double* caller_point = nullptr;
bool record_points = false;

void note(const double* x, int n) {
  if (record_points) {
    recorded_points.emplace_back(x, x + n);
    recorded_at_caller.push_back(x == caller_point);
  }
}

// Minimum 0 at c_i = i - 4.5, with coupled variables and spread curvatures.
double quadratic10(double* x, int n) {
  note(x, n);
  double f = 0.0;
  for (int i = 0; i < 10; ++i) {
    double u = x[i] - (i - 4.5);
    double w = i + 1 < 10 ? x[i + 1] - (i + 1 - 4.5) : 0.0;
    f += (1.0 + i) * u * u + 0.5 * u * w;
  }
  return f;
}

// Pairs of Rosenbrock's banana; minimum 0 at all ones.
double rosenbrock(double* x, int n) {
  note(x, n);
  double f = 0.0;
  for (int i = 0; i + 1 < n; i += 2) {
    double a = x[i + 1] - x[i] * x[i];
    double b = 1.0 - x[i];
    f += 100.0 * a * a + b * b;
  }
  return f;
}

// The second variable is the dummy the search adds when one variable is free.
double flat_in_second(double* x, int n) {
  note(x, n);
  double u = x[0] - 2.0;
  return u * u + 3.0;
}

// A simple bowl, for driving the individual steps.
double bowl(double* x, int n) {
  note(x, n);
  double f = 0.0;
  for (int i = 0; i < n; ++i) f += (i + 1) * (x[i] - 1.0) * (x[i] - 1.0);
  return f;
}

struct PraxisCase {
  const char* name;
  PraxisObjective f;
  std::vector<double> start;
  std::vector<double> minimum;  // expected point (NaN: any value)
  double fmin;
  double ftol;  // allowed excess over the minimum value
  int caution;  // ktm
};

const double kAny = std::nan("");

// praxis stops once its steps fall below about m2 * |x| with m2 = 1e-4 (its
// machine-precision constant is 1e-8), and random steps may leave it a few
// such steps away; ten of them is the accuracy a run must reach.
double coordinate_tolerance(const std::vector<double>& minimum) {
  double r = 0.0;
  for (double m : minimum)
    if (!std::isnan(m)) r += m * m;
  return 10.0 * 1e-4 * (1.0 + std::sqrt(r));
}

std::vector<PraxisCase> cases() {
  std::vector<double> q10_start(10, 0.0), q10_min;
  for (int i = 0; i < 10; ++i) q10_min.push_back(i - 4.5);
  return {
      {"quadratic of 10 variables", quadratic10, q10_start, q10_min, 0.0, 1e-4, 1},
      {"quadratic of 10 variables, more patience", quadratic10, q10_start, q10_min, 0.0, 1e-4, 3},
      {"Rosenbrock, 2 variables", rosenbrock, {-1.2, 1.0}, {1.0, 1.0}, 0.0, 1e-6, 1},
      {"Rosenbrock, 4 variables", rosenbrock, {-1.2, 1.0, -1.2, 1.0}, {1.0, 1.0, 1.0, 1.0}, 0.0, 1e-6, 1},
      {"Rosenbrock, 2 variables, more patience", rosenbrock, {-1.2, 1.0}, {1.0, 1.0}, 0.0, 1e-6, 4},
      {"constant in one variable", flat_in_second, {0.3, 0.0}, {2.0, kAny}, 3.0, 1e-8, 1},
      {"bowl of 35 variables", bowl, std::vector<double>(MAX_DIM, 0.0), std::vector<double>(MAX_DIM, 1.0), 0.0,
       1e-3, 1},
  };
}

class PraxisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ktm_ = ktm;
    saved_illc_ = illc;
    recorded_points.clear();
    recorded_at_caller.clear();
    caller_point = nullptr;
    record_points = false;
  }
  void TearDown() override {
    ktm = saved_ktm_;
    illc = saved_illc_;
    record_points = false;
  }
  int saved_ktm_ = 1, saved_illc_ = 0;
};

TEST_F(PraxisTest, ReachesTheMinimumOfStandardFunctions) {
  for (const auto& c : cases()) {
    for (unsigned seed : {1u, 2u, 3u, 77u, 31337u}) {
      for (int start_illc : {0, 1}) {
        SCOPED_TRACE(std::string(c.name) + ", seed " + std::to_string(seed) + ", illc " +
                     std::to_string(start_illc));
        std::srand(seed);
        ktm = c.caution;
        illc = start_illc;
        int n = static_cast<int>(c.start.size());
        std::vector<double> x = c.start;
        double f_start = c.f(x.data(), n);
        double f = praxis(c.f, x.data(), n);
        EXPECT_LE(f, f_start);
        EXPECT_DOUBLE_EQ(f, c.f(x.data(), n)) << "x must hold the point whose value is returned";
        EXPECT_NEAR(f, c.fmin, c.ftol);
        double xtol = coordinate_tolerance(c.minimum);
        for (int i = 0; i < n; ++i) {
          if (std::isnan(c.minimum[i]))
            EXPECT_TRUE(std::isfinite(x[i])) << "x[" << i << "]";
          else
            EXPECT_NEAR(x[i], c.minimum[i], xtol) << "x[" << i << "]";
        }
      }
    }
  }
}

TEST_F(PraxisTest, RestartsFromItsOwnResultDoNotGetWorse) {
  // The search runs praxis again and again from where the last run ended.
  std::srand(5);
  illc = 1;
  ktm = 1;
  std::vector<double> x = {-1.2, 1.0, -1.2, 1.0};
  double previous = rosenbrock(x.data(), 4);
  for (int run = 0; run < 6; ++run) {
    double f = praxis(rosenbrock, x.data(), 4);
    EXPECT_LE(f, previous) << "run " << run;
    previous = f;
  }
  EXPECT_LT(previous, 1e-8);
}

// Returns values that jump about, so that random steps and line searches
// meet many rises; the value praxis returns must still not exceed the start.
double rugged(double* x, int n) {
  note(x, n);
  double f = 0.0;
  for (int i = 0; i < n; ++i) f += x[i] * x[i] + 0.3 * std::sin(40.0 * x[i] + i);
  return f;
}

TEST_F(PraxisTest, NeverReturnsMoreThanTheStartingValue) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    for (int start_illc : {0, 1}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", illc " + std::to_string(start_illc));
      std::srand(seed);
      illc = start_illc;
      ktm = 1 + seed % 3;
      std::vector<double> x = {0.7, -0.4, 0.25, 1.1, -0.9};
      double f_start = rugged(x.data(), 5);
      double f = praxis(rugged, x.data(), 5);
      EXPECT_LE(f, f_start);
      EXPECT_DOUBLE_EQ(f, rugged(x.data(), 5));
    }
  }
}

TEST_F(PraxisTest, StartsWithTheCallersPoint) {
  std::srand(1);
  illc = 0;
  ktm = 1;
  record_points = true;
  std::vector<double> x = {0.5, -2.0, 3.0};
  std::vector<double> start = x;
  praxis(bowl, x.data(), 3);
  ASSERT_FALSE(recorded_points.empty());
  EXPECT_EQ(recorded_points.front(), start);
}

TEST_F(PraxisTest, PrintsNothing) {
  std::srand(3);
  illc = 1;
  ktm = 2;
  std::vector<double> x = {-1.2, 1.0};
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  praxis(rosenbrock, x.data(), 2);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(PraxisTest, EntrySetsUpFreshAxesAndBounds) {
  illc = 1;
  std::vector<double> x = {2.0, 1.0, 0.0};
  prax::enter(bowl, x.data(), 3);
  EXPECT_DOUBLE_EQ(prax::fx, bowl(x.data(), 3));
  EXPECT_DOUBLE_EQ(prax::qf1, prax::fx);
  EXPECT_DOUBLE_EQ(prax::small, 1e-16);
  EXPECT_DOUBLE_EQ(prax::vsmall, 1e-32);
  EXPECT_DOUBLE_EQ(prax::m2, 1e-4);
  EXPECT_DOUBLE_EQ(prax::m4, 1e-2);
  EXPECT_DOUBLE_EQ(prax::ldfac, 0.1);
  EXPECT_DOUBLE_EQ(prax::h, 1.0);
  EXPECT_DOUBLE_EQ(prax::ldt, 1.0);
  EXPECT_DOUBLE_EQ(prax::t, 1e-16 + 1e-16);
  EXPECT_DOUBLE_EQ(prax::dmin, 1e-16);
  EXPECT_EQ(prax::kt, 0);
  EXPECT_EQ(prax::nl, 0);
  EXPECT_EQ(prax::qd0, 0.0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(prax::q1[i], x[i]);
    for (int j = 0; j < 3; ++j) EXPECT_EQ(prax::v[i][j], i == j ? 1.0 : 0.0);
  }
  illc = 0;
  prax::enter(bowl, x.data(), 3);
  EXPECT_DOUBLE_EQ(prax::ldfac, 0.01);
}

TEST_F(PraxisTest, LineSearchAlongAFlatDirectionStepsBackByTheMaximumStep) {
  std::vector<double> x = {0.5, 4.0};
  prax::enter(flat_in_second, x.data(), 2);
  double f_before = prax::fx;
  double d2 = 0.0, x1 = 0.0;
  prax::min(1, 2, d2, x1, prax::fx, false);
  EXPECT_DOUBLE_EQ(x1, -prax::h);
  EXPECT_DOUBLE_EQ(d2, prax::small);
  EXPECT_DOUBLE_EQ(x[0], 0.5);
  EXPECT_DOUBLE_EQ(x[1], 4.0 - prax::h);
  EXPECT_DOUBLE_EQ(prax::fx, f_before);
  EXPECT_EQ(prax::nl, 1);
}

TEST_F(PraxisTest, LineSearchWithoutAKnownStepTriesTheNegativeSideFirst) {
  std::vector<double> x = {0.3, 0.2};
  prax::enter(bowl, x.data(), 2);
  record_points = true;
  recorded_points.clear();
  double d2 = 0.0, x1 = 0.0;
  prax::min(0, 2, d2, x1, prax::fx, false);
  ASSERT_FALSE(recorded_points.empty());
  EXPECT_LT(recorded_points.front()[0], 0.3);
  EXPECT_EQ(recorded_points.front()[1], 0.2);
  // Along a coordinate the bowl is a parabola, which the search fits
  // exactly: it lands on the minimum and measures half the second
  // derivative.
  EXPECT_NEAR(x[0], 1.0, 1e-9);
  EXPECT_NEAR(x1, 0.7, 1e-9);
  EXPECT_EQ(x[1], 0.2);
  EXPECT_NEAR(d2, 1.0, 1e-6);
  EXPECT_NEAR(prax::fx, bowl(x.data(), 2), 1e-15);
}

TEST_F(PraxisTest, LineSearchUsesTheKnownValueOfAGivenStep) {
  std::vector<double> x = {0.0, 0.0};
  prax::enter(bowl, x.data(), 2);
  record_points = true;
  recorded_points.clear();
  // Along the second axis the bowl has curvature 2 (second derivative 4);
  // from 0, the step 0.5 has the known value 1 + 2 * 0.25.
  double d2 = 0.0, x1 = 0.5;
  double f1 = bowl(std::vector<double>{0.0, 0.5}.data(), 2);
  recorded_points.clear();
  prax::min(1, 4, d2, x1, f1, true);
  ASSERT_FALSE(recorded_points.empty());
  for (const auto& p : recorded_points) EXPECT_NE(p[1], 0.5) << "the known step was evaluated again";
  EXPECT_NEAR(x1, 1.0, 1e-6);
  EXPECT_NEAR(x[1], 1.0, 1e-6);
  EXPECT_NEAR(d2, 2.0, 1e-6);
}

// Index of the first evaluation after the opening line search along the
// first axis, i.e. the first one that is not the start point moved along
// coordinate 0 only.
size_t end_of_first_search(const std::vector<double>& start) {
  for (size_t e = 1; e < recorded_points.size(); ++e) {
    const auto& p = recorded_points[e];
    for (size_t i = 1; i < p.size(); ++i)
      if (p[i] != start[i]) return e;
  }
  return recorded_points.size();
}

TEST_F(PraxisTest, IllConditionedAtEntryTakesARandomStepRightAfterTheFirstSearch) {
  for (unsigned seed : {1u, 9u, 123u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::srand(seed);
    illc = 1;
    ktm = 1;
    std::vector<double> x = {0.5, -2.0, 3.0};
    std::vector<double> start = x;
    caller_point = x.data();
    record_points = true;
    recorded_points.clear();
    recorded_at_caller.clear();
    praxis(bowl, x.data(), 3);
    ASSERT_TRUE(recorded_at_caller.at(0));
    size_t e = end_of_first_search(start);
    ASSERT_LT(e, recorded_points.size());
    for (size_t i = 1; i < e; ++i) EXPECT_FALSE(recorded_at_caller[i]);
    // The random step moves the caller's point itself and is evaluated
    // there.
    EXPECT_TRUE(recorded_at_caller[e]);
  }
}

TEST_F(PraxisTest, WellConditionedAtEntrySearchesTheNextAxisWithoutARandomStep) {
  std::srand(1);
  illc = 0;
  ktm = 1;
  std::vector<double> x = {0.5, -2.0, 3.0};
  std::vector<double> start = x;
  caller_point = x.data();
  record_points = true;
  praxis(bowl, x.data(), 3);
  size_t e = end_of_first_search(start);
  ASSERT_LT(e, recorded_points.size());
  EXPECT_FALSE(recorded_at_caller[e]);
  // Only coordinate 1 differs from where the first search left the point.
  const auto& p = recorded_points[e];
  EXPECT_NE(p[1], start[1]);
  EXPECT_EQ(p[2], start[2]);
}

// A quadratic bowl around target, plus 5 so that the values are not small.
std::vector<double> quad_target;
double around_target(double* x, int n) {
  note(x, n);
  double f = 5.0;
  for (int i = 0; i < n; ++i) f += (x[i] - quad_target[i]) * (x[i] - quad_target[i]);
  return f;
}

// Sweep end points (0,0), (1,1) and the current point (3,3) lie on a line,
// so the curve through them is that line, with (1,1) at parameter 0 and
// (3,3) at parameter 2*sqrt(2).
struct QuadSetup {
  std::vector<double> x = {3.0, 3.0};
};

void set_up_quad(QuadSetup& st, int line_searches) {
  prax::enter(around_target, st.x.data(), 2);
  prax::q0[0] = prax::q0[1] = 0.0;
  prax::q1[0] = prax::q1[1] = 1.0;
  prax::qd0 = std::sqrt(2.0);
  prax::qf1 = around_target(prax::q1.data(), 2);
  prax::fx = around_target(st.x.data(), 2);
  prax::nl = line_searches;
}

TEST_F(PraxisTest, QuadSearchesAlongTheCurveThroughTheLastSweepEnds) {
  // The target sits on the line at parameter 0.5 from (1,1).
  double a = 1.0 + 0.5 / std::sqrt(2.0);
  quad_target = {a, a};
  QuadSetup st;
  set_up_quad(st, 3 * 2 * 2);
  prax::quad();
  EXPECT_NEAR(st.x[0], a, 1e-9);
  EXPECT_NEAR(st.x[1], a, 1e-9);
  EXPECT_NEAR(prax::fx, 5.0, 1e-12);
  EXPECT_EQ(prax::q0[0], 1.0);
  EXPECT_EQ(prax::q0[1], 1.0);
  EXPECT_EQ(prax::q1[0], 3.0);
  EXPECT_EQ(prax::q1[1], 3.0);
  EXPECT_DOUBLE_EQ(prax::qd0, 2.0 * std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(prax::qf1, around_target(prax::q1.data(), 2));
}

TEST_F(PraxisTest, QuadFallsBackToTheCurrentPointWhenItMayNotSearch) {
  double a = 1.0 + 0.5 / std::sqrt(2.0);
  quad_target = {a, a};
  struct FallbackCase {
    const char* why;
    int line_searches;
    double qd0;
  };
  const FallbackCase table[] = {
      {"too few line searches", 3 * 2 * 2 - 1, std::sqrt(2.0)},
      {"first sweep of the run", 100, 0.0},
  };
  for (const auto& c : table) {
    SCOPED_TRACE(c.why);
    QuadSetup st;
    set_up_quad(st, c.line_searches);
    prax::qd0 = c.qd0;
    double f_before = prax::fx;
    record_points = true;
    recorded_points.clear();
    prax::quad();
    EXPECT_TRUE(recorded_points.empty());
    EXPECT_EQ(st.x[0], 3.0);
    EXPECT_EQ(st.x[1], 3.0);
    EXPECT_EQ(prax::fx, f_before);
    EXPECT_EQ(prax::q0[0], 1.0);
    EXPECT_EQ(prax::q1[0], 3.0);
    EXPECT_DOUBLE_EQ(prax::qd0, 2.0 * std::sqrt(2.0));
    EXPECT_EQ(prax::qa, 0.0);
    EXPECT_EQ(prax::qb, 0.0);
    EXPECT_EQ(prax::qc, 1.0);
  }
}

TEST_F(PraxisTest, SortOrdersEstimatesAndMovesTheirDirections) {
  struct SortCase {
    std::vector<double> d;
    std::vector<double> sorted;
    std::vector<int> column_from;  // original column now at each place
  };
  const SortCase table[] = {
      // The first exchange moves the first 1 to the end, so the two equal
      // estimates swap directions.
      {{1, 1, 2}, {2, 1, 1}, {2, 1, 0}},
      {{3, 2, 1}, {3, 2, 1}, {0, 1, 2}},
      {{1, 2, 3, 4}, {4, 3, 2, 1}, {3, 2, 1, 0}},
      {{5, 5}, {5, 5}, {0, 1}},
      {{0.5, 7, 0.5, 7}, {7, 7, 0.5, 0.5}, {1, 3, 2, 0}},
  };
  std::vector<double> dummy(MAX_DIM, 0.0);
  for (const auto& c : table) {
    int n = static_cast<int>(c.d.size());
    prax::enter(bowl, dummy.data(), n);
    // Column j is recognisable by its entries j*10 + row.
    for (int i = 0; i < n; ++i) {
      prax::d[i] = c.d[i];
      for (int j = 0; j < n; ++j) prax::v[i][j] = j * 10 + i;
    }
    prax::sort();
    for (int j = 0; j < n; ++j) {
      EXPECT_EQ(prax::d[j], c.sorted[j]) << "d[" << j << "]";
      for (int i = 0; i < n; ++i) EXPECT_EQ(prax::v[i][j], c.column_from[j] * 10 + i);
    }
  }
}

TEST_F(PraxisTest, RndomGivesSixteenthsOfTheRandSequence) {
  std::srand(99);
  std::vector<int> draws;
  for (int i = 0; i < 1000; ++i) draws.push_back(std::rand());
  std::srand(99);
  for (int r : draws) {
    double u = prax::rndom();
    EXPECT_EQ(u, (r % 16384) / 16384.0);
    EXPECT_GE(u, 0.0);
    EXPECT_LT(u, 1.0);
  }
}

TEST_F(PraxisTest, IllcCarriesOverBetweenCalls) {
  // Whatever a run leaves in illc is what the next run starts with: its
  // first line-search bounds depend on it through ldfac.
  std::srand(8);
  illc = 1;
  ktm = 1;
  std::vector<double> x = {-1.2, 1.0};
  praxis(rosenbrock, x.data(), 2);
  int left = illc;
  prax::enter(rosenbrock, x.data(), 2);
  EXPECT_DOUBLE_EQ(prax::ldfac, left ? 0.1 : 0.01);
  EXPECT_EQ(illc, left);
}

}  // namespace
}  // namespace varnic
