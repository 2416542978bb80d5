// Reading one rooted tree in Newick format.
//
// Labels may be quoted with apostrophes or double quotes (a doubled quote
// stands for itself); unquoted labels run to the next ( ) , : ; or [ and
// keep inner blanks as one blank. Text in square brackets is a comment.
// Branch lengths follow ':' in any decimal or scientific notation.
// The reader keeps its own stack instead of recursing, so the depth of the
// tree does not matter.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace companion {

struct NewickNode {
  std::string label;
  std::string length;  // as written; empty when the node has no branch length
  int parent = -1;
  std::vector<int> children;
  std::size_t offset = 0;  // where the node's own text begins, for messages
};

struct NewickTree {
  std::vector<NewickNode> nodes;  // in the order the text opens them: the root first
  int root = -1;
};

// False, with a message that says where, when the text is not one tree.
bool ReadNewick(const std::string& text, NewickTree& tree, std::string& error);

// "line L, column C" of an offset into the text.
std::string WhereInText(const std::string& text, std::size_t offset);

}  // namespace companion
