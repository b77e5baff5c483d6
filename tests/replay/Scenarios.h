// The runs the recordings hold, and one host that drives them: a session
// wired as the main window wires it, on whatever port it is given, connected
// by the handshake and then running the scenario's sequence. The recorder
// drives it against the simulator, the replays against the recordings, so
// both sides do exactly the same.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "connect/ConnectHandshake.h"
#include "core/Session.h"
#include "support/RecordingDisplay.h"
#include "memory/UploadSequence.h"
#include "programming/ProgrammingSequence.h"
#include "replay/Conversation.h"
#include "support/RecordingUi.h"

namespace varnel::sim {
class TargetSim;
}

namespace varnel::testing {

struct Scenario {
  enum class Run { ConnectOnly, UploadAll, Program };
  const char* file;   // recording tests/data/conversations/<file>.trace
  const char* title;  // what the run is, for its header and the "--" line
  Run run;
  bool refuseErase;   // the simulator answers "x" to erase commands
};

const std::vector<Scenario>& Scenarios();
std::string ConversationPath(const Scenario& scenario);
// The program file the programming runs download.
std::string ProgramFilePath();

// The target's memories for every recording, loaded into the simulator.
void LoadTargetMemories(sim::TargetSim& target);

// The cells a scenario's run fills in the session's images.
struct CellRange {
  MemoryKind memory;
  std::int32_t first, last;
};
std::vector<CellRange> FilledCells(const Scenario& scenario);

// The cells a reply to this command may change (its block, one register,
// nothing).
std::vector<CellRange> CellsAnsweredBy(const std::string& command);

// Cells of the images that differ from the conversation's "@" cells (a cell
// without one must hold FFh), as a message; empty when none.
std::string ImageFaults(const Session& session, const Conversation& conversation);

class ScenarioHost {
 public:
  ScenarioHost(const Scenario& scenario, CommPort& port);

  // The other end has nothing more to say unless asked; unset: wait for
  // each step's time-out.
  std::function<bool()> peerQuiet;

  // The handshake, ticked as soon as each reply is in, or once the other
  // end has gone quiet (the window's timer would tick all the same).
  void Connect();
  // Starts the scenario's sequence and runs the event loop until it ends or
  // stalls.
  void RunSequence();
  // The progress window's Cancel, carried out through the watchdog as the
  // window does, its checks made as soon as the line is quiet.
  void Cancel();

  bool Busy() const;
  // Times a step waited for its full time-out.
  int TimeOuts() const { return timeOuts_; }
  // The state the run left behind, one fact a line, as the "=" lines hold it.
  std::vector<std::string> Summary() const;

  const Scenario& scenario;
  Session session;
  RecordingUi ui;
  FixedSettings reload;
  ProjectSettingsRecord settings;
  RecordingDisplay display;
  UploadSequence upload{session, reload};
  ProgrammingSequence program{session, reload};

 private:
  bool Pump(const std::function<bool()>& done, int timeoutMs = 10000);
  int timeOuts_ = 0;
};

}  // namespace varnel::testing
