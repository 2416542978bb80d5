// Process-wide run settings: the model size and parameter names fixed at
// start-up, the file names, and the settings of the search and the report
// that the control file may change.
#pragma once

#include <string>
#include <vector>

namespace varnic {

constexpr int MAX_STATES = 6;
constexpr int MAX_PARAMS = MAX_STATES * MAX_STATES - MAX_STATES + 1;  // 31

extern int num_states;  // 2..6 once set, -1 before
extern int num_params;  // num_states^2 - num_states + 1, -1 before

// Parameter names in parameter order: the rates q<i><j> (i outer, j inner,
// j != i), then "scale", then one empty name at index num_params. The end of
// the vector is the end marker that name look-ups scan up to.
extern std::vector<std::string> pname;

extern std::string infile;   // data file name
extern int inflag;           // nonzero when the control file gave a usable one
extern std::string outfile;  // results file name
extern std::string ctlfile;  // control file name, as given
extern int outflag;
extern int ntraits;  // trait columns in the data file
extern int ndata;    // node lines with a complete set of trait values

// Run settings (defaults as in reset_settings).
extern int scaling;        // 1: "scale" is an exponent on every branch length
extern double stepsize;    // the control file's "step"; read by nothing else
extern double converge;    // the search stops once its threshold falls below
extern double rate;        // factor on the search's threshold per stage
extern int number;         // most minimiser runs in one search
extern int caution;        // the minimiser's patience
extern int partial;        // 1: per-node partial log-likelihoods in reports
extern int interactive;    // 0 analysis only, 1 analysis then session, 2 session only

// Fixes num_states and num_params; refuses n outside 2..6 and a second call
// (message on standard output, exit status 1). Returns n.
int set_num_states(int n);

// Decimal digits of n in one static buffer, valid until the next call.
const char* itos(int n);

// Builds pname for the current num_states.
void build_pnames();

// Index of the parameter named name, or -1.
int param_index(const std::string& name);

// Back to the state at process start (for the unit tests).
void reset_settings();

}  // namespace varnic
