// The connect window "Connect to target": shows what the handshake finds
// (target, firmware, software version, core clock) and drives it with its
// timer. Created anew by each Connect command, freed when closed.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "connect/ConnectHandshake.h"

namespace varnel {

class TF_Connect : public QWidget, private ConnectDisplay {
  Q_OBJECT
 public:
  // owner: the main window; the connect window belongs to it and is centred
  // on it. Creation resets the target when the settings ask for it.
  TF_Connect(Session& session, QWidget* owner = nullptr);
  ~TF_Connect() override;

  void FormCreate();
  void Btn_RetryClick();
  void Btn_CloseClick();
  void Timer1Timer();

  ConnectHandshake& Handshake() { return handshake_; }
  QTimer* Timer1() const { return timer_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // ConnectDisplay
  void ShowTarget(const std::string& text) override;
  void ShowFirmware(const std::string& text) override;
  void ShowSoftware(const std::string& text) override;
  void ShowCore(const std::string& text) override;
  void SetButtonsEnabled(bool enabled) override;
  void StartTimer(int intervalMs) override;
  void StopTimer() override;
  void Dismiss() override;

  QLabel* AddRow(const char* caption, const char* valueName, int top);

  Session& session_;
  ConnectHandshake handshake_;
  QLabel* target_ = nullptr;
  QLabel* firmware_ = nullptr;
  QLabel* software_ = nullptr;
  QLabel* core_ = nullptr;
  QPushButton* retry_ = nullptr;
  QPushButton* close_ = nullptr;
  QTimer* timer_ = nullptr;
  bool shown_ = false;
  bool closed_ = false;
};

}  // namespace varnel
