// A session wired as the main window wires it, through the real serial
// component to the boot-loader simulator on a pseudo-terminal: connect by
// the handshake, then run sequences and pump the event loop until they end.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "connect/ConnectHandshake.h"
#include "support/GuiApp.h"
#include "link/CommInt.h"
#include "memory/ProgressHost.h"
#include "support/RecordingDisplay.h"
#include "support/EventLoop.h"
#include "support/RecordingUi.h"
#include "target-sim/TargetSim.h"

namespace varnel::testing {

// The recorder, with the real progress window behind the progress calls.
class HostUi : public RecordingUi {
 public:
  explicit HostUi(Session& session) : host(session, nullptr) {}
  ProgressHost host;

  void StartProgress(const ProgressStart& how) override {
    ++progressCreated;
    progressName = how.name;
    noticeLook = false;
    host.StartProgress(how);
  }
  void StepProgress(int pos, const std::string& text) override { host.StepProgress(pos, text); }
  bool ProgressOpen() const override { return host.ProgressOpen(); }
  bool ProgressIsOpen() const { return host.ProgressOpen(); }
  int ProgressPosition() const override { return host.ProgressPosition(); }
  void EndProgress() override { host.EndProgress(); }
  void ShowNotice(const std::string& caption, const std::string& text,
                  const std::string& button) override {
    noticeLook = true;
    host.ShowNotice(caption, text, button);
  }
};

class TargetLink : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { GuiApp(); }

  void SetUp() override {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    session.AttachUi(&ui);
    reload.onLoad = [this] { session.ProjectSettings = settings; };
  }
  void TearDown() override {
    comm.Close();
    if (target) target->Stop();
  }

  void StartTarget(const sim::TargetSimConfig& config = {}, TBaudrate rate = br38400) {
    target = std::make_unique<sim::TargetSim>(config);
    comm.SetDeviceName(target->SlavePath());
    comm.SetBaudRate(rate);
    comm.Open();
    session.AttachPort(&comm);
    session.NotePortOpened();
    settings.BaudText = std::to_string(BaudRateValue(rate));
    session.ProjectSettings = settings;
  }

  // The handshake, ticked as soon as each reply is in (the window's timer
  // does the same 100 ms apart). Returns the display it filled.
  RecordingDisplay Connect() {
    RecordingDisplay display;
    ConnectHandshake handshake(session, display);
    handshake.Prepare();
    handshake.Start();
    while (!display.closed) {
      if (display.timer < 0) {
        ADD_FAILURE() << "handshake stalled after " << handshake.HandshakeCommand();
        break;
      }
      // After a banner the echoed "RRE9" and "E" both answer before the next step.
      const long prompts = handshake.AwaitingReply() && handshake.HandshakeCommand() == "E" ? 2 : 1;
      const bool in = PumpUntil([&] {
        return std::count(session.RxBuffer.begin(), session.RxBuffer.end(), '>') >= prompts;
      });
      if (!in) {
        ADD_FAILURE() << "no reply to " << handshake.HandshakeCommand();
        break;
      }
      handshake.Tick();
    }
    handshake.Close();
    // The window waits 1.5 s before it closes (instant here): by then the
    // reply to the last "RRE9" is in, and the next sequence clears it.
    if (display.closed && !PumpUntil([&] { return session.RxBuffer.ends_with('>'); })) {
      ADD_FAILURE() << "no reply to the last RRE9";
    }
    return display;
  }

  // Runs the event loop until no sequence waits any more.
  bool RunUntilIdle(const std::function<bool()>& busy, int timeoutMs = 20000) {
    return PumpUntil([&] { return !busy(); }, timeoutMs);
  }

  // The first letters of every command the target received since start.
  std::string CommandLetters() const {
    std::string letters;
    for (const auto& c : target->Transcript()) {
      if (!c.empty() && (letters.empty() || letters.back() != c[0])) letters += c[0];
    }
    return letters;
  }

  Session session;
  FixedSettings reload;
  HostUi ui{session};
  ProjectSettingsRecord settings;
  std::unique_ptr<sim::TargetSim> target;
  TComm comm;
};

}  // namespace varnel::testing
