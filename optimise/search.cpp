#include "optimise/search.h"

#include <array>
#include <cstdio>

#include "driver/settings.h"
#include "model/likelihood.h"
#include "optimise/praxis.h"
#include "optimise/random.h"
#include "session/params.h"

namespace varnic {

long long objective_evaluations = 0;

namespace {

constexpr int RANDOM_DRAWS = 50;
constexpr double INV_XM1 = 4.656613057391769e-10;  // the double nearest 1/Xm1
constexpr double FIRST_PREVIOUS = 99999999.0;
constexpr double FIRST_THRESHOLD = 0.01;

using PerVariable = std::array<double, MAX_PARAMS + 1>;

// The value of a point outside the model during the current search: 10000
// as long as the tree's likelihoods lie below it; PENALTY for a tree (a
// large one) whose every sound value lies above it, since 10000 would then
// score better than any point of the model and the minimiser would make for
// negative rates.
double outside_value = OUTSIDE;
using Flags = std::array<bool, MAX_PARAMS + 1>;

// Free variables whose owner (the highest-indexed parameter on the variable,
// counted or not) was given a start value begin there and are held through
// the random draws.
Flags apply_start_values(double* p, int K) {
  std::array<int, MAX_PARAMS + 1> owner;
  owner.fill(-1);
  for (int k = 0; k < num_params; k++)
    if (remap[k] >= 0 && remap[k] <= MAX_PARAMS) owner[remap[k]] = k;
  Flags held{};
  for (int v = 0; v < K; v++) {
    const int o = owner[v];
    if (o >= 0 && startflag[o]) {
      p[v] = startvec[o];
      held[v] = true;
    }
  }
  return held;
}

// The best of 50 random points for the variables not held. While scaling is
// on, the last variable is drawn from (-1, 1) instead of (0, 1). Returns the
// best draw's value.
double draw_starting_point(double* p, int K, const Flags& held) {
  PerVariable best_draw{}, best_large_draw{};
  double best = OUTSIDE;
  double best_large = PENALTY;  // the best draw at or above 10000
  // A draw outside the model never wins, whatever the tree.
  outside_value = PENALTY;
  for (int draw = 0; draw < RANDOM_DRAWS; draw++) {
    double u = 0.0;
    for (int v = 0; v < K; v++) {
      if (held[v]) continue;
      u = static_cast<double>(ignlgi()) * INV_XM1;
      p[v] = u;
    }
    if (scaling == 1 && !held[K - 1]) p[K - 1] = 2.0 * u - 1.0;
    const double value = Remap_Like12(p);
    if (value < best) {
      best = value;
      for (int v = 0; v < K; v++)
        if (!held[v]) best_draw[v] = p[v];
    } else if (value < best_large) {
      best_large = value;
      for (int v = 0; v < K; v++)
        if (!held[v]) best_large_draw[v] = p[v];
    }
  }
  outside_value = OUTSIDE;
  if (!(best < OUTSIDE) && best_large < PENALTY) {
    best = best_large;
    best_draw = best_large_draw;
    outside_value = PENALTY;
  }
  // When every draw fell outside the model there is no best draw: the
  // search starts from unit rates (and branch lengths as they stand).
  const bool found = best < outside_value;
  for (int v = 0; v < K; v++)
    if (!held[v]) p[v] = found ? best_draw[v] : 1.0;
  return best;
}

}  // namespace

double Remap_Like12(double* values, int /*n*/) {
  objective_evaluations++;
  const int C = counted_params();
  for (int k = 0; k < C; k++) {
    if (remap[k] < 0) {
      xvec[k] = fixvec[-remap[k] - 1];
    } else {
      const double v = values[remap[k]];
      if (!(v >= 0.0)) return outside_value;
      xvec[k] = v;
    }
  }
  return Calc_Like12(xvec.data());
}

double Max_Like12(double* p) {
  const int K = free_variable_count();
  const Flags held = apply_start_values(p, K);
  double result = draw_starting_point(p, K, held);
  // A lone free variable gets a dummy partner: the minimiser needs two.
  int n = K;
  if (K == 1) {
    p[1] = 0.0;
    n = 2;
  }

  illc = 1;
  ktm = caution;
  double previous = FIRST_PREVIOUS;
  double threshold = FIRST_THRESHOLD;
  int runs = 0;
  while (!(threshold < converge) && runs < number) {
    double gain;
    do {
      runs++;
      result = praxis(Remap_Like12, p, n);
      gain = previous - result;
      previous = result;
      std::printf("%d %f\n", runs, result);
    } while (gain > threshold && runs < number);
    threshold *= rate;
  }
  outside_value = OUTSIDE;
  return result;
}

}  // namespace varnic
