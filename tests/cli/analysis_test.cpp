// One analysis, as a batch run shows it: the search's progress lines, the
// root probabilities, the likelihood and the parameters, on standard output
// and in the results file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <regex>
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

// Everything standard output shows after the header of the run.
std::string after_header(const std::string& out) {
  const std::string marker = "\n\nAnalysis\n";
  std::size_t at = out.find(marker);
  return at == std::string::npos ? "" : out.substr(at + 2);
}

double reported_likelihood(const std::string& text) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex("\nLikelihood = ([-0-9.e+]+)\n"))) return NAN;
  return std::stod(m[1]);
}

double reported(const std::string& text, const std::string& name) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex("\n" + name + " = ([-0-9.]+)\n"))) return NAN;
  return std::stod(m[1]);
}

int progress_lines(const std::string& text) {
  std::regex line("(^|\n)[0-9]+ [-0-9.]+(?=\n)");
  return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), line),
                                        std::sregex_iterator()));
}

// A rooted binary tree for the independent likelihood: node k has children
// left[k], right[k] (-1 for a tip), branch length len[k], tip state.
struct SmallTree {
  std::vector<int> left, right, state;
  std::vector<double> len;
  int root;
};

// -log of the sum over root states of the likelihood, with the pruning done
// in plain probabilities (the trees are small).
double neg_log_like(const SmallTree& t, double a, double b) {
  std::function<std::array<double, 2>(int)> cond = [&](int k) -> std::array<double, 2> {
    if (t.left[k] < 0) return {t.state[k] == 0 ? 1.0 : 0.0, t.state[k] == 1 ? 1.0 : 0.0};
    auto l = cond(t.left[k]), r = cond(t.right[k]);
    std::array<double, 2> out{};
    for (int i = 0; i < 2; i++) {
      double sl = 0, sr = 0;
      for (int j = 0; j < 2; j++) {
        sl += p2(i, j, a, b, t.len[t.left[k]]) * l[j];
        sr += p2(i, j, a, b, t.len[t.right[k]]) * r[j];
      }
      out[i] = sl * sr;
    }
    return out;
  };
  auto c = cond(t.root);
  return -std::log(c[0] + c[1]);
}

// The five-tip example: ((A,B)n1,C)n2 and (D,E)n3 under root.
SmallTree five_tips() {
  // 0 A, 1 B, 2 C, 3 n1, 4 D, 5 n2, 6 n3, 7 E, 8 root
  SmallTree t;
  t.left = {-1, -1, -1, 0, -1, 3, 4, -1, 5};
  t.right = {-1, -1, -1, 1, -1, 2, 7, -1, 6};
  t.len = {0.5, 0.5, 1.0, 0.3, 0.8, 0.4, 0.6, 0.7, 0.0};
  t.state = {0, 0, 1, -1, 1, -1, -1, 0, -1};
  t.root = 8;
  return t;
}

// Minimum of f over (0, inf): a grid in log space, then golden section
// around the best grid point.
double minimise_1d(const std::function<double(double)>& f);

// Golden-section minimum of f on [lo, hi].
double golden(const std::function<double(double)>& f, double lo, double hi) {
  const double g = (std::sqrt(5.0) - 1) / 2;
  double a = lo, b = hi, c = b - g * (b - a), d = a + g * (b - a);
  for (int i = 0; i < 200; i++) {
    if (f(c) < f(d)) b = d; else a = c;
    c = b - g * (b - a);
    d = a + g * (b - a);
  }
  return (a + b) / 2;
}

double minimise_1d(const std::function<double(double)>& f) {
  double best_x = 1, best = INFINITY;
  for (double lx = -12; lx <= 5; lx += 0.05) {
    const double v = f(std::exp(lx));
    if (v < best) best = v, best_x = std::exp(lx);
  }
  return golden(f, best_x * std::exp(-0.1), best_x * std::exp(0.1));
}

