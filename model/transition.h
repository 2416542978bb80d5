// Transition probabilities of the Markov model of character change: the rate
// matrix Q built from the full parameter vector, its eigen-decomposition
// (PreCalc, once per likelihood evaluation), P(t) = exp(Q·t) for any branch
// length (Calc_P) and the release of the decomposition (Calc_End).
//
// The decomposition is done by Meschach; nothing of Meschach shows here. Every
// matrix is a fixed MAX_STATES × MAX_STATES array of which the first
// num_states rows and columns are used, so that no evaluation allocates.
#pragma once

#include <array>

#include "driver/settings.h"

namespace varnic {

using StateVector = std::array<double, MAX_STATES>;
using StateMatrix = std::array<StateVector, MAX_STATES>;

// Q[i][j] = q_ij for i != j from the rates of x (row-major, diagonal
// skipped); Q[i][i] = -(sum of row i's rates, added in ascending position).
// x[num_params - 1] ("scale") is not read.
void build_rate_matrix(const double* x, StateMatrix& Q);

// What the workspace below holds.
enum class Decomposition {
  none,      // before the first PreCalc, and after every Calc_End
  usable,    // PreCalc returned 0: Calc_P may be called
  singular,  // PreCalc returned 1: only Calc_End may follow
};

// The decomposition workspace Q = vec · diag(val) · inv_vec.
extern Decomposition decomposition;
extern StateVector val;      // real parts of the eigenvalues of Q
extern StateMatrix vec;      // column k: real part of the eigenvector of val[k]
extern StateMatrix inv_vec;  // the inverse of vec (left unfilled when singular)
extern StateVector E;        // exp(t·val[k]) of the latest Calc_P

// Decomposes Q (num_states × num_states) into the workspace. Returns 0 when
// the decomposition is usable and 1 when it is not: the eigenvector matrix is
// numerically singular (any pivot of its LU factorisation below 1e-12, which
// includes every Q with a complex-conjugate pair of eigenvalues), has a
// non-finite entry, or Q itself has one. Calc_End must follow either way.
int PreCalc(const StateMatrix& Q);

// Overwrites P with P(t) = vec · diag(exp(t·val)) · inv_vec and returns the
// row-sum deviation sqrt(sum_i (1 - sum_j P[i][j])^2). Requires a usable
// decomposition.
double Calc_P(StateMatrix& P, double t);

// Ends the decomposition (harmless when there is none).
void Calc_End();

// How often the adapter had to mend what Meschach delivers, since the start
// of the process; read by the survey of random rate matrices.
struct PreCalcCounts {
  long precalc = 0;          // PreCalc calls
  long rejected = 0;         // ... that returned 1
  long calc_p = 0;           // Calc_P calls
  long tiny_eigenvalue = 0;  // Schur diagonal entries of magnitude < 1e-100 moved to -1e-100
  long split_block = 0;      // 2×2 Schur blocks with real eigenvalues split by a rotation
  long library_error = 0;    // errors raised inside Meschach and caught
  long non_finite = 0;       // rejections for a non-finite Q or eigenvector
};
extern PreCalcCounts precalc_counts;

}  // namespace varnic
