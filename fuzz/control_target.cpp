// The control-file reader with its tokenizer. An input is one byte for the
// number of states followed by the text of a control file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/control.h"
#include "driver/settings.h"
#include "fuzz/harness.h"
#include "session/params.h"

namespace {

// The control file lives in memory; its name is the descriptor's path, so
// ReadControl opens it just as it opens a file on disk.
int control_fd = -1;
std::string control_path;

void write_control(const char* text, std::size_t size) {
  if (control_fd < 0) {
    control_fd = memfd_create("control", 0);
    if (control_fd < 0) fuzz::fail("memfd_create failed");
    control_path = "/proc/self/fd/" + std::to_string(control_fd);
  }
  if (ftruncate(control_fd, 0) != 0) fuzz::fail("ftruncate failed");
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(control_fd, text + done, size - done, static_cast<off_t>(done));
    if (n <= 0) fuzz::fail("pwrite failed");
    done += static_cast<std::size_t>(n);
  }
}

void check_file_name(int flag, const std::string& name) {
  if (!flag) return;
  if (name.empty() || name.size() > varnic::WORD_MAX)
    fuzz::fail("a usable file name that is empty or too long");
  for (char c : name)
    if (static_cast<unsigned char>(c) <= 32) fuzz::fail("a file name with a blank or control character");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  fuzz::setup();
  fuzz::fresh_model(fuzz::states_from(data[0]));
  write_control(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    varnic::ReadControl(control_path);
  } catch (const fuzz::RunEnded&) {
    fuzz::fail("the control file ended the run although it could be opened");
  }
  using namespace varnic;
  if (scaling != 0 && scaling != 1) fuzz::fail("scaling out of range");
  if (partial != 0 && partial != 1) fuzz::fail("partial out of range");
  if (interactive < 0 || interactive > 2) fuzz::fail("interactive out of range");
  if (number < 0 || caution < 0) fuzz::fail("a negative count");
  if (!(stepsize >= 0) || !(converge >= 0) || !(rate >= 0)) fuzz::fail("a negative or undefined setting");
  check_file_name(inflag, infile);
  check_file_name(outflag, outfile);
  for (int k = 0; k < num_params; k++)
    if (startflag[k] && !(startvec[k] >= 0)) fuzz::fail("a negative or undefined start value");
  fuzz::check_param_table();
  if (!fuzz::program_errors().empty()) fuzz::fail("a message on standard error");
  if (fuzz::impossible_state_reported()) fuzz::fail("a guard against an impossible state spoke");
  return 0;
}
