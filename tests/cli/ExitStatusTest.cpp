// The exit status is chosen by the kind of the outcome, whatever its text.
#include "cli/ExitStatus.h"

#include <gtest/gtest.h>

namespace varnel::cli {
namespace {

TEST(ExitStatus, EveryKindHasItsStatus) {
  const std::pair<OutcomeKind, int> expected[] = {
      {OutcomeKind::Finished, 0},       {OutcomeKind::TargetRefused, 1},
      {OutcomeKind::VerifyDifferences, 1}, {OutcomeKind::Refused, 2},
      {OutcomeKind::BadFile, 2},        {OutcomeKind::NoAnswer, 3},
      {OutcomeKind::DamagedReplies, 3}, {OutcomeKind::PortFailed, 4},
      {OutcomeKind::Interrupted, 130}, {OutcomeKind::NotStored, 5}};
  for (const auto& [kind, status] : expected) {
    EXPECT_EQ(ExitStatusOf(kind), status) << KindName(kind);
    // A failure carries its outcome, text and facts, to main unchanged.
    Outcome outcome{kind, "Failed to connect target! Try reset it!"};
    outcome.address = 0x1234;
    const CliFailure failure(outcome);
    EXPECT_EQ(ExitStatusOf(failure.outcome().kind), status);
    EXPECT_EQ(failure.outcome().address, 0x1234u);
  }
}

}  // namespace
}  // namespace varnel::cli
