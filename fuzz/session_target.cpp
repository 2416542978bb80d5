// The interactive session's command loop on a fixed two-leaf tree. An input
// is one byte for the number of states followed by what the user types.
//
// An analysis is the one slow command, so the search runs no minimiser
// (number 0), an input gets at most a few `test` commands and one `testall`
// (the rest are dropped before the session sees them), and `testall` writes
// its file into a scratch folder of the harness instead of wherever the
// input says.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/control.h"
#include "driver/settings.h"
#include "driver/tree.h"
#include "fuzz/harness.h"
#include "optimise/random.h"
#include "session/params.h"
#include "session/session.h"

namespace {

constexpr int MAX_TESTS = 2;
constexpr int MAX_TESTALLS = 1;
const char* const TREE = "2 1\nA root 0.5 0\nB root 1.0 1\n";

enum { TEST = 2, TESTALL = 8 };

std::string probabilities_path;

void make_scratch() {
  if (!probabilities_path.empty()) return;
  char dir[] = "/tmp/varnic-fuzz-XXXXXX";
  if (!mkdtemp(dir)) fuzz::fail("mkdtemp failed");
  probabilities_path = std::string(dir) + "/p";
  static std::string scratch = dir;
  std::atexit([] {
    unlink(probabilities_path.c_str());
    rmdir(scratch.c_str());
  });
}

// The typed lines as the session will see them, with the slow commands
// bounded and testall's file name replaced.
std::string bounded_commands(const char* text, std::size_t size) {
  std::string out, line, probe, word;
  int tests = 0, testalls = 0;
  std::size_t at = 0;
  while (at < size) {
    std::size_t end = at;
    while (end < size && text[end] != '\n') end++;
    if (end < size) end++;
    line.assign(text + at, end - at);
    at = end;
    probe = line;
    int command, p1, p2;
    double value;
    varnic::Parse(probe, varnic::icommands, command, p1, p2, value, word);
    if (command == TEST && ++tests > MAX_TESTS) continue;
    if (command == TESTALL && !word.empty() && word.size() <= varnic::WORD_MAX) {
      if (++testalls > MAX_TESTALLS) continue;
      line = "testall " + probabilities_path + "\n";
    }
    out += line;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setup();
  make_scratch();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  fuzz::setup();
  make_scratch();
  using namespace varnic;
  fuzz::fresh_model(fuzz::states_from(data[0]));
  number = 0;
  init_ran_with_seed(1);
  TraitTable traits;
  try {
    fuzz::read_data_text(TREE, traits);
  } catch (const fuzz::RunEnded&) {
    fuzz::fail("the fixed tree was refused");
  }
  UseTrait(0, traits);

  std::string typed = bounded_commands(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::FILE* input = typed.empty() ? std::fopen("/dev/null", "r")
                                   : fmemopen(&typed[0], typed.size(), "r");
  if (!input) fuzz::fail("cannot open the typed text");
  std::FILE* const terminal = stdin;
  stdin = input;
  try {
    IntSession(fuzz::null_stream(), traits);
  } catch (const fuzz::RunEnded& end) {
    // Only an overlong line ends the session from inside.
    fuzz::expect_status(end.status, {1});
  }
  stdin = terminal;
  std::fclose(input);

  fuzz::check_param_table();
  if (!fuzz::program_errors().empty()) fuzz::fail("a message on standard error");
  if (fuzz::impossible_state_reported()) fuzz::fail("a guard against an impossible state spoke");
  if (scaling != 0 && scaling != 1) fuzz::fail("scaling out of range");
  for (const Node& n : tree)
    if (n.fossil != NO_FOSSIL && (n.fossil < 0 || n.fossil >= num_states)) fuzz::fail("a fossil out of range");
  return 0;
}
