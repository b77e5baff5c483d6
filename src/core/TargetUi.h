// The ways from the session and its sequences to whoever drives them: a
// progress display, prompts, the memory views and the window's own state,
// plus letting events run and blocking waits. The main window implements
// them with widgets, the command line with a terminal, tests with recorders
// that answer prompts at once and make waits instant.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Memories.h"
#include "core/Outcome.h"
#include "core/PropertyValues.h"

namespace varnel {

// What a progress display shows when a run starts.
struct ProgressStart {
  std::string name;     // what is worked on: "CODE"
  int minimum = 0;
  int maximum = 100;
  int position = 0;
  std::string text;     // the count under the bar: "0 bytes"
  std::string caption;  // empty: the display's own ("Uploading progress")
  std::string lead;     // empty: the display's own ("Uploading: ")
  // A step of a run that counts nothing (the flash timing, an erase, the
  // register writes): text names it. The window keeps one display from a
  // step to the counted work and on; a screen that only shows counts may
  // end its display here instead.
  bool step = false;
};

class ProgressUi {
 public:
  virtual ~ProgressUi() = default;
  // A new display, replacing any open one.
  virtual void StartProgress(const ProgressStart& how) = 0;
  // Moves the bar and sets the count; nothing when no display is open.
  virtual void StepProgress(int position, const std::string& text) = 0;
  virtual bool ProgressOpen() const = 0;
  virtual int ProgressPosition() const = 0;
  virtual void EndProgress() = 0;
  // The completion notice: a display with a text and one button that only
  // closes it.
  virtual void ShowNotice(const std::string& caption, const std::string& text,
                          const std::string& button) = 0;
};

// What the properties dialog is asked to show.
struct PropertiesRequest {
  enum class Mode { Configure, NewProject };
  Mode mode = Mode::Configure;
  std::string projectPath;  // empty: no project open
  std::string workDir;      // where its file pickers start
  std::vector<std::string> ports;
  std::int32_t coreClockHz = 0;
  PropertyValues values;
};

// NewProject and OpenFile pick a file to use; the Save choices name a file
// to write (a memory's bytes as Intel HEX or raw, the serial trace).
enum class FileChoice { NewProject, OpenFile, SaveIntelHex, SaveBinary, SaveTrace };

class Prompts {
 public:
  virtual ~Prompts() = default;
  // Modal box with one OK button.
  virtual void MessageBox(MessageKind kind, const std::string& text) = 0;
  // A file picked by the user starting in startDir; empty when cancelled.
  // For the Save choices startDir may end in a suggested file name.
  virtual std::string ChooseFile(FileChoice choice, const std::string& startDir) = 0;
  // The properties dialog; the values confirmed, or none when cancelled.
  virtual std::optional<PropertyValues> EditProperties(const PropertiesRequest& request) = 0;
  // Modal question with "&Yes" and "&No"; true for Yes. Where nobody can be
  // asked, the answer is yes.
  virtual bool Confirm(const std::string& /*caption*/, const std::string& /*text*/) { return true; }
};

class TargetUi : public ProgressUi, public Prompts {
 public:
  // Main window caption ("Varnel", then "Varnel - Target: " + name).
  virtual void SetMainCaption(const std::string& text) = 0;
  // Status bar: panel 0 port, 1 receive count, 2 program file.
  virtual void SetStatusPanel(int index, const std::string& text) = 0;
  // What the session's state allows, rendered; only the session calls these,
  // from the one place that derives them (Session::PublishState).
  // "Target tool" and "Upload tool" as whole bars (a running upload disables them).
  virtual void SetToolBarsEnabled(bool enabled) = 0;
  // The seven target buttons (offered once a connect has found the target).
  virtual void SetTargetButtonsEnabled(bool enabled) = 0;
  // File > Close follows the open project.
  virtual void SetProjectCloseEnabled(bool enabled) = 0;

  // Redisplay one memory view if it is open / every open view.
  virtual void RefreshView(MemoryKind kind) = 0;
  virtual void RefreshAllViews() = 0;

  // A run has ended with its outcome (every run does, once).
  virtual void RunEnded(const Outcome& outcome) = 0;

  // Let pending input and repaints be handled (Cancel between replies).
  virtual void ProcessEvents() = 0;
  // Blocking wait of the main thread.
  virtual void Sleep(int milliseconds) = 0;
};

// A screen that shows nothing: the session's stand-in until a window
// attaches, and a base for screens that only care about a few calls.
class QuietUi : public TargetUi {
 public:
  void StartProgress(const ProgressStart&) override {}
  void StepProgress(int, const std::string&) override {}
  bool ProgressOpen() const override { return false; }
  int ProgressPosition() const override { return 0; }
  void EndProgress() override {}
  void ShowNotice(const std::string&, const std::string&, const std::string&) override {}
  void MessageBox(MessageKind, const std::string&) override {}
  std::string ChooseFile(FileChoice, const std::string&) override { return {}; }
  std::optional<PropertyValues> EditProperties(const PropertiesRequest&) override {
    return std::nullopt;
  }
  void SetMainCaption(const std::string&) override {}
  void SetStatusPanel(int, const std::string&) override {}
  void SetToolBarsEnabled(bool) override {}
  void SetTargetButtonsEnabled(bool) override {}
  void SetProjectCloseEnabled(bool) override {}
  void RefreshView(MemoryKind) override {}
  void RefreshAllViews() override {}
  // Unless a screen says otherwise, an outcome with a text is a box.
  void RunEnded(const Outcome& outcome) override {
    if (!outcome.text.empty() && !outcome.Done()) {
      MessageBox(outcome.Box(), outcome.text);
    }
  }
  void ProcessEvents() override {}
  void Sleep(int) override {}
};

// Re-reads the settings before a run: the settings store implements it, and
// every upload and programming run is given one.
class SettingsSource {
 public:
  virtual ~SettingsSource() = default;
  virtual void LoadProperties() = 0;
  // Why the port is closed after a reload (the open error's text), empty
  // when nobody knows.
  virtual std::string PortProblem() const { return {}; }
};

// What a run that finds the port closed tells the user: the port's own
// reason when there is one.
inline std::string ClosedPortText(const SettingsSource& settings) {
  const std::string problem = settings.PortProblem();
  return problem.empty() ? "The port is closed: choose one under Target > Configure." : problem;
}

}  // namespace varnel
