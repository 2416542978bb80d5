// Start-up as a user meets it: the prompts, the control file named on the
// command line or typed, the data file, the results-file header, and every
// way the run can end early.
#include <gtest/gtest.h>

#include "expected.h"
#include "harness.h"

namespace {

using cli::Outcome;
using cli::Scratch;

const char* const BANNER = "* varnic : v0.8, 8 August 2003 *\nEnter number of states\n";

const char* const TWO_TIPS =
    "2 1\n"
    "A  anc  0.5  0\n"
    "B  anc  0.7  1\n";

using cli::StartsWith;

TEST(Startup, TypicalBatchRunWritesTheHeaderAndRestrictions) {
  Scratch s;
  s.copy_from_source("examples/five.txt", "five.txt");
  s.copy_from_source("examples/five.ctl", "five.ctl");
  Outcome r = s.run({"five.ctl"}, "2\n");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(StartsWith(r.out, std::string(BANNER) +
                                    "File read in OK\n"
                                    "No. nodes = 9 (5 terminal with data)\n"
                                    "No. traits = 1 (using trait 0 by default)\n"
                                    "datafile : five.txt\n\n"));
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(StartsWith(s.read("five.results"), std::string(63, '-') +
                                                     "\ndatafile : five.txt\n\n"
                                                     "\nParameter restrictions :\n"
                                                     "  q10 = 0.000000\n"));
}

TEST(Startup, ResultsFileIsAppendedToByEveryRun) {
  Scratch s;
  s.write("d.txt", TWO_TIPS);
  s.write("c.ctl", "datafile d.txt\noutfile r.txt\n");
  s.write("r.txt", "earlier results\n");
  ASSERT_EQ(s.run({"c.ctl"}, "2\n").status, 0);
  ASSERT_EQ(s.run({"c.ctl"}, "2\n").status, 0);
  const std::string results = s.read("r.txt");
  EXPECT_TRUE(StartsWith(results, "earlier results\n" + std::string(63, '-') + "\n"));
  EXPECT_EQ(cli::count_of(results, std::string(63, '-') + "\ndatafile : d.txt\n\n\nNo parameter restrictions\n"), 2);
}

TEST(Startup, NumberOfStatesPrompt) {
  struct Case {
    std::string typed;
    int status;
    std::string after_banner;  // what follows the banner on standard output
  };
  const std::string range = "error: number of states must be between 2 and 6 inclusive\n";
  const Case cases[] = {
      {"abc\n0\n\n2\n", 0, "File read in OK\n"},
      {"2.9\n", 0, "File read in OK\n"},
      {"  +2\n", 0, "File read in OK\n"},
      {"7\n", 1, range},
      {"1\n", 1, range},
      {"-3\n", 1, range},
      {"1e10\n", 1, range},
      {"-0.5\n0.9\n7\n", 1, range},
  };
  for (const Case& c : cases) {
    Scratch s;
    s.write("d.txt", TWO_TIPS);
    s.write("c.ctl", "datafile d.txt\noutfile r.txt\n");
    Outcome r = s.run({"c.ctl"}, c.typed);
    EXPECT_EQ(r.status, c.status) << c.typed;
    EXPECT_TRUE(StartsWith(r.out, BANNER + c.after_banner)) << c.typed;
    if (c.status != 0) {
      EXPECT_EQ(r.out, BANNER + c.after_banner) << c.typed;
      EXPECT_FALSE(s.exists("r.txt"));
    }
  }
}

TEST(Startup, ThreeAndFourStatesNameTheirParameters) {
  Scratch s;
  s.copy_from_source("examples/three.txt", "three.txt");
  s.write("c.ctl", "datafile three.txt\noutfile r.txt\nrestrict q21 0.5\nrestrict q02 q12\n");
  Outcome r = s.run({"c.ctl"}, "3\n");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(s.read("r.txt").find("\nParameter restrictions :\n  q02 = q12 \n  q21 = 0.500000\n"),
            std::string::npos)
      << s.read("r.txt");

  Scratch s4;
  s4.write("d.txt", "2 1\nA r 1 3\nB r 1 0\n");
  s4.write("c.ctl",
           "datafile d.txt\noutfile r.txt\nscaling 1\n"
           "restrict q01 = q02\nrestrict q03 q10\nrestrict q12 q13\nrestrict q20 q21\n"
           "restrict q23 q30\nrestrict q31 q32\nrestrict scale = 1\n");
  r = s4.run({"c.ctl"}, "4\n");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(s4.read("r.txt").find("\nParameter restrictions :\n  q01 = q02 \n  q03 = q10 \n"
                                  "  q12 = q13 \n  q20 = q21 \n  q23 = q30 \n  q31 = q32 \n"
                                  "  scale = 1.000000\n"),
            std::string::npos)
      << s4.read("r.txt");
}

TEST(Startup, FileNamePrompts) {
  Scratch s;
  s.write("d.txt", TWO_TIPS);
  s.write("c.ctl", "# nothing but a comment\n");
  // No argument: every name is typed. A blank line is skipped without a new
  // prompt.
  Outcome r = s.run({}, "2\nc.ctl\n\nd.txt\nr.txt\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(StartsWith(r.out, std::string(BANNER) +
                                    "Enter name of control file\n"
                                    "Enter name of data file\n"
                                    "File read in OK\n"
                                    "No. nodes = 3 (2 terminal with data)\n"
                                    "No. traits = 1 (using trait 0 by default)\n"
                                    "Enter name of results file\n"
                                    "datafile : d.txt\n\n"));
  EXPECT_TRUE(s.exists("r.txt"));
}

