#include "fuzz/harness.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/fatal.h"
#include "driver/settings.h"
#include "optimise/random.h"
#include "session/params.h"

namespace fuzz {

using namespace varnic;

namespace {

// Standard error as the fuzzer found it: the harness reports here, while
// the program's own stream is replaced by one that keeps what the program
// writes during one input.
std::FILE* report = stderr;
char errors_text[4096];
std::FILE* errors = nullptr;
bool verbose = false;

// The program's standard output goes through a filter that looks for the
// messages of its guards against impossible states, which no input may
// reach. They begin a line, or follow the session's prompt; the input's own
// line ends are cut off before it is echoed, and every answer after the
// prompt begins with a line end, so the input cannot fake one.
const char* const IMPOSSIBLE[] = {"\nError CC",    "\nError IC",    "\ninternal error",
                                  "\n>> Error CC", "\n>> Error IC", "\n>> internal error"};
std::string output_tail = "\n";  // the end of what was written, for texts cut in two
bool impossible_seen = false;

ssize_t filter_output(void*, const char* data, std::size_t size) {
  if (verbose && write(1, data, size) < 0) return -1;
  output_tail.append(data, size);
  for (const char* text : IMPOSSIBLE)
    if (output_tail.find(text) != std::string::npos) impossible_seen = true;
  if (output_tail.size() > 64) output_tail.erase(0, output_tail.size() - 64);
  return static_cast<ssize_t>(size);
}

}  // namespace

void fail(const char* what) {
  std::fflush(stdout);
  std::fprintf(report, "varnic fuzz: broken promise: %s\n", what);
  std::abort();
}

void expect_status(int status, std::initializer_list<int> allowed) {
  for (int s : allowed)
    if (s == status) return;
  std::fprintf(report, "varnic fuzz: the run ended with status %d\n", status);
  fail("unexpected exit status");
}

namespace {

[[noreturn]] void throw_run_ended(int status) {
  // What the program wrote before its end must be out, as exit() would make it.
  std::fflush(stdout);
  throw RunEnded{status};
}

}  // namespace

void setup() {
  static bool done = false;
  if (done) return;
  done = true;
  set_end_run_hook(throw_run_ended);
  verbose = std::getenv("VARNIC_FUZZ_OUTPUT") != nullptr;
  // The program's messages would drown the fuzzer's unless asked for.
  cookie_io_functions_t filter{};
  filter.write = filter_output;
  std::FILE* output = fopencookie(nullptr, "w", filter);
  if (!output) fail("cannot filter standard output");
  stdout = output;
  // libFuzzer and the sanitizers write to descriptor 2 or to the stream they
  // took at start, so replacing the program's stream leaves them alone.
  errors = fmemopen(errors_text, sizeof errors_text, "w");
  if (!errors) fail("cannot capture standard error");
  stderr = errors;
}

int states_from(std::uint8_t byte) { return 2 + byte % 5; }

std::string program_errors() {
  std::fflush(errors);
  const std::string text(errors_text, strnlen(errors_text, sizeof errors_text));
  if (verbose) std::fputs(text.c_str(), report);
  return text;
}

bool impossible_state_reported() {
  std::fflush(stdout);
  return impossible_seen;
}

void fresh_model(int states) {
  std::rewind(errors);
  std::memset(errors_text, 0, sizeof errors_text);
  std::fflush(stdout);
  output_tail = "\n";
  impossible_seen = false;
  reset_settings();
  reset_params();
  reset_tree();
  reset_random();
  set_num_states(states);
  build_pnames();
  init_param_table();
}

std::FILE* null_stream() {
  static std::FILE* stream = std::fopen("/dev/null", "w");
  if (!stream) fail("cannot open /dev/null");
  return stream;
}

void check_param_table() {
  const int P = num_params;
  if (nfix < 0 || nfix > P) fail("nfix out of range");
  std::vector<int> free_uses(P, 0), slot_uses(P, 0);
  for (int k = 0; k < P; k++) {
    const int r = remap[k];
    if (r >= 0) {
      if (r >= P) fail("a parameter on a free variable that does not exist");
      free_uses[r]++;
    } else {
      if (-r - 1 >= nfix) fail("a parameter on a fixed slot that is not in use");
      slot_uses[-r - 1]++;
    }
  }
  for (int s = 0; s < nfix; s++)
    if (!slot_uses[s]) fail("a fixed slot in use that no parameter refers to");
  bool gap = false;
  for (int v = 0; v < P; v++) {
    if (!free_uses[v]) gap = true;
    else if (gap) fail("the free variables are not numbered without gaps");
  }
  if (!fixed_val.empty()) {
    if (static_cast<int>(fixed_val.size()) != P + 1 || static_cast<int>(tie.size()) != P + 1)
      fail("restriction record of the wrong size");
    for (int k = 0; k <= P; k++) {
      if (tie[k] < -1 || tie[k] >= P) fail("a tie to a parameter that does not exist");
      if (fixed_val[k] != -1.0 && !(fixed_val[k] >= 0)) fail("a negative fixed value in the record");
    }
  }
  try {
    Param_Status(null_stream());
    WriteRestrictions(null_stream());
  } catch (const RunEnded&) {
    fail("writing the restrictions ended the run");
  }
}

void check_tree() {
  if (nnodes < 3 || static_cast<int>(tree.size()) != nnodes) fail("tree of the wrong size");
  if (!root || root->parent) fail("no root, or a root with a parent");
  int internal = 0;
  for (const Node& n : tree) {
    if (!n.child1 != !n.child2) fail("a node with one descendant");
    if (n.child1) {
      internal++;
      if (n.state >= 0) fail("an internal node with data");
      if (n.child1->parent != &n || n.child2->parent != &n) fail("descendants that do not point back");
    } else if (n.state < 0 || n.state >= num_states) {
      fail("a terminal node without valid data");
    }
    if (&n != root) {
      if (!n.parent) fail("a second node without a parent");
      if (n.parent->child1 != &n && n.parent->child2 != &n) fail("a parent that does not know its descendant");
    }
    if (n.name.size() > MAX_NAME || n.ancestor.size() > MAX_NAME) fail("a name longer than a record holds");
    // A run of digits, '.' and '-' can be too long for a double, never NaN.
    if (std::isnan(n.length)) fail("a branch length that is not a number");
  }
  if (static_cast<int>(postorder.size()) != internal) fail("the walk misses internal nodes");
  if (postorder.empty() || postorder.back() != root) fail("the walk does not end at the root");
  if (2 * internal + 1 != nnodes) fail("not a binary tree");
}

void read_data_text(const std::string& text, TraitTable& traits) {
  // fmemopen refuses an empty buffer on some systems; /dev/null is empty too.
  std::FILE* file = text.empty() ? std::fopen("/dev/null", "r")
                                 : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  if (!file) fail("cannot open the data text");
  try {
    int species = 0;
    if (std::fscanf(file, "%d %d", &species, &ntraits) != 2)
      abt("data file must begin with number of species and number of traits");
    if (ntraits < 1) abt("data file must specify at least one trait");
    ndata = ReadData(file, ntraits, traits);
    if (ndata == 0) end_run(1);
    if (ndata != species) abt("incorrect number of species in data file");
    std::fclose(file);
    file = nullptr;
    if (LinkTree()) end_run(1);
  } catch (...) {
    if (file) std::fclose(file);
    throw;
  }
}

}  // namespace fuzz
