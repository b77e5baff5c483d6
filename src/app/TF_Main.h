// The main window: a multiple-document frame with the menus, the three
// toolbars and the status bar. It owns the session and every component and
// binds commands to them; the decisions live in the session's sequences.
#pragma once

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "app/RunClock.h"
#include "app/TF_Trace.h"
#include "app/WidgetPrompts.h"
#include "core/Session.h"
#include "core/TargetUi.h"
#include "link/CommInt.h"
#include "memory/MemoryViews.h"
#include "memory/ProgressHost.h"
#include "engine/Engine.h"
#include "project/ProjectCommands.h"
#include "project/Settings.h"

class QAction;
class QMdiArea;
class QMenu;
class QToolBar;

namespace varnel {

class StatusPanel;

class TF_Main : public QMainWindow, public TargetUi {
  Q_OBJECT
 public:
  // The question Exit and the close box ask while a sequence runs.
  static constexpr char kStopQuestion[] =
      "A sequence is still running. Stop it and exit?\n\nStopping ends it as Cancel does, so "
      "the target is left ready for the next connect.";
  // userStorePath: the per-user settings file (tests give their own).
  // prompts: who answers message boxes and dialogs; none: the window's own.
  explicit TF_Main(QWidget* parent = nullptr, const std::string& userStorePath = UserStorePath(),
                   Prompts* prompts = nullptr);
  ~TF_Main() override;

  Session& Link() { return session_; }
  TComm& Comm1() { return comm1_; }
  Settings& Store() { return settings_; }
  MemoryViews& Views() { return *views_; }
  ProgressHost& Progress() { return *progress_; }
  ProjectCommands& FileCommands() { return *commands_; }
  Engine& Target() { return *engine_; }
  UploadSequence& Uploads() { return engine_->Uploads(); }
  ProgrammingSequence& Programming() { return engine_->Programming(); }

  // Commands bound to menus and buttons: each a verb of the engine.
  void Connect1Click();
  void SpeedProgClick();
  void SpeedAllClick();
  void SpeedCodeClick();
  void SpeedExtClick();
  void SpeedIRAMClick();
  void SpeedSFRClick();
  void SpeedCFGClick();
  void OpenView(MemoryKind kind);
  QMdiArea* MdiArea() const { return mdi_; }
  QAction* Action(const QString& name) const { return actions_.value(name); }

  // Commands that belong to the frame itself.
  void Exit1Click();
  void Cascade1Click();
  void HelpTopic1Click();
  void AboutVarnel1Click();
  void Terminal1Click() {}  // no terminal in this tool
  // View > "Serial trace": opens the trace window or brings it to the front.
  TF_Trace* Trace1Click();
  TF_Trace* TraceWindow() const { return trace_.data(); }

  // TargetUi
  void StartProgress(const ProgressStart& how) override;
  void StepProgress(int position, const std::string& text) override;
  bool ProgressOpen() const override;
  int ProgressPosition() const override;
  void EndProgress() override;
  void ShowNotice(const std::string& caption, const std::string& text,
                  const std::string& button) override;
  void MessageBox(MessageKind kind, const std::string& text) override;
  std::string ChooseFile(FileChoice choice, const std::string& startDir) override;
  std::optional<PropertyValues> EditProperties(const PropertiesRequest& request) override;
  bool Confirm(const std::string& caption, const std::string& text) override;
  void SetMainCaption(const std::string& text) override;
  void SetStatusPanel(int index, const std::string& text) override;
  void SetToolBarsEnabled(bool enabled) override;
  void SetTargetButtonsEnabled(bool enabled) override;
  void SetProjectCloseEnabled(bool enabled) override;
  void RefreshView(MemoryKind kind) override;
  void RefreshAllViews() override;
  void RunEnded(const Outcome& outcome) override;
  void ProcessEvents() override;
  void Sleep(int milliseconds) override;

  // The whole text of a panel (it may show a shortened one).
  QString StatusText(int index) const;
  StatusPanel* Panel(int index) const {
    return (index >= 0 && index < 3) ? panels_[index] : nullptr;
  }
  // Times the uploads and programming runs for the second panel.
  RunClock& RunTimes() { return runClock_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Bind(const char* action, std::function<void()> command);
  void BindCommands();
  void BuildMenus();
  void BuildToolBars();
  void BuildStatusBar();
  void FillWindowMenu();
  QAction* AddAction(QMenu* menu, const char* name, const QString& text,
                     std::function<void()> command, const QKeySequence& shortcut = {});
  QAction* AddButton(QToolBar* bar, const char* name, const QString& hint, int pictureSize,
                     std::function<void()> command);
  // Runs a command that may start a run, and times the run it started.
  void TimeRun(RunClock::Run run, const std::function<void()>& command);
  // A command's outcome as the system shows it: a box unless it is a
  // success or has nothing to say.
  void Show(const Outcome& outcome);
  bool Idle() const;
  // Stops the running sequence as Cancel does and waits, a few seconds at
  // most, until it has ended.
  void StopRunBeforeExit();
  void PortWentAway();
  void ShowRunTime();
  void FitReceivePanel(const QString& text);

  static constexpr int kPanelWidths[3] = {105, 150, 150};
  static constexpr int kWidestReceivePanel = 340;

  WidgetPrompts ownPrompts_{this};
  Prompts* prompts_;
  // Order matters: the session outlives everything that registers with it.
  Session session_;
  TComm comm1_;
  Settings settings_;
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<MemoryViews> views_;
  std::unique_ptr<ProgressHost> progress_;
  std::unique_ptr<ProjectCommands> commands_;
  bool shutDown_ = false;
  QMdiArea* mdi_ = nullptr;
  QMenu* windowMenu_ = nullptr;
  QToolBar* toolBars_[3] = {};
  StatusPanel* panels_[3] = {};
  QMap<QString, QAction*> actions_;
  QPointer<TF_Trace> trace_;
  RunClock runClock_;
  // Ticks the programming run's reply deadline while a command of it waits.
  QTimer replyWatch_;
  std::uint64_t readAgainBefore_ = 0;  // the session's count when the timed run started
};

}  // namespace varnel
