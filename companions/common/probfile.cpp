#include "companions/common/probfile.h"

#include <cerrno>
#include <cstdlib>

namespace companion {

namespace {

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> cells;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = line.find('\t', start);
    cells.push_back(line.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return cells;
    start = at + 1;
  }
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool to_number(const std::string& cell, double& value) {
  if (cell.empty()) return false;
  char* end;
  errno = 0;
  value = std::strtod(cell.c_str(), &end);
  return *end == '\0';
}

}  // namespace

bool ReadProbFile(const std::string& text, ProbFile& probs, std::string& error) {
  probs = ProbFile();
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  if (lines.empty() || lines[0].compare(0, 6, "trait\t") != 0) {
    error = "line 1 is not the header of a state-probability file (it begins with 'trait' and a tab)";
    return false;
  }
  const std::vector<std::string> header = split_tabs(lines[0]);
  const std::size_t columns = header.size() - 1;
  if (columns % 2 != 0) {
    error = "line 1 has an odd number of node columns; every node has a _glob and a _loc column";
    return false;
  }
  const std::size_t nodes = columns / 2;
  for (std::size_t k = 0; k < nodes; k++) {
    const std::string& glob = header[1 + k];
    const std::string& loc = header[1 + nodes + k];
    if (!ends_with(glob, "_glob") || !ends_with(loc, "_loc") ||
        glob.substr(0, glob.size() - 5) != loc.substr(0, loc.size() - 4)) {
      error = "line 1: column " + std::to_string(k + 2) + " ('" + glob + "') and column " +
              std::to_string(k + 2 + nodes) + " ('" + loc + "') should be NAME_glob and NAME_loc of one node";
      return false;
    }
    probs.nodes.push_back(glob.substr(0, glob.size() - 5));
  }

  std::size_t i = 1;
  for (; i < lines.size() && !lines[i].empty(); i++) {
    const std::vector<std::string> cells = split_tabs(lines[i]);
    const std::string where = "line " + std::to_string(i + 1) + ": ";
    if (cells.size() != header.size()) {
      error = where + std::to_string(cells.size()) + " cells, but the header has " + std::to_string(header.size());
      return false;
    }
    ProbRow row;
    char* end;
    const long trait = std::strtol(cells[0].c_str(), &end, 10);
    if (cells[0].empty() || *end != '\0' || trait < 0) {
      error = where + "'" + cells[0] + "' is not a trait number";
      return false;
    }
    row.trait = static_cast<int>(trait);
    for (std::size_t c = 1; c < cells.size(); c++) {
      double v;
      if (!to_number(cells[c], v)) {
        error = where + "the value '" + cells[c] + "' of column '" + header[c] + "' is not a number";
        return false;
      }
      (c <= nodes ? row.global : row.local).push_back(v);
    }
    probs.rows.push_back(std::move(row));
  }
  if (probs.rows.empty()) {
    error = "the file has no trait rows";
    return false;
  }
  // The trailer: an empty line, the heading, then the restrictions.
  for (i++; i < lines.size() && lines[i] != "user_defined_restrictions"; i++) {
  }
  for (i++; i < lines.size(); i++) {
    if (lines[i].empty() || lines[i] == "none" || lines[i] == "param\tequals") continue;
    const std::vector<std::string> cells = split_tabs(lines[i]);
    if (cells.size() == 2) probs.restrictions.push_back(cells[0] + " = " + cells[1]);
  }
  return true;
}

}  // namespace companion
