// The tree figure: a rectangular phylogram with branch lengths to scale,
// tips marked in the colour of their state, and a pie of the probabilities
// of states 0 and 1 at every internal node, written as SVG.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "companions/common/datafile.h"
#include "companions/common/probfile.h"

namespace companion {

struct FigureRequest {
  int trait = 0;        // trait column of the data file and trait row of the probabilities
  bool local = false;   // the local approach's probabilities instead of the global ones
  std::string colour0 = "#E69F00";
  std::string colour1 = "#0072B2";
  std::string trait_name;                  // shown in the title when known
  std::vector<std::string> state_labels;   // shown in the legend when known
  std::unordered_map<std::string, std::string> shown_names;  // data-file name -> name to print
};

// Trees with more tips than this are drawn without tip names.
constexpr int NAMED_TIPS_MAX = 500;

// False, with a message, when the probabilities do not belong to the data
// file or the trait row does not exist.
bool DrawFigure(const DataFile& data, const ProbFile& probs, const FigureRequest& request, std::string& svg,
                std::string& error);

// "#rgb", "#rrggbb" or a CSS colour name.
bool ValidColour(const std::string& colour);

// The trait name and state labels of one trait column from the states file
// that varnic-prepare writes (column, trait, state, label).
bool ReadStatesFile(const std::string& text, int trait, std::string& trait_name, std::vector<std::string>& labels,
                    std::string& error);

// The renamed tips from the names file that varnic-prepare writes
// (tree name, data-file name), as data-file name -> tree name.
bool ReadNamesFile(const std::string& text, std::unordered_map<std::string, std::string>& shown,
                   std::string& error);

}  // namespace companion
