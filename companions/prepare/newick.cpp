#include "companions/prepare/newick.h"

#include "companions/prepare/decimal.h"

namespace companion {

std::string WhereInText(const std::string& text, std::size_t offset) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < offset && i < text.size(); i++) {
    if (text[i] == '\n') {
      line++;
      column = 1;
    } else {
      column++;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool ends_label(char c) { return c == '(' || c == ')' || c == ',' || c == ':' || c == ';' || c == '['; }

struct Reader {
  const std::string& text;
  std::size_t pos = 0;
  std::string& error;

  bool fail(std::size_t at, const std::string& what) {
    error = what + " at " + WhereInText(text, at);
    return false;
  }

  bool at_end() const { return pos >= text.size(); }
  char peek() const { return text[pos]; }

  // Skips blanks and comments.
  bool skip_filler() {
    for (;;) {
      while (!at_end() && is_space(peek())) pos++;
      if (at_end() || peek() != '[') return true;
      const std::size_t open = pos;
      const std::size_t close = text.find(']', pos);
      if (close == std::string::npos) return fail(open, "a comment '[' is never closed");
      pos = close + 1;
    }
  }

  bool read_label(NewickNode& node) {
    if (!skip_filler()) return false;
    if (at_end()) return true;
    if (peek() == '\'' || peek() == '"') {
      const char quote = peek();
      const std::size_t open = pos++;
      for (;;) {
        if (at_end()) return fail(open, std::string("a quoted label (") + quote + ") is never closed");
        if (peek() == quote) {
          if (pos + 1 < text.size() && text[pos + 1] == quote) {
            node.label += quote;
            pos += 2;
            continue;
          }
          pos++;
          return true;
        }
        node.label += text[pos++];
      }
    }
    bool blank = false;
    while (!at_end() && !ends_label(peek())) {
      const char c = text[pos];
      if (is_space(c)) {
        blank = !node.label.empty();
        pos++;
        continue;
      }
      if (c == '\'' || c == '"') return fail(pos, "a quote inside an unquoted label");
      if (blank) node.label += ' ';
      blank = false;
      node.label += c;
      pos++;
    }
    return true;
  }

  bool read_length(NewickNode& node) {
    if (!skip_filler()) return false;
    if (at_end() || peek() != ':') return true;
    const std::size_t colon = pos++;
    if (!skip_filler()) return false;
    const std::size_t start = pos;
    while (!at_end() && !ends_label(peek()) && !is_space(peek())) pos++;
    node.length = text.substr(start, pos - start);
    if (node.length.empty()) return fail(colon, "':' without a branch length");
    Decimal value;
    if (!ParseDecimal(node.length, value)) return fail(start, "the branch length '" + node.length + "' is not a number");
    return true;
  }

  // Label and branch length that follow a tip's start or a closing ')'.
  bool read_label_and_length(NewickNode& node) { return read_label(node) && read_length(node); }
};

int add_node(NewickTree& tree, int parent, std::size_t offset) {
  NewickNode node;
  node.parent = parent;
  node.offset = offset;
  tree.nodes.push_back(std::move(node));
  const int id = static_cast<int>(tree.nodes.size()) - 1;
  if (parent >= 0) tree.nodes[parent].children.push_back(id);
  return id;
}

}  // namespace

bool ReadNewick(const std::string& text, NewickTree& tree, std::string& error) {
  tree = NewickTree();
  error.clear();
  Reader r{text, 0, error};
  if (!r.skip_filler()) return false;
  if (r.at_end()) {
    error = "the file holds no tree";
    return false;
  }
  // Every node but the root follows a '(' or a ','.
  std::size_t expected = 1;
  for (char c : text) expected += c == '(' || c == ',';
  tree.nodes.reserve(expected);
  int current = add_node(tree, -1, r.pos);
  tree.root = current;
  // Each turn starts a subtree at r.pos: a '(' opens a clade whose first
  // child is started at once; anything else is a tip.
  for (;;) {
    if (!r.skip_filler()) return false;
    if (!r.at_end() && r.peek() == '(') {
      tree.nodes[current].offset = r.pos;
      r.pos++;
      if (!r.skip_filler()) return false;
      current = add_node(tree, current, r.pos);
      continue;
    }
    tree.nodes[current].offset = r.pos;
    if (!r.read_label_and_length(tree.nodes[current])) return false;
    // After a node: another sibling, the end of the clade, or the end of the tree.
    for (;;) {
      if (!r.skip_filler()) return false;
      if (r.at_end()) {
        if (tree.nodes[current].parent >= 0) return r.fail(r.pos, "a '(' is never closed: the text ends");
        return r.fail(r.pos, "the tree does not end with ';': the text ends");
      }
      const char c = r.peek();
      if (c == ',') {
        const int parent = tree.nodes[current].parent;
        if (parent < 0) return r.fail(r.pos, "a ',' outside any parentheses");
        r.pos++;
        if (!r.skip_filler()) return false;
        current = add_node(tree, parent, r.pos);
        break;
      }
      if (c == ')') {
        const int parent = tree.nodes[current].parent;
        if (parent < 0) return r.fail(r.pos, "a ')' without its '('");
        r.pos++;
        current = parent;
        if (!r.read_label_and_length(tree.nodes[current])) return false;
        continue;
      }
      if (c == ';') {
        if (tree.nodes[current].parent >= 0) return r.fail(r.pos, "a '(' is never closed before ';'");
        r.pos++;
        if (!r.skip_filler()) return false;
        if (!r.at_end())
          return r.fail(r.pos, "a second tree (the file must hold only one) or text after ';'");
        return true;
      }
      if (c == '(') return r.fail(r.pos, "a '(' right after a label or branch length (a ',' missing?)");
      if (c == ':') return r.fail(r.pos, "a second branch length");
      return r.fail(r.pos, std::string("unexpected text '") + c + "' after a label");
    }
  }
}

}  // namespace companion
