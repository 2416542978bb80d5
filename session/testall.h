// Node state probabilities: for every trait column of a two-state character,
// the probability of state 0 at every internal node under the global and
// the local approach, written to a tab-separated file.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/settings.h"
#include "driver/tree.h"

namespace varnic {

// Stored likelihood values `like`, by trait, node and state.
using LMat = std::vector<std::vector<std::array<double, MAX_STATES>>>;

LMat AllocLMat();
void FreeLmat(LMat& table);

// Probability of state 0 from the stored values a (state 0) and b (state 1).
double get_node_p0(double a, double b);

void testall_write(const LMat& global, const LMat& local, const TraitTable& traits, std::FILE* stream);

void Testall(std::FILE* results, const TraitTable& traits, const std::string& filename);

// Checks, before anything is touched, that testall can run with the file
// named: every trait column fits the tree, and the file is none of the
// program's own inputs or its results file. Prints the reason and returns
// false when it cannot.
bool testall_can_run(const TraitTable& traits, const std::string& filename);

}  // namespace varnic
