// A TargetUi that records what the session shows, answers message boxes and
// prompts at once and makes sleeps instant, so sequences run without a screen.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/TargetUi.h"

namespace varnel::testing {

class RecordingUi : public TargetUi {
 public:
  struct Box {
    MessageKind kind;
    std::string text;
  };

  std::string caption = "Varnel";
  std::string panels[3];
  std::vector<std::string> receivePanelHistory;  // every text of panel 1
  bool toolBarsEnabled = true;
  bool targetButtonsEnabled = false;
  std::vector<MemoryKind> refreshed;
  int refreshAllCount = 0;
  std::vector<Box> boxes;
  std::vector<Outcome> outcomes;
  bool closeEnabled = false;
  // Answers to the prompts; unset: cancelled.
  std::function<std::string(const std::string& startDir)> chooseNewProject, chooseFileToOpen;
  // Names the file a save writes (startDir ends in the suggested name).
  std::function<std::string(FileChoice, const std::string& startDir)> chooseSaveFile;
  std::function<std::optional<PropertyValues>(const PropertiesRequest&)> editProperties;
  int sleptMs = 0;
  int processEventsCount = 0;
  std::function<void()> onProcessEvents;  // lets a test "click" between replies
  std::function<void(int)> onSleep;       // lets a test pump the loop instead

  // Progress window state.
  bool progressOpen = false;
  int progressCreated = 0;
  int barMin = 0, barMax = 100, barPos = 0;
  std::string progressName, progressBytes, progressCaption, progressLead, progressButton;
  bool noticeLook = false;
  bool progressStep = false;  // the display names a step that counts nothing

  void SetMainCaption(const std::string& text) override { caption = text; }
  void SetStatusPanel(int index, const std::string& text) override {
    if (index >= 0 && index < 3) panels[index] = text;
    if (index == 1) receivePanelHistory.push_back(text);
  }
  void SetToolBarsEnabled(bool enabled) override { toolBarsEnabled = enabled; }
  void SetTargetButtonsEnabled(bool enabled) override { targetButtonsEnabled = enabled; }
  void SetProjectCloseEnabled(bool enabled) override { closeEnabled = enabled; }
  void RefreshView(MemoryKind kind) override { refreshed.push_back(kind); }
  void RefreshAllViews() override { ++refreshAllCount; }

  // The progress display as the window keeps it: a new one starts from
  // the window's own caption, lead and button; a run's steps and its count
  // share one.
  void StartProgress(const ProgressStart& how) override {
    if (!progressOpen || noticeLook || !(how.step || progressStep)) ++progressCreated;
    progressStep = how.step;
    progressOpen = true;
    barMin = how.minimum, barMax = how.maximum, barPos = how.position;
    progressName = how.name, progressBytes = how.text, progressButton = "&Cancel";
    progressCaption = how.caption.empty() ? "Uploading progress" : how.caption;
    progressLead = how.lead.empty() ? "Uploading: " : how.lead;
    noticeLook = false;
  }
  void StepProgress(int pos, const std::string& text) override {
    if (!progressOpen) return;
    barPos = pos;
    progressBytes = text;
  }
  bool ProgressOpen() const override { return progressOpen; }
  int ProgressPosition() const override { return barPos; }
  void EndProgress() override { progressOpen = false; }
  void ShowNotice(const std::string& caption, const std::string& text,
                  const std::string& button) override {
    progressOpen = false;  // the notice is a window of its own
    StartProgress({});
    noticeLook = true;
    progressCaption = caption;
    progressLead = text;
    progressButton = button;
  }

  void MessageBox(MessageKind kind, const std::string& text) override {
    boxes.push_back({kind, text});
  }
  // Every run's end is recorded; those the window shows as a box are boxes.
  void RunEnded(const Outcome& outcome) override {
    outcomes.push_back(outcome);
    if (!outcome.Done() && !outcome.text.empty()) {
      boxes.push_back({outcome.Box(), outcome.text});
    }
  }
  std::string ChooseFile(FileChoice choice, const std::string& startDir) override {
    if (choice != FileChoice::NewProject && choice != FileChoice::OpenFile) {
      return chooseSaveFile ? chooseSaveFile(choice, startDir) : std::string();
    }
    const auto& answer = choice == FileChoice::NewProject ? chooseNewProject : chooseFileToOpen;
    return answer ? answer(startDir) : std::string();
  }
  std::optional<PropertyValues> EditProperties(const PropertiesRequest& request) override {
    return editProperties ? editProperties(request) : std::nullopt;
  }
  void ProcessEvents() override {
    ++processEventsCount;
    if (onProcessEvents) onProcessEvents();
  }
  void Sleep(int ms) override {
    sleptMs += ms;
    if (onSleep) onSleep(ms);
  }
};

// A settings source for sequences run without a store: ProjectSettings
// stays as the test set it; the reloads are counted.
class FixedSettings : public SettingsSource {
 public:
  int loads = 0;
  std::function<void()> onLoad;  // what a reload does, when a test says
  void LoadProperties() override {
    ++loads;
    if (onLoad) onLoad();
  }
};

}  // namespace varnel::testing
