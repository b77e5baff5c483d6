// Reset sequences: the text form, the presets and running them on a port.
#include "core/ResetSequence.h"

#include <cctype>
#include <charconv>

namespace varnel {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// A whole number of milliseconds, 0 to the limit; -1 for anything else.
int Milliseconds(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return -1;
  return value <= kMaxResetStepMs ? value : -1;
}

[[noreturn]] void Refuse(std::size_t number, std::string_view step, const std::string& why) {
  throw ResetSequenceError("Reset sequence step " + std::to_string(number) + " \"" +
                           std::string(step) + "\": " + why);
}

const char* PresetSteps(std::string_view name) {
  if (name == kResetPulse) return kResetPulseSteps;
  if (name == kResetPulseInverted) return kResetPulseInvertedSteps;
  return nullptr;
}

void ParseStep(std::size_t number, std::string_view text, std::vector<ResetStep>& steps) {
  const std::string step = Lower(text);
  if (step.empty()) Refuse(number, text, "empty step");
  if (const char* preset = PresetSteps(step)) {
    const std::vector<ResetStep> expanded = ParseResetSequence(preset);
    steps.insert(steps.end(), expanded.begin(), expanded.end());
    return;
  }
  const std::size_t eq = step.find('=');
  if (eq == std::string::npos) {
    if (step.find_first_not_of("0123456789") != std::string::npos) {
      Refuse(number, text,
             "not a step: use dtr=0/1, rts=0/1, break=MS, a wait in ms, \"pulse\" or "
             "\"pulse-inverted\"");
    }
    const int ms = Milliseconds(step);
    if (ms < 0) Refuse(number, text, "a wait is 0 to " + std::to_string(kMaxResetStepMs) + " ms");
    steps.push_back({ResetStep::Kind::Wait, false, ms});
    return;
  }
  const std::string_view name = Trim(std::string_view(step).substr(0, eq));
  const std::string_view value = Trim(std::string_view(step).substr(eq + 1));
  if (name == "dtr" || name == "rts") {
    if (value != "0" && value != "1") Refuse(number, text, std::string(name) + " takes 0 or 1");
    steps.push_back({name == "dtr" ? ResetStep::Kind::Dtr : ResetStep::Kind::Rts, value == "1", 0});
    return;
  }
  if (name == "break") {
    const int ms = Milliseconds(value);
    if (ms <= 0) {
      Refuse(number, text, "a break lasts 1 to " + std::to_string(kMaxResetStepMs) + " ms");
    }
    steps.push_back({ResetStep::Kind::Break, false, ms});
    return;
  }
  Refuse(number, text, "no line \"" + std::string(name) + "\": use dtr, rts or break");
}

}  // namespace

std::vector<ResetStep> ParseResetSequence(std::string_view text) {
  std::vector<ResetStep> steps;
  if (Trim(text).empty()) return ParseResetSequence(kResetPulse);
  std::size_t number = 1;
  for (std::size_t start = 0;; ++number) {
    const std::size_t comma = text.find(',', start);
    ParseStep(number, Trim(text.substr(start, comma - start)), steps);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return steps;
}

std::string ResetSequenceText(const std::vector<ResetStep>& steps) {
  std::string text;
  for (const ResetStep& step : steps) {
    if (!text.empty()) text += ',';
    switch (step.kind) {
      case ResetStep::Kind::Dtr: text += step.on ? "dtr=1" : "dtr=0"; break;
      case ResetStep::Kind::Rts: text += step.on ? "rts=1" : "rts=0"; break;
      case ResetStep::Kind::Break: text += "break=" + std::to_string(step.ms); break;
      case ResetStep::Kind::Wait: text += std::to_string(step.ms); break;
    }
  }
  return text;
}

void RunResetSequence(const std::vector<ResetStep>& steps, CommPort& port, TargetUi& ui) {
  for (const ResetStep& step : steps) {
    switch (step.kind) {
      case ResetStep::Kind::Dtr: port.SetDTR(step.on); break;
      case ResetStep::Kind::Rts: port.SetRTS(step.on); break;
      case ResetStep::Kind::Wait: ui.Sleep(step.ms); break;
      case ResetStep::Kind::Break:
        port.SetBreak(true);
        try {
          ui.Sleep(step.ms);
        } catch (...) {
          try {
            port.SetBreak(false);
          } catch (...) {
          }
          throw;
        }
        port.SetBreak(false);
        break;
    }
  }
}

}  // namespace varnel
