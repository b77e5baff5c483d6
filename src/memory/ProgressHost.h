// The progress display of the window: keeps ProgressWindow (empty whenever
// the window is gone, however it closed), creates and updates the window
// for the sequences, and carries out its Cancel on the session. The main
// window forwards its progress calls here.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <deque>
#include <functional>
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
  void StartProgress(const ProgressStart& how) override;
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

  // Under the bar, while a run shows its progress: the speed, once a second,
  // and the silent-line note once no byte has come for kSilentAfter while a
  // command waits, gone when bytes come again. The window's timer calls
  // WatchTick; tests call it directly with their own clock.
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  Clock Now = [] { return std::chrono::steady_clock::now(); };
  static constexpr std::chrono::seconds kSilentAfter{5};
  static constexpr int kWatchMs = 250;
  void WatchTick();
  // "250 bytes/s", "1.5 lines/s": the unit is the count text's ("0 lines");
  // a step that counts nothing ("erasing") shows no speed.
  static std::string RateText(double perSecond, const std::string& unit);

  // What Cancel does, asked for by the program (a stop before it quits).
  void StopRun() { CancelPressed(); }

 private:
  void CancelPressed();
  void CheckStop();
  void LayOut();

  Session& s_;
  QWidget* owner_;
  QPointer<TF_Progress> window_;
  CancelWatchdog watchdog_;
  QTimer stopTimer_;
  bool notice_ = false;  // the completion notice's "&Ok" only closes it
  bool step_ = false;    // the open window shows a step of a run, not yet a count
  QTimer watch_;
  std::string unit_ = "bytes";
  std::chrono::steady_clock::time_point openedAt_{};
  // Bar positions of the last few seconds, oldest first: the speed is
  // taken over them, so it neither jumps with each reply nor lags a stall.
  std::deque<std::pair<std::chrono::steady_clock::time_point, int>> samples_;
};

}  // namespace varnel
