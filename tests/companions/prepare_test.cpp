// The conversion of a Newick tree and a trait table, in memory.

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "companions/common/datafile.h"
#include "companions/common/names.h"
#include "companions/prepare/prepare.h"

namespace companion {
namespace {

struct Converted {
  bool ok = false;
  PrepareResult result;
  std::vector<std::string> errors;
  std::string all_errors;  // one line each
  std::string all_notes;
};

Converted prepare(const std::string& tree, const std::string& table, std::vector<std::string> columns = {},
            const std::string& base = "out") {
  PrepareRequest request;
  request.tree_text = tree;
  request.tree_file = "tree.nwk";
  request.table_text = table;
  request.table_file = "traits.csv";
  request.columns = std::move(columns);
  request.base = base;
  Converted run;
  run.ok = Prepare(request, run.result, run.errors);
  for (const auto& e : run.errors) run.all_errors += e + "\n";
  for (const auto& n : run.result.notes) run.all_notes += n + "\n";
  return run;
}

Converted prepare_ok(const std::string& tree, const std::string& table, std::vector<std::string> columns = {}) {
  Converted run = prepare(tree, table, std::move(columns));
  EXPECT_TRUE(run.ok) << run.all_errors;
  return run;
}

// The node lines of a data file: every line after the first that is not a comment.
std::vector<std::string> node_lines(const std::string& data) {
  std::vector<std::string> lines;
  std::istringstream in(data);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  return lines;
}

// The data file read back by varnic's rules.
DataFile read_back(const std::string& data) {
  DataFile file;
  std::string error;
  EXPECT_TRUE(ReadDataFile(data, file, error)) << error;
  return file;
}

const DataNode& node_named(const DataFile& file, const std::string& name) {
  for (const DataNode& n : file.nodes)
    if (n.name == name) return n;
  ADD_FAILURE() << "no node " << name;
  return file.nodes.front();
}

const char* const FIVE_TABLE = "tip,trait\nA,0\nB,0\nC,1\nD,1\nE,0\n";

TEST(Prepare, WritesTheDataFileNodeByNode) {
  const Converted run = prepare_ok("[five species]\n(((A:5e-1,'B':0.5):0.3,C:1.0):0.4,(D:8E-1,E:0.7)n3:0.6)root;\n",
                             FIVE_TABLE);
  EXPECT_EQ(run.result.data.substr(0, run.result.data.find('\n')), "5 1");
  EXPECT_EQ(node_lines(run.result.data), (std::vector<std::string>{
                                             "n1\troot\t0.4",
                                             "n2\tn1\t0.3",
                                             "A\tn2\t0.5\t0",
                                             "B\tn2\t0.5\t0",
                                             "C\tn1\t1\t1",
                                             "n3\troot\t0.6",
                                             "D\tn3\t0.8\t1",
                                             "E\tn3\t0.7\t0",
                                         }));
  // The root is the one ancestor that no line defines.
  const DataFile file = read_back(run.result.data);
  EXPECT_EQ(file.nodes[file.root].name, "root");
  EXPECT_EQ(run.result.tips, 5);
  EXPECT_EQ(run.result.internal, 4);
  EXPECT_EQ(run.result.most_states, 2);
  EXPECT_TRUE(run.result.names.empty());
}

TEST(Prepare, WritesAControlFileNamingTheDataAndResultsFiles) {
  const Converted run = prepare_ok("((A:1,B:1):1,C:2);", "tip,x\nA,0\nB,1\nC,1\n");
  const std::string& control = run.result.control;
  EXPECT_NE(control.find("\ndatafile out.txt\n"), std::string::npos) << control;
  EXPECT_NE(control.find("\noutfile  out.results\n"), std::string::npos) << control;
  EXPECT_NE(control.find("\ninteractive 1\n"), std::string::npos) << control;
  EXPECT_NE(control.find("# Answer 2 at the number-of-states prompt"), std::string::npos) << control;
}

TEST(Prepare, WritesBranchLengthsAsPlainDecimals) {
  const Converted run = prepare_ok("((A:1.5e-3,B:2E1):1e-8,C:+0.25e2);", "tip,x\nA,0\nB,1\nC,1\n");
  EXPECT_EQ(node_lines(run.result.data), (std::vector<std::string>{
                                             "n2\tn1\t0.00000001",
                                             "A\tn2\t0.0015\t0",
                                             "B\tn2\t20\t1",
                                             "C\tn1\t25\t1",
                                         }));
  // After the ancestor names no line holds a letter varnic refuses.
  for (const std::string& line : node_lines(run.result.data)) {
    const std::size_t numbers = line.find('\t', line.find('\t') + 1);
    EXPECT_EQ(line.find_first_of("eEdD", numbers), std::string::npos) << line;
  }
}

TEST(Prepare, NamesInternalNodesByLabelWhenValidAndUnique) {
  struct Case {
    const char* rule;
    const char* tree;
    const char* table;
    std::vector<std::string> internal;  // internal names in preorder
  };
  const char* const abcd = "tip,x\nA,0\nB,1\nC,0\nD,1\n";
  const Case cases[] = {
      {"labels used", "((A:1,B:1)ab:1,(C:1,D:1)cd:1)top;", abcd, {"top", "ab", "cd"}},
      {"missing labels numbered in preorder", "((A:1,B:1):1,(C:1,D:1):1);", abcd, {"n1", "n2", "n3"}},
      {"support values are not names", "((A:1,B:1)95:1,(C:1,D:1)0.87:1)100;", abcd, {"n1", "n2", "n3"}},
      {"a repeated label serves once", "((A:1,B:1)x:1,(C:1,D:1)x:1);", abcd, {"n1", "x", "n2"}},
      {"a label with a blank is not a name", "((A:1,B:1)'a b':1,(C:1,D:1):1);", abcd, {"n1", "n2", "n3"}},
      {"a label that names a tip is not used", "((A:1,B:1)A:1,(C:1,D:1):1);", abcd, {"n1", "n2", "n3"}},
      {"a label of 40 characters is too long", "((A:1,B:1)abcdefghijabcdefghijabcdefghijabcdefghij:1,C:1);",
       "tip,x\nA,0\nB,1\nC,0\n", {"n1", "n2"}},
      {"numbering skips names already taken", "((A:1,n1:1):1,(C:1,D:1)n2:1);", "tip,x\nA,0\nn1,1\nC,0\nD,1\n",
       {"n3", "n4", "n2"}},
  };
  for (const auto& c : cases) {
    const Converted run = prepare_ok(c.tree, c.table);
    const DataFile file = read_back(run.result.data);
    std::vector<std::string> internal;
    for (int n : DataPreorder(file))
      if (file.nodes[n].child1 >= 0) internal.push_back(file.nodes[n].name);
    EXPECT_EQ(internal, c.internal) << c.rule;
  }
}

TEST(Prepare, MakesTipNamesValidAndListsEveryRenamedTip) {
  struct Case {
    const char* rule;
    std::string label;  // as written in the tree, quoted
    std::string name;   // in the data file
  };
  const Case cases[] = {
      {"blanks", "'Homo sapiens'", "Homo_sapiens"},
      {"commas and quotes", "'a,b''c\"d'", "a_b_c_d"},
      {"a comment sign", "'x#1'", "x_1"},
      {"letters beyond ASCII, one '_' each", "'Zo\xC3\xAB'", "Zo_"},
      {"cut to 39 characters", "abcdefghijabcdefghijabcdefghijabcdefghijXYZ", "abcdefghijabcdefghijabcdefghijabcdefghi"},
      {"a valid name is kept", "Homo_sapiens", "Homo_sapiens"},
  };
  for (const auto& c : cases) {
    const std::string tree = "(" + c.label + ":1,B:1);";
    std::string row = c.label;
    if (row[0] == '\'') {
      row = row.substr(1, row.size() - 2);
      for (std::size_t at = row.find("''"); at != std::string::npos; at = row.find("''", at + 1)) row.erase(at, 1);
    }
    std::string cell = row;
    if (cell.find_first_of(",\"") != std::string::npos) {
      std::string q = "\"";
      for (char ch : cell) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
      cell = q + "\"";
    }
    const Converted run = prepare_ok(tree, "tip,x\n" + cell + ",0\nB,1\n");
    const std::vector<std::string> lines = node_lines(run.result.data);
    ASSERT_EQ(lines.size(), 2u) << c.rule;
    EXPECT_EQ(lines[0].substr(0, lines[0].find('\t')), c.name) << c.rule;
    EXPECT_TRUE(ValidName(c.name)) << c.rule;
    if (c.name == row) {
      EXPECT_TRUE(run.result.names.empty()) << c.rule;
    } else {
      EXPECT_EQ(run.result.names, "tree_name\tdata_name\n" + row + "\t" + c.name + "\n") << c.rule;
    }
  }
}

TEST(Prepare, KeepsRenamedTipsUnique) {
  const std::string long_a = "abcdefghijabcdefghijabcdefghijabcdefghij-one";
  const std::string long_b = "abcdefghijabcdefghijabcdefghijabcdefghij-two";
  const Converted run = prepare_ok("(('A B':1,A_B:1):1,(" + long_a + ":1," + long_b + ":1):1);",
                             "tip,x\nA B,0\nA_B,1\n" + long_a + ",0\n" + long_b + ",1\n");
  EXPECT_EQ(run.result.names, "tree_name\tdata_name\n"
                              "A B\tA_B_2\n" +
                                  long_a + "\tabcdefghijabcdefghijabcdefghijabcdefghi\n" + long_b +
                                  "\tabcdefghijabcdefghijabcdefghijabcdefg_2\n");
  EXPECT_NE(run.all_notes.find("renamed 3 tips"), std::string::npos) << run.all_notes;
}

TEST(Prepare, NumbersStatesInTheSortedOrderOfTheirLabels) {
  const Converted run = prepare_ok("(((A:1,B:1):1,C:1):1,(D:1,E:1):1);",
                             "tip,diet,count,mixed\n"
                             "A,leaves,10,1\n"
                             "B,fruit,2,a\n"
                             "C,insects,2,1\n"
                             "D,fruit,-1,B\n"
                             "E,leaves,10,a\n");
  EXPECT_EQ(run.result.states,
            "column\ttrait\tstate\tlabel\n"
            "0\tdiet\t0\tfruit\n0\tdiet\t1\tinsects\n0\tdiet\t2\tleaves\n"
            "1\tcount\t0\t-1\n1\tcount\t1\t2\n1\tcount\t2\t10\n"
            "2\tmixed\t0\t1\n2\tmixed\t1\tB\n2\tmixed\t2\ta\n");
  EXPECT_EQ(node_lines(run.result.data)[2], "A\tn3\t1\t2\t2\t0");
  EXPECT_EQ(node_lines(run.result.data)[3], "B\tn3\t1\t0\t1\t2");
  EXPECT_EQ(run.result.most_states, 3);
  EXPECT_NE(run.result.control.find("# Answer 3 at the number-of-states prompt"), std::string::npos);
}

TEST(Prepare, WritesMissingValuesAsMissingAndNamesTheTips) {
  const Converted run = prepare_ok("((A:1,B:1):1,(C:1,D:1):1);", "tip,x,y\nA,0,?\nB,1,NA\nC,,1\nD,1,0\n");
  EXPECT_EQ(node_lines(run.result.data)[1], "A\tn2\t1\t0\t-1");
  EXPECT_EQ(node_lines(run.result.data)[2], "B\tn2\t1\t1\t-1");
  EXPECT_EQ(node_lines(run.result.data)[4], "C\tn3\t1\t-1\t1");
  EXPECT_NE(run.all_notes.find("column 'x': 1 tip has no value ('C'), written as missing; varnic names such tips "
                               "and stops while the first column has any"),
            std::string::npos)
      << run.all_notes;
  EXPECT_NE(run.all_notes.find("column 'y': 2 tips have no value ('A', 'B'), written as missing; varnic names such "
                               "tips, and testall will not run until they have values"),
            std::string::npos)
      << run.all_notes;
}

TEST(Prepare, WritesTheChosenColumnsInTheirOrder) {
  const Converted run = prepare_ok("(A:1,B:1);", "tip,x,y,z\nA,0,a,p\nB,1,b,q\n", {"z", "x"});
  EXPECT_EQ(node_lines(run.result.data)[0], "A\tn1\t1\t0\t0");
  EXPECT_EQ(run.result.states, "column\ttrait\tstate\tlabel\n0\tz\t0\tp\n0\tz\t1\tq\n1\tx\t0\t0\n1\tx\t1\t1\n");
}

TEST(Prepare, MatchesBlanksWithUnderscores) {
  const Converted run = prepare_ok("(Homo_sapiens:1,'Pan troglodytes':1);", "tip,x\nHomo sapiens,0\nPan_troglodytes,1\n");
  EXPECT_NE(run.all_notes.find("matched 2 tips to rows whose names differ only in blanks and underscores"),
            std::string::npos)
      << run.all_notes;
  EXPECT_EQ(node_lines(run.result.data)[0], "Homo_sapiens\tn1\t1\t0");
  EXPECT_EQ(node_lines(run.result.data)[1], "Pan_troglodytes\tn1\t1\t1");
}

TEST(Prepare, ResolvesPolytomiesWithZeroLengthBranchesAndSaysSo) {
  const Converted run = prepare_ok("((A:1,B:2,C:3,D:4)x:1,(E:1,F:1,G:1):1,H:1)r;",
                             "tip,t\nA,0\nB,1\nC,0\nD,1\nE,0\nF,1\nG,0\nH,1\n");
  EXPECT_NE(run.all_notes.find("resolved 2 polytomies into binary splits with zero-length branches"), std::string::npos)
      << run.all_notes;
  EXPECT_NE(run.all_notes.find("the root has 3 children (the tree may be unrooted)"), std::string::npos)
      << run.all_notes;
  EXPECT_NE(run.all_notes.find("added 4 nodes on zero-length branches"), std::string::npos) << run.all_notes;
  const DataFile file = read_back(run.result.data);
  EXPECT_EQ(file.nodes.size(), 15u);  // 8 tips, 7 internal nodes
  for (const DataNode& n : file.nodes) EXPECT_TRUE((n.child1 < 0) == (n.child2 < 0)) << n.name;
  // The first child stays; the others hang below a new node at distance 0.
  EXPECT_EQ(node_named(file, "A").ancestor, "x");
  EXPECT_EQ(file.nodes[node_named(file, "B").parent].length, 0.0);
  EXPECT_EQ(node_named(file, "D").length, 4.0);
  EXPECT_EQ(file.nodes[file.root].name, "r");
}

TEST(Prepare, RemovesNodesWithOneChildAddingTheirBranches) {
  const Converted run = prepare_ok("(((A:1.25):0.5,B:1):2)top;", "tip,t\nA,0\nB,1\n");
  EXPECT_EQ(node_lines(run.result.data), (std::vector<std::string>{"A\tn1\t1.75\t0", "B\tn1\t1\t1"}));
  EXPECT_NE(run.all_notes.find("removed 2 nodes with a single child"), std::string::npos) << run.all_notes;
  EXPECT_NE(run.all_notes.find("the root had one child, which became the root"), std::string::npos) << run.all_notes;
}

struct Refusal {
  const char* what;
  const char* tree;
  const char* table;
  std::vector<std::string> columns;
  std::vector<std::string> messages;
};

TEST(Prepare, RefusesWithAMessageNamingTheTipRowOrColumn) {
  const Refusal cases[] = {
      {"a tip without a row", "((A:1,B:1):1,C:1);", "tip,x\nA,0\nB,1\n", {},
       {"traits.csv: tip 'C' of the tree has no row in the table"}},
      {"a row without a tip", "(A:1,B:1);", "tip,x\nA,0\nB,1\nZ,0\n", {},
       {"traits.csv: row 'Z' (line 4 of the table) names no tip of the tree"}},
      {"tips and rows that do not match", "(A:1,B:1);", "tip,x\nA,0\nb,1\n", {},
       {"tip 'B' of the tree has no row in the table", "row 'b' (line 3 of the table) names no tip of the tree"}},
      {"unmatched names and an unusable column, together", "((A:1,B:1):1,C:1);", "tip,x,y\nA,0,a\nB,1,a\n", {},
       {"tip 'C' of the tree has no row in the table", "column 'y' has one state only ('a')"}},
      {"a tip branch without a length", "((A:1,B):1,C:1);", "tip,x\nA,0\nB,1\nC,0\n", {},
       {"tree.nwk: the branch above tip 'B' (line 1, column 7) has no length"}},
      {"an internal branch without a length", "((A:1,B:1),C:1);", "tip,x\nA,0\nB,1\nC,0\n", {},
       {"the branch above the internal node joining tips 'A' to 'B' (line 1, column 2) has no length"}},
      {"a labelled internal branch without a length", "((A:1,B:1)ab,C:1);", "tip,x\nA,0\nB,1\nC,0\n", {},
       {"the branch above internal node 'ab' (line 1, column 2) has no length"}},
      {"a tree without lengths", "(A,B);", "tip,x\nA,0\nB,1\n", {},
       {"the branch above tip 'A' (line 1, column 2) has no length",
        "the branch above tip 'B' (line 1, column 4) has no length"}},
      {"a negative length", "(A:1,B:-0.5);", "tip,x\nA,0\nB,1\n", {},
       {"the branch above tip 'B' (line 1, column 6) has a negative length (-0.5)"}},
      {"a trait with one state", "(A:1,B:1);", "tip,x,habitat\nA,0,trees\nB,1,trees\n", {},
       {"traits.csv: column 'habitat' has one state only ('trees'): a trait needs 2 to 6 states"}},
      {"a trait with seven states", "(((A:1,B:1):1,(C:1,D:1):1):1,((E:1,F:1):1,G:1):1);",
       "tip,x\nA,a\nB,b\nC,c\nD,d\nE,e\nF,f\nG,g\n", {},
       {"column 'x' has 7 states ('a', 'b', 'c', 'd', 'e', 'f', 'g'): varnic handles 2 to 6"}},
      {"a trait without values", "(A:1,B:1);", "tip,x,y\nA,0,?\nB,1,NA\n", {},
       {"column 'y' has no values: every cell is empty, '?' or 'NA'"}},
      {"a column without a name", "(A:1,B:1);", "tip,,y\nA,0,0\nB,0,1\n", {},
       {"column 2 (no name) has one state only ('0')"}},
      {"a column that is not there", "(A:1,B:1);", "tip,x,y\nA,0,0\nB,1,1\n", {"size"},
       {"the table has no trait column 'size' (its trait columns: 'x', 'y')"}},
      {"a tip twice", "((A:1,B:1):1,A:1);", "tip,x\nA,0\nB,1\n", {},
       {"tip 'A' appears twice in the tree (line 1, column 3 and line 1, column 14)"}},
      {"a row twice", "(A:1,B:1);", "tip,x\nA,0\nB,1\nA,1\n", {},
       {"tip 'A' has two rows in the table (lines 2 and 4)"}},
      {"a tip without a name", "(:1,B:1);", "tip,x\nA,0\nB,1\n", {},
       {"a tip without a name at line 1, column 2"}},
      {"a row without a name", "(A:1,B:1);", "tip,x\nA,0\nB,1\n,1\n", {},
       {"the row on line 4 of the table has no tip name in its first column"}},
      {"a single tip", "A;", "tip,x\nA,0\n", {}, {"tree.nwk: the tree has a single tip"}},
      {"a single tip below nodes with one child", "((A:1):1);", "tip,x\nA,0\n", {},
       {"tree.nwk: the tree has a single tip"}},
      {"malformed Newick", "(A:1,B:1)", "tip,x\nA,0\nB,1\n", {}, {"tree.nwk: the tree does not end with ';'"}},
      {"a malformed table", "(A:1,B:1);", "tip,x\nA,0,1\nB,1\n", {},
       {"traits.csv: row 'A' (line 2) has 3 cells, but the header row has 2"}},
      {"a length too large", "(A:1e40,B:1);", "tip,x\nA,0\nB,1\n", {},
       {"the branch above tip 'A' (line 1, column 2) is too long to write (1e40)"}},
  };
  for (const auto& c : cases) {
    const Converted run = prepare(c.tree, c.table, c.columns);
    EXPECT_FALSE(run.ok) << c.what;
    EXPECT_TRUE(run.result.data.empty()) << c.what;
    for (const std::string& m : c.messages)
      EXPECT_NE(run.all_errors.find(m), std::string::npos) << c.what << "\nexpected: " << m << "\ngot:\n"
                                                           << run.all_errors;
  }
}

TEST(Prepare, RefusesLinesLongerThanVarnicReads) {
  std::string header = "tip", a = "A", b = "B";
  for (int c = 0; c < 1300; c++) {
    header += ",c" + std::to_string(c);
    a += ",0";
    b += ",1";
  }
  const Converted run = prepare("(A:1,B:1);", header + "\n" + a + "\n" + b + "\n");
  EXPECT_FALSE(run.ok);
  EXPECT_NE(run.all_errors.find("the line of 'A' in the data file would hold 2607 characters, more than the 2558"),
            std::string::npos)
      << run.all_errors;
}

TEST(Prepare, CutsLongListsOfProblems) {
  std::string tree = "(", table = "tip,x\n";
  for (int i = 0; i < 50; i++) tree += (i ? ",t" : "t") + std::to_string(i) + ":1";
  tree += ");";
  table += "A,0\nB,1\n";
  const Converted run = prepare(tree, table);
  EXPECT_FALSE(run.ok);
  EXPECT_NE(run.all_errors.find("... and 30 more tips without a row"), std::string::npos) << run.all_errors;
  EXPECT_LE(run.errors.size(), 25u);
}

struct BaseCase {
  const char* base;
  bool usable;
};

TEST(UsableBaseName, FollowsTheControlFileRulesForFileNames) {
  const BaseCase cases[] = {
      {"birds", true},
      {"my-birds_2", true},
      {"abcdefghijabcdefghijabcdefghijabcdefghijabc", true},  // 43 + ".results" = 51
      {"abcdefghijabcdefghijabcdefghijabcdefghijabcd", false},
      {"2birds", false},
      {".birds", false},
      {"my birds", false},
      {"a=b", false},
      {"a#b", false},
      {"", false},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(UsableBaseName(c.base, why), c.usable) << c.base;
    EXPECT_EQ(why.empty(), c.usable) << c.base;
  }
}

std::string caterpillar(int tips) {
  std::string text(tips - 1, '(');
  text += "t0:1.5e-2";
  for (int i = 1; i < tips; i++) text += ",t" + std::to_string(i) + ":0." + std::to_string(1 + i % 9) + "):0.5";
  text.erase(text.size() - 4);
  return text + ";";
}

std::string balanced(int tips) {
  // Built bottom-up, level by level, so nothing here recurses either.
  std::vector<std::string> level;
  for (int i = 0; i < tips; i++) level.push_back("t" + std::to_string(i) + ":0.1");
  while (level.size() > 1) {
    std::vector<std::string> up;
    for (std::size_t i = 0; i + 1 < level.size(); i += 2) up.push_back("(" + level[i] + "," + level[i + 1] + "):1e-1");
    if (level.size() % 2) up.push_back(level.back());
    level.swap(up);
  }
  std::string text = level[0];
  text.erase(text.rfind(':'));
  return text + ";";
}

std::string big_table(int tips) {
  std::string table = "tip,x\n";
  for (int i = 0; i < tips; i++) table += "t" + std::to_string(i) + (i % 3 ? ",a\n" : ",b\n");
  return table;
}

// Every tip a child of the root: split, it becomes a ladder as deep as a caterpillar.
std::string star(int tips) {
  std::string text = "(";
  for (int i = 0; i < tips; i++) text += (i ? ",t" : "t") + std::to_string(i) + ":1";
  return text + ");";
}

TEST(Prepare, ConvertsTreesOfOneHundredThousandTips) {
  const int tips = 100000;
  for (const std::string& tree : {caterpillar(tips), balanced(tips), star(tips)}) {
    const Converted run = prepare_ok(tree, big_table(tips));
    EXPECT_EQ(run.result.tips, tips);
    EXPECT_EQ(run.result.internal, tips - 1);
    const DataFile file = read_back(run.result.data);
    EXPECT_EQ(file.species, tips);
    EXPECT_EQ(file.nodes.size(), static_cast<std::size_t>(2 * tips - 1));
    EXPECT_EQ(DataPreorder(file).size(), file.nodes.size());
  }
}

}  // namespace
}  // namespace companion
