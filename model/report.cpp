#include "model/report.h"

#include <cmath>

#include "driver/tree.h"
#include "model/likelihood.h"
#include "optimise/search.h"
#include "session/params.h"

namespace varnic {

double like = 0.0;
std::array<double, MAX_PARAMS + 1> xdc{};
std::array<double, MAX_STATES> rootprobd{};

namespace {

// The value of counted parameter j at the free-variable vector p.
double parameter_value(int j, const double* p) {
  return remap[j] < 0 ? fixvec[-remap[j] - 1] : p[remap[j]];
}

bool any_counted_free() {
  for (int j = 0; j < counted_params(); j++)
    if (remap[j] >= 0) return true;
  return false;
}

// Writes text both to standard output and to the results stream.
template <typename... Args>
void both(std::FILE* results, const char* format, Args... args) {
  std::printf(format, args...);
  std::fprintf(results, format, args...);
}

// Each root state enters with weight 1: the probabilities are the root's
// conditional likelihoods divided by their sum.
void root_probabilities() {
  const auto& L = root->L;
  double f = 1.0;  // no term yet
  for (int i = 0; i < num_states; i++) {
    if (L[i] > 0) continue;
    f = f <= 0 ? AddLog(f, L[i]) : L[i];
  }
  if (root->fossil == NO_FOSSIL) {
    for (int i = 0; i < num_states; i++) rootprobd[i] = L[i] > 0 ? 0.0 : std::exp(L[i] - f);
  } else {
    rootprobd.fill(0.0);
    rootprobd[root->fossil] = 1.0;
  }
}

}  // namespace

double Partial12(std::FILE* results, const double* p) {
  for (int j = 0; j < counted_params(); j++) xvec[j] = parameter_value(j, p);
  Calc_Like12(xvec.data());

  both(results, "\nPartial Log Likelihoods\n");
  for (int i = 0; i < num_states; i++) both(results, "    %d        ", i);
  std::printf("    node\n");
  std::fprintf(results, "     node\n");
  for (const Node* node : postorder) {
    for (int i = 0; i < num_states; i++) both(results, "%12f ", -node->L[i]);
    both(results, "    %s\n", node->name.c_str());
  }
  return 0.0;
}

void Test(std::FILE* results) {
  std::printf("Analysis\n");
  std::array<double, MAX_PARAMS + 1> p{};
  if (any_counted_free()) like = Max_Like12(p.data());
  // The point found is evaluated once more so that the node records hold
  // its values.
  like = Remap_Like12(p.data());
  if (partial) Partial12(results, p.data());

  root_probabilities();
  for (int j = 0; j < counted_params(); j++) xdc[j] = parameter_value(j, p.data());

  std::printf("\nRoot Probabilities\n");
  for (int i = 0; i < num_states; i++) std::printf("[%d]  %f\n", i, rootprobd[i]);
  both(results, "\nLikelihood = %f\n\n", like);
  for (int j = 0; j < counted_params(); j++) both(results, "%s = %f\n", pname[j].c_str(), xdc[j]);
  if (!scaling) xdc[num_params - 1] = 1.0;
  tested = 1;
}

}  // namespace varnic
