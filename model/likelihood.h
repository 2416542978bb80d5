// The likelihood of the tree: Calc_Like12 prunes from the leaves to the root
// in natural logarithms and returns the negative log-likelihood (or the
// penalty PENALTY for a parameter vector the model cannot use). Also AddLog,
// and Fossil / NoFossils, which fix and release the state of nodes.
#pragma once

namespace varnic {

constexpr double PENALTY = 10000000.0;

// Negative natural log-likelihood of the full parameter vector x.
double Calc_Like12(const double* x);

// The same evaluation with every sum over a descendant's states taken term
// by term, one logarithm and one AddLog per term: slower, and kept as the
// yardstick that Calc_Like12's arrangement of the sums is checked against.
// Same result, same L in every record, same refusals.
double Calc_Like12_reference(const double* x);

// Largest admissible total of the row-sum deviations of P(t) over the first
// `branches` branches of the walk: 1e-10 up to 1000 branches, then 1e-13 per
// branch, so that rounding on a large tree is not taken for an unsound
// decomposition. No single P(t) may deviate by more than 1e-10 either way.
double deviation_allowance(long branches);

// How often Calc_Like12 took a sum term by term since the process started:
// for the unit tests, which show that these paths are taken and agree.
struct TermwiseCounts {
  long nodes = 0;  // nodes with an entry of P(t) outside [0, 1] beyond rounding
  long sums = 0;   // single sums: a NaN among the L_j, or a shifted sum below 1e-150
};
extern TermwiseCounts termwise_counts;

// log(e^a + e^b) for two natural logarithms.
double AddLog(double a, double b);

// Fixes node (an index into tree) to state (0..num_states-1), or releases it
// (state NO_FOSSIL); ends the run on an argument out of range.
void Fossil(int node, int state);
void NoFossils();

}  // namespace varnic
