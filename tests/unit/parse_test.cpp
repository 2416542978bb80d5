#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "driver/control.h"
#include "driver/settings.h"
#include "model_size.h"
#include "session/params.h"

using namespace varnic;

namespace {

struct ParseCase {
  std::string line;
  int result, keyword, param1, param2;
  double value;
  std::string word;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.line << '"'; }

class ParseTable : public ::testing::TestWithParam<ParseCase> {
 protected:
  void SetUp() override { fresh_model(2); }
};

TEST_P(ParseTable, ClassifiesTokens) {
  const ParseCase& c = GetParam();
  std::string line = c.line;
  int keyword, p1, p2;
  double value;
  std::string word;
  EXPECT_EQ(Parse(line, commands, keyword, p1, p2, value, word), c.result);
  EXPECT_EQ(keyword, c.keyword);
  EXPECT_EQ(p1, c.param1);
  EXPECT_EQ(p2, c.param2);
  EXPECT_DOUBLE_EQ(value, c.value);
  EXPECT_EQ(word, c.word);
}

// Keyword indices: datafile 0, outfile 1, scaling 2, restrict 3, rate 6,
// caution 10. Parameters with two states: q01 0, q10 1, scale 2.
INSTANTIATE_TEST_SUITE_P(
    Lines, ParseTable,
    ::testing::Values(
        ParseCase{"", 0, -1, -1, -1, -1.0, ""},
        ParseCase{"   \t= =\n", 0, -1, -1, -1, -1.0, ""},
        ParseCase{"# only a comment", 0, -1, -1, -1, -1.0, ""},
        ParseCase{"rate=0.3", 3, 6, -1, -1, 0.3, ""},
        ParseCase{"rate = 0.3", 3, 6, -1, -1, 0.3, ""},
        ParseCase{"0.3 = rate", 3, 6, -1, -1, 0.3, ""},
        ParseCase{"Rate 0.3", 1, -1, -1, -1, 0.3, "Rate"},
        ParseCase{"rate 1e-5", 3, 6, -1, -1, 1e-5, ""},
        ParseCase{"rate 0.5x", 3, 6, -1, -1, 0.5, ""},
        ParseCase{"caution -1", 3, 10, -1, -1, -1.0, "-1"},
        ParseCase{"datafile ./data.txt", 3, 0, -1, -1, 0.0, ""},
        ParseCase{"datafile my data.txt", 3, 0, -1, -1, -1.0, "my"},
        ParseCase{"datafile data.txt # comment", 3, 0, -1, -1, -1.0, "data.txt"},
        ParseCase{"datafile q01", 3, 0, 0, -1, -1.0, ""},
        ParseCase{"q01 0.2", 2, -1, 0, -1, 0.2, ""},
        ParseCase{"q01 q10 0.2", 2, -1, 0, 1, 0.2, ""},
        ParseCase{"q01 0.2 extra", 2, -1, 0, -1, 0.2, "extra"},
        ParseCase{"0.2", 1, -1, -1, -1, 0.2, ""},
        ParseCase{"hello", 1, -1, -1, -1, -1.0, "hello"},
        ParseCase{"restrict scale = q01", 3, 3, 2, 0, -1.0, ""},
        ParseCase{"restrict q01 q10 scale 1 2 w1 w2", 3, 3, 0, 1, 1.0, "scale"},
        ParseCase{"scaling scaling 1", 3, 2, -1, -1, 1.0, "scaling"},
        ParseCase{"outfile +5", 3, 1, -1, -1, -1.0, "+5"}));

TEST(TruncFileName, CutsAtBlanksAndControlCharacters) {
  struct Case {
    std::string in, out;
    int result;
  };
  for (const Case& c : {Case{"data.txt", "data.txt", 1}, Case{"a b", "a", 1},
                        Case{"a\tb", "a", 1}, Case{"x\x01y", "x", 1}, Case{" lead", "", 0},
                        Case{"", "", 0}, Case{"caf\xc3\xa9.txt", "caf\xc3\xa9.txt", 1}}) {
    std::string name = c.in;
    EXPECT_EQ(TruncFileName(name), c.result) << c.in;
    EXPECT_EQ(name, c.out) << c.in;
  }
}

class ReadControlTest : public ::testing::Test {
 protected:
  void SetUp() override { fresh_model(2); }
  // Writes the control text to a file and reads it; returns what was printed.
  std::string read(const std::string& text) {
    path_ = ::testing::TempDir() + "control_test.ctl";
    std::ofstream(path_) << text;
    ::testing::internal::CaptureStdout();
    ReadControl(path_);
    return ::testing::internal::GetCapturedStdout();
  }
  std::string path_;
};

TEST_F(ReadControlTest, AppliesSettingsAndLaterLinesOverride) {
  std::string out = read(
      "datafile first.txt\n"
      "datafile data.txt\n"
      "outfile out.txt\n"
      "scaling 1.7\npartial 1\ninteractive 2\n"
      "step 0.1\nconverge 1e-5\nrate = 0.3\nnumber 12.9\ncaution 4.9\n"
      "q01 0.2\n");
  EXPECT_EQ(out, "");
  EXPECT_EQ(infile, "data.txt");
  EXPECT_EQ(inflag, 1);
  EXPECT_EQ(outfile, "out.txt");
  EXPECT_EQ(outflag, 1);
  EXPECT_EQ(scaling, 1);
  EXPECT_EQ(partial, 1);
  EXPECT_EQ(interactive, 2);
  EXPECT_DOUBLE_EQ(stepsize, 0.1);
  EXPECT_DOUBLE_EQ(converge, 1e-5);
  EXPECT_DOUBLE_EQ(rate, 0.3);
  EXPECT_EQ(number, 12);
  EXPECT_EQ(caution, 4);
  EXPECT_EQ(startflag[0], 1);
  EXPECT_DOUBLE_EQ(startvec[0], 0.2);
  EXPECT_EQ(startflag[1], 0);
}

TEST_F(ReadControlTest, RefusedLinesKeepEarlierValuesAndSayWhy) {
  std::string out = read(
      "caution 3\n"       // 1
      "caution -1\n"      // 2
      "scaling 2\n"       // 3
      "scaling\n"         // 4
      "number\n"          // 5
      "Rate 0.3\n"        // 6
      "q01 q10 0.2\n"     // 7
      "q01 0.2 extra\n"   // 8
      "hello\n"           // 9
      "0.2\n"             // 10
      "caution 5\n"       // 11
      "number 0\n"        // 12
      "interactive 3\n"   // 13
      "q10\n");           // 14
  const std::string p = path_;
  EXPECT_EQ(out, "Error in argument - line 2 in '" + p + "'\n"
                 "Error in argument - line 3 in '" + p + "'\n"
                 "Error in argument - line 4 in '" + p + "'\n"
                 "Error in argument - line 5 in '" + p + "'\n"
                 "Warning - Cannot understand line 6 in '" + p + "' - ignored\n"
                 "Error in argument - line 7 in '" + p + "'\n"
                 "Error in argument - line 8 in '" + p + "'\n"
                 "Warning - Cannot understand line 9 in '" + p + "' - ignored\n"
                 "Warning - Cannot understand line 10 in '" + p + "' - ignored\n"
                 "Warning - line 11 sets 'caution' to a value > 4\n"
                 "Error in argument - line 13 in '" + p + "'\n"
                 "Error in argument - line 14 in '" + p + "'\n");
  EXPECT_EQ(caution, 5);
  EXPECT_EQ(scaling, 0);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(interactive, 0);
  EXPECT_EQ(startflag[0], 0);
  EXPECT_EQ(startflag[1], 0);
}

TEST_F(ReadControlTest, FileNames) {
  std::string long_name(52, 'n');
  std::string out = read("datafile ./data.txt\n"
                         "outfile good.txt\n"
                         "outfile " + long_name + "\n"
                         "datafile my data.txt\n");
  EXPECT_EQ(out, "Error in filename - line 1 in '" + path_ + "'\n"
                 "Error in filename - line 3 in '" + path_ + "'\n");
  EXPECT_EQ(infile, "my");
  EXPECT_EQ(inflag, 1);
  // A faulty last "outfile" line leaves no name: the driver will prompt.
  EXPECT_EQ(outflag, 0);
  EXPECT_EQ(outfile, "");

  fresh_model(2);
  out = read("datafile " + std::string(51, 'd') + "\n");
  EXPECT_EQ(out, "");
  EXPECT_EQ(infile, std::string(51, 'd'));
}

TEST_F(ReadControlTest, LongLinesAreReadInPiecesOf255) {
  // 300 characters: a piece of 255 and one of 45 (with its line end), so the
  // next line is line 3.
  std::string text = "# " + std::string(253, 'c') + "rate 0.7" + std::string(36, ' ') + "\nhello\n";
  std::string out = read(text);
  EXPECT_DOUBLE_EQ(rate, 0.7);
  EXPECT_EQ(out, "Warning - Cannot understand line 3 in '" + path_ + "' - ignored\n");
}

TEST_F(ReadControlTest, RestrictLines) {
  std::string out = read("restrict q10 = 0\n"
                         "restrict = 0.5\n"
                         "restrict q01\n"
                         "restrict scale q01\n"
                         "restrict q01 -1\n");
  EXPECT_EQ(out, "Error in argument to 'restrict' - line 2 in '" + path_ + "'\n"
                 "Error in argument to 'restrict' - line 3 in '" + path_ + "'\n"
                 "Error in argument to 'restrict' - line 5 in '" + path_ + "'\n");
  EXPECT_EQ(remap[0], 0);
  EXPECT_EQ(remap[1], -1);
  EXPECT_EQ(remap[2], 0);
  EXPECT_DOUBLE_EQ(fixvec[0], 0.0);
  EXPECT_EQ(nfix, 1);
}

TEST_F(ReadControlTest, EmptyOrCommentOnlyFileChangesNothing) {
  EXPECT_EQ(read(""), "");
  EXPECT_EQ(read("# nothing\n\n   \n"), "");
  EXPECT_EQ(inflag, 0);
  EXPECT_EQ(number, 100);
  EXPECT_DOUBLE_EQ(rate, 0.25);
}

TEST(ReadControlDeath, MissingFileEndsWithStatus100) {
  EXPECT_EXIT(ReadControl("/nonexistent/dir/x.ctl"), ::testing::ExitedWithCode(100),
              "Couldn't open file /nonexistent/dir/x.ctl for reading\n");
}

}  // namespace
