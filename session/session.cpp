#include "session/session.h"

#include <climits>
#include <cstdio>
#include <string>

#include "driver/control.h"
#include "driver/fatal.h"
#include "driver/lineio.h"
#include "driver/settings.h"
#include "model/likelihood.h"
#include "model/report.h"
#include "session/params.h"
#include "session/testall.h"

namespace varnic {

const char* const icommands[] = {"quit",     "help",    "test",   "status",  "restrict",
                                 "clear",    "scaling", "fossil", "testall", nullptr};

namespace {

enum Command { QUIT, HELP, TEST, STATUS, RESTRICT, CLEAR, SCALING, FOSSIL, TESTALL };

constexpr std::size_t SESSION_PIECE = 255;
constexpr std::size_t SESSION_LINE_MAX = 254;

// One parsed command line.
struct Request {
  int command, param1, param2;
  double value;
  std::string word;
};

// The value truncated toward zero, -1 when none was given.
int whole_value(double value) {
  if (value < 0) return -1;
  if (!(value < static_cast<double>(INT_MAX))) return INT_MAX;
  return static_cast<int>(value);
}

// Asks for confirmation; end of input counts as yes.
bool confirm_quit() {
  std::printf("\n*** Are you sure you want to quit ?\n");
  std::fflush(stdout);
  std::string answer;
  if (!read_piece(stdin, answer, SESSION_PIECE)) return true;
  return answer[0] == 'Y' || answer[0] == 'y';
}

void help() {
  std::printf("\nquit    : terminates interactive session\n");
  std::printf("help    : displays this message\n");
  std::printf("\nstatus  : print information on current restrictions\n");
  std::printf("scaling [0|1]        : set/unset branch length scaling\n");
  std::printf("clear [<parameter>]  : removes restrictions on parameters\n");
  std::printf("restrict <parameter> = <value | parameter>  : restrict a parameter\n");
  std::printf("\ntest    : calculate likelihood\n");
  std::printf("testall <filename>     : write state probabilities at each node to <filename>\n");
  std::printf("fossil [<state> <node>]: sets fossil at given node to given state\n");
}

void status() {
  Param_Status(stdout);
  std::printf("\nlikelihood : ");
  if (tested == 1) {
    std::printf("%12f\n", like);
    const int rates = num_states * num_states - num_states;
    for (int k = 0; k < rates + scaling; k++) std::printf("  %s = %12f\n", pname[k].c_str(), xdc[k]);
    std::printf("\nRoot probabilities");
    for (int i = 0; i < num_states; i++) std::printf("  [%i] %f", i, rootprobd[i]);
    std::printf("\n");
  } else {
    std::printf("unknown\n");
  }
  std::printf("\nBranch length scaling is %s\n", scaling ? "on" : "off");
}

void restrict_command(const Request& r) {
  if (r.param1 < 0 || (r.param2 < 0 && r.value < 0)) {
    std::printf("\n*** Error : 'restrict' requires two parameters");
    return;
  }
  if (Restrict(r.param1, r.param2, r.value, 0, 0, "<unknown>") == 0) {
    std::printf("\nOk\n");
    tested = 0;
  }
}

void clear_command(const Request& r) {
  if (!r.word.empty()) {
    std::printf("\n*** Error : That does not look correct\n");
    return;
  }
  if (r.param1 < 0) {
    ClearAll();
    std::printf("\nOk\n");
    return;
  }
  if (Clear(r.param1) == 0)
    std::printf("\nOk\n");
  else
    std::printf("\nThere were no restrictions to clear.\n");
}

void scaling_command(const Request& r) {
  const int v = whole_value(r.value);
  if (v != 0 && v != 1) {
    std::printf("\n*** Error :  Branch length scaling can be set to 0 (off) or 1 (on)\n");
    return;
  }
  if (v != scaling) {
    scaling = v;
    tested = 0;
  }
  std::printf("\nBranch length scaling is now %s\n", scaling ? "on" : "off");
}

void fossil_command(const Request& r) {
  const int v = whole_value(r.value);
  if ((v < 0 || v >= num_states) && v != NO_FOSSIL) {
    std::printf("\n*** Error : Can only set fossils in range 0 to %d or to 127 (off)\n", num_states - 1);
    return;
  }
  bool found = false;
  for (int k = 0; k < nnodes; k++) {
    if (tree[k].name != r.word) continue;
    Fossil(k, v);
    std::printf("\nnode %s fossil set to %d\n", tree[k].name.c_str(), tree[k].fossil);
    found = true;
  }
  if (!found) std::printf("\n*** Error : Node '%s' not found\n", r.word.c_str());
}

void testall_command(const Request& r, std::FILE* results, const TraitTable& traits) {
  if (num_states != 2) {
    std::printf("\n*** Error : 'testall' command only implemented for 2-state traits");
    return;
  }
  if (r.word.empty()) {
    std::printf("\n*** Error :  'testall' requires a filename parameter\n");
    return;
  }
  if (testall_can_run(traits, r.word)) Testall(results, traits, r.word);
}

// Carries out one command; returns true when the session is to end.
bool carry_out(const Request& r, std::FILE* results, const TraitTable& traits) {
  // The word slot holds as much as a control-file name; a longer word would
  // be cut into some other name or node, so the command is refused.
  if (r.word.size() > WORD_MAX) {
    std::printf("\n*** Error : '%.20s...' is too long (%zu characters at most)\n", r.word.c_str(), WORD_MAX);
    return false;
  }
  switch (r.command) {
    case QUIT:
      if (confirm_quit()) {
        std::printf("\nTerminating interactive session\n");
        return true;
      }
      return false;
    case HELP: help(); break;
    case TEST:
      Test(results);
      // Each finished analysis is in the file, whatever ends the session.
      std::fflush(results);
      break;
    case STATUS: status(); break;
    case RESTRICT: restrict_command(r); break;
    case CLEAR: clear_command(r); break;
    case SCALING: scaling_command(r); break;
    case FOSSIL: fossil_command(r); break;
    case TESTALL: testall_command(r, results, traits); break;
    default: std::printf("Error IC%d - Please report this error\n", r.command);
  }
  return false;
}

}  // namespace

void IntSession(std::FILE* results, const TraitTable& traits) {
  std::string line;
  for (;;) {
    std::printf("\n>> ");
    std::fflush(stdout);
    if (!read_piece(stdin, line, SESSION_PIECE)) {
      // End of input ends the session as a confirmed quit does.
      std::printf("\nTerminating interactive session\n");
      return;
    }
    if (line.size() > SESSION_LINE_MAX) {
      std::printf("input line too long\n");
      end_run(1);
    }
    if (line.back() == '\n') line.pop_back();
    Request r;
    switch (Parse(line, icommands, r.command, r.param1, r.param2, r.value, r.word)) {
      case 0: break;
      case 1:
      case 2: std::printf("\n*** Command not understood - ('Help' lists valid commands)\n"); break;
      default:
        if (carry_out(r, results, traits)) return;
    }
  }
}

}  // namespace varnic
