#include "optimise/random.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace varnic {
namespace {

using i64 = std::int64_t;

i64 mulmod64(i64 a, i64 s, i64 m) { return a * s % m; }

// L'Ecuyer's combined generator written straight from its recurrences in
// 64-bit arithmetic, to check the 32-bit package against.
struct Reference {
  i64 s1, s2;
  int next() {
    s1 = mulmod64(Xa1, s1, Xm1);
    s2 = mulmod64(Xa2, s2, Xm2);
    i64 z = s1 - s2;
    if (z < 1) z += Xm1 - 1;
    return static_cast<int>(z);
  }
};

class RandomTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_random(); }
  void TearDown() override { reset_random(); }
};

TEST_F(RandomTest, ConstantsAreTheGeneratorsOwn) {
  // Quotients and remainders that ignlgi's Schrage steps rely on.
  EXPECT_EQ(Xm1 / Xa1, 53668);
  EXPECT_EQ(Xm1 % Xa1, 12211);
  EXPECT_EQ(Xm2 / Xa2, 52774);
  EXPECT_EQ(Xm2 % Xa2, 3791);
  // Xa^(2^50) mod Xm by fifty squarings.
  i64 a1 = Xa1, a2 = Xa2;
  for (int i = 0; i < 50; ++i) {
    a1 = mulmod64(a1, a1, Xm1);
    a2 = mulmod64(a2, a2, Xm2);
  }
  EXPECT_EQ(a1, Xa1vw);
  EXPECT_EQ(a2, Xa2vw);
}

TEST_F(RandomTest, IgnlgiFollowsLEcuyerFromTheGivenSeeds) {
  setall(1234567890, 123456789);
  Reference ref{1234567890, 123456789};
  for (int i = 0; i < 200000; ++i) {
    int got = ignlgi();
    ASSERT_EQ(got, ref.next()) << "value " << i;
    ASSERT_GE(got, 1);
    ASSERT_LE(got, Xm1 - 1);
  }
  GeneratorSeeds g1 = generator_seeds(1);
  EXPECT_EQ(g1.cg1, ref.s1);
  EXPECT_EQ(g1.cg2, ref.s2);
  EXPECT_EQ(g1.ig1, 1234567890);
  EXPECT_EQ(g1.ig2, 123456789);
}

TEST_F(RandomTest, IgnlgiInstallsDefaultSeedsWhenNoneWereSet) {
  Reference ref{1234567890, 123456789};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(ignlgi(), ref.next());
  EXPECT_EQ(generator_seeds(2).ig1, mulmod64(1234567890, Xa1vw, Xm1));
}

TEST_F(RandomTest, ValuesStayInRangeNearTheEdgesOfTheSeedRange) {
  // Seeds at the ends of their ranges exercise the wrap-around of z.
  const int seeds[][2] = {{1, 1}, {Xm1 - 1, Xm2 - 1}, {1, Xm2 - 1}, {Xm1 - 1, 1}, {Xm2, 7}};
  for (const auto& sd : seeds) {
    setall(sd[0], sd[1]);
    Reference ref{sd[0], sd[1]};
    for (int i = 0; i < 20000; ++i) {
      int got = ignlgi();
      ASSERT_EQ(got, ref.next());
      ASSERT_GE(got, 1);
      ASSERT_LE(got, Xm1 - 1);
    }
  }
}

TEST_F(RandomTest, SetallSpacesTheVirtualGeneratorsAndStartsThemFresh) {
  setall(1234567890, 123456789);
  int g = 0;
  gscgn(0, &g);
  EXPECT_EQ(g, 1);
  EXPECT_EQ(generator_seeds(2).ig1, mulmod64(1234567890, Xa1vw, Xm1));
  EXPECT_EQ(generator_seeds(2).ig2, mulmod64(123456789, Xa2vw, Xm2));
  i64 e1 = 1234567890, e2 = 123456789;
  for (int k = 1; k <= NUM_GENERATORS; ++k) {
    GeneratorSeeds s = generator_seeds(k);
    EXPECT_EQ(s.ig1, e1) << "generator " << k;
    EXPECT_EQ(s.ig2, e2) << "generator " << k;
    EXPECT_EQ(s.cg1, s.ig1) << "generator " << k;
    EXPECT_EQ(s.cg2, s.ig2) << "generator " << k;
    e1 = mulmod64(e1, Xa1vw, Xm1);
    e2 = mulmod64(e2, Xa2vw, Xm2);
  }
}

