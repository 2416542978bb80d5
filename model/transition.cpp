// The adapter between the likelihood and Meschach: the rate matrix, its
// eigen-decomposition and P(t).
//
// Meschach's objects are made once per number of states and reused by every
// evaluation, so that an evaluation allocates nothing; every value they yield
// is the one fresh objects would yield. The adapter also mends two faults of
// Meschach 1.2b's schur_vecs that would otherwise spoil or end a search:
//
//  - An eigenvalue held on the diagonal of the Schur form T as an exact 0.0
//    (every rate matrix has the eigenvalue 0, and schur often delivers it
//    exactly) makes schur_vecs divide 0 by 0: the pivot it substitutes for a
//    zero pivot is MACHEPS·(|T_jj| + |λ|), itself 0 then, and the eigenvector
//    comes back NaN. The same happens for any |T_jj| so small that the square
//    of that substitute underflows. Such entries are moved to -1e-100 before
//    the eigenvalues and eigenvectors are read: exp(-1e-100·t) is exactly 1
//    for every branch length below 1e84, so no P(t) changes, and the square
//    of the substitute pivot (about 2e-231) is far from underflow.
//
//  - A 2×2 diagonal block of T whose eigenvalues are real (schur leaves one
//    now and then) makes schur_vecs raise "object out of range", and with
//    Meschach's default handling that prints a message and ends the process
//    with status 0. Such a block is split into two 1×1 blocks by a plane
//    rotation, applied to T and to the orthogonal factor S alike, so that
//    S·T·Sᵀ is unchanged.
//
// Every Meschach call runs with the library's errors caught; an error that
// slips past the mending makes PreCalc return 1, never ends the process.

#include "model/transition.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "driver/fatal.h"

// Meschach's headers come last: they define min, max, catch and error as
// macros. They are C headers without C linkage of their own.
extern "C" {
#include <meschach/matrix.h>
#include <meschach/matrix2.h>
#include <meschach/err.h>
}
#undef min
#undef max
#undef catch

