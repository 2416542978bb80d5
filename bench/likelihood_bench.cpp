// Cost of one likelihood evaluation (the objective of every search) on
// random trees of 1,000 to 100,000 tips with 2 and 6 states, and of its two
// parts that do not depend on the tree: one decomposition and one P(t).
// bench/scale_bench.cpp measures the evaluation against a bare pruning loop,
// and the rest of the program on large trees.
//
// This file also holds the benchmark binary's main().

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "driver/settings.h"
#include "driver/tree.h"
#include "model/likelihood.h"
#include "model/transition.h"

namespace varnic {
namespace {

void use_states(int n) {
  reset_settings();
  num_states = n;
  num_params = n * n - n + 1;
}

// A random binary tree with the given number of tips, built as the
// data-file reader leaves it: tips first, then the internal nodes, the root
// last. Tips take random states; branch lengths are uniform on (0.01, 0.5),
// except that one internal branch in twenty has length 0 (a polytomy
// resolved into binary splits).
void build_random_tree(int tips, int n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  reset_tree();
  tree.resize(2 * static_cast<std::size_t>(tips) - 1);
  nnodes = static_cast<int>(tree.size());
  std::vector<int> open;
  open.reserve(tips);
  for (int k = 0; k < tips; k++) {
    tree[k].state = static_cast<int>(unit(rng) * n) % n;
    tree[k].length = 0.01 + 0.49 * unit(rng);
    open.push_back(k);
  }
  auto take = [&] {
    const std::size_t i = static_cast<std::size_t>(unit(rng) * open.size()) % open.size();
    const int node = open[i];
    open[i] = open.back();
    open.pop_back();
    return node;
  };
  for (int k = tips; k < nnodes; k++) {
    Node& v = tree[k];
    v.child1 = &tree[take()];
    v.child2 = &tree[take()];
    v.child1->parent = &v;
    v.child2->parent = &v;
    v.length = unit(rng) < 0.05 ? 0.0 : 0.01 + 0.49 * unit(rng);
    open.push_back(k);
  }
  root = &tree[nnodes - 1];
  root->length = 0.0;
  build_postorder();
}

// Rates of a reversible model (q_ij = s_ij·pi_j, s symmetric), whose
// eigenvalues are real, so that every evaluation runs the whole walk.
std::vector<double> reversible_rates(int n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0.1, 1.0);
  std::vector<double> pi(n);
  std::vector<std::vector<double>> s(n, std::vector<double>(n));
  for (int i = 0; i < n; i++) pi[i] = unit(rng);
  for (int i = 0; i < n; i++)
    for (int j = i + 1; j < n; j++) s[i][j] = s[j][i] = 2.0 * unit(rng);
  std::vector<double> x;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      if (j != i) x.push_back(s[i][j] * pi[j]);
  x.push_back(1.0);  // scale
  return x;
}

void BM_Calc_Like12(benchmark::State& state) {
  const int tips = static_cast<int>(state.range(0));
  const int n = static_cast<int>(state.range(1));
  use_states(n);
  std::mt19937_64 rng(1000003u * static_cast<unsigned>(tips) + static_cast<unsigned>(n));
  build_random_tree(tips, n, rng);
  const std::vector<double> x = reversible_rates(n, rng);
  double value = 0.0;
  for (auto _ : state) {
    value = Calc_Like12(x.data());
    benchmark::DoNotOptimize(value);
  }
  // A refused evaluation stops its walk early, so its time is not that of a
  // whole evaluation.
  state.counters["refused"] = value == PENALTY ? 1 : 0;
  state.counters["-lnL"] = value;
  state.SetItemsProcessed(state.iterations() * tips);  // tips per second
  reset_tree();
}
BENCHMARK(BM_Calc_Like12)
    ->ArgNames({"tips", "states"})
    ->ArgsProduct({{1000, 10000, 100000}, {2, 6}})
    ->Unit(benchmark::kMillisecond);

void BM_PreCalc(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  use_states(n);
  std::mt19937_64 rng(17u + static_cast<unsigned>(n));
  const std::vector<double> x = reversible_rates(n, rng);
  StateMatrix Q{};
  build_rate_matrix(x.data(), Q);
  for (auto _ : state) {
    benchmark::DoNotOptimize(PreCalc(Q));
    Calc_End();
  }
}
BENCHMARK(BM_PreCalc)->ArgName("states")->DenseRange(2, MAX_STATES);

void BM_Calc_P(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  use_states(n);
  std::mt19937_64 rng(29u + static_cast<unsigned>(n));
  const std::vector<double> x = reversible_rates(n, rng);
  StateMatrix Q{}, P{};
  build_rate_matrix(x.data(), Q);
  if (PreCalc(Q) != 0) {
    state.SkipWithError("decomposition refused");
    Calc_End();
    return;
  }
  double t = 0.1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Calc_P(P, t));
    benchmark::ClobberMemory();
    t += 1e-9;
  }
  Calc_End();
}
BENCHMARK(BM_Calc_P)->ArgName("states")->DenseRange(2, MAX_STATES);

}  // namespace
}  // namespace varnic

BENCHMARK_MAIN();
