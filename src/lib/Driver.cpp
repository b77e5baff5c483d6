// The verbs of a Target, run to their ends over the Line.
#include "lib/Driver.h"

#include <algorithm>
#include <map>

#include "connect/ConnectHandshake.h"
#include "core/Memories.h"
#include "core/ResetSequence.h"
#include "lib/Errors.h"
#include "lib/Line.h"
#include "link/HexText.h"
#include "link/Trace.h"
#include "programming/Verify.h"

namespace varnel::lib {
namespace {

constexpr MemoryKind KindOf(Memory memory) {
  switch (memory) {
    case Memory::Code: return MemoryKind::Code;
    case Memory::Xdata: return MemoryKind::ExtRAM;
    case Memory::Iram: return MemoryKind::IRAM;
    case Memory::Sfr: return MemoryKind::SFR;
    case Memory::Config: return MemoryKind::Cfg;
  }
  return MemoryKind::Code;
}

std::string Hex(std::uint32_t address) { return HD16Prev(address) + "h"; }

// A banner is a few dozen characters.
constexpr std::size_t kBannerBytes = 64;

// What a connect shows, without a window: its timer becomes "the next tick
// is due", and closing ends the handshake.
class HandshakeDisplay : public ConnectDisplay {
 public:
  void ShowTarget(const std::string&) override {}
  void ShowFirmware(const std::string&) override {}
  void ShowSoftware(const std::string&) override {}
  void ShowCore(const std::string&) override {}
  void SetButtonsEnabled(bool) override {}
  void StartTimer(int) override { tickDue = true; }
  void StopTimer() override { tickDue = false; }
  void Dismiss() override { closed = true; }
  bool tickDue = false;
  bool closed = false;
};

}  // namespace

Driver::Driver(const TargetOptions& options, const std::atomic<bool>& cancel)
    : options_(options) {
  if (!Line::LineRate(options.baud)) {
    throw BadFile("the port does not run at " + std::to_string(options.baud) + " baud");
  }
  if (!options.reset.empty()) {
    try {
      ParseResetSequence(options.reset);
    } catch (const ResetSequenceError& e) {
      throw BadFile(std::string("reset: ") + e.what());
    }
  }
  line_ = std::make_unique<Line>(options_, cancel);
}

Driver::~Driver() = default;

void Driver::Open(const std::string& port) { line_->Open(port); }

void Driver::Close() {
  info_.reset();
  line_->Close();
}

std::uint32_t Driver::FlashBytes() const {
  const std::int32_t end = UploadSequence::FlashEndFor(line_->session().TargetIdCode);
  return end < 0 ? 0 : static_cast<std::uint32_t>(end) + 1;
}

// The verbs need a connected target. A failure of the line or of the
// loader's dialogue (no answer, damaged replies, the port, a cancel) leaves
// the target to be connected again; a refusal, a bad image or a verify
// that found differences does not.
template <typename Body>
auto Driver::Guarded(Body body) -> decltype(body()) {
  if (!line_->Port().IsOpen()) throw PortError("the port " + line_->Device() + " is closed");
  if (!info_) throw BadFile("the target is not connected: connect() first; nothing was sent");
  line_->BeginVerb();
  try {
    return body();
  } catch (const Error& e) {
    line_->EndProgressReport(false);
    if (e.kind() != ErrorKind::BadFile && e.kind() != ErrorKind::Refused &&
        e.kind() != ErrorKind::VerifyFailed) {
      info_.reset();
    }
    throw;
  } catch (...) {
    line_->EndProgressReport(false);
    info_.reset();
    throw;
  }
}

void Driver::CheckFits(const Image& image) const {
  if (image.empty()) throw BadFile("the image writes no bytes; nothing was sent");
  const std::uint32_t flash = FlashBytes();
  const std::uint32_t highest = image.bytes().rbegin()->first;
  if (highest >= flash) {
    throw BadFile(image.name() + " writes " + Hex(highest) + ", beyond the " +
                  std::to_string(flash / 1024) + " KB flash of the " + info_->chip +
                  ". Nothing was sent.");
  }
}

std::vector<Difference> Driver::Verify(const Image& image, const Progress& progress) {
  return Guarded([&] {
    CheckFits(image);
    return Compare(image.bytes(), progress);
  });
}

std::optional<std::uint32_t> Driver::BlankCheck(const Progress& progress) {
  const std::vector<Difference> found = NotBlank(progress);
  if (found.empty()) return std::nullopt;
  return found.front().address;
}

std::vector<Difference> Driver::NotBlank(const Progress& progress) {
  return Guarded([&] {
    // An erased cell reads FFh.
    std::map<std::uint32_t, std::uint8_t> erased;
    for (std::uint32_t a = 0; a < FlashBytes(); ++a) erased.emplace_hint(erased.end(), a, 0xFF);
    return Compare(erased, progress);
  });
}

Info Driver::Connect() {
  info_.reset();
  lib::Line& line = *line_;
  if (!line.Port().IsOpen()) throw PortError("the port " + line.Device() + " is closed");
  line.Renew();
  if (!options_.reset_command.empty()) line.RunResetCommand(options_.reset_command);
  Session& s = line.session();
  HandshakeDisplay display;
  ConnectHandshake handshake(s, display, NumberFormat{".", ""});

  // The reset pulse takes its real time: the loader needs it to start.
  line.SetRealWaits(true);
  const std::optional<Outcome> trouble = handshake.Prepare();
  line.SetRealWaits(false);
  // A port that cannot give the reset is a warning: the attempt then shows
  // whether the loader answers all the same.
  if (trouble) line.Say(Message::Kind::Warning, trouble->text);
  line.Check();

  const std::string rate = std::to_string(options_.baud);
  // Three carriage returns, spread over the time-out, as the window sends
  // three 500 + 100 + 100 ms apart.
  const int wakeMs = std::max(100, line.ExchangeMs(kBannerBytes) / ConnectHandshake::kRetries);
  handshake.Start();
  while (!display.closed && !handshake.Result()) {
    if (!display.tickDue) {
      line.Fail({OutcomeKind::NoAnswer,
                 "the boot loader's answer on " + line.Device() + " holds no prompt: \"" +
                     TraceText(handshake.ReplyText().substr(0, 40)) + "\" (is " + rate +
                     " baud right?)"});
      break;
    }
    if (handshake.AwaitingReply()) {
      if (!line.RunUntil([&] { return line.AwaitedPrompts() == 0; })) break;
    } else {
      line.RunUntil([&] { return s.RxBuffer.find('>') != std::string::npos; }, wakeMs);
      if (line.Failed()) break;
    }
    line.ForgetAwaited();
    handshake.Tick();
  }
  handshake.Close();
  if (const auto& result = handshake.Result(); result && !result->Done()) {
    Outcome failed = *result;
    if (failed.kind == OutcomeKind::NoAnswer) {
      failed.text += " (no answer on " + line.Device() + " at " + rate + " baud)";
    }
    RaiseOutcome(failed);
  }
  line.Check();

  Info info;
  info.chip = s.TargetName;
  info.id = s.TargetIdCode;
  info.firmware = s.FirmwareVersion;
  info.clock_hz = static_cast<std::uint32_t>(std::max(s.CoreClockHz, 0));
  // One count of the baud timer's reload is 32 x the rate.
  info.clock_step_hz = static_cast<std::uint32_t>(32 * options_.baud);
  info.flash_bytes = FlashBytes();
  info_ = info;
  return info;
}

void Driver::Upload(int memory, std::uint32_t first, std::uint32_t last) {
  const auto kind = static_cast<MemoryKind>(memory);
  line_->Run([&](Engine& engine) { return engine.UploadRange(kind, first, last); });
}

// Every block read twice and compared, for the damage no single read can
// see (a digit turned into another digit); a block whose two reads differ
// is read a third time, and the two reads that agree win.
void Driver::UploadTwice(int memory, std::uint32_t first, std::uint32_t last) {
  const auto kind = static_cast<MemoryKind>(memory);
  const std::uint32_t base = InfoOf(kind).targetBase;
  MemoryImage& image = line_->session().Images.Of(kind);
  const auto cells = [&](std::uint32_t from, std::uint32_t to) {
    const auto begin = image.Cells().begin() + (from - base);
    return std::vector<std::uint8_t>(begin, begin + (to - from + 1));
  };
  const std::string label = "reading " + std::string(InfoOf(kind).name) + " " + Hex(first) + "-" + Hex(last);
  const std::size_t bytes = last - first + 1;
  line_->Say(Message::Kind::Step, label, bytes);
  Upload(memory, first, last);
  const std::vector<std::uint8_t> once = cells(first, last);
  line_->Say(Message::Kind::Step, label + " again", bytes);
  Upload(memory, first, last);
  std::vector<std::uint8_t> agreed = cells(first, last);
  const std::uint32_t step = kind == MemoryKind::SFR ? 1 : 16;
  std::uint32_t at = kind == MemoryKind::IRAM || kind == MemoryKind::SFR ? first : first & ~0xFu;
  for (; at <= last; at += step) {
    const std::uint32_t from = std::max(at, first), to = std::min(at + step - 1, last);
    const auto offset = static_cast<std::ptrdiff_t>(from - first);
    const auto size = static_cast<std::ptrdiff_t>(to - from + 1);
    const auto a = once.begin() + offset;
    const auto b = agreed.begin() + offset;
    if (std::equal(a, a + size, b)) continue;
    const bool byteAddress = kind == MemoryKind::IRAM || kind == MemoryKind::SFR;
    line_->Say(Message::Kind::Step,
               "reading " + std::string(InfoOf(kind).name) + " at " +
                   (byteAddress ? HDPrev(from) : HD16Prev(from)) + "h a third time",
               static_cast<std::size_t>(size));
    line_->GrowProgress(static_cast<std::size_t>(size));
    Upload(memory, from, to);
    const std::vector<std::uint8_t> third = cells(from, to);
    if (!std::equal(a, a + size, third.begin()) && !std::equal(b, b + size, third.begin())) {
      throw Damaged("no two of three reads of " + std::string(InfoOf(kind).name) + " at " +
                        (byteAddress ? HDPrev(from) : HD16Prev(from)) +
                        "h agree: the line changes the data on the way",
                    from);
    }
    std::copy(third.begin(), third.end(), b);
  }
  for (std::uint32_t address = first; address <= last; ++address) {
    image.Write(address - base, agreed[address - first]);
  }
}

std::vector<std::uint8_t> Driver::Read(Memory memory, std::uint32_t first, std::uint32_t last,
                                       const ReadOptions& options) {
  return Guarded([&] {
    const MemoryKind kind = KindOf(memory);
    const MemoryInfo& entry = InfoOf(kind);
    const std::uint32_t lowest = entry.targetBase + static_cast<std::uint32_t>(entry.firstDefault);
    std::uint32_t highest = entry.targetBase + static_cast<std::uint32_t>(entry.size) - 1;
    if (kind == MemoryKind::Code) highest = FlashBytes() - 1;
    if (first > last || first < lowest || last > highest) {
      throw BadFile("the range " + Hex(first) + "-" + Hex(last) + " does not lie within " +
                    entry.shortName + " (" + Hex(lowest) + "-" + Hex(highest) + ")");
    }
    const std::size_t bytes = last - first + 1;
    const std::size_t step = kind == MemoryKind::SFR ? 1 : 16;
    // The bar stands at the address of the block just stored.
    line_->SetProgress(options.progress, options.twice ? 2 * bytes : bytes,
                       [step](int offset) { return static_cast<std::size_t>(std::max(offset, 0)) + step; });
    if (options.twice) {
      UploadTwice(static_cast<int>(kind), first, last);
    } else {
      line_->Say(Message::Kind::Step, "reading " + std::string(entry.name) + " " + Hex(first) + "-" + Hex(last),
                 bytes);
      Upload(static_cast<int>(kind), first, last);
    }
    line_->EndProgressReport(true);
    const MemoryImage& image = line_->session().Images.Of(kind);
    const auto begin = image.Cells().begin() + (first - entry.targetBase);
    return std::vector<std::uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(bytes));
  });
}

