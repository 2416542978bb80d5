// A session ended by a signal (a kill, or the hang-up of a closed terminal)
// keeps in the results file every report it completed: the program is
// stopped without any chance to flush, right after a report is done.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "expected.h"
#include "harness.h"

namespace {

using cli::LiveRun;
using cli::Scratch;

const std::string PROMPT = "\n>> ";

// A session on the two-leaf tree with both rates fixed, so that each test
// is one evaluation; no analysis before the session.
void prepare(Scratch& s) {
  s.write("d.txt", cli::TWO_LEAVES);
  s.write("c.ctl",
          "datafile d.txt\noutfile r.txt\ninteractive 2\nrestrict q01 = 1\nrestrict q10 = 2\n");
}

// Types a command and waits for the prompt that follows its answer; returns
// the answer's report, from its likelihood line up to that prompt.
std::string report_of(LiveRun& run, const std::string& command, std::size_t& from) {
  run.type(command);
  const std::size_t at = run.read_until("\nLikelihood = ", from);
  if (at == std::string::npos) return "";
  const std::size_t end = run.read_until(PROMPT, at);
  if (end == std::string::npos) return "";
  from = end + PROMPT.size();
  return run.out().substr(at, end - at);
}

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class EndedBySignal : public ::testing::TestWithParam<int> {};

TEST_P(EndedBySignal, ResultsFileHoldsEveryCompletedReport) {
  const int signal_number = GetParam();
  Scratch s;
  prepare(s);
  LiveRun run(s, {"c.ctl"});
  run.type("2\n");
  std::size_t from = run.read_until(PROMPT);
  ASSERT_NE(from, std::string::npos) << run.out();

  const std::string first = report_of(run, "test\n", from);
  ASSERT_NE(first, "") << run.out();
  EXPECT_EQ(first, "\nLikelihood = " + cli::fmt("%f", -std::log(
                       cli::two_leaves_worked_example().given0 + cli::two_leaves_worked_example().given1)) +
                       "\n\nq01 = 1.000000\nq10 = 2.000000\n");
  const std::string second = report_of(run, "restrict q10 = 3\ntest\n", from);
  ASSERT_NE(second, "") << run.out();
  EXPECT_NE(second, first);

  EXPECT_EQ(run.end_with(signal_number), 128 + signal_number);
  const std::string results = s.read("r.txt");
  EXPECT_EQ(results.find("datafile : d.txt\n"), 64u) << results;
  EXPECT_TRUE(ends_with(results, first + second)) << results;
  EXPECT_EQ(cli::count_of(results, "Likelihood = "), 2) << results;
}

INSTANTIATE_TEST_SUITE_P(Signals, EndedBySignal, ::testing::Values(SIGKILL, SIGHUP, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGKILL ? "Kill"
                                              : info.param == SIGHUP ? "HangUp"
                                                                     : "Terminate");
                         });

TEST(EndedBySignalAfterAnalysis, AnalysisBeforeTheSessionIsKept) {
  Scratch s;
  s.write("d.txt", cli::TWO_LEAVES);
  s.write("c.ctl",
          "datafile d.txt\noutfile r.txt\ninteractive 1\nrestrict q01 = 1\nrestrict q10 = 2\n");
  LiveRun run(s, {"c.ctl"});
  run.type("2\n");
  const std::size_t at = run.read_until("\nLikelihood = ");
  ASSERT_NE(at, std::string::npos) << run.out();
  const std::size_t prompt = run.read_until(PROMPT, at);
  ASSERT_NE(prompt, std::string::npos) << run.out();
  const std::string report = run.out().substr(at, prompt - at);

  EXPECT_EQ(run.end_with(SIGKILL), 128 + SIGKILL);
  EXPECT_TRUE(ends_with(s.read("r.txt"), report)) << s.read("r.txt");
}

TEST(EndedBySignalAfterTestall, ResultsAndProbabilityFilesAreComplete) {
  Scratch s;
  prepare(s);
  LiveRun run(s, {"c.ctl"});
  run.type("2\n");
  std::size_t from = run.read_until(PROMPT);
  ASSERT_NE(from, std::string::npos) << run.out();
  run.type("testall p.tsv\n");
  const std::size_t written = run.read_until("State 0 probabilities written to 'p.tsv'", from);
  ASSERT_NE(written, std::string::npos) << run.out();
  ASSERT_NE(run.read_until(PROMPT, written), std::string::npos) << run.out();
  // One analysis without a fixed node, then two (global, local) for each
  // state of the one internal node.
  const int reports = cli::count_of(run.out().substr(from), "\nLikelihood = ");
  EXPECT_EQ(reports, 5);

  EXPECT_EQ(run.end_with(SIGKILL), 128 + SIGKILL);
  const std::string results = s.read("r.txt");
  EXPECT_EQ(cli::count_of(results, "\nLikelihood = "), reports) << results;
  // Each report on standard output is in the file, in order.
  std::size_t in_file = 0, on_screen = from;
  for (int k = 0; k < reports; k++) {
    const std::size_t at = run.out().find("\nLikelihood = ", on_screen);
    const std::size_t end = run.out().find("\nq10 = ", at);
    ASSERT_NE(end, std::string::npos);
    const std::string report = run.out().substr(at, run.out().find('\n', end + 1) - at + 1);
    in_file = results.find(report, in_file);
    ASSERT_NE(in_file, std::string::npos) << report << "\n--- file:\n" << results;
    in_file += report.size();
    on_screen = end;
  }
  const std::string probabilities = s.read("p.tsv");
  EXPECT_EQ(probabilities.rfind("trait\tA_glob\tB_glob\troot_glob\tA_loc\tB_loc\troot_loc\n", 0), 0u)
      << probabilities;
  EXPECT_TRUE(ends_with(probabilities, "user_defined_restrictions\nparam\tequals\nq01\t1\nq10\t2\n"))
      << probabilities;
}

}  // namespace
