// Reading the state-probability file that varnic's 'testall' command
// writes: a header "trait", "NAME_glob" for every node, "NAME_loc" for every
// node; one row per trait (its number, the global values, the local values:
// the probability of state 0 at internal nodes, 1 or 0 at terminal nodes by
// their state); an empty line; then "user_defined_restrictions" and the
// restrictions in force ("param<TAB>equals" and one line each, or "none").
#pragma once

#include <string>
#include <vector>

namespace companion {

struct ProbRow {
  int trait = 0;
  std::vector<double> global;  // one per node, in the file's node order
  std::vector<double> local;
};

struct ProbFile {
  std::vector<std::string> nodes;  // node names, from the "_glob" columns
  std::vector<ProbRow> rows;
  std::vector<std::string> restrictions;  // "q10 = 0", ...; empty when none
};

// False, with a message naming the line, when the text is not such a file.
bool ReadProbFile(const std::string& text, ProbFile& probs, std::string& error);

}  // namespace companion
