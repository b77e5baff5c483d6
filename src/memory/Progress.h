// The progress window: a small stay-on-top window showing how far a running
// sequence has got, with the Cancel button that asks the sequence to stop.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <functional>

namespace varnel {

class TF_Progress : public QWidget {
  Q_OBJECT
 public:
  explicit TF_Progress(QWidget* owner = nullptr);

  QLabel* Label1() const { return label1_; }
  QLabel* Lbl_Name() const { return name_; }
  QLabel* Lbl_Bytes() const { return bytes_; }
  QProgressBar* ProgressBar1() const { return bar_; }
  QPushButton* Btn_Cancel() const { return cancel_; }

  // The stop request, then the window closes (and is destroyed).
  void Btn_CancelClick();
  std::function<void()> OnCancel;

  // Centre on the owner's window.
  void CentreOn(const QWidget* owner);

 signals:
  void Closed();  // however it closed

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* label1_;
  QLabel* name_;
  QLabel* bytes_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  bool closedOnce_ = false;
};

}  // namespace varnel
