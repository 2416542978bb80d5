// The Newick reader, one feature at a time.

#include <gtest/gtest.h>

#include "companions/prepare/newick.h"

namespace companion {
namespace {

// The tree written back as <label>:length, children in parentheses.
std::string written(const NewickTree& tree) {
  std::string out;
  struct Step {
    int node;
    std::size_t next;
  };
  std::vector<Step> stack{{tree.root, 0}};
  while (!stack.empty()) {
    Step& step = stack.back();
    const NewickNode& node = tree.nodes[step.node];
    if (!node.children.empty() && step.next < node.children.size()) {
      out += step.next == 0 ? "(" : ",";
      stack.push_back({node.children[step.next++], 0});
      continue;
    }
    if (!node.children.empty()) out += ")";
    if (!node.label.empty()) out += "<" + node.label + ">";
    if (!node.length.empty()) out += ":" + node.length;
    stack.pop_back();
  }
  return out + ";";
}

NewickTree read_ok(const std::string& text) {
  NewickTree tree;
  std::string error;
  EXPECT_TRUE(ReadNewick(text, tree, error)) << text << "\n" << error;
  return tree;
}

struct ReadCase {
  const char* feature;
  const char* text;
  const char* written;
};

TEST(ReadNewick, ReadsEachFeature) {
  const ReadCase cases[] = {
      {"plain", "(A:1,B:2);", "(<A>:1,<B>:2);"},
      {"apostrophe quotes with blanks and a doubled quote", "('Homo sapiens':1,'it''s':2)'the root';",
       "(<Homo sapiens>:1,<it's>:2)<the root>;"},
      {"double quotes around separators", "(\"a,b:c\":1,\"(x)\":2);", "(<a,b:c>:1,<(x)>:2);"},
      {"comments anywhere", "[&R] (A[x]:1,[y]B:[z]2)[w];[end]", "(<A>:1,<B>:2);"},
      {"comment characters inside quotes", "('[not a comment]':1,B:1);", "(<[not a comment]>:1,<B>:1);"},
      {"scientific branch lengths kept as written", "(A:1e-3,B:2.5E+2,C:.5);", "(<A>:1e-3,<B>:2.5E+2,<C>:.5);"},
      {"missing and present internal labels", "((A:1,B:1):1,(C:1,D:1)x:1);", "((<A>:1,<B>:1):1,(<C>:1,<D>:1)<x>:1);"},
      {"numeric internal labels", "((A:1,B:1)95:1,C:1)0.87;", "((<A>:1,<B>:1)<95>:1,<C>:1)<0.87>;"},
      {"a polytomy kept as it is", "(A:1,B:1,C:1,D:1);", "(<A>:1,<B>:1,<C>:1,<D>:1);"},
      {"blanks and line ends between tokens", "(\n  A : 1 ,\r\n\tB:2\n) ;\n", "(<A>:1,<B>:2);"},
      {"blanks inside an unquoted label become one", "(Homo   sapiens:1,B:1);", "(<Homo sapiens>:1,<B>:1);"},
      {"underscores kept", "(Homo_sapiens:1,B:1);", "(<Homo_sapiens>:1,<B>:1);"},
      {"no branch lengths", "(A,B);", "(<A>,<B>);"},
      {"a root branch length", "(A:1,B:1):0.5;", "(<A>:1,<B>:1):0.5;"},
      {"an empty tip", "(,A);", "(,<A>);"},
      {"a single tip", "A;", "<A>;"},
  };
  for (const auto& c : cases) EXPECT_EQ(written(read_ok(c.text)), c.written) << c.feature;
}

TEST(ReadNewick, KeepsWhereEachNodeIsWritten) {
  const std::string text = "(A:1,\n  B:2);";
  const NewickTree tree = read_ok(text);
  ASSERT_EQ(tree.nodes.size(), 3u);
  EXPECT_EQ(WhereInText(text, tree.nodes[2].offset), "line 2, column 3");
}

struct ErrorCase {
  const char* text;
  const char* message;
};

TEST(ReadNewick, RefusesMalformedTextSayingWhere) {
  const ErrorCase cases[] = {
      {"", "the file holds no tree"},
      {"  [only a comment]\n", "the file holds no tree"},
      {"(A,B)", "the tree does not end with ';'"},
      {"(A,B;", "a '(' is never closed before ';'"},
      {"((A,B)", "a '(' is never closed: the text ends"},
      {"(A,B));", "a ')' without its '(' at line 1, column 6"},
      {"(A:1,B:x);", "the branch length 'x' is not a number at line 1, column 8"},
      {"(A:1,\nB:1.5.2);", "the branch length '1.5.2' is not a number at line 2, column 3"},
      {"(A:,B:1);", "':' without a branch length at line 1, column 3"},
      {"(A,B);(C,D);", "a second tree"},
      {"(A,B); x", "a second tree"},
      {"(A[,B);", "a comment '[' is never closed at line 1, column 3"},
      {"('A,B);", "a quoted label (') is never closed"},
      {"(A B'c,D);", "a quote inside an unquoted label"},
      {"(A(B,C));", "a '(' right after a label or branch length"},
      {"A,B;", "a ',' outside any parentheses"},
      {"(A:1:2,B);", "a second branch length"},
      {"('A'B,C);", "unexpected text 'B' after a label"},
  };
  for (const auto& c : cases) {
    NewickTree tree;
    std::string error;
    EXPECT_FALSE(ReadNewick(c.text, tree, error)) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.text << "\ngot: " << error;
  }
}

TEST(ReadNewick, ReadsACaterpillarOfOneHundredThousandTips) {
  const int tips = 100000;
  std::string text(tips - 1, '(');
  text += "t0:1";
  for (int i = 1; i < tips; i++) text += ",t" + std::to_string(i) + ":1):1";
  text.erase(text.size() - 2);
  text += ";";
  const NewickTree tree = read_ok(text);
  ASSERT_EQ(tree.nodes.size(), static_cast<std::size_t>(2 * tips - 1));
  // t0 sits at the bottom of the ladder, tips-1 nodes below the root.
  int depth = 0, deepest = -1;
  for (std::size_t n = 0; n < tree.nodes.size(); n++)
    if (tree.nodes[n].label == "t0") deepest = static_cast<int>(n);
  ASSERT_GE(deepest, 0);
  for (int n = deepest; tree.nodes[n].parent >= 0; n = tree.nodes[n].parent) depth++;
  EXPECT_EQ(depth, tips - 1);
}

TEST(ReadNewick, ReadsOneNodeWithOneHundredThousandChildren) {
  std::string text = "(";
  for (int i = 0; i < 100000; i++) text += (i ? ",t" : "t") + std::to_string(i) + ":1";
  text += ");";
  const NewickTree tree = read_ok(text);
  EXPECT_EQ(tree.nodes[tree.root].children.size(), 100000u);
}

}  // namespace
}  // namespace companion
