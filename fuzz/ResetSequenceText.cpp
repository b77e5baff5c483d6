// The reset sequence as the settings and --reset-seq give it, a user's text:
//  - whatever the text, the reading either refuses it naming a step the
//    text has, or gives steps within their limits that write out as text
//    which reads back as the same steps;
//  - steps written as text, with blanks and upper case as a user may type
//    them, read back as exactly those steps.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Require.h"
#include "core/ResetSequence.h"

namespace varnel::fuzz {
namespace {

bool WithinLimits(const ResetStep& step) {
  switch (step.kind) {
    case ResetStep::Kind::Dtr:
    case ResetStep::Kind::Rts: return step.ms == 0;
    case ResetStep::Kind::Break: return step.ms >= 1 && step.ms <= kMaxResetStepMs;
    case ResetStep::Kind::Wait: return step.ms >= 0 && step.ms <= kMaxResetStepMs;
  }
  return false;
}

void AnyText(const std::string& text) {
  std::vector<ResetStep> steps;
  try {
    steps = ParseResetSequence(text);
  } catch (const ResetSequenceError& e) {
    const std::string what = e.what();
    const std::string head = "Reset sequence step ";
    Require(what.rfind(head, 0) == 0, "a refusal names its step: " + what);
    const long number = std::strtol(what.c_str() + head.size(), nullptr, 10);
    const auto count = std::count(text.begin(), text.end(), ',') + 1;
    Require(number >= 1 && number <= count, "a refusal names a step the text has: " + what);
    return;
  }
  Require(!steps.empty(), "a sequence that is read has steps");
  for (const ResetStep& step : steps) Require(WithinLimits(step), "every step is within its limits");
  Require(ParseResetSequence(ResetSequenceText(steps)) == steps,
          "the steps written out read back as the same steps");
}

// A step as a user may type it: any case, blanks around it and its "=".
std::string Typed(FuzzedDataProvider& in, const ResetStep& step) {
  const auto blanks = [&in] { return std::string(in.ConsumeIntegralInRange(0, 2), ' '); };
  std::string text = ResetSequenceText({step});
  if (const auto eq = text.find('='); eq != std::string::npos) {
    text = text.substr(0, eq) + blanks() + "=" + blanks() + text.substr(eq + 1);
  }
  for (char& c : text) {
    if (in.ConsumeBool()) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return blanks() + text + blanks();
}

void TypedSteps(FuzzedDataProvider& in) {
  std::vector<ResetStep> steps;
  std::string text;
  while (in.remaining_bytes() > 0 && steps.size() < 32) {
    ResetStep step;
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0: step = {ResetStep::Kind::Dtr, in.ConsumeBool(), 0}; break;
      case 1: step = {ResetStep::Kind::Rts, in.ConsumeBool(), 0}; break;
      case 2: step = {ResetStep::Kind::Break, false, in.ConsumeIntegralInRange(1, kMaxResetStepMs)}; break;
      default: step = {ResetStep::Kind::Wait, false, in.ConsumeIntegralInRange(0, kMaxResetStepMs)}; break;
    }
    if (!steps.empty()) text += ",";
    text += Typed(in, step);
    steps.push_back(step);
  }
  if (steps.empty()) return;  // the empty text is the preset, read above
  std::vector<ResetStep> read;
  try {
    read = ParseResetSequence(text);
  } catch (const ResetSequenceError& e) {
    Require(false, std::string("typed steps are read: ") + e.what());
  }
  Require(read == steps, "typed steps read back as exactly those steps");
}

}  // namespace
}  // namespace varnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnel::fuzz;
  FuzzedDataProvider in(data, size);
  if (in.ConsumeIntegralInRange(0, 1) == 0) {
    AnyText(in.ConsumeRemainingBytesAsString());
  } else {
    TypedSteps(in);
  }
  return 0;
}
