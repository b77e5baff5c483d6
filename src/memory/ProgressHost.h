// The progress part of TargetUi: keeps ProgressWindow (empty whenever the
// window is gone, however it closed), creates and updates the window for
// the sequences, and carries out its Cancel on the session. The main window
// forwards its TargetUi progress calls here.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <string>

#include "link/Session.h"
#include "memory/CancelWatchdog.h"
#include "memory/Progress.h"

namespace varnel {

class ProgressHost : public QObject {
  Q_OBJECT
 public:
  // owner: the main window the progress windows belong to and centre on.
  ProgressHost(Session& session, QWidget* owner);
  ~ProgressHost() override;

  void ProgressCreate();
  bool ProgressIsOpen() const { return !window_.isNull(); }
  void ProgressClose();
  void ProgressSetBar(int minimum, int maximum, int position);
  void ProgressSetPosition(int position);
  int ProgressPosition() const;
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
