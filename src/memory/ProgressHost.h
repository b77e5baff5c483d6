// The progress display of the window: keeps ProgressWindow (empty whenever
// the window is gone, however it closed), creates and updates the window
// for the sequences, and carries out its Cancel on the session. The main
// window forwards its progress calls here.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <string>

#include "core/Session.h"
#include "memory/CancelWatchdog.h"
#include "memory/Progress.h"

namespace varnel {

class ProgressHost : public QObject, public ProgressUi {
  Q_OBJECT
 public:
  // owner: the main window the progress windows belong to and centre on.
  ProgressHost(Session& session, QWidget* owner);
  ~ProgressHost() override;

  // ProgressUi
  void StartProgress(const ProgressSpec& spec) override;
  void StepProgress(int position, const std::string& text) override;
  bool ProgressOpen() const override { return ProgressIsOpen(); }
  int ProgressPosition() const override;
  void EndProgress() override { ProgressClose(); }
  void ShowNotice(const std::string& caption, const std::string& text,
                  const std::string& button) override;

  // The window's parts, one at a time.
  void ProgressCreate();
  bool ProgressIsOpen() const { return !window_.isNull(); }
  void ProgressClose();
  void ProgressSetBar(int minimum, int maximum, int position);
  void ProgressSetPosition(int position);
  void ProgressSetName(const std::string& text);
  void ProgressSetBytes(const std::string& text);
  void ProgressSetCaption(const std::string& text);
  void ProgressSetLead(const std::string& text);
  void ProgressSetNoticeLook(const std::string& lead, const std::string& button);

  TF_Progress* ProgressWindow() const { return window_.data(); }

 private:
  void CancelPressed();
  void CheckStop();

  Session& s_;
  QWidget* owner_;
  QPointer<TF_Progress> window_;
  CancelWatchdog watchdog_;
  QTimer stopTimer_;
  bool notice_ = false;  // the completion notice's "&Ok" only closes it
};

}  // namespace varnel
