// The interactive session driven through standard input, and testall's
// state-probability file.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "expected.h"
#include "harness.h"

namespace {

using cli::fmt;
using cli::Outcome;
using cli::p2;
using cli::Scratch;
using cli::TWO_LEAVES;

const char* const NOT_UNDERSTOOD = "\n*** Command not understood - ('Help' lists valid commands)\n";
const char* const PROMPT = "\n>> ";

// Runs a session (interactive 2: no analysis first) on the given data with
// the given extra control lines; the commands are typed one per line.
Outcome session(Scratch& s, const std::string& data, const std::string& control,
                const std::string& commands) {
  s.write("d.txt", data);
  s.write("c.ctl", "datafile d.txt\noutfile r.txt\ninteractive 2\n" + control);
  return s.run({"c.ctl"}, "2\n" + commands);
}

// What the session printed: everything from its first prompt on.
std::string transcript(const Outcome& r) {
  std::size_t at = r.out.find(PROMPT);
  return at == std::string::npos ? "" : r.out.substr(at);
}

// The answers to each command: the transcript split at the prompts.
std::vector<std::string> answers(const Outcome& r) {
  std::vector<std::string> parts;
  std::string t = transcript(r);
  std::size_t at = 0;
  while ((at = t.find(PROMPT, at)) != std::string::npos) {
    std::size_t next = t.find(PROMPT, at + 1);
    parts.push_back(t.substr(at + std::string(PROMPT).size(),
                             next == std::string::npos ? std::string::npos : next - at - 4));
    at += 1;
  }
  return parts;
}

TEST(Session, CommandsAndTheirMessages) {
  Scratch s;
  Outcome r = session(s, TWO_LEAVES, "",
                      "\n"
                      "   = =  # only a comment\n"
                      "Help\n"
                      "q01\n"
                      "restrict q01 -1\n"
                      "restrict\n"
                      "restrict q01 = 0.5\n"
                      "restrict q01 q10\n"
                      "restrict q10 = q01\n"
                      "clear q01 q10\n"
                      "clear q01\n"
                      "clear nonsense\n"
                      "clear\n"
                      "scaling 1\n"
                      "scaling 1\n"
                      "scaling 0.5\n"
                      "scaling 2\n"
                      "scaling\n"
                      "fossil 1 A\n"
                      "fossil A 127\n"
                      "fossil 2 A\n"
                      "fossil 1 nowhere\n"
                      "fossil 1\n"
                      "testall\n"
                      "quit\n"
                      "no\n"
                      "quit\n"
                      "yes\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::string> expected = {
      "",
      "",
      NOT_UNDERSTOOD,
      NOT_UNDERSTOOD,
      "\n*** Error : 'restrict' requires two parameters",
      "\n*** Error : 'restrict' requires two parameters",
      "\nOk\n",
      "\nOk\n",
      "\nOk\n",
      "\nOk\n",
      "\nThere were no restrictions to clear.\n",
      "\n*** Error : That does not look correct\n",
      "\nOk\n",
      "\nBranch length scaling is now on\n",
      "\nBranch length scaling is now on\n",
      "\nBranch length scaling is now off\n",
      "\n*** Error :  Branch length scaling can be set to 0 (off) or 1 (on)\n",
      "\n*** Error :  Branch length scaling can be set to 0 (off) or 1 (on)\n",
      "\nnode A fossil set to 1\n",
      "\nnode A fossil set to 127\n",
      "\n*** Error : Can only set fossils in range 0 to 1 or to 127 (off)\n",
      "\n*** Error : Node 'nowhere' not found\n",
      "\n*** Error : Node '' not found\n",
      "\n*** Error :  'testall' requires a filename parameter\n",
      "\n*** Are you sure you want to quit ?\n",
      "\n*** Are you sure you want to quit ?\n\nTerminating interactive session\n",
  };
  EXPECT_EQ(answers(r), expected);
}

TEST(Session, HelpListsTheCommands) {
  Scratch s;
  Outcome r = session(s, TWO_LEAVES, "", "help\nquit\ny\n");
  ASSERT_EQ(answers(r).size(), 2u);
  EXPECT_EQ(answers(r)[0],
            "\nquit    : terminates interactive session\n"
            "help    : displays this message\n"
            "\nstatus  : print information on current restrictions\n"
            "scaling [0|1]        : set/unset branch length scaling\n"
            "clear [<parameter>]  : removes restrictions on parameters\n"
            "restrict <parameter> = <value | parameter>  : restrict a parameter\n"
            "\ntest    : calculate likelihood\n"
            "testall <filename>     : write state probabilities at each node to <filename>\n"
            "fossil [<state> <node>]: sets fossil at given node to given state\n");
}

TEST(Session, StatusBeforeAndAfterTestAndAfterRestrict) {
  Scratch s;
  Outcome r = session(s, TWO_LEAVES, "restrict q01 = 1\nrestrict q10 = 2\n",
                      "status\ntest\nstatus\nscaling 1\nstatus\nrestrict q10 = 2\nstatus\nquit\ny\n");
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> a = answers(r);
  ASSERT_EQ(a.size(), 8u);
  const std::string restrictions = "\nParameter restrictions :\n  q01 = 1.000000\n  q10 = 2.000000\n";
  EXPECT_EQ(a[0], restrictions + "\nlikelihood : unknown\n\nBranch length scaling is off\n");

  // The worked example: q01 = 1, q10 = 2 on the two-leaf tree.
  const cli::RootLikelihoods w = cli::two_leaves_worked_example();
  const double L0 = w.given0, L1 = w.given1;
  const double like = -std::log(L0 + L1);
  EXPECT_EQ(a[2], restrictions + "\nlikelihood : " + fmt("%12f\n", like) + "  q01 =     1.000000\n" +
                      "  q10 =     2.000000\n" + "\nRoot probabilities" + fmt("  [0] %f", L0 / (L0 + L1)) +
                      fmt("  [1] %f", L1 / (L0 + L1)) + "\n\nBranch length scaling is off\n");
  // Switching scaling on makes the stored results stale; scale is counted now.
  EXPECT_EQ(a[4], "\nParameter restrictions :\n  q01 = 1.000000\n  q10 = 2.000000\n"
                  "\nlikelihood : unknown\n\nBranch length scaling is on\n");
  EXPECT_EQ(a[5], "\nOk\n");
  EXPECT_NE(a[6].find("\nlikelihood : unknown\n"), std::string::npos);
}

TEST(Session, TestAppendsItsReportToTheResultsFile) {
  Scratch s;
  Outcome r = session(s, TWO_LEAVES, "restrict q01 = 1\nrestrict q10 = 2\n", "test\ntest\nquit\ny\n");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(cli::count_of(s.read("r.txt"), "\nLikelihood = "), 2);
  EXPECT_EQ(cli::count_of(r.out, "Analysis\n"), 2);
}

TEST(Session, FossilOnTheRootFixesItsState) {
  Scratch s;
  Outcome r = session(s, TWO_LEAVES, "restrict q01 = 1\nrestrict q10 = 2\n",
                      "fossil root 1\ntest\nfossil 127 root\ntest\nquit\ny\n");
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> a = answers(r);
  EXPECT_EQ(a[0], "\nnode root fossil set to 1\n");
  EXPECT_NE(a[1].find("\nRoot Probabilities\n[0]  0.000000\n[1]  1.000000\n"), std::string::npos) << a[1];
  EXPECT_EQ(a[3].find("\n[1]  1.000000\n"), std::string::npos) << a[3];
}

TEST(Session, EndOfInputEndsTheSessionLikeQuit) {
  for (const std::string& typed : {std::string("status"), std::string("status\nquit\n")}) {
    Scratch s;
    Outcome r = session(s, TWO_LEAVES, "", typed);
    EXPECT_EQ(r.status, 0) << typed;
    const std::string t = transcript(r);
    EXPECT_EQ(t.substr(t.size() - 33), "\nTerminating interactive session\n") << typed;
    EXPECT_EQ(cli::count_of(t, "likelihood : "), 1) << typed;
  }
}

TEST(Session, LineLengthLimit) {
  Scratch s;
  // 253 characters and the line end are accepted; one more ends the run.
  Outcome ok = session(s, TWO_LEAVES, "", "status" + std::string(247, ' ') + "\nquit\ny\n");
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(cli::count_of(ok.out, "likelihood : unknown"), 1);
  Outcome r = session(s, TWO_LEAVES, "", "status" + std::string(248, ' ') + "\nquit\ny\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(transcript(r), std::string(PROMPT) + "input line too long\n");
}

TEST(Session, OverlongWordIsRefused) {
  Scratch s;
  const std::string name(60, 'p');
  Outcome r = session(s, TWO_LEAVES, "", "testall " + name + "\nquit\ny\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(answers(r)[0].find("\n*** Error : "), std::string::npos);
  EXPECT_FALSE(s.exists(name));
}

TEST(Session, TestallOnlyForTwoStates) {
  Scratch s;
  s.copy_from_source("examples/three.txt", "d.txt");
  s.write("c.ctl", "datafile d.txt\noutfile r.txt\ninteractive 2\n");
  Outcome r = s.run({"c.ctl"}, "3\ntestall p.tsv\nquit\ny\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(answers(r)[0], "\n*** Error : 'testall' command only implemented for 2-state traits");
  EXPECT_FALSE(s.exists("p.tsv"));
}

// testall on the two-leaf tree with both rates fixed: no search runs, and
// the probability at the root is worked out by hand.
TEST(Testall, FileLayoutOnARootOnlyTree) {
  Scratch s;
  s.write("p.tsv", "an older file that testall replaces\n");
  Outcome r = session(s, TWO_LEAVES, "restrict q01 = 1\nrestrict q10 = 2\n",
                      "fossil 1 A\ntestall p.tsv\nstatus\nquit\ny\n");
  ASSERT_EQ(r.status, 0) << r.out;
  const cli::RootLikelihoods w = cli::two_leaves_worked_example();
  const double L0 = w.given0, L1 = w.given1;
  const std::string p0 = fmt("%g", L0 / (L0 + L1));
  EXPECT_EQ(s.read("p.tsv"),
            "trait\tA_glob\tB_glob\troot_glob\tA_loc\tB_loc\troot_loc\n"
            "0\t1\t0\t" + p0 + "\t1\t0\t" + p0 + "\n"
            "\n"
            "user_defined_restrictions\n"
            "param\tequals\nq01\t1\nq10\t2\n");
  const std::vector<std::string> a = answers(r);
  const std::string& t = a[1];
  EXPECT_EQ(t.rfind("\n\nTesting for trait 0\n\nGetting unrestricted parameters for global model\n\nAnalysis\n", 0), 0u) << t;
  EXPECT_EQ(cli::count_of(t, "Analysis\n"), 5);
  EXPECT_EQ(cli::count_of(t, "\nTesting for node root, state 0\n"), 1);
  EXPECT_EQ(cli::count_of(t, "\nUsing restricted parameters for 'global' approach\n\n"), 2);
  EXPECT_EQ(cli::count_of(t, "\nUsing unrestricted parameters for 'local' approach\n\n"), 2);
  const std::string ending =
      "\nState 0 probabilities written to 'p.tsv', global model before local\n"
      "\nProbabilities were calculated with the following user-defined\n"
      "restrictions in force:\n\n"
      "param\tequals\nq01\t1\nq10\t2\n"
      "\nWarning: user fossils are ignored by 'testall' and have been cleared\n"
      "Warning: using trait 0 until next 'testall' command\n";
  EXPECT_EQ(t.substr(t.size() - ending.size()), ending);
  // Afterwards: the user's restrictions stand, nothing is stored as tested.
  EXPECT_EQ(a[2], "\nParameter restrictions :\n  q01 = 1.000000\n  q10 = 2.000000\n"
                  "\nlikelihood : unknown\n\nBranch length scaling is off\n");
  // Every analysis went into the results file: 1 + 4 per internal node.
  EXPECT_EQ(cli::count_of(s.read("r.txt"), "\nLikelihood = "), 5);
}

TEST(Testall, NoRestrictionsGiveTheNoneTrailer) {
  Scratch s;
  Outcome r = session(s, TWO_LEAVES, "number 2\n", "testall p.tsv\nquit\ny\n");
  ASSERT_EQ(r.status, 0);
  const std::string file = s.read("p.tsv");
  EXPECT_EQ(file.substr(file.size() - 33), "\n\nuser_defined_restrictions\nnone\n");
}

// Likelihood of the five-tip tree with internal node `fixed` in state
// `state` (-1: none), summing over every other internal assignment.
struct Five {
  // 0 A, 1 B, 2 C, 3 n1, 4 D, 5 n2, 6 n3, 7 E, 8 root
  std::vector<int> parent{3, 3, 5, 5, 6, 8, 8, 6, -1};
  std::vector<double> len{0.5, 0.5, 1.0, 0.3, 0.8, 0.4, 0.6, 0.7, 0.0};
  std::vector<int> internal{3, 5, 6, 8};
};

double five_likelihood(const std::vector<int>& tips, double a, double b, int fixed, int state) {
  Five f;
  double total = 0;
  for (int mask = 0; mask < 16; mask++) {
    std::vector<int> st(9, -1);
    for (int k = 0; k < 5; k++) st[std::vector<int>{0, 1, 2, 4, 7}[k]] = tips[k];
    for (int i = 0; i < 4; i++) st[f.internal[i]] = (mask >> i) & 1;
    if (fixed >= 0 && st[fixed] != state) continue;
    double prod = 1;  // each root state weighted 1
    for (int k = 0; k < 9; k++)
      if (f.parent[k] >= 0) prod *= p2(st[f.parent[k]], st[k], a, b, f.len[k]);
    total += prod;
  }
  return total;
}

TEST(Testall, GlobalValuesMatchAnIndependentSumAndEveryTraitHasItsRow) {
  Scratch s;
  s.write("d.txt",
          "5 2\n"
          "A    n1   0.5   0  1\n"
          "B    n1   0.5   0  1\n"
          "C    n2   1.0   1  0\n"
          "n1   n2   0.3\n"
          "D    n3   0.8   1  0\n"
          "n2   root 0.4\n"
          "n3   root 0.6\n"
          "E    n3   0.7   0  1\n");
  s.write("c.ctl", "datafile d.txt\noutfile r.txt\ninteractive 2\n");
  Outcome r = s.run({"c.ctl"}, "2\ntestall p.tsv\nquit\ny\n");
  ASSERT_EQ(r.status, 0) << r.out;
  std::istringstream file(s.read("p.tsv"));
  std::string header, row;
  std::getline(file, header);
  EXPECT_EQ(header,
            "trait\tA_glob\tB_glob\tC_glob\tn1_glob\tD_glob\tn2_glob\tn3_glob\tE_glob\troot_glob"
            "\tA_loc\tB_loc\tC_loc\tn1_loc\tD_loc\tn2_loc\tn3_loc\tE_loc\troot_loc");
  const std::vector<std::vector<int>> tips = {{0, 0, 1, 1, 0}, {1, 1, 0, 0, 1}};
  // The estimates of each trait's unrestricted analysis, from the transcript.
  std::regex estimate("Getting unrestricted parameters for global model\n\nAnalysis\n[^L]*"
                      "Likelihood = [0-9.]+\n\nq01 = ([0-9.]+)\nq10 = ([0-9.]+)\n");
  auto it = std::sregex_iterator(r.out.begin(), r.out.end(), estimate);
  for (int t = 0; t < 2; t++, ++it) {
    ASSERT_NE(it, std::sregex_iterator()) << r.out;
    const double a = std::stod((*it)[1]), b = std::stod((*it)[2]);
    ASSERT_TRUE(std::getline(file, row));
    std::vector<std::string> cells;
    std::stringstream cs(row);
    for (std::string c; std::getline(cs, c, '\t');) cells.push_back(c);
    ASSERT_EQ(cells.size(), 19u) << row;
    EXPECT_EQ(cells[0], std::to_string(t));
    for (int k = 0; k < 9; k++) {
      const double value = std::stod(cells[1 + k]);
      if (k == 3 || k == 5 || k == 6 || k == 8) {
        const double l0 = five_likelihood(tips[t], a, b, k, 0), l1 = five_likelihood(tips[t], a, b, k, 1);
        EXPECT_NEAR(value, l0 / (l0 + l1), 1e-4) << "trait " << t << " node " << k;
        const double local = std::stod(cells[10 + k]);
        EXPECT_GE(local, 0.0);
        EXPECT_LE(local, 1.0);
      } else {
        const int tip = std::vector<int>{0, 1, 2, -1, 3, -1, -1, 4, -1}[k];
        EXPECT_EQ(value, tips[t][tip] == 0 ? 1.0 : 0.0);
        EXPECT_EQ(cells[10 + k], cells[1 + k]);
      }
    }
  }
  EXPECT_NE(r.out.find("\n\nTesting for trait 1\n"), std::string::npos);
}

TEST(Testall, UserRestrictionsAreKeptAndListed) {
  Scratch s;
  s.copy_from_source("examples/five.txt", "d.txt");
  s.write("c.ctl", "datafile d.txt\noutfile r.txt\ninteractive 2\nrestrict q10 = 0.25\n");
  Outcome r = s.run({"c.ctl"}, "2\nfossil 1 n1\ntestall p.tsv\nstatus\nquit\ny\n");
  ASSERT_EQ(r.status, 0);
  const std::string file = s.read("p.tsv");
  EXPECT_EQ(file.substr(file.size() - 50), "\n\nuser_defined_restrictions\nparam\tequals\nq10\t0.25\n");
  // Every analysis kept q10 at 0.25.
  EXPECT_EQ(cli::count_of(r.out, "\nq10 = 0.250000\n"), 1 + 4 * 2 * 2);
  EXPECT_EQ(cli::count_of(r.out, "\nq10 = "), 1 + 4 * 2 * 2);
  EXPECT_NE(r.out.find("\nParameter restrictions :\n  q10 = 0.250000\n\nlikelihood : unknown\n"),
            std::string::npos);
}

TEST(Testall, RefusesAFileThatIsOneOfTheInputsOrTheResults) {
  for (const std::string name : {"r.txt", "d.txt", "c.ctl"}) {
    Scratch s;
    Outcome r = session(s, TWO_LEAVES, "", "testall " + name + "\nquit\ny\n");
    const std::string before_d = TWO_LEAVES;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(answers(r)[0].rfind("\n*** Error : '" + name + "' is the ", 0), 0u) << answers(r)[0];
    EXPECT_EQ(s.read("d.txt"), before_d);
    EXPECT_EQ(cli::count_of(s.read("r.txt"), "datafile : d.txt"), 1);
    EXPECT_EQ(s.read("r.txt").find("Likelihood"), std::string::npos);
  }
}

TEST(Testall, ATraitColumnThatDoesNotFitIsRefusedBeforeAnything) {
  Scratch s;
  Outcome r = session(s, "2 2\nA root 0.5 0 1\nB root 1.0 1 -1\n", "", "fossil 1 A\ntestall p.tsv\nstatus\nquit\ny\n");
  EXPECT_EQ(r.status, 0);
  const std::vector<std::string> a = answers(r);
  EXPECT_EQ(a[1], "\n*** Error : trait 1 does not fit the tree (terminal node B has no data); nothing was computed\n");
  EXPECT_FALSE(s.exists("p.tsv"));
  EXPECT_EQ(r.out.find("Analysis"), std::string::npos);
}

}  // namespace

namespace {

TEST(Session, AFatalErrorKeepsEverythingWrittenToTheResultsFile) {
  Scratch s;
  // testall cannot open its file (no such folder): the run ends through the
  // fatal-error path after two analyses.
  Outcome r = session(s, TWO_LEAVES, "restrict q01 = 1\nrestrict q10 = 2\n",
                      "test\ntest\ntestall missing/p.tsv\nquit\ny\n");
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(r.err, "Couldn't open file missing/p.tsv for writing\n\n");
  EXPECT_EQ(cli::count_of(s.read("r.txt"), "\nLikelihood = "), 2);
}

}  // namespace
