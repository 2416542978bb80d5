// Reading the state-probability file of varnic's testall command.

#include <gtest/gtest.h>

#include "companions/common/probfile.h"

namespace companion {
namespace {

TEST(ReadProbFile, ReadsNodesRowsAndRestrictions) {
  const char* text =
      "trait\tA_glob\tB_glob\tr_glob\tA_loc\tB_loc\tr_loc\n"
      "0\t1\t0\t0.25\t1\t0\t0.3\n"
      "1\t0\t1\t1e-05\t0\t1\t0.5\n"
      "\n"
      "user_defined_restrictions\n"
      "param\tequals\n"
      "q10\t0\n"
      "q01\tq10\n";
  ProbFile probs;
  std::string error;
  ASSERT_TRUE(ReadProbFile(text, probs, error)) << error;
  EXPECT_EQ(probs.nodes, (std::vector<std::string>{"A", "B", "r"}));
  ASSERT_EQ(probs.rows.size(), 2u);
  EXPECT_EQ(probs.rows[1].trait, 1);
  EXPECT_EQ(probs.rows[0].global, (std::vector<double>{1, 0, 0.25}));
  EXPECT_EQ(probs.rows[0].local, (std::vector<double>{1, 0, 0.3}));
  EXPECT_DOUBLE_EQ(probs.rows[1].global[2], 1e-5);
  EXPECT_EQ(probs.restrictions, (std::vector<std::string>{"q10 = 0", "q01 = q10"}));
}

TEST(ReadProbFile, ReadsNoRestrictionsAsNone) {
  ProbFile probs;
  std::string error;
  ASSERT_TRUE(ReadProbFile("trait\tx_y_glob\tx_y_loc\n0\t1\t1\n\nuser_defined_restrictions\nnone\n", probs, error))
      << error;
  EXPECT_EQ(probs.nodes, std::vector<std::string>{"x_y"});
  EXPECT_TRUE(probs.restrictions.empty());
}

struct ErrorCase {
  const char* text;
  const char* message;
};

TEST(ReadProbFile, RefusesOtherFiles) {
  const ErrorCase cases[] = {
      {"", "line 1 is not the header of a state-probability file"},
      {"5 1\nA n1 0.5 0\n", "line 1 is not the header of a state-probability file"},
      {"trait\tA_glob\tB_glob\tA_loc\n0\t1\t0\t1\n", "line 1 has an odd number of node columns"},
      {"trait\tA_glob\tB_loc\n0\t1\t1\n", "column 2 ('A_glob') and column 3 ('B_loc') should be NAME_glob and NAME_loc"},
      {"trait\tA_glob\tA_loc\n0\t1\n", "line 2: 2 cells, but the header has 3"},
      {"trait\tA_glob\tA_loc\nx\t1\t1\n", "line 2: 'x' is not a trait number"},
      {"trait\tA_glob\tA_loc\n0\t1\tabc\n", "line 2: the value 'abc' of column 'A_loc' is not a number"},
      {"trait\tA_glob\tA_loc\n\nuser_defined_restrictions\nnone\n", "the file has no trait rows"},
  };
  for (const auto& c : cases) {
    ProbFile probs;
    std::string error;
    EXPECT_FALSE(ReadProbFile(c.text, probs, error)) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.text << "\ngot: " << error;
  }
}

}  // namespace
}  // namespace companion
