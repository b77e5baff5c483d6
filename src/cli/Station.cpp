// varnel-cli's station: its options over the settings store, as a single
// board's run reads them, handed to the library's station.
#include "cli/Station.h"

#include <algorithm>

#include "cli/CliSettings.h"
#include "cli/StationPlan.h"
#include "core/MemoryImages.h"

namespace varnel::cli {

int RunStation(const Options& o) {
  StationPlan p;
  Session session;
  for (const std::string& port : o.ports) {
    Options one = o;
    one.port = port;
    CliSettings settings(session, one);
    settings.LoadProperties();
    settings.CheckResetSequence();
    p.devices.push_back(settings.CheckedDevice());
    p.ports.push_back(port);
  }
  const ProjectSettingsRecord& ps = session.ProjectSettings;
  using C = StationPlan::Command;
  p.command = o.command == Command::Verify       ? C::Verify
              : o.command == Command::Erase      ? C::Erase
              : o.command == Command::BlankCheck ? C::BlankCheck
              : o.command == Command::Info       ? C::Info
                                                 : C::Program;
  p.file = o.file;
  p.allowMissingEnd = o.allowMissingEnd;
  p.baud = std::stoi(ps.BaudText);
  p.reset = ps.ControlDTR ? ps.ResetSequence : "";
  p.resetCommand = o.resetCommand;
  p.crystalHz = static_cast<std::uint32_t>(std::max(ps.CrystalHz, 0));
  p.clockOption = o.clockHz;
  p.timeoutMs = o.timeoutMs;
  p.trace = o.trace;
  p.quiet = o.quiet;
  p.verify = o.verify;
  p.sendAll = o.sendAll;
  p.erase = o.eraseScope == EraseScope::CfgOnly   ? StationPlan::Erase::CfgOnly
            : o.eraseScope == EraseScope::WithCfg ? StationPlan::Erase::WithCfg
                                                  : StationPlan::Erase::Flash;
  // The steps and configuration registers the settings hold, unless the
  // command line says otherwise.
  p.massErase = !o.noMassErase && ps.MassErase;
  p.eraseConfig = !o.noEraseCfg && ps.ErasePS1;
  p.writeFlash = !o.noFlash && ps.ProgFlash;
  p.writeConfig = !o.noHcr && ps.ProgPS1;
  p.hcr0 = o.hcr0 ? *o.hcr0 : static_cast<std::uint8_t>(session.Images.CfgImage.Read(MemoryImages::kHCR0Offset));
  p.hcr1 = o.hcr1 ? *o.hcr1 : static_cast<std::uint8_t>(session.Images.CfgImage.Read(MemoryImages::kHCR1Offset));
  if (o.serial) {
    using F = StationPlan::Serial::Format;
    p.serial = StationPlan::Serial{o.serial->address, o.serial->length,
                                   o.serial->format == SerialSpec::Format::Be      ? F::Be
                                   : o.serial->format == SerialSpec::Format::Ascii ? F::Ascii
                                                                                   : F::Le};
  }
  p.serialFile = o.serialFile;
  p.db = o.db;
  p.serialCounter = o.serialCounter;
  p.log = o.log;
  p.loop = o.loop;
  p.count = o.count;
  return RunStationPlan(p);
}

}  // namespace varnel::cli
