#include "companions/common/datafile.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "companions/common/names.h"

namespace companion {

namespace {

bool is_blank(char c) { return static_cast<unsigned char>(c) <= 32; }
bool is_number_char(char c) { return (c >= '0' && c <= '9') || c == '.' || c == '-'; }

// One name from text[pos]: quoted, or up to a blank or comma; then the
// separators after it. False when only separators are left.
bool take_name(const std::string& text, std::size_t& pos, std::string& name) {
  while (pos < text.size() && is_blank(text[pos])) pos++;
  if (pos >= text.size()) return false;
  std::size_t start, end;
  if (text[pos] == '"' || text[pos] == '\'') {
    start = ++pos;
    while (pos < text.size() && text[pos] != '"' && text[pos] != '\'') pos++;
  } else {
    start = pos;
    while (pos < text.size() && !is_blank(text[pos]) && text[pos] != ',') pos++;
  }
  end = pos;
  while (pos < text.size() && (is_blank(text[pos]) || text[pos] == '"' || text[pos] == '\'' || text[pos] == ','))
    pos++;
  name = text.substr(start, end - start);
  return true;
}

// Up to max numbers: runs of digits, '.' and '-', anything else skipped.
int take_numbers(const std::string& text, std::size_t& pos, int max, std::vector<double>& out) {
  int count = 0;
  while (count < max && pos < text.size()) {
    while (pos < text.size() && !is_number_char(text[pos])) pos++;
    if (pos >= text.size()) break;
    const std::size_t start = pos;
    while (pos < text.size() && is_number_char(text[pos])) pos++;
    out.push_back(std::atof(text.substr(start, pos - start).c_str()));
    count++;
  }
  return count;
}

// varnic keeps a trait value's lowest 8 bits as a signed number.
int stored_value(double v) {
  long long whole = v >= 9e18 ? LLONG_MAX : v <= -9e18 ? LLONG_MIN : static_cast<long long>(v);
  return static_cast<signed char>(static_cast<unsigned char>(whole & 0xFF));
}

std::string at_line(int line) { return "line " + std::to_string(line) + ": "; }

}  // namespace

bool ReadDataFile(const std::string& text, DataFile& data, std::string& error) {
  data = DataFile();
  std::size_t pos = 0;
  std::size_t line_end = text.find('\n');
  std::string first = text.substr(0, line_end);
  {
    const char* p = first.c_str();
    char* after;
    const long species = std::strtol(p, &after, 10);
    if (after == p) {
      error = "line 1 does not begin with the numbers of species and traits";
      return false;
    }
    p = after;
    const long traits = std::strtol(p, &after, 10);
    if (after == p || species < 1 || traits < 1 || traits > 100000) {
      error = "line 1 does not give the numbers of species and traits";
      return false;
    }
    data.species = static_cast<int>(species);
    data.traits = static_cast<int>(traits);
    // The rest of the first line is read as a node line.
    pos = static_cast<std::size_t>(after - first.c_str());
  }

  bool single_seen = false;
  int line_number = 1;
  std::string line = first.substr(pos);
  std::size_t next = line_end == std::string::npos ? text.size() : line_end + 1;
  int full = 0;
  for (;;) {
    const std::size_t cut = line.find_first_of("#\r");
    if (cut != std::string::npos) line.erase(cut);
    std::size_t at = 0;
    DataNode node;
    node.line = line_number;
    if (line.size() > 1 && take_name(line, at, node.name)) {
      if (!take_name(line, at, node.ancestor)) {
        if (single_seen) {
          error = at_line(line_number) + "a second line holding a single name";
          return false;
        }
        single_seen = true;
      } else {
        const std::string rest = line.substr(at);
        if (rest.find_first_of("eEdD") != std::string::npos) {
          error = at_line(line_number) + "a number in scientific notation (varnic reads plain decimals only)";
          return false;
        }
        if (node.name.size() > NAME_MAX_CHARS || node.ancestor.size() > NAME_MAX_CHARS) {
          error = at_line(line_number) + "a name longer than 39 characters";
          return false;
        }
        std::vector<double> numbers;
        std::size_t p = 0;
        if (take_numbers(rest, p, 1, numbers) != 1) {
          error = at_line(line_number) + "no branch length";
          return false;
        }
        node.length = numbers[0];
        numbers.clear();
        const int count = take_numbers(rest, p, data.traits, numbers);
        if (count != 0 && count != data.traits) {
          error = at_line(line_number) + "node '" + node.name + "' has " + std::to_string(count) +
                  " trait values, but the file has " + std::to_string(data.traits) + " traits";
          return false;
        }
        for (double v : numbers) node.values.push_back(stored_value(v));
        full += count != 0;
        data.nodes.push_back(std::move(node));
      }
    }
    if (next >= text.size()) break;
    line_end = text.find('\n', next);
    line = text.substr(next, line_end == std::string::npos ? std::string::npos : line_end - next);
    next = line_end == std::string::npos ? text.size() : line_end + 1;
    line_number++;
  }
  if (full != data.species) {
    error = "the first line announces " + std::to_string(data.species) + " species, but " + std::to_string(full) +
            " lines carry trait values";
    return false;
  }

  // Link every node to the first other node of its ancestor's name; the one
  // ancestor name that no line defines becomes the root, added last.
  const int lines = static_cast<int>(data.nodes.size());
  std::unordered_map<std::string, std::vector<int>> by_name;
  for (int k = 0; k < lines; k++) {
    auto& list = by_name[data.nodes[k].name];
    if (list.size() < 2) list.push_back(k);
  }
  DataNode root;
  int root_index = -1;
  for (int k = 0; k < lines; k++) {
    DataNode& node = data.nodes[k];
    int parent = -1;
    auto found = by_name.find(node.ancestor);
    if (found != by_name.end())
      for (int m : found->second)
        if (m != k) {
          parent = m;
          break;
        }
    if (parent < 0) {
      if (root_index < 0) {
        root_index = lines;
        root.name = node.ancestor;
        by_name[root.name].push_back(root_index);
        parent = root_index;
      } else {
        error = "node '" + node.name + "' (line " + std::to_string(node.line) + ") has the ancestor '" +
                node.ancestor + "', which no line defines (the root is '" + root.name + "')";
        return false;
      }
    }
    node.parent = parent;
  }
  if (root_index < 0) {
    error = "the tree has no root: every ancestor name is defined by a line";
    return false;
  }
  data.nodes.push_back(std::move(root));
  data.root = root_index;
  for (int k = 0; k < lines; k++) {
    DataNode& parent = data.nodes[data.nodes[k].parent];
    if (parent.child1 < 0) parent.child1 = k;
    else if (parent.child2 < 0) parent.child2 = k;
    else {
      error = "node '" + parent.name + "' has more than two descendants (varnic needs a binary tree)";
      return false;
    }
  }
  for (const DataNode& node : data.nodes) {
    if (node.child1 >= 0 && node.child2 < 0) {
      error = "node '" + node.name + "' has only one descendant";
      return false;
    }
    if (node.child1 < 0 && node.values.empty()) {
      error = "terminal node '" + node.name + "' has no trait values";
      return false;
    }
    if (node.child1 >= 0 && !node.values.empty()) {
      error = "node '" + node.name + "' has descendants and trait values";
      return false;
    }
  }
  // A cycle leaves nodes that the walk from the root never reaches.
  if (DataPreorder(data).size() != data.nodes.size()) {
    error = "some nodes are not below the root (their ancestors form a loop)";
    return false;
  }
  return true;
}

std::vector<int> DataPreorder(const DataFile& data) {
  std::vector<int> order;
  if (data.root < 0) return order;
  std::vector<int> stack{data.root};
  std::vector<bool> seen(data.nodes.size(), false);
  while (!stack.empty()) {
    const int n = stack.back();
    stack.pop_back();
    if (seen[n]) continue;
    seen[n] = true;
    order.push_back(n);
    if (data.nodes[n].child2 >= 0) stack.push_back(data.nodes[n].child2);
    if (data.nodes[n].child1 >= 0) stack.push_back(data.nodes[n].child1);
  }
  return order;
}

}  // namespace companion
