#include "optimise/random.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "driver/fatal.h"

namespace varnic {

namespace ranlib {

// Indexed by generator number minus 1.
std::array<int, NUM_GENERATORS> Xig1{};
std::array<int, NUM_GENERATORS> Xig2{};
std::array<int, NUM_GENERATORS> Xcg1{};
std::array<int, NUM_GENERATORS> Xcg2{};

// Only gscgn, gsrgs and gssst touch these three.
int curntg = 1;
int qinit = 0;
int qstate = 0;

}  // namespace ranlib

void gscgn(int getset, int* g) {
  if (getset == 0) {
    *g = ranlib::curntg;
    return;
  }
  if (*g < 1 || *g > NUM_GENERATORS) {
    std::printf(" Generator number out of range in GSCGN\n");
    end_run(1);
  }
  ranlib::curntg = *g;
}

void gsrgs(int getset, int* qvalue) {
  if (getset == 0)
    *qvalue = ranlib::qinit;
  else
    ranlib::qinit = *qvalue;
}

void gssst(int getset, int* qset) {
  if (getset == 0)
    *qset = ranlib::qstate;
  else
    ranlib::qstate = *qset;
}

void inrgcm() {
  // The constants are compile-time values here, so installing them comes
  // down to raising the flag that the rest of the package checks.
  int one = 1;
  gsrgs(1, &one);
}

int mltmod(int a, int s, int m) {
  constexpr int h = 32768;
  if (!(a > 0 && a < m && s > 0 && s < m)) {
    std::printf(" a, m, s out of order in mltmod - ABORT!\n");
    std::printf(" a = %12ld s = %12ld m = %12ld\n", static_cast<long>(a), static_cast<long>(s),
                static_cast<long>(m));
    std::printf(" mltmod requires: 0 < a < m; 0 < s < m\n");
    end_run(1);
  }

  // Schrage-style decomposition of a into 15-bit halves keeps every product
  // below 2^31, so the package works with plain 32-bit ints.
  int a0, a1, k, p, q, qh, rh;
  if (a < h) {
    a0 = a;
    p = 0;
  } else {
    a1 = a / h;
    a0 = a - h * a1;
    qh = m / h;
    rh = m - h * qh;
    if (a1 >= h) {
      a1 -= h;
      k = s / qh;
      p = h * (s - k * qh) - k * rh;
      while (p < 0) p += m;
    } else {
      p = 0;
    }
    if (a1 != 0) {
      q = m / a1;
      k = s / q;
      p -= k * (m - a1 * q);
      if (p > 0) p -= m;
      p += a1 * (s - k * q);
      while (p < 0) p += m;
    }
    k = p / qh;
    p = h * (p - k * qh) - k * rh;
    while (p < 0) p += m;
  }
  if (a0 != 0) {
    q = m / a0;
    k = s / q;
    p -= k * (m - a0 * q);
    if (p > 0) p -= m;
    p += a0 * (s - k * q);
    while (p < 0) p += m;
  }
  return p;
}

void setall(int iseed1, int iseed2) {
  int one = 1;
  gssst(1, &one);
  int ocgn;
  gscgn(0, &ocgn);
  int qrgnin;
  gsrgs(0, &qrgnin);
  if (!qrgnin) inrgcm();

  using namespace ranlib;
  Xig1[0] = iseed1;
  Xig2[0] = iseed2;
  Xcg1[0] = Xig1[0];
  Xcg2[0] = Xig2[0];
  for (int g = 1; g < NUM_GENERATORS; ++g) {
    Xig1[g] = mltmod(Xa1vw, Xig1[g - 1], Xm1);
    Xig2[g] = mltmod(Xa2vw, Xig2[g - 1], Xm2);
    Xcg1[g] = Xig1[g];
    Xcg2[g] = Xig2[g];
  }
  gscgn(1, &ocgn);
}

int ignlgi() {
  int qrgnin;
  gsrgs(0, &qrgnin);
  if (!qrgnin) inrgcm();
  int qqssd;
  gssst(0, &qqssd);
  if (!qqssd) setall(1234567890, 123456789);

  int curntg;
  gscgn(0, &curntg);
  int s1 = ranlib::Xcg1[curntg - 1];
  int s2 = ranlib::Xcg2[curntg - 1];
  // 53668, 12211 and 52774, 3791 are quotient and remainder of each modulus
  // by its multiplier: Schrage's method, so no product leaves 32 bits.
  int k = s1 / 53668;
  s1 = Xa1 * (s1 - k * 53668) - k * 12211;
  if (s1 < 0) s1 += Xm1;
  k = s2 / 52774;
  s2 = Xa2 * (s2 - k * 52774) - k * 3791;
  if (s2 < 0) s2 += Xm2;
  ranlib::Xcg1[curntg - 1] = s1;
  ranlib::Xcg2[curntg - 1] = s2;
  int z = s1 - s2;
  if (z < 1) z += Xm1 - 1;
  return z;
}

int seed_in_range(int draw, int m) {
  if (draw >= 1 && draw <= m - 1) return draw;
  // rand() never gives a negative value, but keep the result in 1..m-1 for
  // any int all the same.
  long long r = static_cast<long long>(draw) % (m - 1);
  if (r < 0) r += m - 1;
  return static_cast<int>(1 + r);
}

void init_ran_with_seed(unsigned seed) {
  std::srand(seed);
  int iseed1 = std::rand();
  int iseed2 = std::rand();
  setall(seed_in_range(iseed1, Xm1), seed_in_range(iseed2, Xm2));
}

void init_ran() { init_ran_with_seed(static_cast<unsigned>(std::time(nullptr))); }

GeneratorSeeds generator_seeds(int g) {
  using namespace ranlib;
  return GeneratorSeeds{Xig1[g - 1], Xig2[g - 1], Xcg1[g - 1], Xcg2[g - 1]};
}

void reset_random() {
  using namespace ranlib;
  Xig1.fill(0);
  Xig2.fill(0);
  Xcg1.fill(0);
  Xcg2.fill(0);
  curntg = 1;
  qinit = 0;
  qstate = 0;
}

}  // namespace varnic
