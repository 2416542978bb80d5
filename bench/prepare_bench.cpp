// Cost of converting a Newick tree and a trait table of 100,000 tips into
// varnic's data file (varnic-prepare's work without the file reads and
// writes), for a balanced tree and for a caterpillar, the deepest shape.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "companions/prepare/prepare.h"

namespace companion {
namespace {

std::string caterpillar(int tips) {
  std::string text(tips - 1, '(');
  text += "t0:1.5e-2";
  for (int i = 1; i < tips; i++) text += ",t" + std::to_string(i) + ":0." + std::to_string(1 + i % 9) + "):0.5";
  text.erase(text.size() - 4);
  return text + ";";
}

std::string balanced(int tips) {
  std::vector<std::string> level;
  for (int i = 0; i < tips; i++) level.push_back("t" + std::to_string(i) + ":0.1");
  while (level.size() > 1) {
    std::vector<std::string> up;
    for (std::size_t i = 0; i + 1 < level.size(); i += 2) up.push_back("(" + level[i] + "," + level[i + 1] + "):1e-1");
    if (level.size() % 2) up.push_back(level.back());
    level.swap(up);
  }
  std::string text = level[0];
  text.erase(text.rfind(':'));
  return text + ";";
}

std::string table(int tips) {
  std::string text = "tip,diet,habitat\n";
  for (int i = 0; i < tips; i++)
    text += "t" + std::to_string(i) + (i % 3 ? ",fruit," : ",leaves,") + std::to_string(i % 4) + "\n";
  return text;
}

void convert(benchmark::State& state, const std::string& tree) {
  const int tips = static_cast<int>(state.range(0));
  PrepareRequest request;
  request.tree_text = tree;
  request.tree_file = "tree.nwk";
  request.table_text = table(tips);
  request.table_file = "traits.csv";
  request.base = "out";
  for (auto _ : state) {
    PrepareResult result;
    std::vector<std::string> errors;
    if (!Prepare(request, result, errors)) state.SkipWithError("the conversion was refused");
    benchmark::DoNotOptimize(result.data.data());
  }
  state.SetItemsProcessed(state.iterations() * tips);
}

void BM_PrepareBalanced(benchmark::State& state) { convert(state, balanced(static_cast<int>(state.range(0)))); }
void BM_PrepareCaterpillar(benchmark::State& state) { convert(state, caterpillar(static_cast<int>(state.range(0)))); }

BENCHMARK(BM_PrepareBalanced)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareCaterpillar)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace companion
