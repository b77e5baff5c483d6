// The one narrow way from the session and its sequences to the screen. The
// main window implements it with widgets; tests implement it with a recorder
// that answers message boxes and makes sleeps instant.
#pragma once

#include <string>

#include "memory/MemoryImages.h"

namespace varnel {

enum class MessageKind { Error, Information };

class TargetUi {
 public:
  virtual ~TargetUi() = default;

  // Main window caption ("Varnel", then "Varnel - Target: " + name).
  virtual void SetMainCaption(const std::string& text) = 0;

  // Status bar: panel 0 port, 1 receive count, 2 program file.
  virtual void SetStatusPanel(int index, const std::string& text) = 0;

  // "Target tool" and "Upload tool" as whole bars (a running upload disables them).
  virtual void SetToolBarsEnabled(bool enabled) = 0;
  // The seven target buttons (SpeedAll, SpeedCode, SpeedExt, SpeedIRAM,
  // SpeedSFR, SpeedCFG, SpeedProg).
  virtual void SetTargetButtonsEnabled(bool enabled) = 0;

  // Redisplay one memory view if it is open / every open view.
  virtual void RefreshView(MemoryKind kind) = 0;
  virtual void RefreshAllViews() = 0;

  // Progress window (at most one; "open" means ProgressWindow is not empty).
  // Every setter does nothing when no window is open.
  virtual void ProgressCreate() = 0;  // new window, shown modeless, centred
  virtual bool ProgressIsOpen() const = 0;
  virtual void ProgressClose() = 0;
  virtual void ProgressSetBar(int minimum, int maximum, int position) = 0;
  virtual void ProgressSetPosition(int position) = 0;  // repaints the bar at once
  virtual int ProgressPosition() const = 0;
  virtual void ProgressSetName(const std::string& text) = 0;   // Lbl_Name
  virtual void ProgressSetBytes(const std::string& text) = 0;  // Lbl_Bytes
  virtual void ProgressSetCaption(const std::string& text) = 0;
  virtual void ProgressSetLead(const std::string& text) = 0;   // Label1
  // The completion notice look: bar and Lbl_Bytes hidden, Label1 at top 32,
  // not bold, red; the button relabelled.
  virtual void ProgressSetNoticeLook(const std::string& lead, const std::string& button) = 0;

  // Modal box with one OK button.
  virtual void MessageBox(MessageKind kind, const std::string& text) = 0;

  // Let the GUI handle pending input and repaints (Cancel between replies).
  virtual void ProcessEvents() = 0;
  // Blocking wait of the main thread.
  virtual void Sleep(int milliseconds) = 0;
};

// A screen that shows nothing: the session's stand-in until a window
// attaches, and a base for screens that only care about a few calls.
class QuietUi : public TargetUi {
 public:
  void SetMainCaption(const std::string&) override {}
  void SetStatusPanel(int, const std::string&) override {}
  void SetToolBarsEnabled(bool) override {}
  void SetTargetButtonsEnabled(bool) override {}
  void RefreshView(MemoryKind) override {}
  void RefreshAllViews() override {}
  void ProgressCreate() override {}
  bool ProgressIsOpen() const override { return false; }
  void ProgressClose() override {}
  void ProgressSetBar(int, int, int) override {}
  void ProgressSetPosition(int) override {}
  int ProgressPosition() const override { return 0; }
  void ProgressSetName(const std::string&) override {}
  void ProgressSetBytes(const std::string&) override {}
  void ProgressSetCaption(const std::string&) override {}
  void ProgressSetLead(const std::string&) override {}
  void ProgressSetNoticeLook(const std::string&, const std::string&) override {}
  void MessageBox(MessageKind, const std::string&) override {}
  void ProcessEvents() override {}
  void Sleep(int) override {}
};

}  // namespace varnel