TEST_F(RandomTest, SetallRestartsGeneratorsThatHadAdvanced) {
  setall(42, 4242);
  for (int i = 0; i < 100; ++i) ignlgi();
  setall(42, 4242);
  Reference ref{42, 4242};
  EXPECT_EQ(ignlgi(), ref.next());
}

TEST_F(RandomTest, SetallKeepsAnotherCurrentGeneratorCurrent) {
  int five = 5;
  gscgn(1, &five);
  setall(1234567890, 123456789);
  int g = 0;
  gscgn(0, &g);
  EXPECT_EQ(g, 5);
  GeneratorSeeds s5 = generator_seeds(5);
  Reference ref{s5.ig1, s5.ig2};
  for (int i = 0; i < 100; ++i) EXPECT_EQ(ignlgi(), ref.next());
  // Generator 1 was not drawn from.
  EXPECT_EQ(generator_seeds(1).cg1, 1234567890);
}

TEST_F(RandomTest, FlagRoutinesGetAndSet) {
  int v = -1;
  gsrgs(0, &v);
  EXPECT_EQ(v, 0);
  gssst(0, &v);
  EXPECT_EQ(v, 0);
  setall(5, 6);
  gsrgs(0, &v);
  EXPECT_EQ(v, 1);
  gssst(0, &v);
  EXPECT_EQ(v, 1);
  reset_random();
  gssst(0, &v);
  EXPECT_EQ(v, 0);
  gscgn(0, &v);
  EXPECT_EQ(v, 1);
}

struct MltmodCase {
  int a, s, m;
};

TEST_F(RandomTest, MltmodAgreesWithSixtyFourBitArithmetic) {
  const MltmodCase table[] = {
      {Xa1vw, 1234567890, Xm1},   // a >= 2^30
      {Xa2vw, 123456789, Xm2},    // 2^15 <= a < 2^30
      {40014, Xm1 - 1, Xm1},      // a < 2^15
      {1, 1, Xm1},
      {Xm1 - 1, Xm1 - 1, Xm1},
      {1 << 30, Xm1 - 1, Xm1},
      {(1 << 30) - 1, Xm2 - 1, Xm2},
      {32767, 32767, 32768},
      {32768, 2, 32769},
      {32767, 2147483646, 2147483647},
      {2147483646, 2147483646, 2147483647},
      {1 << 15, 1 << 16, 1 << 30},
      {1, 2, 3},
      {2, 2, 3},
      {65536, 12345, 70001},
  };
  for (const auto& c : table)
    EXPECT_EQ(mltmod(c.a, c.s, c.m), mulmod64(c.a, c.s, c.m))
        << "a=" << c.a << " s=" << c.s << " m=" << c.m;

  // A sweep over many arguments of every size, fed by the generator under
  // test (checked against the reference above).
  setall(987654321, 192837465);
  const int moduli[] = {Xm1, Xm2, 2147483647, 1 << 30, 1000003, 32771, 32768, 97};
  for (int m : moduli) {
    for (int i = 0; i < 20000; ++i) {
      int a = 1 + ignlgi() % (m - 1);
      int s = 1 + ignlgi() % (m - 1);
      if (i % 3 == 0) a = 1 + a % 32767 % (m - 1);  // also many small a
      ASSERT_EQ(mltmod(a, s, m), mulmod64(a, s, m)) << "a=" << a << " s=" << s << " m=" << m;
    }
  }
}

// mltmod's message goes to standard output; the death test reads only
// standard error, so the dying child points one at the other.
void redirect_stdout_to_stderr() {
  std::fflush(stdout);
  dup2(fileno(stderr), fileno(stdout));
}

std::string mltmod_message(long a, long s, long m) {
  char line[100];
  std::snprintf(line, sizeof line, " a = %12ld s = %12ld m = %12ld\n", a, s, m);
  return std::string(" a, m, s out of order in mltmod - ABORT!\n") + line +
         " mltmod requires: 0 < a < m; 0 < s < m\n";
}

