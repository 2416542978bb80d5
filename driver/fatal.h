// The program's one convention for ending the run: abt for fatal errors
// (message on standard error, exit status 100), File_abt for files that
// cannot be opened, and end_run for every other end of the process.
#pragma once

#include <string>

namespace varnic {

// The out-of-memory message; every failed allocation ends with abt(MMsg).
extern const char* MMsg;
// Message buffer that File_abt formats into.
extern std::string mbuf;

// Ends the process with the given status. Every exit of the program goes
// through here, so that open output (the results file above all) is flushed
// whatever way the run ends.
[[noreturn]] void end_run(int status);

// A fuzzing harness replaces the end of the process by a hook (which throws
// something it catches), so that the paths that end the run stay testable
// in-process. The program never sets one; a hook that returns is followed by
// the normal end.
using EndRunHook = void (*)(int status);
void set_end_run_hook(EndRunHook hook);

// Writes msg and a line end to standard error and ends with status 100.
[[noreturn]] void abt(const char* msg);
[[noreturn]] inline void abt(const std::string& msg) { abt(msg.c_str()); }

// "Couldn't open file %s for %s\n" with "writing" or "reading", through abt.
[[noreturn]] void File_abt(const std::string& name, int for_writing);

// Makes every failed allocation end the run through abt(MMsg).
void install_out_of_memory_handler();

}  // namespace varnic
