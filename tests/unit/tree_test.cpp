#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "driver/tree.h"
#include "model_size.h"

using namespace varnic;

namespace {

struct NameCase {
  std::string text;
  bool found;
  std::string name;
  std::string rest;  // text after the name and its separators
};

TEST(GetName, ReadsOneNameAndSkipsItsSeparators) {
  const NameCase cases[] = {
      {"A anc 0.5", true, "A", "anc 0.5"},
      {"  \t A,B 0.5 1", true, "A", "B 0.5 1"},
      {"'sp one' x 0.3", true, "sp one", "x 0.3"},
      {"\"a, b' c", true, "a, b", "c"},
      {"'unclosed name", true, "unclosed name", ""},
      {"name", true, "name", ""},
      {"   \r\n", false, "", ""},
      {"", false, "", ""},
      {"caf\xc3\xa9 anc", true, "caf\xc3\xa9", "anc"},
      {"x\x7fy z", true, "x\x7fy", "z"},
      {"'' A", true, "", "A"},
  };
  for (const NameCase& c : cases) {
    std::string name = "untouched";
    const char* rest = GetName(c.text.c_str(), &name);
    ASSERT_EQ(rest != nullptr, c.found) << c.text;
    if (!c.found) {
      EXPECT_EQ(name, "untouched");
      continue;
    }
    EXPECT_EQ(name, c.name) << c.text;
    EXPECT_EQ(std::string(rest), c.rest) << c.text;
    EXPECT_EQ(GetName(c.text.c_str(), nullptr), rest);
  }
}

struct NumCase {
  std::string text;
  int max;
  int count;
  std::vector<double> values;
  char first_skipped;
};

TEST(GetNum, ReadsPlainDecimalNumbers) {
  const NumCase cases[] = {
      {"0.5 0 1", 3, 3, {0.5, 0, 1}, '9'},
      {"0.5 0 1", 2, 2, {0.5, 0}, '9'},
      {"+1", 1, 1, {1}, '+'},
      {"1-2", 2, 1, {1}, '9'},
      {"1.2.3", 2, 1, {1.2}, '9'},
      {"0.5\t1", 2, 2, {0.5, 1}, '\t'},
      {"0.5 : 1", 2, 2, {0.5, 1}, ':'},
      {"x y", 2, 0, {}, 'x'},
      {"", 3, 0, {}, '9'},
      {"-1 255 256", 3, 3, {-1, 255, 256}, '9'},
  };
  for (const NumCase& c : cases) {
    double values[8] = {};
    int position = 0;
    char skipped = '?';
    EXPECT_EQ(GetNum(c.text.c_str(), values, &position, c.max, &skipped), c.count) << c.text;
    for (std::size_t i = 0; i < c.values.size(); i++) EXPECT_DOUBLE_EQ(values[i], c.values[i]) << c.text;
    EXPECT_EQ(skipped, c.first_skipped) << c.text;
  }
}

TEST(GetNum, ContinuesFromThePositionGiven) {
  double v[2];
  int position = 0;
  char skipped;
  ASSERT_EQ(GetNum("0.7 1 0", v, &position, 1, &skipped), 1);
  EXPECT_DOUBLE_EQ(v[0], 0.7);
  ASSERT_EQ(GetNum("0.7 1 0", v, &position, 2, &skipped), 2);
  EXPECT_DOUBLE_EQ(v[0], 1);
  EXPECT_DOUBLE_EQ(v[1], 0);
}

TEST(GetNumDeath, ScientificNotationEndsTheRun) {
  double v[2];
  int position = 0;
  char skipped;
  // The messages go to standard output; the end-to-end tests check them.
  EXPECT_EXIT(GetNum("1.5e-3 0", v, &position, 1, &skipped), ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(GetNum("0.5 0 end", v, &position, 1, &skipped), ::testing::ExitedWithCode(1), "");
}

// Reads a data file body (after its first line) and links it.
class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fresh_model(2);
    reset_tree();
  }
  int read(const std::string& body, int traits_per_line = 1) {
    std::FILE* f = std::tmpfile();
    std::fputs(body.c_str(), f);
    std::rewind(f);
    testing::internal::CaptureStdout();
    int n = ReadData(f, traits_per_line, traits_);
    printed_ = testing::internal::GetCapturedStdout();
    std::fclose(f);
    return n;
  }
  int link() {
    testing::internal::CaptureStdout();
    int r = LinkTree();
    printed_ = testing::internal::GetCapturedStdout();
    return r;
  }
  Node& named(const std::string& name) {
    for (Node& n : tree)
      if (n.name == name) return n;
    throw std::runtime_error("no node " + name);
  }
  TraitTable traits_;
  std::string printed_;
};

