#include "harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cli {

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void remove_tree(const std::string& dir) {
  std::string command = "rm -rf '" + dir + "'";
  if (std::system(command.c_str()) != 0) std::perror("rm");
}

}  // namespace

Scratch::Scratch() {
  char pattern[] = "/tmp/varnic-cli-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
}

Scratch::~Scratch() { remove_tree(dir_); }

void Scratch::write(const std::string& name, const std::string& content) const {
  std::ofstream out(path(name), std::ios::binary);
  out << content;
}

std::string Scratch::read(const std::string& name) const { return slurp(path(name)); }

bool Scratch::exists(const std::string& name) const {
  struct stat st;
  return stat(path(name).c_str(), &st) == 0;
}

void Scratch::copy_from_source(const std::string& source_path, const std::string& name) const {
  write(name, source_file(source_path));
}

Outcome Scratch::run(const std::vector<std::string>& args, const std::string& input) const {
  const std::string in_path = path(".stdin"), out_path = path(".stdout"), err_path = path(".stderr");
  write(".stdin", input);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(127);
    int in = open(in_path.c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    std::string binary = VARNIC_BINARY;
    argv.push_back(&binary[0]);
    std::vector<std::string> copies(args);
    for (auto& a : copies) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    alarm(600);  // a run that hangs is killed rather than hanging the suite
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  Outcome result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = slurp(out_path);
  result.err = slurp(err_path);
  return result;
}

std::string source_file(const std::string& source_path) {
  return slurp(std::string(VARNIC_SOURCE_DIR) + "/" + source_path);
}

int count_of(const std::string& haystack, const std::string& needle) {
  int n = 0;
  for (std::size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size()))
    n++;
  return n;
}

}  // namespace cli
