// Random integers for the search's starting points: L'Ecuyer and Cote's
// combined multiplicative congruential generator with 32 virtual generators,
// in the shape of RANLIB's generator module. The program only ever draws from
// generator 1, seeded once per run from the clock by init_ran.
#pragma once

namespace varnic {

// The two components' moduli and multipliers, and each multiplier raised to
// 2^50 modulo its modulus: the distance between the starting points of two
// neighbouring virtual generators. Everything the package computes stays
// within 32-bit signed integers.
constexpr int Xm1 = 2147483563;
constexpr int Xm2 = 2147483399;
constexpr int Xa1 = 40014;
constexpr int Xa2 = 40692;
constexpr int Xa1vw = 2082007225;
constexpr int Xa2vw = 784306273;

constexpr int NUM_GENERATORS = 32;

// Seeds the package from the clock: init_ran_with_seed(time(nullptr)).
void init_ran();

// srand(seed), then the next two rand() values, each brought into the range
// its component accepts, become the seeds of generator 1 through setall. The
// minimiser's random steps go on with the same rand() sequence.
void init_ran_with_seed(unsigned seed);

// A rand() draw as a seed for a component of modulus m: a draw in 1..m-1 is
// kept; any other becomes 1 + draw mod (m - 1), so that a clock that happens
// to give 0 or a value past the modulus does not end the run.
int seed_in_range(int draw, int m);

// Sets the initial and current seeds of all 32 generators from generator 1's
// two seeds; 1 <= iseed1 <= Xm1-1 and 1 <= iseed2 <= Xm2-1, otherwise the
// run ends in mltmod. The current generator stays current.
void setall(int iseed1, int iseed2);

// The next value of the current generator, in 1..Xm1-1. Installs the seeds
// (1234567890, 123456789) when none were ever set.
int ignlgi();

// (a*s) mod m for 0 < a < m and 0 < s < m, using 32-bit arithmetic only.
// Any other argument ends the run with status 1 after a message on standard
// output.
int mltmod(int a, int s, int m);

// Marks the constants installed.
void inrgcm();

// Get-or-set routines for the package flags: getset 0 copies the value into
// *value, getset 1 stores *value. gscgn: the current generator (1..32; other
// numbers end the run with status 1); gsrgs: the constants-installed flag;
// gssst: the seeds-set flag.
void gscgn(int getset, int* g);
void gsrgs(int getset, int* qvalue);
void gssst(int getset, int* qset);

// Initial and current seeds of one generator, for checking the package.
struct GeneratorSeeds {
  int ig1, ig2;  // initial seeds of the two components
  int cg1, cg2;  // current seeds
};
GeneratorSeeds generator_seeds(int g);  // g in 1..32

// Back to the state at process start (for the unit tests).
void reset_random();

}  // namespace varnic
