#include "driver/tree.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "driver/fatal.h"
#include "driver/lineio.h"
#include "driver/settings.h"
#include "model/likelihood.h"
#include "session/params.h"

namespace varnic {

std::vector<Node> tree;
int nnodes = 0;
Node* root = nullptr;
std::vector<Node*> postorder;

namespace {

// The root record's name until LinkTree gives it the ancestor name that no
// line defines.
const char* const ROOT_PLACEHOLDER = "\x7f";

// Bytes 0..32 (blanks, control characters) separate names. Bytes of 128 and
// more are letters of UTF-8 names, so they belong to the name.
bool is_blank(char c) { return static_cast<unsigned char>(c) <= 32; }

bool is_number_char(char c) { return (c >= '0' && c <= '9') || c == '.' || c == '-'; }

void cut_at_first_of(std::string& line, const char* stops) {
  std::size_t at = line.find_first_of(stops);
  if (at != std::string::npos) line.erase(at);
}

// A trait value truncated toward zero. Values beyond the int range stay out
// of range (invalid above, missing below) instead of overflowing.
int trait_value(double v) {
  if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(v);
}

// First pass: checks every line and counts the node lines; reports every
// faulty line. Returns the number of node lines, or -1 when the file has
// errors; full_lines receives the number of lines with a full set of values.
int check_lines(std::FILE* file, int ntraits, std::vector<double>& values, int& full_lines) {
  std::string line, name, ancestor;
  int node_lines = 0;
  bool single_name_seen = false, errors = false;
  while (read_piece(file, line, DATA_LINE_MAX + 1)) {
    if (line.size() > static_cast<std::size_t>(DATA_LINE_MAX)) abt("line too long in data file");
    cut_at_first_of(line, "#\n");
    line.resize(std::strlen(line.c_str()));  // a NUL byte ends the line too
    if (line.size() <= 1) continue;
    const char* after_name = GetName(line.c_str(), &name);
    if (!after_name) continue;
    const char* rest = GetName(after_name, &ancestor);
    if (!rest) {
      if (single_name_seen) {
        std::printf("Error - More than one 'root' - %s\n", line.c_str());
        errors = true;
      }
      single_name_seen = true;
      continue;
    }
    if (name.size() > MAX_NAME || ancestor.size() > MAX_NAME) {
      std::printf("Error - Name too long (39 characters at most) - %s\n", line.c_str());
      errors = true;
      continue;
    }
    int position = 0;
    char first_skipped;
    bool sound = GetNum(rest, values.data(), &position, 1, &first_skipped) == 1;
    if (sound) {
      int count = GetNum(rest, values.data(), &position, ntraits, &first_skipped);
      sound = count == ntraits || count == 0;
      if (count == ntraits) full_lines++;
    }
    if (!sound) {
      std::printf("Syntax Error - %s\n", line.c_str());
      errors = true;
      continue;
    }
    node_lines++;
  }
  return errors ? -1 : node_lines;
}

// Second pass: stores the node lines into records 0 .. nnodes-2 and their
// values into the trait table. Returns the number of lines with full data.
int store_lines(std::FILE* file, int ntraits, std::vector<double>& values, TraitTable& traits) {
  std::string line;
  int k = 0, full = 0;
  const int node_lines = nnodes - 1;
  while (read_piece(file, line, DATA_LINE_MAX + 1)) {
    cut_at_first_of(line, "#\n\r");
    line.resize(std::strlen(line.c_str()));
    if (k < nnodes) tree[k].length = 0.0;
    if (line.size() <= 1) continue;
    // Only a line with two names is a node line: a line of blanks or a
    // single name after the last node line must not count as one more.
    const char* after_name = GetName(line.c_str(), nullptr);
    if (!after_name || !GetName(after_name, nullptr)) continue;
    // The file changed between the passes: more node lines than counted.
    if (k >= node_lines) abt("error on data file");
    Node& node = tree[k];
    after_name = GetName(line.c_str(), &node.name);
    const char* rest = GetName(after_name, &node.ancestor);
    int position = 0;
    char first_skipped;
    GetNum(rest, &node.length, &position, 1, &first_skipped);
    int count = GetNum(rest, values.data(), &position, ntraits, &first_skipped);
    if (count == ntraits && first_skipped == ':') abt("colons not implemented for data file");
    if (count == ntraits) {
      for (int t = 0; t < ntraits; t++) traits[k][t] = trait_value(values[t]);
      full++;
    } else {
      traits[k].assign(ntraits, -1);
    }
    k++;
  }
  for (; k < nnodes; k++) {
    tree[k].name = ROOT_PLACEHOLDER;
    tree[k].ancestor.clear();
    tree[k].length = 0.0;
    traits[k].assign(ntraits, -1);
  }
  return full;
}

}  // namespace

const char* GetName(const char* text, std::string* dest) {
  const char* p = text;
  while (*p && is_blank(*p)) p++;
  if (!*p) return nullptr;
  const char* start;
  const char* end;
  if (*p == '"' || *p == '\'') {
    start = ++p;
    while (*p && *p != '"' && *p != '\'') p++;
    end = p;
  } else {
    start = p;
    while (*p && !is_blank(*p) && *p != ',') p++;
    end = p;
  }
  while (*p && (is_blank(*p) || *p == '"' || *p == '\'' || *p == ',')) p++;
  if (dest) dest->assign(start, end);
  return p;
}

int GetNum(const char* text, double* values, int* position, int max, char* first_skipped) {
  if (std::strpbrk(text, "eEdD")) {
    std::string shown(text, std::strspn(text, "0123456789eEdD-+"));
    std::printf("Error in number: %s\n", shown.c_str());
    std::printf("Scientific notation not allowed. Please rewrite using a plain decimal number.\n");
    end_run(1);
  }
  *first_skipped = '9';
  int count = 0;
  while (count < max && text[*position]) {
    while (text[*position] && !is_number_char(text[*position])) {
      if (text[*position] != ' ' && *first_skipped == '9') *first_skipped = text[*position];
      ++*position;
    }
    if (!text[*position]) break;
    // Only the run of digits, '.' and '-' is the number. atof on the rest of
    // the text would also read "-nan", "-inf" or "0x1p9" (the letters e and d
    // are refused above, these are not): no plain decimals, and a NaN has no
    // trait value to become.
    const int start = *position;
    while (is_number_char(text[*position])) ++*position;
    values[count] = std::atof(std::string(text + start, text + *position).c_str());
    count++;
  }
  return count;
}

int ReadData(std::FILE* file, int ntraits, TraitTable& traits) {
  fpos_t start;
  if (std::fgetpos(file, &start) != 0) abt("error on data file");
  // A line holds fewer numbers than characters, so no read fills more of
  // the scratch array than this.
  std::vector<double> values(std::min(ntraits, DATA_LINE_MAX));

  int full_lines = 0;
  int node_lines = check_lines(file, ntraits, values, full_lines);
  // Without a line of complete data the result is 0 whatever the second pass
  // stores, so the records and the trait table (nnodes rows of ntraits) are
  // not allocated: a trait count that no line can match costs no memory.
  if (node_lines < 0 || full_lines == 0) return 0;

  nnodes = node_lines + 1;
  tree.assign(nnodes, Node{});
  traits.assign(nnodes, std::vector<int>(ntraits, -1));
  root = nullptr;
  postorder.clear();

  if (std::fsetpos(file, &start) != 0) abt("error on data file");
  int full = store_lines(file, ntraits, values, traits);

  for (int k = 0; k < nnodes; k++) tree[k].state = traits[k][0];
  NoFossils();
  return full;
}

namespace {

// Records by name, each list in index order, so that "the first record in
// index order with this name" is a look-up rather than a scan.
using NameIndex = std::unordered_map<std::string, std::vector<int>>;

Node* find_record(const NameIndex& index, const std::string& name, int except) {
  auto it = index.find(name);
  if (it == index.end()) return nullptr;
  for (int m : it->second)
    if (m != except && tree[m].name == name) return &tree[m];
  return nullptr;
}

const char* root_name() { return root ? root->name.c_str() : ""; }

}  // namespace

int LinkTree() {
  root = nullptr;
  postorder.clear();
  for (Node& n : tree) n.child1 = n.child2 = n.parent = nullptr;
  bool problem = false;

  NameIndex index;
  index.reserve(tree.size() * 2);
  for (int k = 0; k < nnodes; k++) index[tree[k].name].push_back(k);
  Node& root_record = tree[nnodes - 1];

  for (int l = 0; l < nnodes; l++) {
    Node& node = tree[l];
    Node* m = find_record(index, node.ancestor, l);
    if (m) {
      node.parent = m;
      if (!m->child1) {
        m->child1 = &node;
      } else if (!m->child2) {
        m->child2 = &node;
      } else {
        std::printf("Error with node %s - Only binary trees allowed\n", node.name.c_str());
        problem = true;
      }
    } else if (root_record.name == ROOT_PLACEHOLDER) {
      root_record.name = node.ancestor;
      index[root_record.name].push_back(nnodes - 1);
      root_record.child1 = &node;
      node.parent = &root_record;
    } else if (!node.ancestor.empty()) {
      std::printf("Error - Node %s referenced by Node %s not found\n", node.ancestor.c_str(),
                  node.name.c_str());
      problem = true;
    } else if (!root) {
      root = &node;
    } else {
      std::printf("Error - Only one root allowed - Node %s and %s found\n", root_name(),
                  node.name.c_str());
      problem = true;
    }
  }

  if (ValidateTree()) problem = true;
  if (problem) return 1;

  // Every record has a parent but the root; records on a closed loop of
  // ancestors would still be out of the root's reach, and their data would
  // silently take no part in the analysis.
  if (build_postorder() != nnodes) {
    std::vector<char> reached(nnodes, 0);
    for (Node* n : postorder) {
      reached[node_index(n)] = 1;
      reached[node_index(n->child1)] = 1;
      reached[node_index(n->child2)] = 1;
    }
    for (int k = 0; k < nnodes; k++)
      if (!reached[k])
        std::printf("Error - Node %s is not connected to the root\n", tree[k].name.c_str());
    postorder.clear();
    return 1;
  }
  return 0;
}

int build_postorder() {
  postorder.clear();
  if (!root) return 0;
  int reached = 1;
  Node* node = root;
  for (;;) {
    while (node->child1) {
      node = node->child1;
      reached++;
    }
    while (node->parent && node == node->parent->child2) {
      node = node->parent;
      postorder.push_back(node);
    }
    if (!node->parent) break;
    node = node->parent->child2;
    reached++;
  }
  return reached;
}

int ValidateTree() {
  int problem = 0;
  for (Node& node : tree) {
    const char* name = node.name.c_str();
    if (!node.child2) {
      if (node.child1) {
        std::printf("Error - Node %s has only one descendant\n", name);
        problem = 1;
      } else if (node.state < 0) {
        std::printf("Error - Terminal Node %s has no data\n", name);
        problem = 1;
      } else if (node.state > num_states - 1) {
        std::printf("Error - Terminal Node %s has invalid data\n", name);
        problem = 1;
      }
    }
    if (node.child2 && node.state >= 0) {
      std::printf("Error - Sub-terminal Node %s has data\n", name);
      problem = 1;
    }
    if (!node.parent && &node != root) {
      std::printf("Error - Only one root allowed - Node %s and %s found\n", root_name(), name);
      problem = 1;
    }
  }
  return problem;
}

int UseTrait(int column, const TraitTable& traits) {
  for (int k = 0; k < nnodes; k++) tree[k].state = traits[k][column];
  int result = ValidateTree();
  tested = 0;
  return result;
}

void reset_tree() {
  tree.clear();
  nnodes = 0;
  root = nullptr;
  postorder.clear();
}

}  // namespace varnic
