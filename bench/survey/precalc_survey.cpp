// Survey of PreCalc over random rate matrices: how many matrices whose
// eigenvalues are real and distinct it refuses (the goal is none), how many
// it accepts, and how often the adapter had to mend what Meschach delivered.
//
// Whether the eigenvalues of a matrix are real and distinct is decided here
// without Meschach: the characteristic polynomial (Faddeev–LeVerrier) and its
// roots (Durand–Kerner), both in long double, on the matrix scaled to entries
// of at most 1. Eigenvalues count as distinct when every two roots are at
// least 1e-4 apart and then as real when no imaginary part exceeds 1e-9 (in
// the scaled units); matrices with roots closer than that (repeated or nearly
// repeated eigenvalues, real or complex) are counted apart. Every accepted decomposition is also checked by rebuilding Q from
// vec · diag(val) · inv_vec.
//
//   precalc_survey [matrices per n and kind, default 1000000] [seed] [kind]
//
// (kind 0, 1 or 2 runs that one kind only.)
//
// Kinds of matrix: "uniform" rates uniform on (0, 1); "log-uniform" rates
// 10^u with u uniform on (-2, 2); "sparse" each rate 0 with probability 0.3,
// otherwise uniform on (0, 1).

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "driver/settings.h"
#include "model/transition.h"

namespace {

using varnic::MAX_STATES;
using varnic::StateMatrix;

enum Spectrum { REAL_DISTINCT, COMPLEX, NEARLY_REPEATED };

// Complex arithmetic in long double without the library's care for
// infinities, which costs more than everything else here.
struct Cx {
  long double re, im;
};
inline Cx operator-(Cx a, Cx b) { return {a.re - b.re, a.im - b.im}; }
inline Cx operator*(Cx a, Cx b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline Cx operator/(Cx a, Cx b) {
  const long double d = b.re * b.re + b.im * b.im;
  return {(a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d};
}
inline long double cabs(Cx a) { return std::hypot(a.re, a.im); }

// Decides the kind of spectrum of the n × n matrix q by the roots of its
// characteristic polynomial.
Spectrum classify(const StateMatrix& q, int n) {
  long double scale = 0.0L;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) scale = std::max(scale, std::fabs(static_cast<long double>(q[i][j])));
  if (scale == 0.0L) return NEARLY_REPEATED;  // the zero matrix: one eigenvalue n times
  long double a[MAX_STATES][MAX_STATES];
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) a[i][j] = q[i][j] / scale;

  // Faddeev–LeVerrier: M_1 = I, c_{n-k} = -tr(A·M_k)/k, M_{k+1} = A·M_k + c_{n-k}·I.
  long double c[MAX_STATES + 1];  // c[k]: coefficient of x^k; c[n] = 1
  c[n] = 1.0L;
  long double m[MAX_STATES][MAX_STATES] = {}, am[MAX_STATES][MAX_STATES];
  for (int i = 0; i < n; i++) m[i][i] = 1.0L;
  for (int k = 1; k <= n; k++) {
    long double trace = 0.0L;
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) {
        long double s = 0.0L;
        for (int l = 0; l < n; l++) s += a[i][l] * m[l][j];
        am[i][j] = s;
      }
    for (int i = 0; i < n; i++) trace += am[i][i];
    c[n - k] = -trace / k;
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) m[i][j] = am[i][j] + (i == j ? c[n - k] : 0.0L);
  }

  // Durand–Kerner from the usual spread of starting points; the roots lie
  // within 2 of the origin (Gershgorin: rows sum to 0, entries at most 1).
  Cx z[MAX_STATES];
  z[0] = {1.5L, 0.0L};
  for (int k = 1; k < n; k++) z[k] = z[k - 1] * Cx{0.4L, 0.9L};
  for (int iter = 0; iter < 500; iter++) {
    long double moved = 0.0L;
    for (int k = 0; k < n; k++) {
      Cx value{1.0L, 0.0L}, den{1.0L, 0.0L};
      for (int l = n - 1; l >= 0; l--) {
        value = value * z[k];
        value.re += c[l];
      }
      for (int l = 0; l < n; l++)
        if (l != k) den = den * (z[k] - z[l]);
      const Cx step = value / den;
      z[k] = z[k] - step;
      moved = std::max(moved, cabs(step));
    }
    if (moved < 1e-14L) break;
  }

  // A root of multiplicity m comes out spread over about 1e-19^(1/m), so
  // roots closer than 1e-4 may be one repeated eigenvalue, real or not.
  for (int k = 0; k < n; k++)
    for (int l = k + 1; l < n; l++)
      if (cabs(z[k] - z[l]) < 1e-4L) return NEARLY_REPEATED;
  for (int k = 0; k < n; k++)
    if (std::fabs(z[k].im) > 1e-9L) return COMPLEX;
  return REAL_DISTINCT;
}

