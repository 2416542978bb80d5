// Reading varnic's data file by varnic's own rules: the first line gives the
// numbers of species and traits, then one line per node (name, ancestor,
// branch length, and for terminal nodes one value per trait), '#' starts a
// comment, names may be quoted, numbers are plain decimals. The root is the
// one ancestor name that no line defines; it comes last, after the lines.
#pragma once

#include <string>
#include <vector>

namespace companion {

struct DataNode {
  std::string name;
  std::string ancestor;  // empty for the root
  double length = 0;
  std::vector<int> values;  // one per trait for terminal nodes (negative: missing); empty otherwise
  int line = 0;             // in the file; 0 for the root
  int parent = -1;
  int child1 = -1;
  int child2 = -1;
};

struct DataFile {
  int species = 0;
  int traits = 0;
  std::vector<DataNode> nodes;  // in file order, the root last, as varnic numbers them
  int root = -1;
};

// False, with a message naming the line or node, when varnic would refuse the file.
bool ReadDataFile(const std::string& text, DataFile& data, std::string& error);

// Nodes from the root down, first descendants first, without recursion.
std::vector<int> DataPreorder(const DataFile& data);

}  // namespace companion