namespace varnic {

Decomposition decomposition = Decomposition::none;
StateVector val{};
StateMatrix vec{};
StateMatrix inv_vec{};
StateVector E{};
PreCalcCounts precalc_counts;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Smallest LU pivot of the eigenvector matrix that counts as non-singular.
constexpr double PIVOT_MIN = 1e-12;
// Schur diagonal entries smaller than this in magnitude are moved to
// -TINY_EIGENVALUE (see the top of the file).
constexpr double TINY_EIGENVALUE = 1e-100;
// Largest ratio of two nonzero entries of Q that PreCalc accepts, and the
// size beyond which Q is scaled by a power of two (see PreCalc).
constexpr double RATE_SPAN = 1e60;
constexpr double SCALE_BEYOND = 1e20;

// Meschach's objects for matrices of n × n, made once for each n in use.
struct MeschachWorkspace {
  int n = 0;
  MAT* T = nullptr;       // Q, then its Schur form
  MAT* S = nullptr;       // the orthogonal factor, then the LU factors of vec
  MAT* vec_re = nullptr;  // eigenvectors, real parts
  MAT* vec_im = nullptr;  // eigenvectors, imaginary parts (not used)
  VEC* val_re = nullptr;  // eigenvalues, real parts
  VEC* val_im = nullptr;  // eigenvalues, imaginary parts (not used)
  VEC* b = nullptr;       // unit vector, right-hand side of the inverse
  VEC* y = nullptr;       // one column of the inverse
  PERM* pivot = nullptr;
};
MeschachWorkspace ws;

// Runs one Meschach call with the library's errors caught instead of the
// library's default (print, then end the process). Returns 0 when the call
// completed and 1 when it raised an error. The library leaves by longjmp,
// which crosses only this frame and the lambda's, neither of which holds an
// object with a destructor. Error counting is switched off for the call:
// Meschach otherwise ends the process at its 100th error, caught or not.
template <typename Call>
int guarded(Call call) {
  volatile int failed = 0;
  const int old_count = count_errs(0);
  catchall(call(), failed = 1);
  count_errs(old_count);
  if (failed) precalc_counts.library_error++;
  return failed;
}

void release_workspace() {
  M_FREE(ws.T);
  M_FREE(ws.S);
  M_FREE(ws.vec_re);
  M_FREE(ws.vec_im);
  V_FREE(ws.val_re);
  V_FREE(ws.val_im);
  V_FREE(ws.b);
  V_FREE(ws.y);
  PX_FREE(ws.pivot);
  ws.n = 0;
}

void ensure_workspace(int n) {
  if (ws.n == n) return;
  release_workspace();
  const unsigned un = static_cast<unsigned>(n);
  const int failed = guarded([un] {
    ws.T = m_get(un, un);
    ws.S = m_get(un, un);
    ws.vec_re = m_get(un, un);
    ws.vec_im = m_get(un, un);
    ws.val_re = v_get(un);
    ws.val_im = v_get(un);
    ws.b = v_get(un);
    ws.y = v_get(un);
    ws.pivot = px_get(un);
  });
  if (failed || !ws.T || !ws.S || !ws.vec_re || !ws.vec_im || !ws.val_re || !ws.val_im ||
      !ws.b || !ws.y || !ws.pivot)
    abt(MMsg);
  ws.n = n;
}

// Splits the 2×2 block of T at rows and columns i, i+1, whose eigenvalues
// are real, into two 1×1 blocks. The rotation's first column is the unit
// eigenvector of the block for the eigenvalue d + z, z = p ± sqrt(p² + bc)
// taking the sign of p (p = (a - d)/2) so that nothing cancels; then
// Gᵀ·block·G is upper triangular. Worked in long double so that p² cannot
// overflow for any finite block. Returns false when no finite rotation
// exists.
bool split_real_block(MAT* T, MAT* S, int n, int i) {
  Real** t = T->me;
  const long double a = t[i][i], b = t[i][i + 1], c = t[i + 1][i], d = t[i + 1][i + 1];
  const long double p = (a - d) * 0.5L;
  long double disc = p * p + b * c;
  // Meschach's double test found disc >= 0; a negative long double value is
  // rounding, and the eigenvalues are a double one.
  if (disc < 0.0L) disc = 0.0L;
  const long double z = p + std::copysign(std::sqrt(disc), p);
  const long double tau = std::hypot(z, c);
  const long double cs = z / tau, sn = c / tau;
  if (!std::isfinite(cs) || !std::isfinite(sn)) return false;

  for (int k = i; k < n; k++) {  // T = Gᵀ·T: rows i and i+1
    const long double ti = t[i][k], tj = t[i + 1][k];
    t[i][k] = static_cast<double>(cs * ti + sn * tj);
    t[i + 1][k] = static_cast<double>(cs * tj - sn * ti);
  }
  for (int k = 0; k <= i + 1; k++) {  // T = T·G: columns i and i+1
    const long double ti = t[k][i], tj = t[k][i + 1];
    t[k][i] = static_cast<double>(cs * ti + sn * tj);
    t[k][i + 1] = static_cast<double>(cs * tj - sn * ti);
  }
  t[i + 1][i] = 0.0;
  Real** s = S->me;
  for (int k = 0; k < n; k++) {  // S = S·G
    const long double si = s[k][i], sj = s[k][i + 1];
    s[k][i] = static_cast<double>(cs * si + sn * sj);
    s[k][i + 1] = static_cast<double>(cs * sj - sn * si);
  }
  for (int k = 0; k < n; k++)
    if (!std::isfinite(t[k][i]) || !std::isfinite(t[k][i + 1]) || !std::isfinite(s[k][i]) ||
        !std::isfinite(s[k][i + 1]))
      return false;
  return true;
}

// Makes the Schur form safe for schur_vecs (see the top of the file). Walks
// the diagonal blocks the way schur_evals and schur_vecs do. Returns false
// when T cannot be made safe.
bool mend_schur_form(MAT* T, MAT* S, int n) {
  Real** t = T->me;
  for (int i = 0; i < n;) {
    if (i + 1 < n && t[i + 1][i] != 0.0) {
      // Two overlapping blocks are no quasi-triangular form at all.
      if (i + 2 < n && t[i + 2][i + 1] != 0.0) return false;
      // schur_vecs' own test, so that exactly the blocks it would refuse
      // are split; a complex pair stays and is refused by the pivot test.
      const double diff = 0.5 * (t[i][i] - t[i + 1][i + 1]);
      const double discrim = diff * diff + t[i][i + 1] * t[i + 1][i];
      if (discrim < 0.0) {
        i += 2;
        continue;
      }
      if (!split_real_block(T, S, n, i)) return false;
      precalc_counts.split_block++;
      // Row i+1 is now a 1×1 block of its own (t[i+2][i+1] is 0); look at
      // both new blocks again.
      continue;
    }
    if (std::fabs(t[i][i]) < TINY_EIGENVALUE) {
      t[i][i] = -TINY_EIGENVALUE;
      precalc_counts.tiny_eigenvalue++;
    }
    i++;
  }
  return true;
}

// The start vectors of schur_vecs' inverse iteration: a fixed sequence,
// restarted by every PreCalc.
constexpr std::uint64_t START_VECTOR_SEED = 20031;
std::uint64_t start_vector_seed = START_VECTOR_SEED;

void fill(StateMatrix& m, double v) {
  for (StateVector& row : m) row.fill(v);
}

int refuse() {
  decomposition = Decomposition::singular;
  precalc_counts.rejected++;
  return 1;
}

}  // namespace

}  // namespace varnic

