#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "model_size.h"
#include "session/params.h"

using namespace varnic;

namespace {

std::vector<int> table() { return std::vector<int>(remap.begin(), remap.begin() + num_params); }

// What a procedure writes to a stream.
template <typename F>
std::string written(F write) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  write(stream);
  std::fclose(stream);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

std::string status() { return written([](std::FILE* s) { Param_Status(s); }); }
std::string restrictions() { return written([](std::FILE* s) { WriteRestrictions(s); }); }

constexpr int q01 = 0, q10 = 1, scale = 2;

class ParamTable : public ::testing::Test {
 protected:
  void SetUp() override { fresh_model(2); }
};

TEST_F(ParamTable, WorkedSequence) {
  EXPECT_EQ(table(), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(Restrict(q10, -1, 0.0, 0, 0, "<unknown>"), 0);
  EXPECT_EQ(table(), (std::vector<int>{0, -1, 1}));
  EXPECT_EQ(nfix, 1);
  EXPECT_EQ(fixvec[0], 0.0);

  EXPECT_EQ(Restrict(scale, q01, -1.0, 0, 0, "<unknown>"), 0);
  EXPECT_EQ(table(), (std::vector<int>{0, -1, 0}));
  EXPECT_EQ(restrictions(), "param\tequals\nq10\t0\nscale\tq01\n");

  scaling = 1;
  EXPECT_EQ(status(), "\nParameter restrictions :\n  q01 = scale \n  q10 = 0.000000\n");
  scaling = 0;
  EXPECT_EQ(status(), "\nParameter restrictions :\n  q10 = 0.000000\n");

  tested = 1;
  EXPECT_EQ(Clear(q10), 0);
  EXPECT_EQ(nfix, 0);
  EXPECT_EQ(table(), (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(tested, 0);

  tested = 1;
  EXPECT_EQ(Clear(q10), 1);
  EXPECT_EQ(tested, 1);
  EXPECT_EQ(table(), (std::vector<int>{0, 1, 0}));
}

TEST_F(ParamTable, NegativeOrMissingValueIsRefusedAndChangesNothing) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(Restrict(q01, -1, -1.0, 0, 0, "<unknown>"), 2);
  EXPECT_EQ(Restrict(q01, -1, -0.5, 1, 7, "run.ctl"), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\n*** Error : you can only restrict to non-negative numbers\n"
            "Error in argument to 'restrict' - line 7 in 'run.ctl'\n");
  EXPECT_EQ(table(), (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(fixed_val.empty());
  EXPECT_EQ(restrictions(), "none\n");
}

TEST_F(ParamTable, FixingATiedParameterFixesItsGroup) {
  fresh_model(3);  // q01 q02 q10 q12 q20 q21 scale
  Restrict(0, 2, -1.0, 0, 0, "");  // q01 = q10
  Restrict(0, 4, -1.0, 0, 0, "");  // q01 = q20
  EXPECT_EQ(table(), (std::vector<int>{0, 1, 0, 2, 0, 3, 4}));
  Restrict(2, -1, 0.5, 0, 0, "");  // fix q10
  EXPECT_EQ(table(), (std::vector<int>{-1, 0, -1, 1, -1, 2, 3}));
  EXPECT_EQ(nfix, 1);
  // The record holds the value for q10 only; the others keep their ties.
  EXPECT_EQ(restrictions(), "param\tequals\nq01\tq20\nq10\t0.5\n");

  Restrict(0, -1, 0.25, 0, 0, "");  // refixing changes the whole slot
  EXPECT_EQ(nfix, 1);
  EXPECT_EQ(fixvec[0], 0.25);
  EXPECT_EQ(status(), "\nParameter restrictions :\n  q01 = q10 = q20 = 0.250000\n");
}

TEST_F(ParamTable, TyingAFreeParameterToAFixedOneFixesIt) {
  fresh_model(3);
  Restrict(1, -1, 0.7, 0, 0, "");  // q02 = 0.7
  Restrict(3, 5, -1.0, 0, 0, "");  // q12 = q21
  EXPECT_EQ(table(), (std::vector<int>{0, -1, 1, 2, 3, 2, 4}));
  Restrict(5, 1, -1.0, 0, 0, "");  // q21 = q02: the group {q12, q21} becomes fixed
  EXPECT_EQ(table(), (std::vector<int>{0, -1, 1, -1, 2, -1, 3}));
  EXPECT_EQ(nfix, 1);
  EXPECT_EQ(fixvec[0], 0.7);
}

TEST_F(ParamTable, TyingTwoFixedParametersReleasesASlot) {
  fresh_model(3);
  Restrict(0, -1, 0.1, 0, 0, "");  // slot 0
  Restrict(2, -1, 0.2, 0, 0, "");  // slot 1
  Restrict(4, -1, 0.3, 0, 0, "");  // slot 2
  EXPECT_EQ(table(), (std::vector<int>{-1, 0, -2, 1, -3, 2, 3}));
  Restrict(0, 4, -1.0, 0, 0, "");  // q01 (slot 0) with q20 (slot 2)
  // The group takes the higher-numbered slot's value; the top slot's
  // members move into the freed slot 0.
  EXPECT_EQ(nfix, 2);
  EXPECT_EQ(table(), (std::vector<int>{-1, 0, -2, 1, -1, 2, 3}));
  EXPECT_EQ(fixvec[0], 0.3);
  EXPECT_EQ(fixvec[1], 0.2);
}

TEST_F(ParamTable, TiesToItselfOrAlreadyTiedChangeOnlyTheRecord) {
  Restrict(q01, q01, -1.0, 0, 0, "");
  EXPECT_EQ(table(), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(restrictions(), "param\tequals\nq01\tq01\n");
  Restrict(q01, q10, -1.0, 0, 0, "");
  Restrict(q10, q01, -1.0, 0, 0, "");
  EXPECT_EQ(table(), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(restrictions(), "param\tequals\nq01\tq10\nq10\tq01\n");
}

TEST_F(ParamTable, ATieGivenWithANumberIsATie) {
  EXPECT_EQ(Restrict(q01, q10, 0.5, 0, 0, ""), 0);
  EXPECT_EQ(table(), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(nfix, 0);
  EXPECT_EQ(restrictions(), "param\tequals\nq01\tq10\n");
}

TEST_F(ParamTable, ClearOneMemberOfAGroupOfThree) {
  fresh_model(3);
  Restrict(0, 3, -1.0, 0, 0, "");  // q01 = q12
  Restrict(5, 0, -1.0, 0, 0, "");  // q21 = q01
  EXPECT_EQ(table(), (std::vector<int>{0, 1, 2, 0, 3, 0, 4}));
  EXPECT_EQ(Clear(3), 0);  // q12 leaves the group and gets its own variable
  EXPECT_EQ(table(), (std::vector<int>{0, 1, 2, 3, 4, 0, 5}));
  // The record of q21 still names q01, and of q01 still q12.
  EXPECT_EQ(restrictions(), "param\tequals\nq01\tq12\nq21\tq01\n");
}

TEST_F(ParamTable, ClearTheOnlyParameterOfALowerSlot) {
  fresh_model(3);
  Restrict(0, -1, 0.1, 0, 0, "");
  Restrict(2, -1, 0.2, 0, 0, "");
  Restrict(3, -1, 0.3, 0, 0, "");
  EXPECT_EQ(table(), (std::vector<int>{-1, 0, -2, -3, 1, 2, 3}));
  EXPECT_EQ(Clear(0), 0);
  EXPECT_EQ(nfix, 2);
  EXPECT_EQ(fixvec[0], 0.3);
  EXPECT_EQ(table(), (std::vector<int>{0, 1, -2, -1, 2, 3, 4}));
}

TEST_F(ParamTable, ClearOneOfASharedSlot) {
  Restrict(q01, -1, 0.4, 0, 0, "");
  Restrict(q10, q01, -1.0, 0, 0, "");
  EXPECT_EQ(table(), (std::vector<int>{-1, -1, 0}));
  EXPECT_EQ(Clear(q10), 0);
  EXPECT_EQ(table(), (std::vector<int>{-1, 0, 1}));
  EXPECT_EQ(nfix, 1);
}

TEST_F(ParamTable, ClearAllFreesEverything) {
  fresh_model(3);
  Restrict(0, -1, 0.1, 0, 0, "");
  Restrict(2, 3, -1.0, 0, 0, "");
  Restrict(6, 5, -1.0, 0, 0, "");
  ClearAll();
  EXPECT_EQ(table(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(nfix, 0);
  EXPECT_EQ(restrictions(), "none\n");
}

TEST_F(ParamTable, ReplayClearsEachParameterBeforeItsOwnEntry) {
  Restrict(q01, q10, -1.0, 0, 0, "");
  Restrict(q10, -1, 0.5, 0, 0, "");
  EXPECT_EQ(table(), (std::vector<int>{-1, -1, 0}));
  SaveRestrictState();
  ClearAll();
  AddSavedRestrictions();
  // In index order: q01 tied to q10 (both free then), then q10 cleared and
  // fixed: q01 ends free.
  EXPECT_EQ(table(), (std::vector<int>{0, -1, 1}));
  EXPECT_EQ(fixvec[0], 0.5);
  EXPECT_EQ(saved_tie[q01], q10);
}

TEST_F(ParamTable, SaveWithoutARecordSavesNothing) {
  SaveRestrictState();
  ASSERT_EQ(saved_fixed_val.size(), 4u);
  for (int k = 0; k <= num_params; k++) {
    EXPECT_EQ(saved_fixed_val[k], -1.0);
    EXPECT_EQ(saved_tie[k], -1);
  }
  AddSavedRestrictions();
  EXPECT_EQ(table(), (std::vector<int>{0, 1, 2}));
}

TEST_F(ParamTable, StatusCountsScaleOnlyWhenScaling) {
  EXPECT_EQ(status(), "\nNo parameter restrictions\n");
  Restrict(scale, -1, 1.0, 0, 0, "");
  EXPECT_EQ(status(), "\nNo parameter restrictions\n");
  scaling = 1;
  EXPECT_EQ(status(), "\nParameter restrictions :\n  scale = 1.000000\n");
  Restrict(q01, q10, -1.0, 0, 0, "");
  EXPECT_EQ(status(), "\nParameter restrictions :\n  q01 = q10 \n  scale = 1.000000\n");
  EXPECT_EQ(free_variable_count(), 1);
  EXPECT_EQ(counted_params(), 3);
}

TEST_F(ParamTable, RecordWithEmptyEntriesWritesNone) {
  Restrict(q01, -1, 0.3, 0, 0, "");
  Clear(q01);
  EXPECT_FALSE(fixed_val.empty());
  EXPECT_EQ(restrictions(), "none\n");
}

TEST(ParamTableDeath, InconsistentRecordEndsTheRun) {
  fresh_model(2);
  UpdateRestrictState(0, -1, 0.5);
  tie[0] = 1;
  EXPECT_EXIT(WriteRestrictions(stdout), ::testing::ExitedWithCode(100),
              "internal error: restrictions inconsistent\n");
}

}  // namespace