std::vector<Difference> Driver::Compare(const std::map<std::uint32_t, std::uint8_t>& expected,
                                        const Progress& progress) {
  std::size_t total = 0;
  for (const auto& [first, last] : VerifyRanges(expected)) total += last - first + 1;
  line_->SetProgress(progress, total, [](int offset) {
    return static_cast<std::size_t>(std::max(offset, 0)) + 16;
  });
  // Each range read back is a step of its own.
  line_->engine().onVerifyRange = [this](std::uint32_t first, std::uint32_t last, bool again) {
    if (again) line_->GrowProgress(last - first + 1);
    line_->Say(Message::Kind::Step,
               "verifying CODE " + Hex(first) + "-" + Hex(last) + (again ? " again" : ""),
               last - first + 1);
  };
  try {
    line_->Run([&](Engine& engine) { return engine.Verify(expected); });
  } catch (const VerifyFailed& e) {
    verifyText_ = e.what();
    // The differences the engine's check kept, every read showing them.
    std::vector<Difference> found;
    const MemoryImage& code = line_->session().Images.CodeImage;
    for (const VerifyDifference& d : line_->engine().VerifyDifferences(code)) {
      found.push_back({d.address, d.file, d.target});
    }
    line_->EndProgressReport(true);
    return found;
  }
  line_->EndProgressReport(true);
  return {};
}

