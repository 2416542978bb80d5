// Runs the built program as a user would: in a scratch folder of its own,
// with arguments, typed answers on standard input and input files, and
// captures standard output, standard error, the exit status and the files.
#pragma once

#include <string>
#include <vector>

namespace cli {

struct Outcome {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// A scratch folder, removed with everything in it when the object goes.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;
  // Copies a file of the source tree (relative to its top) into the folder.
  void copy_from_source(const std::string& source_path, const std::string& name) const;

  // Runs the program in this folder.
  Outcome run(const std::vector<std::string>& args, const std::string& input) const {
    return run_program(VARNIC_BINARY, args, input);
  }
  // Runs another program (a path, or a name looked up in PATH) in this
  // folder; status 127 when it could not be started.
  Outcome run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input) const;

 private:
  std::string dir_;
};

// A run of the program that goes on while the test types into its standard
// input and reads its standard output, and that the test may end with a
// signal. Standard error goes to the file ".stderr" of the folder.
class LiveRun {
 public:
  LiveRun(const Scratch& scratch, const std::vector<std::string>& args);
  ~LiveRun();  // kills the program if it is still running
  LiveRun(const LiveRun&) = delete;
  LiveRun& operator=(const LiveRun&) = delete;

  // Writes text to the program's standard input.
  void type(const std::string& text);
  // Reads standard output until needle occurs at or after position from;
  // returns its position, or std::string::npos when the output ended first.
  std::size_t read_until(const std::string& needle, std::size_t from = 0);
  // Everything read from standard output so far.
  const std::string& out() const { return out_; }
  // Sends the signal and waits for the end; the status as in Outcome.
  int end_with(int signal_number);

 private:
  int pid_ = -1;
  int in_ = -1;   // the program's standard input, write end
  int out_fd_ = -1;  // the program's standard output, read end
  std::string out_;
};

// Text of a file of the source tree.
std::string source_file(const std::string& source_path);

// Number of times needle occurs in haystack.
int count_of(const std::string& haystack, const std::string& needle);

}  // namespace cli