TEST_F(RandomTest, MltmodRefusesArgumentsOutsideItsRange) {
  const MltmodCase bad[] = {
      {0, 5, 7}, {7, 5, 7}, {5, 0, 7}, {5, 7, 7}, {-1, 5, 7}, {5, -3, 7}, {Xa1vw, Xm1, Xm1},
  };
  for (const auto& c : bad) {
    EXPECT_EXIT(
        {
          redirect_stdout_to_stderr();
          mltmod(c.a, c.s, c.m);
        },
        ::testing::ExitedWithCode(1), ::testing::Eq(mltmod_message(c.a, c.s, c.m)))
        << "a=" << c.a << " s=" << c.s << " m=" << c.m;
  }
}

TEST_F(RandomTest, SetallWithAnOutOfRangeSeedEndsTheRun) {
  EXPECT_EXIT(
      {
        redirect_stdout_to_stderr();
        setall(0, 123456789);
      },
      ::testing::ExitedWithCode(1), ::testing::Eq(mltmod_message(Xa1vw, 0, Xm1)));
  EXPECT_EXIT(
      {
        redirect_stdout_to_stderr();
        setall(1234567890, Xm2);
      },
      ::testing::ExitedWithCode(1), ::testing::Eq(mltmod_message(Xa2vw, Xm2, Xm2)));
}

TEST_F(RandomTest, GscgnRefusesGeneratorNumbersOutsideOneToThirtyTwo) {
  for (int g : {0, 33, -1}) {
    EXPECT_EXIT(
        {
          redirect_stdout_to_stderr();
          gscgn(1, &g);
        },
        ::testing::ExitedWithCode(1), ::testing::Eq(std::string(" Generator number out of range in GSCGN\n")))
        << "g=" << g;
  }
  int last = NUM_GENERATORS;
  gscgn(1, &last);
  int g = 0;
  gscgn(0, &g);
  EXPECT_EQ(g, NUM_GENERATORS);
}

struct SeedCase {
  int draw, m, expected;
};

TEST_F(RandomTest, SeedInRangeMendsOnlyDrawsOutsideTheRange) {
  const SeedCase table[] = {
      {0, Xm1, 1},
      {Xm1, Xm1, 2},
      {Xm1 + 1, Xm1, 3},
      {2147483647, Xm1, 1 + 2147483647 % (Xm1 - 1)},
      {0, Xm2, 1},
      {Xm2, Xm2, 2},
      {Xm1, Xm2, 1 + Xm1 % (Xm2 - 1)},
      {2147483647, Xm2, 1 + 2147483647 % (Xm2 - 1)},
      {-5, Xm1, Xm1 - 5},
      // In range: untouched.
      {1, Xm1, 1},
      {Xm1 - 1, Xm1, Xm1 - 1},
      {1804289383, Xm1, 1804289383},
      {1, Xm2, 1},
      {Xm2 - 1, Xm2, Xm2 - 1},
      {846930886, Xm2, 846930886},
  };
  for (const auto& c : table) {
    int got = seed_in_range(c.draw, c.m);
    EXPECT_EQ(got, c.expected) << "draw=" << c.draw << " m=" << c.m;
    EXPECT_GE(got, 1);
    EXPECT_LE(got, c.m - 1);
  }
}

TEST_F(RandomTest, InitRanSeedsFromTheFirstTwoDrawsAndLeavesTheRestToTheMinimiser) {
  for (unsigned seed : {1u, 2u, 12345u, 4000000000u}) {
    std::srand(seed);
    int r1 = std::rand();
    int r2 = std::rand();
    int r3 = std::rand();
    init_ran_with_seed(seed);
    EXPECT_EQ(std::rand(), r3) << "seed " << seed;
    GeneratorSeeds g1 = generator_seeds(1);
    EXPECT_EQ(g1.ig1, seed_in_range(r1, Xm1));
    EXPECT_EQ(g1.ig2, seed_in_range(r2, Xm2));
    Reference ref{g1.ig1, g1.ig2};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(ignlgi(), ref.next());
  }
}

TEST_F(RandomTest, InitRanFromTheClockSetsUsableSeeds) {
  init_ran();
  int set = 0;
  gssst(0, &set);
  EXPECT_EQ(set, 1);
  GeneratorSeeds g1 = generator_seeds(1);
  EXPECT_GE(g1.ig1, 1);
  EXPECT_LE(g1.ig1, Xm1 - 1);
  EXPECT_GE(g1.ig2, 1);
  EXPECT_LE(g1.ig2, Xm2 - 1);
}

}  // namespace
}  // namespace varnic