// Largest entry of |vec · diag(val) · inv_vec - Q|, relative to the largest
// entry of Q.
double rebuild_error(const StateMatrix& q, int n) {
  double qmax = 0.0, err = 0.0;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      long double s = 0.0L;
      for (int k = 0; k < n; k++)
        s += static_cast<long double>(varnic::vec[i][k]) * varnic::val[k] * varnic::inv_vec[k][j];
      err = std::max(err, static_cast<double>(std::fabs(s - q[i][j])));
      qmax = std::max(qmax, std::fabs(q[i][j]));
    }
  return qmax > 0.0 ? err / qmax : err;
}

struct Tally {
  long count[3] = {};
  long refused[3] = {};
  long bad_rebuild = 0;  // accepted, yet Q not rebuilt to 1e-9
  double worst_rebuild = 0.0;
};

}  // namespace

int main(int argc, char** argv) {
  const long per_case = argc > 1 ? std::atol(argv[1]) : 1000000;
  const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 20240601UL;
  const char* kinds[] = {"uniform", "log-uniform", "sparse"};

  std::printf("PreCalc over %ld random rate matrices per number of states and kind (seed %lu)\n\n",
              per_case, seed);
  std::printf("%-12s %2s %9s %9s %9s %9s %9s %9s %9s %9s %10s %10s %10s\n", "kind", "n",
              "real-dist", "refused", "complex", "refused", "near-rep", "refused", "bad-Q",
              "worst-Q", "tiny-eig", "split-blk", "lib-error");
  long refused_real_distinct_total = 0;
  const int only_kind = argc > 3 ? std::atoi(argv[3]) : -1;
  for (int kind = 0; kind < 3; kind++) {
    if (only_kind >= 0 && kind != only_kind) continue;
    for (int n = 2; n <= MAX_STATES; n++) {
      varnic::num_states = n;
      varnic::num_params = n * n - n + 1;
      std::mt19937_64 rng(seed + 1000UL * kind + n);
      std::uniform_real_distribution<double> unit(0.0, 1.0);
      const varnic::PreCalcCounts before = varnic::precalc_counts;
      Tally tally;
      int split_shown = 0;
      double x[varnic::MAX_PARAMS];
      StateMatrix q{};
      for (long m = 0; m < per_case; m++) {
        for (int k = 0; k < n * (n - 1); k++) {
          double r = unit(rng);
          if (kind == 1) r = std::pow(10.0, 4.0 * r - 2.0);
          if (kind == 2) r = unit(rng) < 0.3 ? 0.0 : r;
          x[k] = r;
        }
        x[n * (n - 1)] = 1.0;
        varnic::build_rate_matrix(x, q);
        const Spectrum sp = classify(q, n);
        tally.count[sp]++;
        const long splits = varnic::precalc_counts.split_block;
        const int refused = varnic::PreCalc(q);
        if (varnic::precalc_counts.split_block != splits && ++split_shown <= 2) {
          std::printf("  block split (%s):", refused ? "refused" : "accepted");
          for (int k = 0; k < n * (n - 1); k++) std::printf(" %a", x[k]);
          std::printf("\n");
        }
        if (refused) {
          tally.refused[sp]++;
          if (sp != COMPLEX && tally.refused[sp] <= 3) {
            std::printf("  refused, %s eigenvalues:",
                        sp == REAL_DISTINCT ? "real distinct" : "nearly repeated");
            for (int k = 0; k < n * (n - 1); k++) std::printf(" %a", x[k]);
            std::printf("\n");
          }
        } else {
          const double e = rebuild_error(q, n);
          tally.worst_rebuild = std::max(tally.worst_rebuild, e);
          if (!(e <= 1e-9)) tally.bad_rebuild++;
        }
        varnic::Calc_End();
      }
      const varnic::PreCalcCounts& after = varnic::precalc_counts;
      std::printf("%-12s %2d %9ld %9ld %9ld %9ld %9ld %9ld %9ld %9.1e %10ld %10ld %10ld\n",
                  kinds[kind], n, tally.count[REAL_DISTINCT], tally.refused[REAL_DISTINCT],
                  tally.count[COMPLEX], tally.refused[COMPLEX], tally.count[NEARLY_REPEATED],
                  tally.refused[NEARLY_REPEATED], tally.bad_rebuild, tally.worst_rebuild,
                  after.tiny_eigenvalue - before.tiny_eigenvalue,
                  after.split_block - before.split_block,
                  after.library_error - before.library_error);
      std::fflush(stdout);
      refused_real_distinct_total += tally.refused[REAL_DISTINCT];
    }
  }
  std::printf("\nrefused with real, distinct eigenvalues: %ld in all\n", refused_real_distinct_total);
  return refused_real_distinct_total == 0 ? 0 : 1;
}