TEST(Startup, OverlongTypedNameEndsTheRun) {
  Scratch s;
  s.write("d.txt", TWO_TIPS);
  s.write("c.ctl", "datafile d.txt\n");
  // 253 characters and the line end fit; one more does not.
  Outcome ok = s.run({"c.ctl"}, "2\n" + std::string(253, 'r') + "\n");
  EXPECT_EQ(ok.status, 0) << ok.out;
  EXPECT_TRUE(s.exists(std::string(253, 'r')));
  Outcome r = s.run({"c.ctl"}, "2\n" + std::string(254, 'r') + "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(r.out.size() - 20), "input line too long\n");
}

TEST(Startup, EndOfInputAtAPromptSaysWhichAnswerWasMissing) {
  struct Case {
    std::vector<std::string> args;
    std::string typed;
    std::string missing;
  };
  const Case cases[] = {
      {{"c.ctl"}, "", "number of states"},
      {{"c.ctl"}, "abc\n0\n", "number of states"},
      {{}, "2\n", "control file name"},
      {{"empty.ctl"}, "2\n\n", "data file name"},
      {{"c.ctl"}, "2\n", "results file name"},
  };
  for (const Case& c : cases) {
    Scratch s;
    s.write("d.txt", TWO_TIPS);
    s.write("c.ctl", "datafile d.txt\n");
    s.write("empty.ctl", "");
    Outcome r = s.run(c.args, c.typed);
    EXPECT_EQ(r.status, 1) << c.missing;
    EXPECT_EQ(r.err, "varnic: standard input ended before the " + c.missing + " was given\n");
  }
}

struct FatalCase {
  std::string name;
  std::string data;     // data file content ("" for no file)
  std::string control;  // control file content
  int status;
  std::string err;          // exact standard error
  std::string out_ends;     // the end of standard output
};

void PrintTo(const FatalCase& c, std::ostream* os) { *os << c.name; }

class FatalExit : public ::testing::TestWithParam<FatalCase> {};

TEST_P(FatalExit, EndsWithItsMessageAndStatus) {
  const FatalCase& c = GetParam();
  Scratch s;
  if (!c.data.empty()) s.write("d.txt", c.data);
  s.write("c.ctl", c.control);
  Outcome r = s.run({"c.ctl"}, "2\n");
  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  EXPECT_EQ(r.err, c.err);
  ASSERT_GE(r.out.size(), c.out_ends.size()) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - c.out_ends.size()), c.out_ends) << r.out;
  EXPECT_FALSE(s.exists("r.txt"));
}

