// The main window: a multiple-document frame with the menus, the three
// toolbars and the status bar. It owns the session and every component and
// binds commands to them; the decisions live in the session's sequences.
#pragma once

#include <QMainWindow>
#include <QMap>
#include <functional>
#include <memory>
#include <string>

#include "link/Session.h"
#include "link/TargetUi.h"

class QAction;
class QLabel;
class QMdiArea;
class QMenu;
class QToolBar;

namespace varnel {

class TF_Main : public QMainWindow, public TargetUi {
  Q_OBJECT
 public:
  explicit TF_Main(QWidget* parent = nullptr);
  ~TF_Main() override;

  Session& Link() { return session_; }
  QMdiArea* MdiArea() const { return mdi_; }
  QAction* Action(const QString& name) const { return actions_.value(name); }

  // Commands that belong to the frame itself.
  void Exit1Click();
  void Cascade1Click();
  void HelpTopic1Click();
  void AboutVarnel1Click();
  void Terminal1Click() {}  // no terminal in this tool

  // TargetUi
  void SetMainCaption(const std::string& text) override;
  void SetStatusPanel(int index, const std::string& text) override;
  void SetToolBarsEnabled(bool enabled) override;
  void SetTargetButtonsEnabled(bool enabled) override;
  void RefreshView(MemoryKind kind) override;
  void RefreshAllViews() override;
  void ProgressCreate() override;
  bool ProgressIsOpen() const override;
  void ProgressClose() override;
  void ProgressSetBar(int minimum, int maximum, int position) override;
  void ProgressSetPosition(int position) override;
  int ProgressPosition() const override;
  void ProgressSetName(const std::string& text) override;
  void ProgressSetBytes(const std::string& text) override;
  void ProgressSetCaption(const std::string& text) override;
  void ProgressSetLead(const std::string& text) override;
  void ProgressSetNoticeLook(const std::string& lead, const std::string& button) override;
  void MessageBox(MessageKind kind, const std::string& text) override;
  void ProcessEvents() override;
  void Sleep(int milliseconds) override;

  // Message boxes go through here; tests answer them without a screen.
  static std::function<void(MessageKind, const QString&)>& MessageHook();

  QString StatusText(int index) const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolBars();
  void BuildStatusBar();
  void FillWindowMenu();
  QAction* AddAction(QMenu* menu, const char* name, const QString& text,
                     std::function<void()> command, const QKeySequence& shortcut = {});
  QAction* AddButton(QToolBar* bar, const char* name, const QString& hint, int pictureSize,
                     std::function<void()> command);

  Session session_;
  QMdiArea* mdi_ = nullptr;
  QMenu* windowMenu_ = nullptr;
  QToolBar* toolBars_[3] = {};
  QLabel* panels_[3] = {};
  QMap<QString, QAction*> actions_;
};

}  // namespace varnel
