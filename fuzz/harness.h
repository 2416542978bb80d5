// What the three fuzz targets share: ends of the run turned into an exception
// the target catches, a fresh process-wide state for every input, and checks
// of the invariants the readers promise to leave behind. Any broken promise
// aborts, which libFuzzer reports as a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "driver/tree.h"

namespace fuzz {

// Thrown by the end-of-run hook in place of ending the process.
struct RunEnded {
  int status;
};

// Reports a broken promise with the given text and aborts.
[[noreturn]] void fail(const char* what);

// Aborts unless status is one of the allowed ones.
void expect_status(int status, std::initializer_list<int> allowed);

// Installs the hook (once) and takes over the program's standard output
// and standard error: both are kept from the fuzzer's output unless the
// environment variable VARNIC_FUZZ_OUTPUT is set, which is handy when a
// reproducer is run by hand.
void setup();

// What the program wrote to standard error since fresh_model (and, with
// VARNIC_FUZZ_OUTPUT set, echoes it).
std::string program_errors();

// Whether the program printed, since fresh_model, a line of one of its
// guards against impossible internal states ("Error CC...", "Error IC...",
// "internal error...").
bool impossible_state_reported();

// The number of states an input asks for: its first byte, with '2' .. '6'
// (and every byte, modulo 5) giving 2 .. 6 states.
int states_from(std::uint8_t byte);

// Every module back to its state at process start (and nothing captured
// from standard error yet), then the model size, the
// parameter names and a table with every parameter free, as the driver sets
// them up before the control file.
void fresh_model(int states);

// A stream that swallows what is written to it.
std::FILE* null_stream();

// The parameter table is well formed: every label names a free variable or
// a fixed slot that exists, the free variables and the slots in use are
// numbered without gaps, and the restriction record can be written.
void check_param_table();

// After a successful LinkTree: a rooted binary tree whose every record is
// reached from the root, with data exactly at the terminal nodes.
void check_tree();

// Reads a data file from text the way the driver does (first line, ReadData,
// the species count, LinkTree); ends through end_run where the driver would.
void read_data_text(const std::string& text, varnic::TraitTable& traits);

}  // namespace fuzz
