// The maximum-likelihood search: 50 random starting points, then repeated
// runs of the principal-axis minimiser until the gain from one run to the
// next falls below a threshold that tightens in stages.
#pragma once

namespace varnic {

// Objective value of a point outside the model (a negative free variable).
constexpr double OUTSIDE = 10000.0;

// Fills xvec from the free variables in values and the fixed values of the
// parameter table and returns the negative log-likelihood, or OUTSIDE when a
// free variable is negative or not a number. n is the minimiser's count of
// variables and is not needed.
double Remap_Like12(double* values, int n = 0);

// Searches the free variables; leaves the best point in p (room for at least
// 31 entries) and returns its value. Needs at least one free variable.
double Max_Like12(double* p);

// Objective evaluations since the process started (for the benchmarks).
extern long long objective_evaluations;

}  // namespace varnic