ProgramResult Driver::Program(const Image& image, const ProgramSteps& options) {
  return Guarded([&] {
    CheckFits(image);
    Session& s = line_->session();
    s.ChooseProgramFile(image.name());
    ::varnel::ProgramOptions steps;
    steps.erasePS1 = options.eraseConfig;
    steps.progPS1 = options.writeConfig;
    steps.verify = false;  // read back below, through the engine's one verify
    steps.hcr0 = options.hcr0;
    steps.hcr1 = options.hcr1;
    steps.records = image.records();
    steps.skipErased = options.skipErased;
    steps.massErase = options.massErase;
    steps.progFlash = options.writeFlash;
    Image patched = image;
    if (options.patch) {
      steps.beforeRecords = [&](std::string& text) -> Outcome {
        try {
          options.patch(patched);
          text = patched.records();
        } catch (const Error& e) {
          return {e.kind() == ErrorKind::RecordLost ? OutcomeKind::NotStored
                  : e.kind() == ErrorKind::BadFile  ? OutcomeKind::BadFile
                                                    : OutcomeKind::TargetRefused,
                  e.what()};
        }
        return {};
      };
    }
    // The bytes written once the first k records are through.
    // A file's own records go as they are; a patched image goes as 16-byte
    // records.
    std::vector<std::size_t> after{0};
    if (options.patch) {
      for (const Range& run : image.ranges()) {
        for (std::uint32_t at = run.first; at <= run.last;) {
          const std::uint32_t end = std::min<std::uint32_t>(run.last, ((at / 16) + 1) * 16 - 1);
          after.push_back(after.back() + (end - at + 1));
          at = end + 1;
        }
      }
      after.push_back(after.back());  // the end record
    } else {
      for (std::size_t at = 0; at < steps.records->size();) {
        std::size_t end = steps.records->find('\n', at);
        if (end == std::string::npos) end = steps.records->size();
        const std::string_view record = std::string_view(*steps.records).substr(at, end - at);
        const bool data = record.size() > 9 && record.substr(7, 2) == "00";
        after.push_back(after.back() + (data ? std::stoul(std::string(record.substr(1, 2)), nullptr, 16) : 0));
        at = end + 1;
      }
    }
    const Progress report = options.progress;
    line_->SetProgress(report, image.size(), [after](int position) {
      const auto k = static_cast<std::size_t>(std::max(position + 1, 0));
      return after[std::min(k, after.size() - 1)];
    });
    const std::uint64_t before = s.RepliesReadAgain;
    line_->Run([&](Engine& engine) { return engine.Program(steps); });
    line_->EndProgressReport(true);
    ProgramResult result;
    result.bytes_written = image.size();
    const Downloaded download = LastDownload();
    result.bytes_sent = download.sent;
    result.bytes_skipped = download.skipped;
    if (options.verify) {
      std::vector<Difference> differences = Compare(patched.bytes(), report);
      if (!differences.empty()) {
        throw VerifyFailed(verifyText_, std::move(differences));
      }
      result.verified = true;
    }
    result.replies_read_again = static_cast<std::size_t>(s.RepliesReadAgain - before);
    return result;
  });
}

