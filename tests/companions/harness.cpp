#include "harness.h"

#include <sstream>

namespace companions_test {

std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  return lines;
}

}  // namespace companions_test
