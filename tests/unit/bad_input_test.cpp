// Inputs found by fuzzing the data-file reader, each kept as a reproducer
// under fuzz/regressions/data/ as well.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

#include "driver/tree.h"
#include "model_size.h"

using namespace varnic;

namespace {

class BadDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fresh_model(2);
    reset_tree();
  }
  int read(const std::string& body, int traits_per_line) {
    std::FILE* f = std::tmpfile();
    std::fputs(body.c_str(), f);
    std::rewind(f);
    testing::internal::CaptureStdout();
    int n = ReadData(f, traits_per_line, traits_);
    printed_ = testing::internal::GetCapturedStdout();
    std::fclose(f);
    return n;
  }
  TraitTable traits_;
  std::string printed_;
};

// A trait count far beyond what a line can hold (here from a first line of
// "1 2147483647") used to allocate a scratch array and a trait table of
// that many columns before any line was read: gigabytes, or the end of the
// run for want of memory. No line can carry a full set, so the file is
// refused without either.
TEST_F(BadDataTest, TraitCountNoLineCanHoldCostsNoMemory) {
  EXPECT_EQ(read("A r 1\nB r 1\n", INT_MAX), 0);
  EXPECT_EQ(printed_, "");
  EXPECT_TRUE(tree.empty());
  EXPECT_TRUE(traits_.empty());
  EXPECT_EQ(nnodes, 0);

  EXPECT_EQ(read("A r 1 0 1\nB r 1\n", INT_MAX), 0);
  EXPECT_EQ(printed_, "Syntax Error - A r 1 0 1\n");
  EXPECT_TRUE(tree.empty());
}

// With no line of complete data nothing is stored either, whatever the
// trait count; a file with one such line is read as before.
TEST_F(BadDataTest, NoCompleteLineStoresNothing) {
  EXPECT_EQ(read("x r 1\ny r 1\n", 1), 0);
  EXPECT_TRUE(tree.empty());
  EXPECT_EQ(read("x r 1\nA x 1 0\n", 1), 1);
  EXPECT_EQ(nnodes, 3);
}

// "-nan" after a line's ancestor name used to be converted as a whole (a
// NaN, whose conversion to a trait value is undefined), and "-inf" or
// "0x1p9" likewise as no plain decimal number. A number is only the run of
// digits, '.' and '-'; the letters around it are skipped like any other
// character between numbers.
TEST_F(BadDataTest, OnlyTheRunOfDigitsIsANumber) {
  struct Case {
    std::string text;
    int max, count;
    std::vector<double> values;
    char first_skipped;
  };
  const Case cases[] = {
      {"-nan", 1, 1, {0}, '9'},
      {"-inf 1", 2, 2, {0, 1}, 'i'},
      {"0x1p3", 2, 2, {0, 1}, 'x'},
      {"1.5 -nan(1)", 3, 3, {1.5, 0, 1}, 'n'},
      {"-0.25 - 3", 3, 3, {-0.25, 0, 3}, '9'},
  };
  for (const Case& c : cases) {
    double values[4] = {7, 7, 7, 7};
    int position = 0;
    char skipped = '?';
    EXPECT_EQ(GetNum(c.text.c_str(), values, &position, c.max, &skipped), c.count) << c.text;
    for (std::size_t i = 0; i < c.values.size(); i++) EXPECT_EQ(values[i], c.values[i]) << c.text;
    EXPECT_EQ(skipped, c.first_skipped) << c.text;
  }
}

TEST_F(BadDataTest, NanAndHexTextGiveFiniteLengthsAndValues) {
  ASSERT_EQ(read("A r -nan 0\nB r 1 -nan\nC q 0x1p99999 1\nq r -inf\n", 1), 3) << printed_;
  EXPECT_EQ(printed_, "");
  for (int k = 0; k < nnodes; k++) EXPECT_TRUE(std::isfinite(tree[k].length)) << k;
  EXPECT_EQ(tree[0].length, 0.0);
  EXPECT_EQ(tree[2].length, 0.0);
  EXPECT_EQ(traits_[0][0], 0);
  EXPECT_EQ(traits_[1][0], 0);
  EXPECT_EQ(traits_[2][0], 1);
}

// A line of blanks, or a single name, after the last node line used to be
// taken for one node line more than the first pass had counted, as if the
// file had changed between the passes: "error on data file", exit 100.
TEST_F(BadDataTest, BlankOrSingleNameLineAfterTheLastNodeLine) {
  const std::string endings[] = {"  \n", "\t\t", "anc\n", "anc\r\n", " \r\n", "'' \n"};
  for (const std::string& ending : endings) {
    reset_tree();
    EXPECT_EQ(read("A anc 0.5 0\nB anc 0.7 1\n" + ending, 1), 2) << ending;
    EXPECT_EQ(printed_, "");
    ASSERT_EQ(nnodes, 3);
    EXPECT_EQ(tree[1].name, "B");
    EXPECT_EQ(tree[2].name, "\x7f");  // the root record, named when the tree is linked
  }
}

}  // namespace