std::size_t Driver::RepliesReadAgain() {
  return static_cast<std::size_t>(line_->session().RepliesReadAgain);
}

Downloaded Driver::LastDownload() {
  const DownloadCount& count = line_->engine().Programming().Downloaded();
  return {count.held, count.sent, count.skipped};
}

bool Driver::Answers(int ms) {
  TComm& port = line_->Port();
  if (!port.IsOpen() || port.IsHungUp()) return false;
  // A fresh session: whatever the board's run left behind does not count.
  line_->Renew();
  Session& s = line_->session();
  s.ClearRx();
  try {
    s.SendString("\r");
  } catch (const std::exception&) {
    // A port that takes nothing has no board behind it.
    return false;
  }
  const bool answered = line_->RunUntil([&] { return s.RxBuffer.find('>') != std::string::npos; }, ms);
  line_->StopWaiting();
  return answered;
}

void Driver::Erase(EraseWhat what) {
  Guarded([&] {
    const EraseScope engineScope = what == EraseWhat::Flash    ? EraseScope::Flash
                                   : what == EraseWhat::Config ? EraseScope::CfgOnly
                                                               : EraseScope::WithCfg;
    line_->Run([&](Engine& engine) { return engine.Erase(engineScope); });
  });
}

}  // namespace varnel::lib
