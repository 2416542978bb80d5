// The program's start-up and run: the prompts, the input files, the results
// file header, then the analysis and the session as the control file asks.
#pragma once

namespace varnic {

// Runs the whole program; returns only after a normal run (status 0).
int run(int argc, char** argv);

}  // namespace varnic
