// One analysis of the current model and its report: the search (when a
// parameter is free), the root-state probabilities, the likelihood and the
// parameter values, on standard output and appended to the results file.
#pragma once

#include <array>
#include <cstdio>

#include "driver/settings.h"

namespace varnic {

// Results of the last analysis, kept for the session and testall.
extern double like;                                // negative log-likelihood
extern std::array<double, MAX_PARAMS + 1> xdc;     // parameter values
extern std::array<double, MAX_STATES> rootprobd;   // root-state probabilities

void Test(std::FILE* results);

// The table of per-node partial log-likelihoods at the point p; always 0.0.
double Partial12(std::FILE* results, const double* p);

}  // namespace varnic
