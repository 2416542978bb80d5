// Brent's principal-axis minimiser (PRAXIS): minimises a function of 2..35
// variables without derivatives. The maximum-likelihood search runs it on the
// negative log-likelihood. All its state is process-wide, so only one run can
// be in progress and the objective must not call praxis.
#pragma once

#include <array>

#include "optimise/minfit.h"

namespace varnic {

// The objective: f(point, n), point holding n doubles. It may ignore n.
using PraxisObjective = double (*)(double* x, int n);

// Patience: a run ends when the small-step test has passed ktm + 1 times in
// a row. The search sets it to the control file's "caution".
extern int ktm;

// Nonzero while the problem looks ill-conditioned: random steps are taken
// and the direction to drop is chosen by curvature-weighted gain. praxis
// changes it and leaves it for the next call; the search sets it to 1 before
// its first run.
extern int illc;

// Minimises fun from the n values in x (2 <= n <= 35), leaves the best point
// found in x and returns its value, which is never above fun at the start.
// Each call starts from the coordinate axes with fresh counters and step
// bounds; only illc and the position in the rand() sequence carry over.
// Prints nothing.
double praxis(PraxisObjective fun, double* x, int n);

// The minimiser's working state and steps, visible so that the tests can
// drive the individual steps.
namespace prax {

constexpr double tol = 1e-16;  // absolute part of the step tolerance
constexpr double step = 1.0;   // largest step a line search may predict

using Vec = std::array<double, MAX_DIM>;

extern PraxisObjective fun;
extern double* x;  // the caller's point, moved in place
extern int n;
extern double fx;  // fun at x

extern DirMatrix v;  // directions, one per column
extern Vec d;        // curvature estimate along each direction
extern Vec y, z;     // step start (then its displacement); last random step
extern Vec q0, q1;   // end points of the last sweep but one and the last sweep
extern double qf1, qd0, qd1, qa, qb, qc;

extern double h, t, t2, ldt, lds, dmin, dn, sf, sl, s, f1, df;
extern int kt, kl, nl;

extern double macheps, small, vsmall, large, vlarge, m2, m4, ldfac;

// The entry of praxis: constants, counters and step bounds, fx = fun(x),
// identity directions.
void enter(PraxisObjective f, double* point, int nvars);

// Line search along column j of v, or along the quadratic curve of quad for
// j = -1. d2: curvature estimate (in and out). x1: on entry a step whose
// value f1 is known when fk is set; on exit the step taken. nits: how often a
// trial step may be shortened or retried. Sets fx to the best value seen and,
// for j >= 0, moves x by x1 along column j.
void min(int j, int nits, double& d2, double& x1, double f1, bool fk);

// fun at x + l * (column j of v), or at parameter l of the quadratic curve
// for j = -1 (storing the curve weights in qa, qb, qc). x is not moved.
double flin(double l, int j);

// Quadratic extrapolation through the end points of the last three sweeps.
void quad();

// d into decreasing order, columns of v moved along.
void sort();

// rand() % 16384 / 16384.0.
double rndom();

}  // namespace prax

}  // namespace varnic