TEST_F(TreeTest, TwoSpeciesExample) {
  ASSERT_EQ(read("\nA  anc  0.5  0\nB  anc  0.7  1\n"), 2);
  EXPECT_EQ(nnodes, 3);
  ASSERT_EQ(link(), 0) << printed_;
  EXPECT_EQ(root, &tree[2]);
  EXPECT_EQ(root->name, "anc");
  EXPECT_EQ(root->child1, &tree[0]);
  EXPECT_EQ(root->child2, &tree[1]);
  EXPECT_EQ(tree[0].parent, root);
  EXPECT_DOUBLE_EQ(tree[0].length, 0.5);
  EXPECT_DOUBLE_EQ(tree[1].length, 0.7);
  EXPECT_EQ(tree[0].state, 0);
  EXPECT_EQ(tree[1].state, 1);
  EXPECT_EQ(root->state, -1);
  EXPECT_EQ(root->length, 0.0);
  for (const Node& n : tree) {
    EXPECT_EQ(n.fossil, NO_FOSSIL);
    EXPECT_EQ(n.L[0], 1.0);
  }
  ASSERT_EQ(postorder.size(), 1u);
  EXPECT_EQ(postorder[0], root);
}

TEST_F(TreeTest, PostorderVisitsChild1SubtreeFirstAndRootLast) {
  // r(y(z(D,E),C),x(A,B)), written in an order that differs from the walk.
  ASSERT_EQ(read("y r 1\nz y 1\nx r 1\nD z 1 0\nE z 1 1\nA x 1 0\nB x 1 1\nC y 1 0\n"), 5);
  ASSERT_EQ(link(), 0) << printed_;
  // Child order follows the file: r's child1 is y, y's child1 is z.
  std::vector<std::string> order;
  for (Node* n : postorder) order.push_back(n->name);
  EXPECT_EQ(order, (std::vector<std::string>{"z", "y", "x", "r"}));
  EXPECT_EQ(build_postorder(), nnodes);
}

TEST_F(TreeTest, TraitValuesKeepTheirValueAndNegativesMeanNoData) {
  ASSERT_EQ(read("A r 1 256 0 -1\nB r 1 255 1 -3.5\nC q 1\nq r 1\n", 3), 2);
  EXPECT_EQ(traits_[0], (std::vector<int>{256, 0, -1}));
  EXPECT_EQ(traits_[1], (std::vector<int>{255, 1, -3}));
  EXPECT_EQ(traits_[2], (std::vector<int>{-1, -1, -1}));
  EXPECT_EQ(traits_[4], (std::vector<int>{-1, -1, -1}));  // the root record
  EXPECT_EQ(tree[0].state, 256);
}

TEST_F(TreeTest, CarriageReturnLineEndsReadLikeLineFeeds) {
  ASSERT_EQ(read("A anc 0.5 0\r\nB anc 0.7 1\r\n"), 2);
  EXPECT_EQ(tree[1].name, "B");
  EXPECT_DOUBLE_EQ(tree[1].length, 0.7);
  EXPECT_EQ(tree[1].state, 1);
}

TEST_F(TreeTest, SingleNameLineIsAcceptedOnceAndShortLinesAreSkipped) {
  ASSERT_EQ(read("anc\nA anc 0.5 0\nx\nB anc 0.7 1\n"), 2);
  EXPECT_EQ(nnodes, 3);
  EXPECT_EQ(printed_, "");
  EXPECT_EQ(read("anc\nA anc 0.5 0\nroot2\nB anc 0.7 1\n"), 0);
  EXPECT_EQ(printed_, "Error - More than one 'root' - root2\n");
}

