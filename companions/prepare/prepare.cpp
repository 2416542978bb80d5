#include "companions/prepare/prepare.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>

#include "companions/common/names.h"
#include "companions/prepare/decimal.h"
#include "companions/prepare/newick.h"
#include "companions/prepare/table.h"

namespace companion {

namespace {

// Lists longer than this are cut, so that a wholly wrong input gives a
// readable refusal rather than one line per tip.
constexpr std::size_t LIST_MAX = 20;
constexpr int MAX_STATES = 6;
constexpr std::size_t CONTROL_NAME_MAX = 51;
const char* const RESULTS_EXTENSION = ".results";

std::string quoted(const std::string& text) { return "'" + OneLine(text) + "'"; }

std::string plural(std::size_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Adds the lines of a list to errors, cut after LIST_MAX.
void add_capped(std::vector<std::string>& errors, const std::vector<std::string>& lines, const std::string& more) {
  for (std::size_t i = 0; i < lines.size() && i < LIST_MAX; i++) errors.push_back(lines[i]);
  if (lines.size() > LIST_MAX) errors.push_back("... and " + std::to_string(lines.size() - LIST_MAX) + " more " + more);
}

std::string joined(const std::vector<std::string>& items, std::size_t most) {
  std::string out;
  for (std::size_t i = 0; i < items.size() && i < most; i++) out += (i ? ", " : "") + items[i];
  if (items.size() > most) out += ", ...";
  return out;
}

// The working tree: the Newick nodes, re-linked as unary nodes go and
// polytomies are split, with each branch length as an exact decimal.
struct Work {
  std::vector<NewickNode> nodes;
  std::vector<Decimal> length;
  int root = -1;
};

std::vector<int> preorder(const Work& w) {
  std::vector<int> order;
  order.reserve(w.nodes.size());
  std::vector<int> stack{w.root};
  while (!stack.empty()) {
    const int n = stack.back();
    stack.pop_back();
    order.push_back(n);
    const auto& kids = w.nodes[n].children;
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
  }
  return order;
}

bool is_tip(const Work& w, int n) { return w.nodes[n].children.empty(); }

// First and last tip of every node's clade, for naming unlabelled nodes.
struct Clades {
  std::vector<int> first_tip, last_tip;
};

Clades clades_of(const Work& w, const std::vector<int>& order) {
  Clades c{std::vector<int>(w.nodes.size(), -1), std::vector<int>(w.nodes.size(), -1)};
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    const int n = *it;
    const auto& kids = w.nodes[n].children;
    c.first_tip[n] = kids.empty() ? n : c.first_tip[kids.front()];
    c.last_tip[n] = kids.empty() ? n : c.last_tip[kids.back()];
  }
  return c;
}

// How a node is named in messages: a tip by its label, an internal node by
// its label or by the first and last tip of its clade, each with its place
// in the tree file.
std::string describe(const Work& w, const std::string& text, const Clades& clades, int n) {
  const NewickNode& node = w.nodes[n];
  const std::string where = " (" + WhereInText(text, node.offset) + ")";
  if (node.children.empty()) return "tip " + quoted(node.label) + where;
  if (!node.label.empty()) return "internal node " + quoted(node.label) + where;
  if (static_cast<std::size_t>(n) >= clades.first_tip.size()) return "a node added to split a polytomy" + where;
  return "the internal node joining tips " + quoted(w.nodes[clades.first_tip[n]].label) + " to " +
         quoted(w.nodes[clades.last_tip[n]].label) + where;
}

// Tips: each with a name, each name once.
void check_tips(const Work& w, const std::vector<int>& order, const std::string& text,
                std::vector<std::string>& errors) {
  std::vector<std::string> nameless, twice;
  std::unordered_map<std::string, int> seen;
  seen.reserve(order.size());
  for (int n : order) {
    if (!is_tip(w, n)) continue;
    const NewickNode& node = w.nodes[n];
    if (node.label.empty()) {
      nameless.push_back("a tip without a name at " + WhereInText(text, node.offset));
      continue;
    }
    auto found = seen.emplace(node.label, n);
    if (!found.second)
      twice.push_back("tip " + quoted(node.label) + " appears twice in the tree (" +
                      WhereInText(text, w.nodes[found.first->second].offset) + " and " +
                      WhereInText(text, node.offset) + ")");
  }
  add_capped(errors, nameless, "tips without a name");
  add_capped(errors, twice, "tips that appear twice");
}

// Every branch needs a length of zero or more. The root has no branch, nor
// have the nodes below a root with one child, which become the root in turn.
void check_lengths(Work& w, const std::vector<int>& order, const std::string& text, const Clades& clades,
                   std::vector<std::string>& errors) {
  std::vector<std::string> missing, negative;
  w.length.assign(w.nodes.size(), Decimal());
  std::unordered_set<int> rootward{w.root};
  for (int n = w.root; w.nodes[n].children.size() == 1;) {
    n = w.nodes[n].children[0];
    rootward.insert(n);
  }
  for (int n : order) {
    if (rootward.count(n)) continue;
    const NewickNode& node = w.nodes[n];
    if (node.length.empty()) {
      missing.push_back("the branch above " + describe(w, text, clades, n) + " has no length");
      continue;
    }
    ParseDecimal(node.length, w.length[n]);  // checked by the reader
    if (w.length[n].negative)
      negative.push_back("the branch above " + describe(w, text, clades, n) + " has a negative length (" +
                         node.length + ")");
  }
  add_capped(errors, missing, "branches without a length");
  add_capped(errors, negative, "branches with a negative length");
}

// A node with one child is dropped, its branch added to the child's; a root
// with one child gives way to the child.
void drop_single_children(Work& w, const std::vector<int>& order, std::vector<std::string>& notes) {
  int dropped = 0;
  bool new_root = false;
  for (int n : order) {
    NewickNode& node = w.nodes[n];
    if (node.children.size() != 1) continue;
    const int child = node.children[0];
    dropped++;
    node.children.clear();
    if (n == w.root) {
      w.root = child;
      w.nodes[child].parent = -1;
      new_root = true;
      continue;
    }
    w.length[child] = AddDecimals(w.length[child], w.length[n]);
    w.nodes[child].parent = node.parent;
    for (int& sibling : w.nodes[node.parent].children)
      if (sibling == n) sibling = child;
  }
  if (dropped)
    notes.push_back("removed " + plural(static_cast<std::size_t>(dropped), "node", "nodes") +
                    " with a single child, adding each one's branch to its child's" +
                    (new_root ? " (the root had one child, which became the root)" : ""));
}

// A node with k > 2 children keeps its first child and hands the others to
// a new node on a zero-length branch, until every node has two.
void resolve_polytomies(Work& w, std::vector<std::string>& notes) {
  int resolved = 0, added = 0, root_children = 0;
  const std::size_t original = w.nodes.size();
  for (std::size_t start = 0; start < original; start++) {
    const int n = static_cast<int>(start);
    if (w.nodes[n].children.size() <= 2) continue;
    if (n == w.root) root_children = static_cast<int>(w.nodes[n].children.size());
    else resolved++;
    // The new nodes form a ladder down one side: n keeps the first child and
    // a new node, which keeps the second and another new node, and so on.
    // Each child is moved once, so a star of any size costs its size.
    const std::vector<int> kids = std::move(w.nodes[n].children);
    int holder = n;
    for (std::size_t i = 0; i + 2 < kids.size(); i++) {
      NewickNode extra;
      extra.parent = holder;
      extra.offset = w.nodes[n].offset;
      const int id = static_cast<int>(w.nodes.size());
      w.nodes.push_back(std::move(extra));
      w.length.push_back(Decimal());
      w.nodes[holder].children = {kids[i], id};
      w.nodes[kids[i]].parent = holder;
      holder = id;
      added++;
    }
    w.nodes[holder].children = {kids[kids.size() - 2], kids.back()};
    w.nodes[kids[kids.size() - 2]].parent = holder;
    w.nodes[kids.back()].parent = holder;
  }
  if (resolved)
    notes.push_back("resolved " + plural(static_cast<std::size_t>(resolved), "polytomy", "polytomies") +
                    " into binary splits with zero-length branches");
  if (root_children)
    notes.push_back("the root has " + std::to_string(root_children) +
                    " children (the tree may be unrooted); it was resolved the same way: its first child "
                    "stays below the root, the others join below new nodes on zero-length branches");
  if (added) notes.push_back("added " + plural(static_cast<std::size_t>(added), "node", "nodes") + " on zero-length branches");
}

// The tip names with blanks and underscores alike, for tables that write
// "Homo sapiens" where the tree has Homo_sapiens or the other way round.
std::string loose_key(const std::string& name) {
  std::string key(name);
  std::replace(key.begin(), key.end(), '_', ' ');
  return key;
}

std::string column_title(const Table& table, std::size_t c) {
  if (table.header[c].empty()) return "column " + std::to_string(c + 1) + " (no name)";
  return "column " + quoted(table.header[c]);
}

// Row of the table for every tip (index into table.rows).
void match_rows(const Work& w, const std::vector<int>& order, const Table& table, std::vector<int>& row_of,
                std::vector<std::string>& errors, std::vector<std::string>& notes) {
  row_of.assign(w.nodes.size(), -1);
  std::unordered_map<std::string, int> tip_by_name;
  tip_by_name.reserve(order.size());
  for (int n : order)
    if (is_tip(w, n)) tip_by_name.emplace(w.nodes[n].label, n);

  std::vector<std::string> nameless, twice;
  std::unordered_map<std::string, std::size_t> row_by_name;
  row_by_name.reserve(table.rows.size());
  std::vector<bool> row_used(table.rows.size(), false);
  for (std::size_t r = 0; r < table.rows.size(); r++) {
    const std::string& name = table.rows[r][0];
    const std::string line = std::to_string(table.lines[r]);
    if (name.empty()) {
      nameless.push_back("the row on line " + line + " of the table has no tip name in its first column");
      row_used[r] = true;
      continue;
    }
    auto found = row_by_name.emplace(name, r);
    if (!found.second) {
      twice.push_back("tip " + quoted(name) + " has two rows in the table (lines " +
                      std::to_string(table.lines[found.first->second]) + " and " + line + ")");
      row_used[r] = true;
      continue;
    }
    auto tip = tip_by_name.find(name);
    if (tip != tip_by_name.end()) {
      row_of[tip->second] = static_cast<int>(r);
      row_used[r] = true;
    }
  }
  add_capped(errors, nameless, "rows without a name");
  add_capped(errors, twice, "names with two rows");

  // Second chance for the rest, when blanks and underscores pair them one to one.
  std::unordered_map<std::string, int> loose_tips, loose_rows;
  for (int n : order)
    if (is_tip(w, n) && row_of[n] < 0) {
      auto k = loose_tips.emplace(loose_key(w.nodes[n].label), n);
      if (!k.second) k.first->second = -1;
    }
  for (std::size_t r = 0; r < table.rows.size(); r++)
    if (!row_used[r]) {
      auto k = loose_rows.emplace(loose_key(table.rows[r][0]), static_cast<int>(r));
      if (!k.second) k.first->second = -1;
    }
  int loose = 0;
  for (const auto& entry : loose_tips) {
    auto row = loose_rows.find(entry.first);
    if (entry.second < 0 || row == loose_rows.end() || row->second < 0) continue;
    row_of[entry.second] = row->second;
    row_used[static_cast<std::size_t>(row->second)] = true;
    loose++;
  }
  if (loose)
    notes.push_back("matched " + plural(static_cast<std::size_t>(loose), "tip", "tips") +
                    " to rows whose names differ only in blanks and underscores");

  std::vector<std::string> no_row, no_tip;
  for (int n : order)
    if (is_tip(w, n) && row_of[n] < 0 && !w.nodes[n].label.empty())
      no_row.push_back("tip " + quoted(w.nodes[n].label) + " of the tree has no row in the table");
  for (std::size_t r = 0; r < table.rows.size(); r++)
    if (!row_used[r])
      no_tip.push_back("row " + quoted(table.rows[r][0]) + " (line " + std::to_string(table.lines[r]) +
                       " of the table) names no tip of the tree");
  add_capped(errors, no_row, "tips without a row");
  add_capped(errors, no_tip, "rows without a tip");
}

bool is_integer(const std::string& s) {
  std::size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
  if (i >= s.size() || s.size() - i > 18) return false;
  for (; i < s.size(); i++)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

// A plain number, as support values are written.
bool is_number(const std::string& s) {
  Decimal d;
  return !s.empty() && ParseDecimal(s, d);
}

struct Trait {
  std::size_t column;
  std::string title;
  std::vector<std::string> labels;  // index = state
  std::unordered_map<std::string, int> state;
};

// State labels in sorted order: by value when every label is an integer
// (so 2 comes before 10), else by their bytes.
std::vector<std::string> sorted_labels(std::vector<std::string> labels) {
  bool integers = true;
  for (const auto& l : labels) integers = integers && is_integer(l);
  if (integers)
    std::sort(labels.begin(), labels.end(), [](const std::string& a, const std::string& b) {
      const long long x = std::strtoll(a.c_str(), nullptr, 10), y = std::strtoll(b.c_str(), nullptr, 10);
      return x != y ? x < y : a < b;
    });
  else
    std::sort(labels.begin(), labels.end());
  return labels;
}

void build_traits(const Work& w, const std::vector<int>& order, const Table& table, const std::vector<int>& row_of,
                  const std::vector<std::string>& wanted, std::vector<Trait>& traits,
                  std::vector<std::string>& errors, std::vector<std::string>& notes) {
  std::vector<std::size_t> columns;
  if (wanted.empty()) {
    for (std::size_t c = 1; c < table.header.size(); c++) columns.push_back(c);
  } else {
    std::vector<std::string> names;
    for (std::size_t c = 1; c < table.header.size(); c++) names.push_back(quoted(table.header[c]));
    for (const std::string& name : wanted) {
      std::size_t c = 1;
      while (c < table.header.size() && table.header[c] != name) c++;
      if (c == table.header.size())
        errors.push_back("the table has no trait column " + quoted(name) + " (its trait columns: " +
                         joined(names, 30) + ")");
      else
        columns.push_back(c);
    }
  }
  for (std::size_t c : columns) {
    Trait t;
    t.column = c;
    t.title = column_title(table, c);
    std::vector<std::string> seen, missing;
    std::unordered_set<std::string> distinct;
    for (int n : order) {
      if (!is_tip(w, n) || row_of[n] < 0) continue;
      const std::string& cell = table.rows[static_cast<std::size_t>(row_of[n])][c];
      if (IsMissing(cell)) missing.push_back(quoted(w.nodes[n].label));
      else if (distinct.insert(cell).second) seen.push_back(cell);
    }
    t.labels = sorted_labels(seen);
    std::vector<std::string> shown;
    for (const auto& l : t.labels) shown.push_back(quoted(l));
    if (t.labels.empty()) {
      errors.push_back(t.title + " has no values: every cell is empty, '?' or 'NA'");
      continue;
    }
    if (t.labels.size() == 1) {
      errors.push_back(t.title + " has one state only (" + shown[0] + "): a trait needs 2 to 6 states");
      continue;
    }
    if (t.labels.size() > static_cast<std::size_t>(MAX_STATES)) {
      errors.push_back(t.title + " has " + std::to_string(t.labels.size()) + " states (" + joined(shown, 8) +
                       "): varnic handles 2 to 6 (--columns can leave the column out)");
      continue;
    }
    for (std::size_t s = 0; s < t.labels.size(); s++) t.state[t.labels[s]] = static_cast<int>(s);
    // varnic checks the first column as it starts and the others only when
    // testall switches to them, so the advice differs.
    if (!missing.empty())
      notes.push_back(t.title + ": " + plural(missing.size(), "tip has", "tips have") + " no value (" +
                      joined(missing, 5) + "), written as missing; " +
                      (traits.empty() ? "varnic names such tips and stops while the first column has any (--columns "
                                        "can put a complete column first)"
                                      : "varnic names such tips, and testall will not run until they have values"));
    traits.push_back(std::move(t));
  }
}

// A name varnic accepts, made from any label: each character it refuses
// becomes '_' (one per UTF-8 character), then the name is cut to 39.
std::string valid_form(const std::string& label) {
  std::string out;
  for (char c : label) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (IsNameChar(c)) out += c;
    else if (u < 0x80 || u >= 0xC0) out += '_';  // continuation bytes add nothing
  }
  if (out.size() > NAME_MAX_CHARS) out.resize(NAME_MAX_CHARS);
  return out;
}

std::string unique_form(const std::string& base, const std::unordered_set<std::string>& taken) {
  if (!taken.count(base)) return base;
  for (int k = 2;; k++) {
    const std::string suffix = "_" + std::to_string(k);
    const std::string name = base.substr(0, NAME_MAX_CHARS - suffix.size()) + suffix;
    if (!taken.count(name)) return name;
  }
}

// The name of every node in the data file, and the renamed tips in tree order.
std::vector<std::string> name_nodes(const Work& w, const std::vector<int>& order,
                                    std::vector<std::pair<std::string, std::string>>& renamed,
                                    std::vector<std::string>& notes) {
  std::vector<std::string> name(w.nodes.size());
  std::unordered_set<std::string> taken;
  taken.reserve(order.size());
  for (int n : order)
    if (is_tip(w, n) && ValidName(w.nodes[n].label)) {
      name[n] = w.nodes[n].label;
      taken.insert(name[n]);
    }
  for (int n : order)
    if (is_tip(w, n) && name[n].empty()) {
      name[n] = unique_form(valid_form(w.nodes[n].label), taken);
      taken.insert(name[n]);
      renamed.emplace_back(w.nodes[n].label, name[n]);
    }
  int supports = 0, unusable = 0;
  for (int n : order) {
    if (is_tip(w, n)) continue;
    const std::string& label = w.nodes[n].label;
    if (label.empty()) continue;
    if (is_number(label)) supports++;
    else if (!ValidName(label) || taken.count(label)) unusable++;
    else {
      name[n] = label;
      taken.insert(label);
    }
  }
  int next = 1;
  for (int n : order) {
    if (is_tip(w, n) || !name[n].empty()) continue;
    while (taken.count("n" + std::to_string(next))) next++;
    name[n] = "n" + std::to_string(next++);
    taken.insert(name[n]);
  }
  if (supports)
    notes.push_back(plural(static_cast<std::size_t>(supports), "internal label is a number", "internal labels are numbers") +
                    " (support values?), not used as node names");
  if (unusable)
    notes.push_back(plural(static_cast<std::size_t>(unusable), "internal label was", "internal labels were") +
                    " not valid or not unique as a node name and replaced by n1, n2, ...");
  return name;
}

std::string comment_line(const std::string& text) {
  std::string line = "# " + OneLine(text);
  if (line.size() > 200) line = line.substr(0, 196) + " ...";
  return line + "\n";
}

}  // namespace

bool UsableBaseName(const std::string& base, std::string& why) {
  if (base.empty()) {
    why = "the output prefix has no file name";
    return false;
  }
  if ((base[0] >= '0' && base[0] <= '9') || base[0] == '.') {
    why = "the file name " + quoted(base) + " begins with a digit or '.', which varnic's control file refuses";
    return false;
  }
  for (char c : base)
    if (static_cast<unsigned char>(c) <= 32 || c == '=' || c == '#') {
      why = "the file name " + quoted(base) + " holds a blank, '=' or '#', which varnic's control file refuses";
      return false;
    }
  if (base.size() + std::string(RESULTS_EXTENSION).size() > CONTROL_NAME_MAX) {
    why = "the file name " + quoted(base) + " is too long: varnic's control file takes names of at most " +
          std::to_string(CONTROL_NAME_MAX) + " characters, so it may have at most " +
          std::to_string(CONTROL_NAME_MAX - std::string(RESULTS_EXTENSION).size());
    return false;
  }
  return true;
}

bool Prepare(const PrepareRequest& request, PrepareResult& result, std::vector<std::string>& errors) {
  result = PrepareResult();
  errors.clear();
  std::string why;
  if (!UsableBaseName(request.base, why)) {
    errors.push_back(why);
    return false;
  }

  NewickTree parsed;
  std::string problem;
  if (!ReadNewick(request.tree_text, parsed, problem)) {
    errors.push_back(request.tree_file + ": " + problem);
    return false;
  }
  Work w;
  w.nodes = std::move(parsed.nodes);
  w.root = parsed.root;
  // Nodes with one child do not count: "((A:1):1);" is one tip too.
  int lowest_root = w.root;
  while (w.nodes[lowest_root].children.size() == 1) lowest_root = w.nodes[lowest_root].children[0];
  if (is_tip(w, lowest_root)) {
    errors.push_back(request.tree_file + ": the tree has a single tip");
    return false;
  }

  std::vector<int> order = preorder(w);
  std::vector<std::string> tree_errors;
  check_tips(w, order, request.tree_text, tree_errors);
  const Clades clades = clades_of(w, order);
  check_lengths(w, order, request.tree_text, clades, tree_errors);
  for (const auto& e : tree_errors) errors.push_back(request.tree_file + ": " + e);

  Table table;
  if (!ReadTable(request.table_text, table, problem)) {
    errors.push_back(request.table_file + ": " + problem);
    return false;
  }
  if (!errors.empty()) return false;

  std::vector<std::string> notes;
  std::vector<int> row_of;
  std::vector<std::string> table_errors;
  std::vector<Trait> traits;
  // Columns are judged on the tips that have rows, so that one refusal
  // names the unmatched names and the unusable columns together.
  match_rows(w, order, table, row_of, table_errors, notes);
  build_traits(w, order, table, row_of, request.columns, traits, table_errors, notes);
  for (const auto& e : table_errors) errors.push_back(request.table_file + ": " + e);
  if (!errors.empty()) return false;

  drop_single_children(w, order, notes);
  resolve_polytomies(w, notes);
  order = preorder(w);

  std::vector<std::pair<std::string, std::string>> renamed;
  const std::vector<std::string> name = name_nodes(w, order, renamed, notes);

  // The data file: nodes in preorder, the root left to be defined by no line.
  int tips = 0;
  for (int n : order) tips += is_tip(w, n);
  std::string data = std::to_string(tips) + " " + std::to_string(traits.size()) + "\n";
  data += comment_line("written by varnic-prepare from " + request.tree_file + " and " + request.table_file);
  std::string columns_comment = "trait columns:";
  for (std::size_t t = 0; t < traits.size(); t++)
    columns_comment += (t ? ", " : " ") + std::to_string(t) + " " + OneLine(table.header[traits[t].column]);
  data += comment_line(columns_comment + " (states in " + request.base + ".states.tsv)");
  data += comment_line("name, ancestor, branch length, then for tips one state per trait (-1: missing)");
  std::vector<std::string> too_long;
  std::string line;
  for (int n : order) {
    if (n == w.root) continue;
    std::string length;
    if (!PlainDecimal(w.length[n], length)) {
      errors.push_back(request.tree_file + ": the branch above " + describe(w, request.tree_text, clades, n) +
                       " is too long to write (" +
                       w.nodes[n].length + ")");
      continue;
    }
    line = name[n] + "\t" + name[w.nodes[n].parent] + "\t" + length;
    if (is_tip(w, n)) {
      const auto& row = table.rows[static_cast<std::size_t>(row_of[n])];
      for (const Trait& t : traits) {
        const std::string& cell = row[t.column];
        line += "\t" + (IsMissing(cell) ? std::string("-1") : std::to_string(t.state.at(cell)));
      }
    }
    line += "\n";
    if (line.size() > DATA_LINE_MAX)
      too_long.push_back("the line of " + quoted(name[n]) + " in the data file would hold " +
                         std::to_string(line.size()) + " characters, more than the " +
                         std::to_string(DATA_LINE_MAX) + " varnic reads; choose fewer trait columns with --columns");
    data += line;
  }
  add_capped(errors, too_long, "lines too long");
  if (!errors.empty()) return false;

  int most = 0;
  for (const Trait& t : traits) most = std::max(most, static_cast<int>(t.labels.size()));

  std::string states = "column\ttrait\tstate\tlabel\n";
  for (std::size_t t = 0; t < traits.size(); t++)
    for (std::size_t s = 0; s < traits[t].labels.size(); s++)
      states += std::to_string(t) + "\t" + OneLine(table.header[traits[t].column]) + "\t" + std::to_string(s) + "\t" +
                OneLine(traits[t].labels[s]) + "\n";

  std::string names;
  if (!renamed.empty()) {
    names = "tree_name\tdata_name\n";
    for (const auto& r : renamed) names += OneLine(r.first) + "\t" + r.second + "\n";
    notes.push_back("renamed " + plural(renamed.size(), "tip", "tips") + " to names varnic accepts (listed in " +
                    request.base + ".names.tsv)");
  }

  std::string control;
  control += comment_line("varnic control file written by varnic-prepare from " + request.tree_file + " and " +
                          request.table_file);
  control += "# Answer " + std::to_string(most) + " at the number-of-states prompt";
  control += most == 2 ? ".\n" : " (the most states of any trait column; testall needs 2).\n";
  control += "# The analysis uses trait column 0 (" + OneLine(table.header[traits[0].column]) + ").\n";
  control += "datafile " + request.base + ".txt\n";
  control += "outfile  " + request.base + RESULTS_EXTENSION + "\n";
  control += "# After the analysis the session reads commands from standard input, such as\n";
  control += "# 'testall " + request.base + ".probs.tsv' (the state probabilities of every trait\n";
  control += "# column at every node) and 'quit'; the end of the input ends it too.\n";
  control += "interactive 1\n";

  result.data = std::move(data);
  result.control = std::move(control);
  result.states = std::move(states);
  result.names = std::move(names);
  result.notes = std::move(notes);
  result.tips = tips;
  result.internal = static_cast<int>(order.size()) - tips;
  result.traits = static_cast<int>(traits.size());
  result.most_states = most;
  return true;
}

}  // namespace companion
