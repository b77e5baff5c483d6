// The serial trace window: a child window of the main window listing every
// chunk the port sends and receives while it is open, the last 10,000 of
// them, with "Clear" and "Save...". It listens on the port only while it
// exists, so nothing is recorded while it is closed.
#pragma once

#include <QMdiSubWindow>
#include <QTimer>
#include <functional>
#include <string>

#include "core/TargetUi.h"
#include "link/CommPort.h"
#include "link/Trace.h"

class QPlainTextEdit;
class QPushButton;

namespace varnel {

class TF_Trace : public QMdiSubWindow, public TraceTap {
  Q_OBJECT
 public:
  // Starts listening on port at once and stops when destroyed. prompts name
  // the file "Save..." writes and show a failure; startFolder gives the
  // folder its file dialog starts in.
  TF_Trace(CommPort& port, Prompts& prompts, std::function<std::string()> startFolder = {},
           QWidget* parent = nullptr);
  ~TF_Trace() override;

  // TraceTap: every chunk both ways, shown shortly after.
  void Chunk(TraceDirection direction, std::string_view bytes) override;

  // Brings the list up to date with the log now (a timer does it otherwise).
  void ShowNew();
  void Btn_ClearClick();
  void Btn_SaveClick();
  // The log as text, every line ended; the file "Save..." writes.
  std::string Text() const { return log_.Text(); }
  const TraceLog& Log() const { return log_; }
  QPlainTextEdit* Lines() const { return lines_; }

 signals:
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  CommPort& port_;
  Prompts& prompts_;
  std::function<std::string()> startFolder_;
  TraceLog log_;
  std::size_t shown_ = 0;  // log_.Added() when the list was last brought up to date
  QTimer update_;
  QPlainTextEdit* lines_;
  QPushButton* clear_;
  QPushButton* save_;
};

}  // namespace varnel