// schur_vecs finds each eigenvector by one step of inverse iteration, from a
// vector that it fills with v_rand. Meschach's own v_rand draws from the
// library's generator, whose state runs on from one call to the next; the
// start vector survives in the last bits of the eigenvectors, so that two
// evaluations of one parameter vector differed in the last bits and a search
// could not reproduce the value it had found. Reseeding that generator
// (smrand) costs more than the whole decomposition. This definition takes
// the place of the library's (Meschach is linked as a shared library, whose
// calls to its own exported functions resolve to the program's definition
// first) and fills the vector from a fixed sequence of numbers in (0, 1): any
// vector not orthogonal to the eigenvector serves inverse iteration, and this
// one is the same every time. Nothing else in the program calls v_rand.
extern "C" VEC* v_rand(VEC* x) {
  if (!x) return x;
  for (unsigned i = 0; i < x->dim; i++) {
    // Knuth's MMIX linear congruential generator, top 53 bits.
    varnic::start_vector_seed = varnic::start_vector_seed * 6364136223846793005ULL + 1442695040888963407ULL;
    x->ve[i] = (static_cast<double>(varnic::start_vector_seed >> 11) + 0.5) * 0x1.0p-53;
  }
  return x;
}

namespace varnic {

void build_rate_matrix(const double* x, StateMatrix& Q) {
  const int n = num_states;
  int o = 0;  // next off-diagonal rate
  int r = 0;  // first rate of row i
  for (int i = 0; i < n; i++) {
    for (int j = 0; j < n; j++) {
      if (j != i) {
        Q[i][j] = x[o++];
      } else {
        double sum = 0.0;
        for (int k = r; k < (n - 1) * (i + 1); k++) sum += x[k];
        Q[i][i] = -sum;
      }
    }
    r = (n - 1) * (i + 1);
  }
}

int PreCalc(const StateMatrix& Q) {
  const int n = num_states;
  precalc_counts.precalc++;
  ensure_workspace(n);
  fill(inv_vec, NaN);
  decomposition = Decomposition::singular;

  // A non-finite rate has no usable decomposition; schur would only spread
  // NaN through T.
  double largest = 0.0, smallest = INFINITY;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      if (!std::isfinite(Q[i][j])) {
        precalc_counts.non_finite++;
        return refuse();
      }
      ws.T->me[i][j] = Q[i][j];
      const double size = std::fabs(Q[i][j]);
      largest = std::fmax(largest, size);
      if (size > 0.0) smallest = std::fmin(smallest, size);
    }
  // schur never returns on some matrices whose entries span too many orders
  // of magnitude (a user's "restrict q01 = 1e99" among rates of order 1 hung
  // the run), nor on matrices of 3 or more states whose entries are all
  // below about 1e-90. Entries 60 orders of magnitude apart are far beyond
  // any usable model: such matrices are refused. Matrices of very small or
  // very large entries are decomposed divided by a power of two, which is
  // exact: the eigenvectors are those of Q and the eigenvalues are scaled
  // back. Matrices of ordinary size are decomposed as they stand.
  if (largest > smallest * RATE_SPAN) return refuse();
  int shift = 0;
  if (largest > 0.0 && (largest < 1.0 / SCALE_BEYOND || largest > SCALE_BEYOND)) {
    shift = std::ilogb(largest);
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) ws.T->me[i][j] = std::ldexp(ws.T->me[i][j], -shift);
  }

  if (guarded([] { schur(ws.T, ws.S); })) return refuse();
  if (!mend_schur_form(ws.T, ws.S, n)) return refuse();
  if (guarded([] { schur_evals(ws.T, ws.val_re, ws.val_im); })) return refuse();
  // schur_vecs starts its inverse iteration from vectors filled by v_rand
  // (above): restarting that sequence makes every decomposition of one Q the
  // same to the last bit.
  start_vector_seed = START_VECTOR_SEED;
  if (guarded([] { schur_vecs(ws.T, ws.S, ws.vec_re, ws.vec_im); })) return refuse();

  bool finite = true;
  for (int i = 0; i < n; i++) {
    val[i] = std::ldexp(ws.val_re->ve[i], shift);
    finite = finite && std::isfinite(val[i]);
    for (int k = 0; k < n; k++) {
      vec[i][k] = ws.vec_re->me[i][k];
      finite = finite && std::isfinite(vec[i][k]);
    }
  }
  // A NaN pivot would pass the pivot test below (|NaN| < 1e-12 is false).
  if (!finite) {
    precalc_counts.non_finite++;
    return refuse();
  }

  // S is free again: it becomes the LU factors of a copy of vec.
  for (int i = 0; i < n; i++)
    for (int k = 0; k < n; k++) ws.S->me[i][k] = vec[i][k];
  if (guarded([] { LUfactor(ws.S, ws.pivot); })) return refuse();
  for (int i = 0; i < n; i++)
    if (std::fabs(ws.S->me[i][i]) < PIVOT_MIN) return refuse();

  for (int j = 0; j < n; j++) {
    for (int i = 0; i < n; i++) ws.b->ve[i] = 0.0;
    ws.b->ve[j] = 1.0;
    if (guarded([] { LUsolve(ws.S, ws.pivot, ws.b, ws.y); })) return refuse();
    for (int i = 0; i < n; i++) inv_vec[i][j] = ws.y->ve[i];
  }
  decomposition = Decomposition::usable;
  return 0;
}

