#include "driver/driver.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/control.h"
#include "driver/fatal.h"
#include "driver/lineio.h"
#include "driver/settings.h"
#include "driver/tree.h"
#include "model/report.h"
#include "optimise/random.h"
#include "session/params.h"
#include "session/session.h"

namespace varnic {

namespace {

constexpr std::size_t STATES_PIECE = 2559;
constexpr std::size_t NAME_PIECE = 255;
constexpr std::size_t NAME_LINE_MAX = 254;

[[noreturn]] void input_ended(const char* what) {
  std::fprintf(stderr, "varnic: standard input ended before the %s was given\n", what);
  end_run(1);
}

// Strips one final line feed.
void chomp(std::string& line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
}

// The number of states: the first line whose number truncates to nonzero.
int read_number_of_states() {
  std::string line;
  for (;;) {
    if (!read_piece(stdin, line, STATES_PIECE)) input_ended("number of states");
    chomp(line);
    const double v = std::strtod(line.c_str(), nullptr);
    if (v == 0.0 || std::isnan(v)) {
      if (std::isnan(v)) return INT_MAX;  // a number, but no state count
      continue;
    }
    // Beyond the int range is out of range, not a wrapped-around count.
    if (!(std::fabs(v) < 2147483648.0)) return INT_MAX;
    const int n = static_cast<int>(v);
    if (n != 0) return n;
  }
}

// A file name typed at the terminal. Blank lines are skipped without a new
// prompt; blanks inside the name stay part of it.
std::string read_name(const char* prompt, const char* what) {
  std::printf("%s", prompt);
  std::fflush(stdout);
  std::string line;
  for (;;) {
    if (!read_piece(stdin, line, NAME_PIECE)) input_ended(what);
    if (line.size() > NAME_LINE_MAX) {
      std::printf("input line too long\n");
      end_run(1);
    }
    chomp(line);
    if (!line.empty()) return line;
  }
}

void read_data_file(TraitTable& traits) {
  std::FILE* data = std::fopen(infile.c_str(), "r");
  if (!data) File_abt(infile, 0);
  int species = 0;
  if (std::fscanf(data, "%d %d", &species, &ntraits) != 2)
    abt("data file must begin with number of species and number of traits");
  if (ntraits < 1) abt("data file must specify at least one trait");
  ndata = ReadData(data, ntraits, traits);
  if (ndata == 0) end_run(1);
  if (ndata != species) abt("incorrect number of species in data file");
  if (std::fclose(data) != 0) abt("file error on data file");
}

// The results file accumulates every run, so it must never be one of the
// inputs: appending to the data or the control file would corrupt it.
std::FILE* open_results_file() {
  if (same_file(outfile, infile))
    abt("results file '" + outfile + "' is the data file; choose another name");
  if (same_file(outfile, ctlfile))
    abt("results file '" + outfile + "' is the control file; choose another name");
  std::FILE* results = std::fopen(outfile.c_str(), "a");
  if (!results) File_abt(outfile, 1);
  return results;
}

void write_header(std::FILE* results) {
  std::printf("datafile : %s\n\n", infile.c_str());
  std::fprintf(results, "%s\n", std::string(63, '-').c_str());
  std::fprintf(results, "datafile : %s\n\n", infile.c_str());
  Param_Status(results);
}

}  // namespace

int run(int argc, char** argv) {
  install_out_of_memory_handler();

  std::printf("* varnic : v0.8, 8 August 2003 *\n");
  std::printf("Enter number of states\n");
  std::fflush(stdout);
  set_num_states(read_number_of_states());
  build_pnames();
  init_param_table();

  ctlfile = argc > 1 ? std::string(argv[1]) : read_name("Enter name of control file\n", "control file name");
  ReadControl(ctlfile);

  if (!inflag) infile = read_name("Enter name of data file\n", "data file name");
  TraitTable traits;
  read_data_file(traits);
  if (LinkTree()) end_run(1);

  std::printf("File read in OK\n");
  std::printf("No. nodes = %d (%d terminal with data)\n", nnodes, ndata);
  std::printf("No. traits = %d (using trait 0 by default)\n", ntraits);
  UseTrait(0, traits);

  if (!outflag) outfile = read_name("Enter name of results file\n", "results file name");
  std::FILE* results = open_results_file();
  write_header(results);

  init_ran();
  if (interactive != 2) {
    Test(results);
    std::fflush(results);
  }
  if (interactive != 0) IntSession(results, traits);

  std::fclose(results);
  end_run(0);
}

}  // namespace varnic
