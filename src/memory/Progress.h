// The progress window: a small stay-on-top window showing how far a running
// sequence has got, with the Cancel button that asks the sequence to stop.
// Under the bar it shows the speed and, when the line has gone quiet, a
// note saying so.
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
  QLabel* Lbl_Rate() const { return rate_; }
  QLabel* Lbl_Note() const { return note_; }
  QProgressBar* ProgressBar1() const { return bar_; }
  QPushButton* Btn_Cancel() const { return cancel_; }

  // The stop request, then the window closes (and is destroyed).
  void Btn_CancelClick();
  std::function<void()> OnCancel;

  // Centre on the owner's window.
  void CentreOn(const QWidget* owner);

  // Places the labels after a change of their texts or fonts: the designed
  // positions where the texts fit, moved right, down or the window widened
  // where they would not, so no text is cut or drawn over another.
  void LayOut();
  // The speed line ("250 bytes/s") and the note under the bar; empty hides it.
  void SetRate(const QString& text);
  void SetNote(const QString& text);

 signals:
  void Closed();  // however it closed

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* label1_;
  QLabel* name_;
  QLabel* bytes_;
  QLabel* rate_;
  QLabel* note_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  bool closedOnce_ = false;
  int countRoom_ = 0;  // width kept for the count text
};

}  // namespace varnel
