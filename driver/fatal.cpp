#include "driver/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace varnic {

const char* MMsg = "tesmer: Malloc failed - Out of memory";
std::string mbuf;

namespace {
EndRunHook end_run_hook = nullptr;
}  // namespace

void set_end_run_hook(EndRunHook hook) { end_run_hook = hook; }

void end_run(int status) {
  if (end_run_hook) end_run_hook(status);
  // exit() flushes and closes every open stdio stream, the results file
  // included, so nothing written before a fatal error is lost.
  std::exit(status);
}

void abt(const char* msg) {
  std::fprintf(stderr, "%s\n", msg);
  end_run(100);
}

void File_abt(const std::string& name, int for_writing) {
  mbuf = "Couldn't open file " + name + " for " + (for_writing ? "writing" : "reading") + "\n";
  abt(mbuf.c_str());
}

void install_out_of_memory_handler() {
  std::set_new_handler([] { abt(MMsg); });
}

}  // namespace varnic
