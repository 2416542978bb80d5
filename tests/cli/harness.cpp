#include "harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
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

Outcome Scratch::run_program(const std::string& program, const std::vector<std::string>& args,
                             const std::string& input) const {
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
    std::string binary = program;
    argv.push_back(&binary[0]);
    std::vector<std::string> copies(args);
    for (auto& a : copies) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    alarm(600);  // a run that hangs is killed rather than hanging the suite
    execvp(binary.c_str(), argv.data());
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

LiveRun::LiveRun(const Scratch& scratch, const std::vector<std::string>& args) {
  // A program that died must make type() fail, not end the test process.
  std::signal(SIGPIPE, SIG_IGN);
  int in_pipe[2], out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  const std::string err_path = scratch.path(".stderr");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (chdir(scratch.dir().c_str()) != 0) _exit(127);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err < 0) _exit(127);
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
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
  close(in_pipe[0]);
  close(out_pipe[1]);
  pid_ = pid;
  in_ = in_pipe[1];
  out_fd_ = out_pipe[0];
}

LiveRun::~LiveRun() {
  if (pid_ > 0) end_with(SIGKILL);
  if (in_ >= 0) close(in_);
  if (out_fd_ >= 0) close(out_fd_);
}

void LiveRun::type(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(in_, text.data() + done, text.size() - done);
    if (n <= 0) throw std::runtime_error("the program no longer reads its input");
    done += static_cast<std::size_t>(n);
  }
}

std::size_t LiveRun::read_until(const std::string& needle, std::size_t from) {
  for (;;) {
    std::size_t at = out_.find(needle, from);
    if (at != std::string::npos) return at;
    char buf[4096];
    ssize_t n = read(out_fd_, buf, sizeof buf);
    if (n <= 0) return std::string::npos;
    out_.append(buf, static_cast<std::size_t>(n));
  }
}

int LiveRun::end_with(int signal_number) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal_number);
  int wstatus = 0;
  waitpid(pid_, &wstatus, 0);
  pid_ = -1;
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
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
