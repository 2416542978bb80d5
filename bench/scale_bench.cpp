// The program on large trees: one likelihood evaluation against a bare
// pruning loop (the yardstick, timed in the same run), reading, linking and
// validating data files of 25,000 to 200,000 tips, peak resident memory,
// whole batch analyses with their count of likelihood evaluations, and
// testall on 200 tips.
//
// The ratios are measured by timing both sides alternately within one
// benchmark, so that the load of a shared machine falls on both alike, and
// every time reported is processor time.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_trees.h"
#include "driver/settings.h"
#include "driver/tree.h"
#include "model/likelihood.h"
#include "model/report.h"
#include "optimise/random.h"
#include "optimise/search.h"
#include "session/params.h"
#include "session/testall.h"

namespace varnic::bench {
namespace {

// Processor seconds of this process: on a machine shared with other work
// they measure the program, not the load.
double cpu_seconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Standard output goes to /dev/null while the program's reports would
// flood the benchmark's table.
class Silence {
 public:
  Silence() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  ~Silence() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

// --- one evaluation against the bare pruning loop ---

void BM_EvaluationVsBareLoop(benchmark::State& state) {
  const int tips = static_cast<int>(state.range(0));
  const int n = static_cast<int>(state.range(1));
  use_states(n);
  std::mt19937_64 rng(7919u * static_cast<unsigned>(tips) + static_cast<unsigned>(n));
  build_random_tree(tips, n, rng);
  const std::vector<double> x = reversible_rates(n, rng);
  FlatTree flat = flatten(n);
  double ours = 0.0, bare = 0.0, value = 0.0, yardstick = 0.0;
  long rounds = 0;
  for (auto _ : state) {
    double start = cpu_seconds();
    value = Calc_Like12(x.data());
    ours += cpu_seconds() - start;
    start = cpu_seconds();
    yardstick = bare_pruning_loop(x.data(), flat);
    bare += cpu_seconds() - start;
    benchmark::DoNotOptimize(value);
    benchmark::DoNotOptimize(yardstick);
    rounds++;
  }
  state.counters["ms_ours"] = 1e3 * ours / rounds;
  state.counters["ms_bare"] = 1e3 * bare / rounds;
  state.counters["ratio"] = ours / bare;
  state.counters["-lnL"] = value;
  // The two computations agree (relative difference), so the yardstick
  // does the same work.
  state.counters["rel_diff"] = std::fabs(value - yardstick) / yardstick;
  state.counters["refused"] = value == PENALTY;
  reset_tree();
}
BENCHMARK(BM_EvaluationVsBareLoop)
    ->ArgNames({"tips", "states"})
    ->ArgsProduct({{1000, 10000, 100000, 200000}, {2, 6}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

// --- reading, linking and validating a data file ---

std::string temporary_path(const std::string& what) {
  return "/tmp/varnic_bench_" + std::to_string(getpid()) + "_" + what;
}

// Reads, links and validates the data file as the program does at start-up;
// the number of states must be set. Returns false when the file is refused.
bool load_data_file(const std::string& path, TraitTable& traits) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  int species = 0;
  if (std::fscanf(f, "%d %d", &species, &ntraits) != 2) {
    std::fclose(f);
    return false;
  }
  ndata = ReadData(f, ntraits, traits);
  std::fclose(f);
  if (ndata != species || LinkTree() != 0) return false;
  return UseTrait(0, traits) == 0;
}

// A data file of the given number of tips, written once per size.
std::string data_file(int tips, int n) {
  const std::string path = temporary_path(std::to_string(tips) + "_" + std::to_string(n) + ".txt");
  if (access(path.c_str(), R_OK) != 0) {
    std::mt19937_64 rng(104729u * static_cast<unsigned>(tips) + static_cast<unsigned>(n));
    build_random_tree(tips, n, rng);
    write_data_file(path, rng);
    reset_tree();
  }
  return path;
}

void remove_data_files() {
  for (int tips : {25000, 50000, 100000, 200000})
    for (int n : {2, 6}) std::remove(temporary_path(std::to_string(tips) + "_" + std::to_string(n) + ".txt").c_str());
}

void BM_ReadLinkValidate(benchmark::State& state) {
  const int tips = static_cast<int>(state.range(0));
  use_states(2);
  const std::string path = data_file(tips, 2);
  TraitTable traits;
  bool sound = true;
  double seconds = 0.0;
  for (auto _ : state) {
    const double start = cpu_seconds();
    sound = load_data_file(path, traits) && sound;
    seconds += cpu_seconds() - start;
  }
  state.counters["refused"] = !sound;
  // Constant over the sizes when the work is linear in the nodes.
  state.counters["ns_per_node"] = 1e9 * seconds / (static_cast<double>(state.iterations()) * nnodes);
  reset_tree();
}
BENCHMARK(BM_ReadLinkValidate)
    ->ArgName("tips")
    ->Arg(25000)->Arg(50000)->Arg(100000)->Arg(200000)
    ->Unit(benchmark::kMillisecond);

// --- peak resident memory ---

// A field of /proc/self/status in kB, or -1.
long status_kb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(field);
  while (std::getline(status, line))
    if (line.compare(0, length, field) == 0) return std::strtol(line.c_str() + length + 1, nullptr, 10);
  return -1;
}

// Reads, links and validates the file and evaluates the likelihood once, in
// a fresh process of this binary (so that nothing the benchmarks before it
// allocated and freed is reused): BM_MemoryChild below. Returns the growth
// of that process's peak resident set over what it held before, in bytes,
// or -1.
double peak_growth(const std::string& path, int n) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return -1.0;
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    setenv("VARNIC_BENCH_MEMORY_DATA", path.c_str(), 1);
    setenv("VARNIC_BENCH_MEMORY_STATES", std::to_string(n).c_str(), 1);
    setenv("VARNIC_BENCH_MEMORY_FD", std::to_string(pipe_ends[1]).c_str(), 1);
    execl("/proc/self/exe", "varnic_bench", "--benchmark_filter=^MemoryChild", static_cast<char*>(nullptr));
    _exit(1);
  }
  close(pipe_ends[1]);
  double growth = -1.0;
  if (child < 0 || read(pipe_ends[0], &growth, sizeof growth) != sizeof growth) growth = -1.0;
  close(pipe_ends[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return growth;
}

void BM_MemoryChild(benchmark::State& state, std::string path, int n, int fd) {
  double growth = -1.0;
  for (auto _ : state) {
    // The peak so far is the start-up's; start it again from what is
    // resident now.
    std::FILE* clear = std::fopen("/proc/self/clear_refs", "w");
    const bool reset = clear && std::fputs("5", clear) >= 0 && std::fclose(clear) == 0;
    const long start = status_kb("VmRSS:");
    TraitTable traits;
    use_states(n);
    if (reset && load_data_file(path, traits)) {
      std::mt19937_64 rng(3);
      const std::vector<double> x = reversible_rates(n, rng);
      Calc_Like12(x.data());
      growth = 1024.0 * static_cast<double>(status_kb("VmHWM:") - start);
    }
  }
  if (write(fd, &growth, sizeof growth) != sizeof growth) state.SkipWithError("cannot report");
}

const bool memory_child = [] {
  const char* path = std::getenv("VARNIC_BENCH_MEMORY_DATA");
  const char* states = std::getenv("VARNIC_BENCH_MEMORY_STATES");
  const char* fd = std::getenv("VARNIC_BENCH_MEMORY_FD");
  if (!path || !states || !fd) return false;
  benchmark::RegisterBenchmark("MemoryChild", BM_MemoryChild, std::string(path), std::atoi(states), std::atoi(fd))
      ->Iterations(1);
  return true;
}();

void BM_PeakMemory(benchmark::State& state) {
  const int tips = static_cast<int>(state.range(0));
  const int n = static_cast<int>(state.range(1));
  const std::string path = data_file(tips, n);
  double growth = -1.0;
  for (auto _ : state) growth = peak_growth(path, n);
  const double nodes = 2.0 * tips - 1;
  state.counters["peak_MB"] = growth / 1e6;
  state.counters["bytes_per_node"] = growth / nodes;
  if (growth < 0) state.SkipWithError("the child could not measure its peak (needs /proc/self/clear_refs)");
}
BENCHMARK(BM_PeakMemory)
    ->ArgNames({"tips", "states"})
    ->ArgsProduct({{25000, 50000, 100000, 200000}, {2, 6}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// --- whole batch analyses ---

// A fresh model of n states with every rate free, the generator seeded.
void fresh_model(int n, unsigned seed) {
  use_states(n);
  build_pnames();
  reset_params();
  reset_random();
  init_ran_with_seed(seed);
}

// One analysis (the search and the report) with its output discarded.
// Returns its processor seconds; evaluations receives the count of
// likelihood evaluations.
double timed_analysis(long long& evaluations) {
  std::FILE* results = std::fopen("/dev/null", "w");
  const long long before = objective_evaluations;
  const double start = cpu_seconds();
  {
    Silence quiet;
    Test(results);
  }
  const double seconds = cpu_seconds() - start;
  evaluations = objective_evaluations - before;
  std::fclose(results);
  return seconds;
}

void report_fit(benchmark::State& state, double seconds, long long evaluations) {
  state.counters["cpu_seconds"] = seconds;
  state.counters["evaluations"] = static_cast<double>(evaluations);
  state.counters["ms_per_evaluation"] = 1e3 * seconds / static_cast<double>(evaluations);
  state.counters["-lnL"] = like;
  // A search that ended outside the model (a negative rate scores 10000,
  // less than the likelihood of a large tree) reports 10000.
  state.counters["outside"] = like == OUTSIDE;
}

// A character simulated on a random tree under a reversible model, fitted
// with every rate free, as a batch run does.
void BM_WholeFit(benchmark::State& state) {
  const int tips = static_cast<int>(state.range(0));
  const int n = static_cast<int>(state.range(1));
  fresh_model(n, 2003u);
  std::mt19937_64 rng(15485863u * static_cast<unsigned>(tips) + static_cast<unsigned>(n));
  build_random_tree(tips, n, rng);
  // Rates low enough that the character keeps some signal across the tree
  // (and the -lnL of 10,000 tips stays below 10000, see the README).
  const std::vector<double> truth = n == 2 ? reversible_rates(n, rng, 0.1, 0.6) : reversible_rates(n, rng, 0.05, 0.3);
  simulate_character(truth, rng);
  long long evaluations = 0;
  double seconds = 0.0;
  for (auto _ : state) seconds = timed_analysis(evaluations);
  report_fit(state, seconds, evaluations);
  reset_tree();
}
BENCHMARK(BM_WholeFit)
    ->ArgNames({"tips", "states"})
    ->ArgsProduct({{1000, 10000}, {2, 6}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// --- testall on 200 tips ---
//
// One analysis per trait, then per internal node and state a global one (a
// single evaluation) and a local one (a whole search): 1 + 4·199 analyses.
// Nearly all of its time is the searches' likelihood evaluations: the
// processor time per evaluation over the whole command is what one
// evaluation of the tree costs, or less (refused points cost less).

void BM_Testall(benchmark::State& state) {
  const int tips = static_cast<int>(state.range(0));
  fresh_model(2, 2003u);
  std::mt19937_64 rng(32452843u);
  build_random_tree(tips, 2, rng);
  simulate_character({0.5, 1.0, 1.0}, rng);
  ntraits = 1;
  TraitTable traits;
  for (const Node& v : tree) traits.push_back({v.state});
  const std::string path = temporary_path("testall.tsv");
  std::FILE* results = std::fopen("/dev/null", "w");
  const long long before = objective_evaluations;
  double seconds = 0.0;
  for (auto _ : state) {
    const double start = cpu_seconds();
    {
      Silence quiet;
      Testall(results, traits, path);
    }
    seconds = cpu_seconds() - start;
  }
  std::fclose(results);
  std::remove(path.c_str());
  const double evaluations = static_cast<double>(objective_evaluations - before);
  state.counters["cpu_seconds"] = seconds;
  state.counters["analyses"] = 1 + 4.0 * (tips - 1);
  state.counters["evaluations"] = evaluations;
  state.counters["us_per_evaluation"] = 1e6 * seconds / evaluations;
  reset_tree();
}
BENCHMARK(BM_Testall)->ArgName("tips")->Arg(200)->Iterations(1)->Unit(benchmark::kSecond);

// --- a given data file (bench/peers.sh) ---
//
// With VARNIC_BENCH_DATA naming a data file of one trait column and
// VARNIC_BENCH_STATES its number of states, two more benchmarks run on it:
// one whole batch analysis, seeded with VARNIC_BENCH_SEED (default 1), and
// one likelihood evaluation. The evaluation is timed at the rates of
// VARNIC_BENCH_RATES (in parameter order, separated by commas), or, when the
// model refuses them, at the analysis's estimates. A refusal there is no
// timing of an evaluation: the rates a peer found may lie where this
// program's decomposition refuses (rates of exactly 0 that make
// eigenvalues repeat), and the value with those zeros raised to 1e-9 is
// reported beside it.

std::vector<double> rates_from(const char* text, int n) {
  std::vector<double> x;
  for (const char* p = text; p && *p;) {
    char* end = nullptr;
    x.push_back(std::strtod(p, &end));
    if (end == p) break;
    p = *end == ',' ? end + 1 : end;
  }
  x.resize(n * n - n, 1.0);
  x.push_back(1.0);  // scale
  return x;
}

// The rates of the last DataFile/fit.
std::vector<double> fitted_rates;

void BM_DataFileFit(benchmark::State& state, std::string path, int n, unsigned seed) {
  fresh_model(n, seed);
  TraitTable traits;
  if (!load_data_file(path, traits)) {
    state.SkipWithError(("cannot use data file " + path).c_str());
    return;
  }
  long long evaluations = 0;
  double seconds = 0.0;
  for (auto _ : state) seconds = timed_analysis(evaluations);
  report_fit(state, seconds, evaluations);
  fitted_rates.assign(xdc.begin(), xdc.begin() + num_params);
  // The estimates, for a peer to evaluate its likelihood at.
  for (int k = 0; k + 1 < num_params; k++) {
    char name[16];
    std::snprintf(name, sizeof name, "rate_%02d", k);
    state.counters[name] = benchmark::Counter(xdc[k]);
  }
}

void BM_DataFileEvaluation(benchmark::State& state, std::string path, int n, std::string rates) {
  fresh_model(n, 1);
  TraitTable traits;
  if (!load_data_file(path, traits)) {
    state.SkipWithError(("cannot use data file " + path).c_str());
    return;
  }
  const std::vector<double> given = rates_from(rates.c_str(), n);
  std::vector<double> nudged = given;
  for (double& q : nudged)
    if (q == 0.0) q = 1e-9;
  const double at_given = Calc_Like12(given.data());
  const double at_nudged = Calc_Like12(nudged.data());
  const bool refused = at_given == PENALTY && !fitted_rates.empty();
  const std::vector<double>& x = refused ? fitted_rates : given;
  double value = 0.0;
  for (auto _ : state) {
    value = Calc_Like12(x.data());
    benchmark::DoNotOptimize(value);
  }
  state.counters["-lnL"] = value;
  state.counters["-lnL_at_given"] = at_given;
  state.counters["-lnL_at_given_nudged"] = at_nudged;
  state.counters["timed_at_estimates"] = refused;
  state.counters["tips"] = ndata;
}

const bool data_file_benchmarks = [] {
  const char* path = std::getenv("VARNIC_BENCH_DATA");
  const char* states = std::getenv("VARNIC_BENCH_STATES");
  if (!path || !states) return false;
  const int n = std::atoi(states);
  const char* rates = std::getenv("VARNIC_BENCH_RATES");
  const char* seed = std::getenv("VARNIC_BENCH_SEED");
  // The fit first: the evaluation may be timed at its estimates.
  benchmark::RegisterBenchmark("DataFile/fit", BM_DataFileFit, std::string(path), n,
                               static_cast<unsigned>(seed ? std::atoi(seed) : 1))
      ->Iterations(1)
      ->Unit(benchmark::kSecond);
  benchmark::RegisterBenchmark("DataFile/evaluation", BM_DataFileEvaluation, std::string(path), n,
                               std::string(rates ? rates : ""))
      ->Unit(benchmark::kMillisecond)
      ->MinTime(1.0);
  return true;
}();

// The data files written for the benchmarks go when the binary ends.
const struct Cleanup {
  ~Cleanup() { remove_data_files(); }
} cleanup;

}  // namespace
}  // namespace varnic::bench
