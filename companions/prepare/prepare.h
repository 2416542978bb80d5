// Conversion of a Newick tree and a trait table into varnic's data file and
// control file, with the state mapping of every trait and the mapping of
// renamed tips. Everything happens in memory, so the conversion can be
// tested and timed without files.
#pragma once

#include <string>
#include <vector>

namespace companion {

struct PrepareRequest {
  std::string tree_text;
  std::string tree_file;  // shown in messages and in the comments of the files written
  std::string table_text;
  std::string table_file;
  std::vector<std::string> columns;  // trait columns to write, by header name; empty: every one
  std::string base;                  // the outputs' file name without extension and folder
};

struct PrepareResult {
  std::string data;     // base.txt
  std::string control;  // base.ctl
  std::string states;   // base.states.tsv
  std::string names;    // base.names.tsv; empty when no tip was renamed
  std::vector<std::string> notes;  // what the user should know, one line each
  int tips = 0;
  int internal = 0;      // internal nodes written, the root included
  int traits = 0;
  int most_states = 0;   // the answer to varnic's number-of-states prompt
};

// False when the input is refused; errors then holds every problem found,
// one line each, naming the tip, row or column.
bool Prepare(const PrepareRequest& request, PrepareResult& result, std::vector<std::string>& errors);

// Whether base.txt, base.ctl and base.results can be named in a control
// file (varnic refuses names that begin with a digit or '.', hold blanks, '='
// or '#', or exceed 51 characters); why not otherwise.
bool UsableBaseName(const std::string& base, std::string& why);

}  // namespace companion
