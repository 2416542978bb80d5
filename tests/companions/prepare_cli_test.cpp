// varnic-prepare run as a user runs it, and its files given to varnic.

#include <gtest/gtest.h>

#include "harness.h"

namespace companions_test {
namespace {

const std::vector<std::string> EXAMPLE_ARGS = {"--tree", "primates.nwk", "--traits", "primates.csv", "--out", "primates"};

void copy_example(const Scratch& s) {
  s.copy_from_source("examples/newick/primates.nwk", "primates.nwk");
  s.copy_from_source("examples/newick/primates.csv", "primates.csv");
}

TEST(PrepareProgram, HelpExplainsEveryArgumentAndFile) {
  Scratch s;
  const Outcome r = s.prepare({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* word : {"--tree TREE", "--traits TABLE", "--out PREFIX", "--columns", "PREFIX.txt", "PREFIX.ctl",
                           "PREFIX.states.tsv", "PREFIX.names.tsv", "'NA'", "scientific notation", "Exit status"})
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
}

struct UsageCase {
  std::vector<std::string> args;
  const char* message;
};

TEST(PrepareProgram, RefusesIncompleteCommandLines) {
  const UsageCase cases[] = {
      {{}, "--tree, --traits and --out are all needed"},
      {{"--tree", "primates.nwk", "--traits", "primates.csv"}, "--tree, --traits and --out are all needed"},
      {{"--tree", "primates.nwk", "--traits", "primates.csv", "--out"}, "--out needs a value"},
      {{"--tree", "primates.nwk", "--traits", "primates.csv", "--out", "x", "--colour", "red"},
       "unknown argument '--colour'"},
      {{"--tree", "nope.nwk", "--traits", "primates.csv", "--out", "x"}, "cannot read 'nope.nwk'"},
      {{"--tree", "primates.nwk", "--traits", "primates.csv", "--out", "2019"},
       "the file name '2019' begins with a digit or '.'"},
      {{"--tree", "primates.nwk", "--traits", "primates.csv", "--out", "x", "--columns", "activity,,habitat"},
       "--columns holds an empty column name"},
  };
  for (const auto& c : cases) {
    Scratch s;
    copy_example(s);
    const Outcome r = s.prepare(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.message << "\ngot: " << r.err;
    EXPECT_FALSE(s.exists("x.txt"));
  }
}

TEST(PrepareProgram, ConvertsTheExampleAndSaysWhatItDid) {
  Scratch s;
  copy_example(s);
  const Outcome r = s.prepare(EXAMPLE_ARGS);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  for (const char* line : {"read 11 tips from 'primates.nwk' and 2 trait columns from 'primates.csv'",
                           "resolved 1 polytomy into binary splits with zero-length branches",
                           "renamed 11 tips to names varnic accepts (listed in primates.names.tsv)",
                           "wrote primates.txt, primates.ctl, primates.states.tsv and primates.names.tsv",
                           "11 tips, 10 internal nodes; answer 2 at varnic's number-of-states prompt",
                           "next: printf '2\\n' | varnic primates.ctl"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\ngot:\n" << r.out;
  EXPECT_EQ(s.read("primates.txt").substr(0, 5), "11 2\n");
  EXPECT_NE(s.read("primates.ctl").find("\ndatafile primates.txt\n"), std::string::npos);
  EXPECT_EQ(s.read("primates.states.tsv"), "column\ttrait\tstate\tlabel\n0\tactivity\t0\tdiurnal\n"
                                           "0\tactivity\t1\tnocturnal\n1\thabitat\t0\tground\n1\thabitat\t1\ttrees\n");
  EXPECT_NE(s.read("primates.names.tsv").find("\nHomo sapiens\tHomo_sapiens\n"), std::string::npos);
}

TEST(PrepareProgram, RefusesNamingEveryProblemAndWritesNothing) {
  Scratch s;
  s.write("t.nwk", "((A:1,B):1,C:1);");
  s.write("t.csv", "tip,x,y\nA,0,a\nB,1,a\nZ,0,a\n");
  const Outcome r = s.prepare({"--tree", "t.nwk", "--traits", "t.csv", "--out", "out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_NE(r.err.find("varnic-prepare: refused:\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("  t.nwk: the branch above tip 'B' (line 1, column 7) has no length\n"), std::string::npos)
      << r.err;
  // The table is judged against the tree only once the tree is sound.
  EXPECT_EQ(r.err.find("t.csv"), std::string::npos) << r.err;
  EXPECT_FALSE(s.exists("out.txt"));

  s.write("t.nwk", "((A:1,B:1):1,C:1);");
  const Outcome again = s.prepare({"--tree", "t.nwk", "--traits", "t.csv", "--out", "out"});
  EXPECT_EQ(again.status, 1);
  for (const char* m : {"  t.csv: tip 'C' of the tree has no row in the table\n",
                        "  t.csv: row 'Z' (line 4 of the table) names no tip of the tree\n"})
    EXPECT_NE(again.err.find(m), std::string::npos) << m << "\ngot:\n" << again.err;
  for (const char* f : {"out.txt", "out.ctl", "out.states.tsv", "out.names.tsv"}) EXPECT_FALSE(s.exists(f)) << f;
}

TEST(PrepareProgram, NeverOverwritesItsInput) {
  Scratch s;
  s.write("t.txt", "(A:1,B:1);");
  s.write("t.csv", "tip,x\nA,0\nB,1\n");
  const Outcome r = s.prepare({"--tree", "t.txt", "--traits", "t.csv", "--out", "t"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("'t.txt' is an input file; choose another --out prefix"), std::string::npos) << r.err;
  EXPECT_EQ(s.read("t.txt"), "(A:1,B:1);");
}

TEST(PrepareProgram, RemovesAnOldNamesFileWhenNoTipIsRenamed) {
  Scratch s;
  s.write("t.nwk", "(A:1,B:1);");
  s.write("t.csv", "tip,x\nA,0\nB,1\n");
  s.write("out.names.tsv", "tree_name\tdata_name\nA x\tA_x\n");
  const Outcome r = s.prepare({"--tree", "t.nwk", "--traits", "t.csv", "--out", "out"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(s.exists("out.names.tsv"));
  EXPECT_NE(r.out.find("removed the old 'out.names.tsv': no tip was renamed this time"), std::string::npos);
}

TEST(PrepareProgram, WritesIntoAFolderWithNamesRelativeToIt) {
  Scratch s;
  copy_example(s);
  ASSERT_EQ(s.run("mkdir", {"run"}).status, 0);
  const Outcome r = s.prepare({"--tree", "primates.nwk", "--traits", "primates.csv", "--out", "run/apes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("next: cd run/ && printf '2\\n' | varnic apes.ctl"), std::string::npos) << r.out;
  EXPECT_NE(s.read("run/apes.ctl").find("\ndatafile apes.txt\noutfile  apes.results\n"), std::string::npos);
  EXPECT_TRUE(s.exists("run/apes.txt"));
}

// A tree converted from Newick and the same tree written by hand must give
// varnic the same likelihood. Every rate is fixed, so no random search runs.
struct RoundTrip {
  const char* what;
  const char* newick;
  const char* table;
  std::string by_hand;
};

std::string likelihood_of(const Scratch& s, const std::string& control) {
  const Outcome r = s.varnic({control}, "2\n");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::string> lines = lines_starting(r.out, "Likelihood = ");
  EXPECT_EQ(lines.size(), 1u) << r.out;
  return lines.empty() ? "" : lines[0];
}

TEST(PrepareProgram, GivesVarnicTheLikelihoodOfADataFileWrittenByHand) {
  const RoundTrip cases[] = {
      {"the README's five species, with exponents, quotes and a comment",
       "[five species]\n(((A:5e-1,'B':0.5):0.3,C:1.0):0.4,(D:8E-1,E:0.7)n3:0.6)root;\n",
       "tip,trait\nA,0\nB,0\nC,1\nD,1\nE,0\n", source_file("examples/five.txt")},
      {"a polytomy, text states and a name with a blank",
       "(('Homo sapiens':0.2,Pan:0.25,Gorilla:0.3):0.5,Pongo:0.9);",
       "species,diet\nHomo sapiens,mixed\nPan,fruit\nGorilla,fruit\nPongo,fruit\n",
       "4 1\nHomo_sapiens x 0.2 1\np x 0\nPan p 0.25 0\nGorilla p 0.3 0\nx root 0.5\nPongo root 0.9 0\n"},
      {"an unrooted tree", "(A:0.1,B:0.2,C:0.3);", "tip\tx\nA\t1\nB\t0\nC\t1\n",
       "3 1\nA r 0.1 1\ny r 0\nB y 0.2 0\nC y 0.3 1\n"},
      {"a node with one child and small lengths in scientific notation",
       "((A:1e-1,B:2e-1):0.25,(C:3.5e-1):1.5E-1);", "tip,x\nA,0\nB,1\nC,1\n",
       "3 1\nA n 0.1 0\nB n 0.2 1\nn r 0.25\nC r 0.5 1\n"},
  };
  const std::string fixed = "restrict q01 = 0.3\nrestrict q10 = 0.2\n";
  for (const auto& c : cases) {
    Scratch s;
    s.write("tree.nwk", c.newick);
    s.write("traits.csv", c.table);
    const Outcome r = s.prepare({"--tree", "tree.nwk", "--traits", "traits.csv", "--out", "conv"});
    ASSERT_EQ(r.status, 0) << c.what << "\n" << r.err;
    s.write("conv.ctl", s.read("conv.ctl") + fixed);
    s.write("hand.txt", c.by_hand);
    s.write("hand.ctl", "datafile hand.txt\noutfile hand.results\n" + fixed);
    const std::string converted = likelihood_of(s, "conv.ctl");
    EXPECT_EQ(converted, likelihood_of(s, "hand.ctl")) << c.what;
    EXPECT_NE(converted, "") << c.what;
  }
}

}  // namespace
}  // namespace companions_test
