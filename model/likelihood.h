// The likelihood of the tree: Calc_Like12 prunes from the leaves to the root
// in natural logarithms and returns the negative log-likelihood (or the
// penalty PENALTY for a parameter vector the model cannot use). Also AddLog,
// and Fossil / NoFossils, which fix and release the state of nodes.
#pragma once

namespace varnic {

constexpr double PENALTY = 10000000.0;

// Negative natural log-likelihood of the full parameter vector x.
double Calc_Like12(const double* x);

// log(e^a + e^b) for two natural logarithms.
double AddLog(double a, double b);

// Fixes node (an index into tree) to state (0..num_states-1), or releases it
// (state NO_FOSSIL); ends the run on an argument out of range.
void Fossil(int node, int state);
void NoFossils();

}  // namespace varnic
