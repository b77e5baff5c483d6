// A connect window without a screen: records what the handshake shows and
// how it drives its timer, so tests can tick it themselves.
#pragma once

#include <string>

#include "connect/ConnectHandshake.h"

namespace varnel::testing {

struct RecordingDisplay : ConnectDisplay {
  std::string target, firmware, software, core;
  bool buttons = true, closed = false;
  int timer = -1;  // interval while running, -1 when stopped
  void ShowTarget(const std::string& t) override { target = t; }
  void ShowFirmware(const std::string& t) override { firmware = t; }
  void ShowSoftware(const std::string& t) override { software = t; }
  void ShowCore(const std::string& t) override { core = t; }
  void SetButtonsEnabled(bool e) override { buttons = e; }
  void StartTimer(int ms) override { timer = ms; }
  void StopTimer() override { timer = -1; }
  void Dismiss() override { closed = true; }
};

}  // namespace varnel::testing
