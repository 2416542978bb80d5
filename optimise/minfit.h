// Singular values and right singular vectors of a square matrix, for the
// principal-axis minimiser's new search directions each sweep.
#pragma once

#include <array>

namespace varnic {

// Capacity of the minimiser and of minfit: the largest number of variables.
constexpr int MAX_DIM = 35;

// Element (i, j) is row i, column j; only the leading n x n block is used.
using DirMatrix = std::array<std::array<double, MAX_DIM>, MAX_DIM>;

// Golub-Reinsch: Householder bidiagonalisation, accumulation of the right
// transformations and shifted QR on the bidiagonal form; the left singular
// vectors are never formed. On entry ab holds the n x n matrix A (2 <= n <=
// 35); on exit column k of ab is the right singular vector of q[k]. q gets the
// n singular values, all >= 0 and unsorted. eps is the relative precision,
// tol (> 0) the smallest sum of squares that forms a Householder
// transformation. A singular value still unconverged after 30 sweeps is
// accepted as it stands, with "\n+++ qr failed\n" on standard error.
void minfit(int n, double eps, double tol, DirMatrix& ab, double q[]);

}  // namespace varnic
