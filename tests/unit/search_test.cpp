#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "driver/tree.h"
#include "model/likelihood.h"
#include "optimise/random.h"
#include "optimise/search.h"
#include "session/params.h"
#include "tree_fixture.h"

using namespace varnic;
using fixture::inner;
using fixture::tip;

namespace {

// The two-leaf tree, a fresh two-state parameter table, seeded generator,
// and no minimiser runs unless a test asks for them: Max_Like12 then
// returns the best of its random draws.
class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture::use_model(2);
    build_pnames();
    reset_params();
    fixture::build_tree({tip(0, 0.5), tip(1, 1.0), inner(0, 1, 0.0)});
    reset_random();
    init_ran_with_seed(12345);
    number = 0;
    p.fill(-7.0);
  }
  void TearDown() override { reset_tree(); }
  std::array<double, MAX_PARAMS + 1> p;
};

constexpr int q01 = 0, q10 = 1, scale = 2;

TEST_F(SearchTest, RemapFillsTheFullVectorFromVariablesAndSlots) {
  Restrict(q10, -1, 2.0, 0, 0, "");
  double values[2] = {1.0, 99.0};
  const double like = Remap_Like12(values);
  EXPECT_EQ(xvec[q01], 1.0);
  EXPECT_EQ(xvec[q10], 2.0);
  EXPECT_NEAR(like, 0.857, 0.001);  // the worked example

  xvec.fill(-3.0);
  double negative[2] = {-0.1, 0.0};
  EXPECT_EQ(Remap_Like12(negative), OUTSIDE);
  double not_a_number[2] = {NAN, 0.0};
  EXPECT_EQ(Remap_Like12(not_a_number), OUTSIDE);
  EXPECT_EQ(xvec[q10], -3.0);  // entries after the offending one stay as they were
}

TEST_F(SearchTest, HeldStartValueAndRandomDrawsInTheUnitInterval) {
  startvec[q01] = 0.3;
  startflag[q01] = 1;
  const double best = Max_Like12(p.data());
  EXPECT_EQ(p[0], 0.3);
  EXPECT_GT(p[1], 0.0);
  EXPECT_LT(p[1], 1.0);
  EXPECT_EQ(best, Remap_Like12(p.data()));
}

TEST_F(SearchTest, TiedParametersStartFromTheHighestIndexedStartValue) {
  Restrict(q01, q10, -1.0, 0, 0, "");
  startvec[q01] = 0.2;
  startflag[q01] = 1;
  startvec[q10] = 0.7;
  startflag[q10] = 1;
  Max_Like12(p.data());
  EXPECT_EQ(p[0], 0.7);
  EXPECT_EQ(p[1], 0.0);  // the minimiser's dummy partner of a lone variable
}

TEST_F(SearchTest, UncountedScaleTiedToARateGivesItsStartValue) {
  Restrict(scale, q01, -1.0, 0, 0, "");
  startvec[scale] = 0.4;
  startflag[scale] = 1;
  Max_Like12(p.data());
  EXPECT_EQ(p[0], 0.4);
}

TEST_F(SearchTest, ScalingStretchesTheLastVariableAndNegativeDrawsNeverWin) {
  scaling = 1;
  Max_Like12(p.data());
  EXPECT_GT(p[2], 0.0);  // a negative exponent scores OUTSIDE
  EXPECT_LT(p[2], 1.0);
}

TEST_F(SearchTest, WithoutAUsableDrawTheSearchStartsFromUnitRates) {
  Fossil(0, 1);  // A observed in state 0, fixed to 1: every point is impossible
  startvec[q10] = 0.25;
  startflag[q10] = 1;
  EXPECT_EQ(Max_Like12(p.data()), OUTSIDE);
  EXPECT_EQ(p[0], 1.0);
  EXPECT_EQ(p[1], 0.25);
}

TEST_F(SearchTest, MinimiserRunsImproveOnTheBestDraw) {
  const double drawn = Max_Like12(p.data());
  reset_random();
  init_ran_with_seed(12345);
  number = 100;
  testing::internal::CaptureStdout();
  const double refined = Max_Like12(p.data());
  const std::string progress = testing::internal::GetCapturedStdout();
  EXPECT_LE(refined, drawn);
  EXPECT_EQ(progress.rfind("1 ", 0), 0u) << progress;
  EXPECT_EQ(refined, Remap_Like12(p.data()));
}

}  // namespace

namespace {

// A tree so large that every point of the model scores above 10000: the
// search must still find a point of the model, not settle on the value that
// negative rates score.
TEST(SearchLargeTree, LikelihoodsAbove10000StayInTheModel) {
  fixture::use_model(2);
  build_pnames();
  reset_params();
  std::mt19937_64 rng(3);
  fixture::build_tree(fixture::random_tree(16000, 2, rng));
  reset_random();
  init_ran_with_seed(99);
  number = 1;
  std::array<double, MAX_PARAMS + 1> p{};
  testing::internal::CaptureStdout();
  const double best = Max_Like12(p.data());
  testing::internal::GetCapturedStdout();
  EXPECT_GT(best, OUTSIDE);
  EXPECT_LT(best, PENALTY);
  EXPECT_GE(p[0], 0.0);
  EXPECT_GE(p[1], 0.0);
  EXPECT_EQ(Remap_Like12(p.data()), best);
  double negative[2] = {-1.0, 1.0};
  EXPECT_EQ(Remap_Like12(negative), OUTSIDE);  // outside a search, as before
  reset_tree();
}

}  // namespace
