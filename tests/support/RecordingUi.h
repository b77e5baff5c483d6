// A TargetUi that records what the session shows, answers message boxes at
// once and makes sleeps instant, so sequences run without a screen.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "link/TargetUi.h"

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

  void SetMainCaption(const std::string& text) override { caption = text; }
  void SetStatusPanel(int index, const std::string& text) override {
    if (index >= 0 && index < 3) panels[index] = text;
    if (index == 1) receivePanelHistory.push_back(text);
  }
  void SetToolBarsEnabled(bool enabled) override { toolBarsEnabled = enabled; }
  void SetTargetButtonsEnabled(bool enabled) override { targetButtonsEnabled = enabled; }
  void RefreshView(MemoryKind kind) override { refreshed.push_back(kind); }
  void RefreshAllViews() override { ++refreshAllCount; }

  void ProgressCreate() override {
    progressOpen = true;
    ++progressCreated;
    barMin = 0, barMax = 100, barPos = 0;
    progressName.clear(), progressBytes.clear(), progressButton = "&Cancel";
    progressCaption = "Uploading progress", progressLead = "Uploading: ";
    noticeLook = false;
  }
  bool ProgressIsOpen() const override { return progressOpen; }
  void ProgressClose() override { progressOpen = false; }
  void ProgressSetBar(int mn, int mx, int pos) override {
    if (progressOpen) barMin = mn, barMax = mx, barPos = pos;
  }
  void ProgressSetPosition(int pos) override {
    if (progressOpen) barPos = pos;
  }
  int ProgressPosition() const override { return barPos; }
  void ProgressSetName(const std::string& t) override {
    if (progressOpen) progressName = t;
  }
  void ProgressSetBytes(const std::string& t) override {
    if (progressOpen) progressBytes = t;
  }
  void ProgressSetCaption(const std::string& t) override {
    if (progressOpen) progressCaption = t;
  }
  void ProgressSetLead(const std::string& t) override {
    if (progressOpen) progressLead = t;
  }
  void ProgressSetNoticeLook(const std::string& lead, const std::string& button) override {
    if (!progressOpen) return;
    noticeLook = true;
    progressLead = lead;
    progressButton = button;
  }

  void MessageBox(MessageKind kind, const std::string& text) override {
    boxes.push_back({kind, text});
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

}  // namespace varnel::testing