TEST(Analysis, WorkedExampleWithEveryParameterFixed) {
  Scratch s;
  s.write("d.txt", TWO_LEAVES);
  s.write("c.ctl", "datafile d.txt\noutfile r.txt\nrestrict q01 = 1\nrestrict q10 = 2\n");
  Outcome r = s.run({"c.ctl"}, "2\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  const cli::RootLikelihoods w = cli::two_leaves_worked_example();
  const double L0 = std::log(w.given0), L1 = std::log(w.given1);
  const double like = -std::log(std::exp(L0) + std::exp(L1));
  EXPECT_NEAR(like, 0.86, 0.01);
  const double p0 = std::exp(L0) / (std::exp(L0) + std::exp(L1));
  EXPECT_EQ(after_header(r.out), "Analysis\n\nRoot Probabilities\n" + fmt("[0]  %f\n", p0) +
                                     fmt("[1]  %f\n", 1 - p0) + fmt("\nLikelihood = %f\n\n", like) +
                                     "q01 = 1.000000\nq10 = 2.000000\n");
  EXPECT_EQ(s.read("r.txt"), std::string(63, '-') + "\ndatafile : d.txt\n\n" +
                                 "\nParameter restrictions :\n  q01 = 1.000000\n  q10 = 2.000000\n" +
                                 fmt("\nLikelihood = %f\n\n", like) + "q01 = 1.000000\nq10 = 2.000000\n");
}

TEST(Analysis, PartialTableOnBothOutputs) {
  Scratch s;
  s.write("d.txt", TWO_LEAVES);
  s.write("c.ctl", "datafile d.txt\noutfile r.txt\nrestrict q01 = 1\nrestrict q10 = 2\npartial 1\n");
  Outcome r = s.run({"c.ctl"}, "2\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const cli::RootLikelihoods w = cli::two_leaves_worked_example();
  const double L0 = std::log(w.given0), L1 = std::log(w.given1);
  const std::string row = fmt("%12f ", -L0) + fmt("%12f ", -L1) + "    root\n";
  EXPECT_NEAR(-L0, 1.45, 0.01);
  EXPECT_NEAR(-L1, 1.66, 0.01);
  EXPECT_NE(r.out.find("Analysis\n\nPartial Log Likelihoods\n    0            1            node\n" + row +
                       "\nRoot Probabilities\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(s.read("r.txt").find("\nPartial Log Likelihoods\n    0            1             node\n" + row +
                                 "\nLikelihood = "),
            std::string::npos)
      << s.read("r.txt");
}

TEST(Analysis, ScalingWithScaleOneEqualsScalingOff) {
  Scratch s;
  s.copy_from_source("examples/five.txt", "five.txt");
  s.write("off.ctl", "datafile five.txt\noutfile off.txt\nrestrict q01 = 0.7\nrestrict q10 = 0.4\n");
  s.write("on.ctl", "datafile five.txt\noutfile on.txt\nscaling 1\nrestrict q01 = 0.7\n"
                    "restrict q10 = 0.4\nrestrict scale = 1\n");
  Outcome off = s.run({"off.ctl"}, "2\n");
  Outcome on = s.run({"on.ctl"}, "2\n");
  ASSERT_EQ(off.status, 0);
  ASSERT_EQ(on.status, 0);
  EXPECT_EQ(after_header(on.out), after_header(off.out) + "scale = 1.000000\n");
  EXPECT_EQ(progress_lines(on.out), 0);
}

TEST(Analysis, TypicalBatchRunFindsTheOptimum) {
  Scratch s;
  s.copy_from_source("examples/five.txt", "five.txt");
  s.copy_from_source("examples/five.ctl", "five.ctl");
  Outcome r = s.run({"five.ctl"}, "2\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string report = after_header(r.out);
  EXPECT_GE(progress_lines(report), 2) << report;
  EXPECT_NE(report.find("\nq10 = 0.000000\n"), std::string::npos);
  EXPECT_EQ(report.find("scale ="), std::string::npos);

  // The optimum over q01 with q10 = 0, found independently.
  const SmallTree t = five_tips();
  auto f = [&](double a) { return neg_log_like(t, a, 0.0); };
  const double best_a = minimise_1d(f);
  EXPECT_NEAR(reported_likelihood(report), f(best_a), 1e-4) << report;
  EXPECT_NEAR(reported(report, "q01"), best_a, 1e-2) << report;

  const std::string results = s.read("five.results");
  EXPECT_NEAR(reported_likelihood(results), f(best_a), 1e-4);
  EXPECT_EQ(progress_lines(results), 0);
}

TEST(Analysis, TwoFreeRatesAgreeWithAGridSearch) {
  Scratch s;
  s.copy_from_source("examples/five.txt", "five.txt");
  s.write("c.ctl", "datafile five.txt\noutfile r.txt\n");
  Outcome r = s.run({"c.ctl"}, "2\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const SmallTree t = five_tips();
  // A coarse grid in log space, then alternating golden-section refinement.
  double a = 1, b = 1, best = INFINITY;
  for (double la = -5; la <= 3; la += 0.1)
    for (double lb = -5; lb <= 3; lb += 0.1) {
      const double v = neg_log_like(t, std::exp(la), std::exp(lb));
      if (v < best) best = v, a = std::exp(la), b = std::exp(lb);
    }
  for (int round = 0; round < 30; round++) {
    a = golden([&](double x) { return neg_log_like(t, x, b); }, a / 3, a * 3);
    b = golden([&](double x) { return neg_log_like(t, a, x); }, b / 3, b * 3);
  }
  best = neg_log_like(t, a, b);
  EXPECT_NEAR(reported_likelihood(r.out), best, 1e-4) << r.out;
}

TEST(Analysis, NumberZeroRunsNoMinimiser) {
  Scratch s;
  s.copy_from_source("examples/five.txt", "five.txt");
  s.write("c.ctl", "datafile five.txt\noutfile r.txt\nnumber 0\n");
  Outcome r = s.run({"c.ctl"}, "2\n");
  ASSERT_EQ(r.status, 0);
  const std::string report = after_header(r.out);
  EXPECT_EQ(progress_lines(report), 0) << report;
  EXPECT_TRUE(report.rfind("Analysis\n\nRoot Probabilities\n", 0) == 0) << report;
  // The best random draw is a valid point: a finite likelihood, rates in (0, 1).
  const double q01 = reported(report, "q01");
  EXPECT_GT(q01, 0.0);
  EXPECT_LT(q01, 1.0);
  EXPECT_LT(reported_likelihood(report), 100.0);
}

TEST(Analysis, NumberOneRunsOneMinimiser) {
  Scratch s;
  s.copy_from_source("examples/five.txt", "five.txt");
  s.write("c.ctl", "datafile five.txt\noutfile r.txt\nnumber 1\n");
  Outcome r = s.run({"c.ctl"}, "2\n");
  ASSERT_EQ(r.status, 0);
  const std::string report = after_header(r.out);
  EXPECT_EQ(progress_lines(report), 1) << report;
  EXPECT_NE(report.find("Analysis\n1 "), std::string::npos) << report;
}

TEST(Analysis, TiedRatesReportOneValue) {
  Scratch s;
  s.copy_from_source("examples/five.txt", "five.txt");
  s.write("c.ctl", "datafile five.txt\noutfile r.txt\nrestrict q01 = q10\n");
  Outcome r = s.run({"c.ctl"}, "2\n");
  ASSERT_EQ(r.status, 0);
  const std::string report = after_header(r.out);
  EXPECT_EQ(reported(report, "q01"), reported(report, "q10"));
  const SmallTree t = five_tips();
  const double best = minimise_1d([&](double x) { return neg_log_like(t, x, x); });
  EXPECT_NEAR(reported_likelihood(report), neg_log_like(t, best, best), 1e-4);
}

TEST(Analysis, ScalingOnEstimatesScale) {
  Scratch s;
  s.copy_from_source("examples/five.txt", "five.txt");
  s.write("c.ctl", "datafile five.txt\noutfile r.txt\nscaling 1\nrestrict q10 = 0.3\n");
  Outcome r = s.run({"c.ctl"}, "2\n");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string report = after_header(r.out);
  const double a = reported(report, "q01"), scale = reported(report, "scale");
  ASSERT_FALSE(std::isnan(scale)) << report;
  // The reported likelihood is the likelihood at the reported point (with
  // the exponent applied to every branch length), up to the printed digits.
  SmallTree t = five_tips();
  for (double& len : t.len) len = std::pow(len, scale);
  EXPECT_NEAR(reported_likelihood(report), neg_log_like(t, a, 0.3), 1e-3) << report;
  EXPECT_TRUE(std::regex_search(report, std::regex("\nq10 = 0.300000\nscale = [0-9.]+\n$"))) << report;
}

TEST(Analysis, InteractiveOnlyRunsNoAnalysis) {
  Scratch s;
  s.copy_from_source("examples/five.txt", "five.txt");
  s.write("c.ctl", "datafile five.txt\noutfile r.txt\ninteractive 2\n");
  Outcome r = s.run({"c.ctl"}, "2\nquit\ny\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("Analysis"), std::string::npos);
  EXPECT_EQ(s.read("r.txt"), std::string(63, '-') + "\ndatafile : five.txt\n\n\nNo parameter restrictions\n");
}

}  // namespace