const std::string CTL = "datafile d.txt\noutfile r.txt\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, FatalExit,
    ::testing::Values(
        FatalCase{"MissingDataFile", "", CTL, 100, "Couldn't open file d.txt for reading\n\n", BANNER},
        FatalCase{"NoCounts", "A anc 0.5 0\n", CTL, 100,
                  "data file must begin with number of species and number of traits\n", BANNER},
        FatalCase{"NoTraits", "2 0\nA r 1\nB r 1\n", CTL, 100,
                  "data file must specify at least one trait\n", BANNER},
        FatalCase{"WrongSpeciesCount", "3 1\nA r 1 0\nB r 1 1\n", CTL, 100,
                  "incorrect number of species in data file\n", BANNER},
        FatalCase{"NoCompleteLine", "0 1\nx r 1\ny r 1\n", CTL, 1, "", BANNER},
        FatalCase{"SyntaxError", "2 1\nA r 1 0\nB r 0\nC r\n", CTL, 1, "",
                  "Syntax Error - C r\n"},
        FatalCase{"ScientificNotation", "2 1\nA r 1.5e-3 0\nB r 1 1\n", CTL, 1, "",
                  "Error in number: 1\n"
                  "Scientific notation not allowed. Please rewrite using a plain decimal number.\n"},
        FatalCase{"TrailingWordWithE", "2 1\nA r 0.5 0 end\nB r 1 1\n", CTL, 1, "",
                  "Error in number: 0\n"
                  "Scientific notation not allowed. Please rewrite using a plain decimal number.\n"},
        FatalCase{"Colon", "2 1\nA r 0.5 : 0\nB r 1 1\n", CTL, 100,
                  "colons not implemented for data file\n", BANNER},
        FatalCase{"LineTooLong", "2 1\nA r 1 0" + std::string(2552, ' ') + "\nB r 1 1\n", CTL, 100,
                  "line too long in data file\n", BANNER},
        FatalCase{"ThirdDescendant", "3 1\nA r 1 0\nB r 1 1\nC r 1 0\n", CTL, 1, "",
                  "Error with node C - Only binary trees allowed\n"},
        FatalCase{"InvalidState", "2 1\nA r 1 0\nB r 1 2\n", CTL, 1, "",
                  "Error - Terminal Node B has invalid data\n"},
        FatalCase{"ResultsFileCannotBeOpened", TWO_TIPS, "datafile d.txt\noutfile no/r.txt\n", 100,
                  "Couldn't open file no/r.txt for writing\n\n",
                  "No. traits = 1 (using trait 0 by default)\n"}),
    [](const ::testing::TestParamInfo<FatalCase>& info) { return info.param.name; });

TEST(Startup, MissingControlFile) {
  Scratch s;
  Outcome r = s.run({"nope.ctl"}, "2\n");
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(r.err, "Couldn't open file nope.ctl for reading\n\n");
  EXPECT_EQ(r.out, BANNER);
}

