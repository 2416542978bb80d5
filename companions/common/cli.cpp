#include "companions/common/cli.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace companion {

Options ParseOptions(int argc, char** argv, const std::vector<Option>& options, std::string& error) {
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i], value;
    if (arg == "--help" || arg == "-h") return Options::help;
    const std::size_t eq = arg.find('=');
    const bool inline_value = arg.compare(0, 2, "--") == 0 && eq != std::string::npos;
    if (inline_value) {
      value = arg.substr(eq + 1);
      arg.erase(eq);
    }
    const Option* option = nullptr;
    for (const Option& o : options)
      if (arg == o.name) option = &o;
    if (!option) {
      error = "unknown argument '" + arg + "' (--help explains the arguments)";
      return Options::refused;
    }
    if (!inline_value) {
      if (i + 1 >= argc) {
        error = arg + " needs a value (--help explains the arguments)";
        return Options::refused;
      }
      value = argv[++i];
    }
    *option->value = value;
    if (option->given) *option->given = true;
  }
  return Options::ok;
}

bool ReadFile(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return true;
}

bool WriteFile(const std::string& path, const std::string& text, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out << text;
  if (out) out.close();
  if (!out) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace companion
