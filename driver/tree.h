// The data file, the node records and the tree: ReadData reads the node
// lines in two passes, LinkTree links the records, ValidateTree checks them
// against the trait column in use, and UseTrait selects that column.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace varnic {

constexpr int NO_FOSSIL = 127;    // `fossil` of a node whose state is not fixed
constexpr int MAX_NAME = 39;      // longest node or ancestor name
constexpr int DATA_LINE_MAX = 2558;  // longest data-file line, line end included

struct Node {
  Node* child1 = nullptr;  // null for a terminal node
  Node* child2 = nullptr;
  Node* parent = nullptr;  // null for the root
  std::string name;
  std::string ancestor;    // empty for the root record
  int fossil = NO_FOSSIL;  // fixed state, or NO_FOSSIL
  int state = -1;          // value in the trait column in use; < 0: no data
  double length = 0.0;     // branch length to the ancestor, as written
  // Per-state log conditional likelihoods; 1.0 marks an impossible state.
  // Every record starts with all states impossible, so that a report after a
  // rejected first evaluation is well defined.
  std::array<double, 10> L{1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
};

// Row k holds record k's values for trait columns 0..ntraits-1.
using TraitTable = std::vector<std::vector<int>>;

extern std::vector<Node> tree;  // node lines in file order, then the root record
extern int nnodes;
extern Node* root;

// Internal nodes in the order the pruning walk evaluates them: children
// before their ancestor, the child1 subtree before the child2 subtree, the
// root last. Built by LinkTree once the tree is sound.
extern std::vector<Node*> postorder;

inline int node_index(const Node* n) { return static_cast<int>(n - tree.data()); }

// Reads one name from text into dest (when given); returns the position after
// the name and the separators that follow it, or null when there is no name.
const char* GetName(const char* text, std::string* dest);

// Reads up to max plain decimal numbers from text starting at *position;
// returns how many. *first_skipped receives the first non-blank character
// skipped on the way, or '9'. Ends the run (status 1) on scientific notation.
int GetNum(const char* text, double* values, int* position, int max, char* first_skipped);

// Reads the node lines from the file's current position; fills tree and
// nnodes and the trait table; returns the number of lines with a full set of
// values, or 0 when the file has errors (all reported).
int ReadData(std::FILE* file, int ntraits, TraitTable& traits);

int LinkTree();
int ValidateTree();

// Fills postorder from root's links, without recursion; returns the number
// of records the walk reached (terminal nodes included).
int build_postorder();
int UseTrait(int column, const TraitTable& traits);

// Empties the tree (for the unit tests).
void reset_tree();

}  // namespace varnic
