// Reading varnic's data file for the figure.

#include <gtest/gtest.h>

#include "companions/common/datafile.h"

namespace companion {
namespace {

const char* const FIVE =
    "5 1\n"
    "# Five species, one two-state trait.\n"
    "A    n1   0.5   0\n"
    "B    n1   0.5   0\n"
    "C    n2   1.0   1\n"
    "n1   n2   0.3\n"
    "D    n3   0.8   1\n"
    "n2   root 0.4\n"
    "n3   root 0.6\n"
    "E    n3   0.7   0\n";

TEST(ReadDataFile, ReadsTheNodesInFileOrderWithTheRootLast) {
  DataFile file;
  std::string error;
  ASSERT_TRUE(ReadDataFile(FIVE, file, error)) << error;
  EXPECT_EQ(file.species, 5);
  EXPECT_EQ(file.traits, 1);
  std::vector<std::string> names;
  for (const DataNode& n : file.nodes) names.push_back(n.name);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "C", "n1", "D", "n2", "n3", "E", "root"}));
  EXPECT_EQ(file.root, 8);
  const DataNode& n1 = file.nodes[3];
  EXPECT_EQ(file.nodes[n1.child1].name, "A");
  EXPECT_EQ(file.nodes[n1.child2].name, "B");
  EXPECT_EQ(file.nodes[n1.parent].name, "n2");
  EXPECT_DOUBLE_EQ(n1.length, 0.3);
  EXPECT_EQ(file.nodes[2].values, std::vector<int>{1});
  EXPECT_TRUE(n1.values.empty());
  std::vector<std::string> preorder;
  for (int k : DataPreorder(file)) preorder.push_back(file.nodes[k].name);
  // C's line comes before n1's, so C is n2's first descendant, as in varnic.
  EXPECT_EQ(preorder, (std::vector<std::string>{"root", "n2", "C", "n1", "A", "B", "n3", "D", "E"}));
}

TEST(ReadDataFile, ReadsNamesAndValuesAsVarnicDoes) {
  DataFile file;
  std::string error;
  const char* text =
      "3 2\r\n"
      "'A one',x 1.5 0 1   # quoted name, comma\r\n"
      "\"B\" x 0.5 -1 255\r\n"
      "x top 2\r\n"
      "C top .25 256 1 7\r\n";
  ASSERT_TRUE(ReadDataFile(text, file, error)) << error;
  EXPECT_EQ(file.nodes[0].name, "A one");
  EXPECT_EQ(file.nodes[0].ancestor, "x");
  EXPECT_EQ(file.nodes[1].values, (std::vector<int>{-1, -1}));  // 255 keeps 8 bits: -1
  EXPECT_EQ(file.nodes[3].values, (std::vector<int>{0, 1}));    // 256 becomes 0, the 7 is past the traits
  EXPECT_DOUBLE_EQ(file.nodes[3].length, 0.25);
  EXPECT_EQ(file.nodes[file.root].name, "top");
}

struct ErrorCase {
  const char* text;
  const char* message;
};

TEST(ReadDataFile, RefusesWhatVarnicRefuses) {
  const ErrorCase cases[] = {
      {"", "line 1 does not begin with the numbers of species and traits"},
      {"2\nA r 1 0\nB r 1 1\n", "line 1 does not give the numbers of species and traits"},
      {"2 1\nA r 1e-3 0\nB r 1 1\n", "line 2: a number in scientific notation"},
      {"2 1\nA r 1 0 end\nB r 1 1\n", "line 2: a number in scientific notation"},
      {"2 2\nA r 1 0\nB r 1 1 0\n", "line 2: node 'A' has 1 trait values, but the file has 2 traits"},
      {"2 1\nA r\nB r 1 1\n", "line 2: no branch length"},
      {"2 1\nAA\nA r 1 0\nB r 1 1\nCC\n", "line 5: a second line holding a single name"},
      {"3 1\nA r 1 0\nB r 1 1\nC r 1 1\n", "node 'r' has more than two descendants"},
      {"2 1\nA r 1 0\nB s 1 1\n", "node 'B' (line 3) has the ancestor 's', which no line defines (the root is 'r')"},
      {"1 1\nA x 1 0\nx r 1\n", "node 'x' has only one descendant"},
      {"3 1\nA r 1 0\nB r 1 1\nC r2 1 0\n", "which no line defines"},
      {"3 1\nA r 1 0\nB r 1 1\n", "the first line announces 3 species, but 2 lines carry trait values"},
      {"4 1\nA x 1 0\ny x 1\nB y 1 1\nx y 1\nD r 1 0\nE r 1 1\n", "some nodes are not below the root"},
      {"2 1\nA r 1 0\nB r 1 1\nq r 1\n", "node 'r' has more than two descendants"},
      {"1 1\nA r 1 0\nq r 1\n", "terminal node 'q' has no trait values"},
      {"2 1\nabcdefghijabcdefghijabcdefghijabcdefghij r 1 0\nB r 1 1\n", "a name longer than 39 characters"},
  };
  for (const auto& c : cases) {
    DataFile file;
    std::string error;
    EXPECT_FALSE(ReadDataFile(c.text, file, error)) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.text << "\ngot: " << error;
  }
}

}  // namespace
}  // namespace companion