TEST_F(TreeTest, FirstPassReportsEveryFaultyLine) {
  EXPECT_EQ(read("A anc 0.5 0 1\nB anc\nC anc 0.5 0 # ok\nD anc 0.5 0\nE anc x\n", 2), 0);
  EXPECT_EQ(printed_, "Syntax Error - B anc\n"
                      "Syntax Error - C anc 0.5 0 \n"
                      "Syntax Error - D anc 0.5 0\n"
                      "Syntax Error - E anc x\n");
}

TEST_F(TreeTest, LongNamesAreRefusedNotCut) {
  const std::string n39(39, 'a'), n40(40, 'b');
  EXPECT_EQ(read(n39 + " anc 0.5 0\nB anc 0.7 1\n"), 2);
  EXPECT_EQ(read("A " + n40 + " 0.5 0\nB anc 0.7 1\n"), 0);
  EXPECT_EQ(printed_, "Error - Name too long (39 characters at most) - A " + n40 + " 0.5 0\n");
}

TEST_F(TreeTest, LinkErrors) {
  struct Case {
    std::string body;
    std::string printed;
  };
  const Case cases[] = {
      {"A r 1 0\nB r 1 1\nC r 1 0\n", "Error with node C - Only binary trees allowed\n"},
      {"A r 1 0\nB r 1 1\nC s 1 0\nD s 1 1\n",
       "Error - Node s referenced by Node C not found\n"
       "Error - Node s referenced by Node D not found\n"
       "Error - Only one root allowed - Node r and C found\n"
       "Error - Only one root allowed - Node r and D found\n"},
      {"A r 1 0\nB x 1 1\nx r 1\nC x 1 1\nD x 1 0\n", "Error with node D - Only binary trees allowed\n"},
      {"A r 1 0\nx r 1\nB x 1 0\n", "Error - Node x has only one descendant\n"},
      {"A r 1 0\nB r 1 -1\n", "Error - Terminal Node B has no data\n"},
      {"A r 1 0\nB r 1 2\n", "Error - Terminal Node B has invalid data\n"},
      {"A r 1 0\nB r 1 256\n", "Error - Terminal Node B has invalid data\n"},
      {"A r 1 0\nB r 1 1\nC B 1 0\nD B 1 1\n", "Error - Sub-terminal Node B has data\n"},
  };
  for (const Case& c : cases) {
    reset_tree();
    ASSERT_GT(read(c.body), 0) << c.body << printed_;
    EXPECT_NE(link(), 0) << c.body;
    EXPECT_EQ(printed_, c.printed) << c.body;
  }
}

TEST_F(TreeTest, EveryAncestorDefinedLeavesNoRoot) {
  ASSERT_GT(read("A B 1 0\nB A 1 1\n"), 0);
  EXPECT_NE(link(), 0);
  EXPECT_EQ(root, nullptr);
  EXPECT_NE(printed_.find("Error - Node  has only one descendant\n"), std::string::npos) << printed_;
}

TEST_F(TreeTest, RecordsOnALoopOfAncestorsAreRefused) {
  // p and q name each other as ancestor; each has two descendants, so
  // every record has a parent and two or no children, yet p and q are out
  // of the root's reach.
  ASSERT_GT(read("A r 1 0\nB r 1 1\np q 1\nq p 1\nC p 1 0\nD q 1 1\n"), 0);
  EXPECT_NE(link(), 0);
  EXPECT_NE(printed_.find("Error - Node p is not connected to the root\n"), std::string::npos)
      << printed_;
}

TEST_F(TreeTest, UseTraitSwitchesColumnsAndValidates) {
  ASSERT_EQ(read("A r 1 0 1\nB r 1 1 -1\n", 2), 2);
  ASSERT_EQ(link(), 0);
  tested = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(UseTrait(1, traits_), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error - Terminal Node B has no data\n");
  EXPECT_EQ(tree[0].state, 1);
  EXPECT_EQ(tested, 0);
  EXPECT_EQ(UseTrait(0, traits_), 0);
  EXPECT_EQ(tree[1].state, 1);
}

}  // namespace
