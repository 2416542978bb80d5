// Runs the built programs (varnic-prepare, varnic-plot, varnic and the SVG
// renderer) as a user would, through the end-to-end harness of the main
// program's tests.
#pragma once

#include <string>
#include <vector>

#include "../cli/harness.h"

namespace companions_test {

using cli::count_of;
using cli::Outcome;
using cli::source_file;

// A scratch folder with the companion programs at hand.
struct Scratch : cli::Scratch {
  // Runs a program (a path, or a name looked up in PATH) in this folder.
  Outcome run(const std::string& program, const std::vector<std::string>& args,
              const std::string& input = "") const {
    return run_program(program, args, input);
  }
  Outcome prepare(const std::vector<std::string>& args) const { return run(VARNIC_PREPARE_BINARY, args); }
  Outcome plot(const std::vector<std::string>& args) const { return run(VARNIC_PLOT_BINARY, args); }
  Outcome varnic(const std::vector<std::string>& args, const std::string& input) const {
    return run(VARNIC_BINARY, args, input);
  }
};

// The lines of a text that begin with a prefix.
std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix);

}  // namespace companions_test