namespace {

// P(t) and its deviation for n states; an N other than 0 fixes n at compile
// time, so that the loops unroll. Every N does the same operations in the
// same order. The work is done in local arrays, which P (an array like the
// workspace's) cannot alias, so that nothing is read again from memory after
// each entry written.
template <int N>
double transition_matrix(StateMatrix& P, double t, int runtime_n) {
  const int n = N ? N : runtime_n;
  double e[MAX_STATES], M[MAX_STATES][MAX_STATES], R[MAX_STATES][MAX_STATES];
  for (int k = 0; k < n; k++) {
    // exp(z) of |z| below 2^-54 rounds to 1 + z; every rate matrix has an
    // eigenvalue 0 (or of the size of rounding), so this spares one exp of
    // every n.
    const double z = t * val[k];
    e[k] = std::fabs(z) < 0x1p-54 ? 1.0 + z : std::exp(z);
  }
  for (int i = 0; i < n; i++)
    for (int k = 0; k < n; k++) M[i][k] = vec[i][k] * e[k];
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      double p = 0.0;
      for (int k = 0; k < n; k++) p += M[i][k] * inv_vec[k][j];
      R[i][j] = p;
    }
  double sum = 0.0;
  for (int i = 0; i < n; i++) {
    double deficit = 1.0;
    for (int j = 0; j < n; j++) deficit -= R[i][j];
    sum += deficit * deficit;
  }
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) P[i][j] = R[i][j];
  for (int k = 0; k < n; k++) E[k] = e[k];
  return std::sqrt(sum);
}

}  // namespace

double Calc_P(StateMatrix& P, double t) {
  precalc_counts.calc_p++;
  switch (num_states) {
    case 2: return transition_matrix<2>(P, t, 2);
    case 3: return transition_matrix<3>(P, t, 3);
    case 4: return transition_matrix<4>(P, t, 4);
    case 5: return transition_matrix<5>(P, t, 5);
    case 6: return transition_matrix<6>(P, t, 6);
    default: return transition_matrix<0>(P, t, num_states);
  }
}

void Calc_End() {
  // A stray Calc_P after the end yields NaN, which every check of the
  // likelihood refuses, rather than the previous model's P(t).
  decomposition = Decomposition::none;
  val.fill(NaN);
  fill(vec, NaN);
  fill(inv_vec, NaN);
}

}  // namespace varnic
