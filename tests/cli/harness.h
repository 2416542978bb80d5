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
  Outcome run(const std::vector<std::string>& args, const std::string& input) const;

 private:
  std::string dir_;
};

// Text of a file of the source tree.
std::string source_file(const std::string& source_path);

// Number of times needle occurs in haystack.
int count_of(const std::string& haystack, const std::string& needle);

}  // namespace cli