TEST(Startup, ALineOf2558CharactersIsAccepted) {
  Scratch s;
  s.write("d.txt", "2 1\nA r 1 0" + std::string(2550, ' ') + "\nB r 1 1\n");
  s.write("c.ctl", CTL);
  Outcome r = s.run({"c.ctl"}, "2\n");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

TEST(Startup, DataFileErrorsAreAllReported) {
  Scratch s;
  s.write("d.txt",
          "3 1\n"
          "A r 1 0\n"
          "lonely\n"
          "B r x\n"
          "second\n"
          "C s 1 1\n"
          "'a name that is far too long to be stored whole' r 1 1\n");
  s.write("c.ctl", CTL);
  Outcome r = s.run({"c.ctl"}, "2\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string(BANNER) +
                       "Syntax Error - B r x\n"
                       "Error - More than one 'root' - second\n"
                       "Error - Name too long (39 characters at most) - 'a name that is far too "
                       "long to be stored whole' r 1 1\n");
}

TEST(Startup, TreeErrorsAreAllReported) {
  Scratch s;
  s.write("d.txt",
          "5 1\n"
          "A r 1 0\n"
          "B r 1 1\n"
          "C s 1 0\n"
          "D s 1 1\n"
          "E x 1 -1\n"
          "x r 1\n");
  s.write("c.ctl", CTL);
  Outcome r = s.run({"c.ctl"}, "2\n");
  EXPECT_EQ(r.status, 1);
  // Linking reports in record order, then the checks of every record.
  EXPECT_EQ(r.out, std::string(BANNER) +
                       "Error - Node s referenced by Node C not found\n"
                       "Error - Node s referenced by Node D not found\n"
                       "Error with node x - Only binary trees allowed\n"
                       "Error - Only one root allowed - Node r and C found\n"
                       "Error - Only one root allowed - Node r and D found\n"
                       "Error - Terminal Node E has no data\n"
                       "Error - Node x has only one descendant\n");
}

TEST(Startup, NamesQuotedCommaSeparatedAndWithCarriageReturns) {
  Scratch s;
  s.write("d.txt", "3 1\r\n'sp one',x,0.5,0\r\n\"sp two\" x 0.5 1\r\nx,r 0.2\r\nC,r 1 1\r\n");
  s.write("c.ctl", CTL);
  Outcome r = s.run({"c.ctl"}, "2\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("No. nodes = 5 (3 terminal with data)\n"), std::string::npos);
}

TEST(Startup, Utf8NamesAreOneName) {
  Scratch s;
  s.write("d.txt", "2 1\nHyl\xc3\xa6na anc 0.5 0\nB anc 0.7 1\n");
  s.write("r\xc3\xa9sultats.ctl", "datafile d.txt\noutfile r\xc3\xa9sultats.txt\n");
  Outcome r = s.run({"r\xc3\xa9sultats.ctl"}, "2\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(s.exists("r\xc3\xa9sultats.txt"));
}

TEST(Startup, ResultsFileMustNotBeAnInput) {
  Scratch s;
  for (const std::string& target : {std::string("d.txt"), std::string("c.ctl"), s.path("d.txt")}) {
    s.write("d.txt", TWO_TIPS);
    const std::string control = "datafile d.txt\noutfile " + target + "\n";
    s.write("c.ctl", control);
    Outcome r = s.run({"c.ctl"}, "2\n");
    EXPECT_EQ(r.status, 100) << target;
    EXPECT_NE(r.err.find("choose another name"), std::string::npos) << r.err;
    EXPECT_EQ(s.read("d.txt"), TWO_TIPS);
    EXPECT_EQ(s.read("c.ctl"), control);
  }
}

TEST(Startup, ControlFileMessagesAppearBeforeTheData) {
  Scratch s;
  s.write("d.txt", TWO_TIPS);
  s.write("c.ctl", "datafile d.txt\noutfile r.txt\nRate 0.3\nscaling 2\ncaution 5\nrestrict q01 -1\n");
  Outcome r = s.run({"c.ctl"}, "2\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(StartsWith(r.out, std::string(BANNER) +
                                    "Warning - Cannot understand line 3 in 'c.ctl' - ignored\n"
                                    "Error in argument - line 4 in 'c.ctl'\n"
                                    "Warning - line 5 sets 'caution' to a value > 4\n"
                                    "Error in argument to 'restrict' - line 6 in 'c.ctl'\n"
                                    "File read in OK\n"));
}

TEST(Startup, FaultyLastDatafileLineMakesTheDriverAsk) {
  Scratch s;
  s.write("d.txt", TWO_TIPS);
  s.write("c.ctl", "datafile d.txt\ndatafile ./d.txt\noutfile r.txt\n");
  Outcome r = s.run({"c.ctl"}, "2\nd.txt\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(StartsWith(r.out, std::string(BANNER) +
                                    "Error in filename - line 2 in 'c.ctl'\n"
                                    "Enter name of data file\n"
                                    "File read in OK\n"));
}

}  // namespace
