// The boot loader's command interpreter. Commands carry no terminator: the
// loader knows each command's length from its letters and acts on its last
// character. In line mode it takes Intel HEX records, each whole when its
// byte count says so; line ends between records are skipped.
#include "target-sim/BootLoader.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace varnel::sim {
namespace {

constexpr char kPrompt[] = "\r\n>";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Value of len hex digits at pos, -1 when one of them is no hex digit.
int HexField(const std::string& text, std::size_t pos, std::size_t len) {
  if (pos + len > text.size()) return -1;
  int value = 0;
  for (std::size_t i = pos; i < pos + len; ++i) {
    const int d = HexDigit(text[i]);
    if (d < 0) return -1;
    value = value * 16 + d;
  }
  return value;
}

std::string Hex2(int value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(value >> 4) & 15], kDigits[value & 15]};
}

// Letters that make up the name of a command starting with first.
std::size_t LetterCount(char first) {
  return (first == 'E' || first == 'F' || first == 'M' || first == 'L') ? 1 : 2;
}

}  // namespace

int FlashSize(int variant) {
  switch (variant) {
    case 2: return 4 * 1024;
    case 3: return 8 * 1024;
    case 4: return 16 * 1024;
    case 5: return 32 * 1024;
    default: return 0;
  }
}

int EffectiveIdValue(const TargetSimConfig& config) {
  if (config.idValue >= 0) return config.idValue & 0xFF;
  return std::clamp(config.variant, 2, 5) - 2;
}

int BaudReload(std::int64_t clockHz, int baud) {
  if (baud <= 0) baud = 9600;
  const long long ticks = std::llround(static_cast<double>(clockHz) / (32.0 * baud));
  return static_cast<int>(std::clamp(65536LL - ticks, 0LL, 65535LL));
}

int CommandLength(const std::string& letters) {
  if (letters.empty()) return -1;
  switch (letters[0]) {
    case 'E': return 1;
    case 'F': return 3;
    case 'M': return 5;
    case 'C':
    case 'R':
    case 'X':
    case 'I':
      break;
    default:
      return 0;
  }
  if (letters.size() < 2) return -1;
  const std::string name = letters.substr(0, 2);
  if (name == "CR" || name == "XR") return 6;
  if (name == "CW") return 8;
  if (name == "RR" || name == "IR") return 4;
  if (name == "RW") return 6;
  return 0;
}

BootLoader::BootLoader(const TargetSimConfig& config)
    : config_(config),
      flash_(std::max(FlashSize(config.variant), 0), 0xFF),
      extRam_(kExtRamSize, 0x00),
      iram_(kIramSize, 0x00),
      sfr_(kSfrSize, 0x00),
      cfg_(kConfigSize, 0xFF) {
  Reset();
}

void BootLoader::SetConfig(const TargetSimConfig& config) {
  const bool echoChanged = config.echo != config_.echo;
  config_ = config;
  const int size = FlashSize(config.variant);
  if (size > 0 && static_cast<int>(flash_.size()) != size) flash_.resize(size, 0xFF);
  sfr_[0xE9] = static_cast<std::uint8_t>(EffectiveIdValue(config_));
  if (echoChanged) echo_ = config_.echo;
}

void BootLoader::Reset() {
  state_ = State::Reset;
  echo_ = config_.echo;
  configErased_ = false;
  raw_.clear();
  command_.clear();
  record_.clear();
  swallowLineEnd_ = false;
  std::fill(sfr_.begin(), sfr_.end(), 0x00);
  for (int port : {0x80, 0x90, 0xA0, 0xB0}) sfr_[port] = 0xFF;
  sfr_[0x81] = 0x07;  // stack pointer
  sfr_[0xE9] = static_cast<std::uint8_t>(EffectiveIdValue(config_));
  SetBaudTimer();
}

int BootLoader::EffectiveBaud() const {
  if (config_.baud > 0) return config_.baud;
  return lineBaud_ > 0 ? lineBaud_ : 9600;
}

void BootLoader::SetBaudTimer() {
  const int reload = BaudReload(config_.clockHz, EffectiveBaud());
  sfr_[0xCA] = static_cast<std::uint8_t>(reload & 0xFF);
  sfr_[0xCB] = static_cast<std::uint8_t>(reload >> 8);
}

std::vector<std::uint8_t>& BootLoader::Mem(Memory memory) {
  switch (memory) {
    case Memory::Code: return flash_;
    case Memory::ExtRam: return extRam_;
    case Memory::Iram: return iram_;
    case Memory::Sfr: return sfr_;
    case Memory::Config: break;
  }
  return cfg_;
}

const std::vector<std::uint8_t>& BootLoader::Mem(Memory memory) const {
  return const_cast<BootLoader*>(this)->Mem(memory);
}

void BootLoader::Feed(char c, LoaderHooks& hooks) {
  if (swallowLineEnd_) {
    if (c == '\r' || c == '\n') return;
    swallowLineEnd_ = false;
  }
  switch (state_) {
    case State::Reset:
      // Until the first carriage return has set the rate, nothing is understood.
      if (c == '\r') {
        raw_ = command_ = "\r";
        Complete(hooks, false);
      }
      return;
    case State::Discard:
      if (c == '\r' || c == '\n') state_ = State::Command;
      return;
    case State::Line:
      FeedLine(c, hooks);
      return;
    case State::Command:
      FeedCommand(c, hooks);
      return;
  }
}

void BootLoader::Idle() {
  swallowLineEnd_ = false;
  if (state_ == State::Discard) state_ = State::Command;
}

void BootLoader::FeedCommand(char c, LoaderHooks& hooks) {
  if (c == '\r') {
    // A carriage return cuts a half-typed command short and asks for the prompt.
    if (!raw_.empty()) {
      hooks.Admit(raw_);
      raw_.clear();
      command_.clear();
    }
    raw_ = command_ = "\r";
    Complete(hooks, false);
    return;
  }
  if (echo_ && c != '\0') hooks.Echo(c);
  const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (raw_.empty()) {
    echoWhenReceived_ = echo_;
    if (u == 'L') {
      raw_ = "L";
      state_ = State::Line;
      record_.clear();
      lineNumber_ = 1;
      addressBase_ = 0;
      // Programming is locked while HCR0 holds EPMA clear, until the
      // configuration page has been erased.
      refusing_ = !(cfg_[kHcr0] & kEpma) && !configErased_;
      return;
    }
    // Line ends, blanks and unknown characters between commands are ignored.
    if (CommandLength(std::string(1, u)) == 0) return;
  }
  raw_ += c;
  command_ += u;
  const std::size_t letters = LetterCount(command_[0]);
  const bool bad = command_.size() <= letters ? CommandLength(command_) == 0
                                              : HexDigit(u) < 0;
  if (bad) {
    Complete(hooks, true);
    return;
  }
  const int length = CommandLength(command_);
  if (length > 0 && static_cast<int>(command_.size()) == length) Complete(hooks, false);
}

void BootLoader::Complete(LoaderHooks& hooks, bool bad) {
  const std::string raw = raw_;
  const std::string command = command_;
  raw_.clear();
  command_.clear();
  if (!hooks.Admit(raw)) return;
  const std::string separator = (command != "\r" && echoWhenReceived_) ? " " : "";
  hooks.Reply(separator + (bad ? std::string("\r\n?") + kPrompt : Execute(command)));
}

std::string BootLoader::Execute(const std::string& command) {
  if (command == "\r") return Wake();
  switch (command[0]) {
    case 'E':
      echo_ = false;
      return kPrompt;
    case 'R': {
      const int address = HexField(command, 2, 2);
      if (command[1] == 'R') return Hex2(sfr_[address]) + kPrompt;
      if (address != 0xE9) sfr_[address] = static_cast<std::uint8_t>(HexField(command, 4, 2));
      return kPrompt;
    }
    case 'C': {
      const int address = HexField(command, 2, 4);
      if (command[1] == 'R') return Block(address, Memory::Code);
      return WriteCommand(address, HexField(command, 6, 2));
    }
    case 'X': return Block(HexField(command, 2, 4), Memory::ExtRam);
    case 'I': return Block(HexField(command, 2, 2), Memory::Iram);
    case 'F': return Block(HexField(command, 1, 2), Memory::Config);
    case 'M': return EraseCommand(HexField(command, 1, 4));
    default: return std::string("\r\n?") + kPrompt;
  }
}

std::string BootLoader::Wake() {
  // Every carriage return is measured for the rate, so the reload follows the line.
  SetBaudTimer();
  if (state_ == State::Reset) {
    state_ = State::Command;
    return "\r\nMSC1210 Boot Loader (simulated) Ver:" + config_.version + kPrompt;
  }
  return kPrompt;
}

std::uint8_t BootLoader::CodeSpaceByte(int address) const {
  if (address < static_cast<int>(flash_.size())) return flash_[address];
  if (address >= kConfigBase && address < kConfigBase + kConfigSize) {
    return cfg_[address - kConfigBase];
  }
  return 0xFF;  // nothing answers there
}

std::string BootLoader::Block(int address, Memory memory) const {
  std::string text = config_.leadingCrLf ? "\r\n" : "";
  for (int i = 0; i < 16; ++i) {
    std::uint8_t value = 0xFF;
    switch (memory) {
      case Memory::Code: value = CodeSpaceByte((address + i) & 0xFFFF); break;
      case Memory::ExtRam:
        if (address + i < kExtRamSize) value = extRam_[address + i];
        break;
      case Memory::Iram: value = iram_[(address + i) & 0xFF]; break;
      case Memory::Config: value = cfg_[(address + i) & 0x7F]; break;
      case Memory::Sfr: value = sfr_[(address + i) & 0xFF]; break;
    }
    if (i > 0) text += ' ';
    text += Hex2(value);
  }
  return text + kPrompt;
}

std::string BootLoader::EraseCommand(int address) {
  if (config_.refuseErase) return std::string("x") + kPrompt;
  if (address == 0x0000) {
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    if (config_.unerasedCellAddress >= 0 &&
        config_.unerasedCellAddress < static_cast<int>(flash_.size())) {
      flash_[static_cast<std::size_t>(config_.unerasedCellAddress)] =
          static_cast<std::uint8_t>(config_.unerasedCellValue);
    }
  } else if (address == kConfigBase) {
    std::fill(cfg_.begin(), cfg_.end(), 0xFF);
    configErased_ = true;
  } else {
    return std::string("x") + kPrompt;
  }
  return std::string("ok") + kPrompt;
}

std::string BootLoader::WriteCommand(int address, int value) {
  const bool ok = !config_.refuseConfigWrite && ProgramByte(address, static_cast<std::uint8_t>(value));
  return std::string(ok ? "ok" : "x") + kPrompt;
}

// Flash cells only lose bits when written; the loader reads the cell back and
// reports a failure when the value did not stick (the cell was not erased).
bool BootLoader::ProgramByte(int address, std::uint8_t value) {
  std::uint8_t* cell = nullptr;
  if (address >= 0 && address < static_cast<int>(flash_.size())) {
    cell = &flash_[address];
  } else if (address >= kConfigBase && address < kConfigBase + kConfigSize) {
    cell = &cfg_[address - kConfigBase];
  } else {
    return false;
  }
  *cell &= value;
  return *cell == value;
}

void BootLoader::FeedLine(char c, LoaderHooks& hooks) {
  if (echo_ && c != '\0') hooks.Echo(c);
  if (record_.empty()) {
    if (raw_.empty()) echoWhenReceived_ = echo_;
    // Anything before the colon of a record (line ends among them) is skipped.
    if (c == ':') {
      record_ = ":";
      raw_ += c;
    }
    return;
  }
  if (c == '\r' || c == '\n') {
    FinishRecord(hooks);  // the line ended before the record was whole
    return;
  }
  record_ += c;
  raw_ += c;
  if (record_.size() < 3) return;
  const int count = HexField(record_, 1, 2);
  if (count < 0) {
    // The length is unreadable: answer now and throw away the rest of the line.
    FinishRecord(hooks);
    if (state_ == State::Command) state_ = State::Discard;
    return;
  }
  if (record_.size() == 11 + 2 * static_cast<std::size_t>(count)) {
    FinishRecord(hooks);
    swallowLineEnd_ = true;
  }
}

void BootLoader::LeaveLineMode(State next) {
  state_ = next;
  record_.clear();
  raw_.clear();
}

void BootLoader::FinishRecord(LoaderHooks& hooks) {
  const std::string raw = raw_;
  const std::string record = record_;
  raw_.clear();
  record_.clear();
  const int number = lineNumber_++;
  if (!hooks.Admit(raw)) return;
  const std::string separator = echoWhenReceived_ ? " " : "";

  std::string reply;
  if (refusing_) {
    reply = kPrompt;  // empty reply: programming mode not entered
  } else if (number == config_.lineErrorAt && config_.lineError != LineError::None) {
    switch (config_.lineError) {
      case LineError::WriteError: reply = std::string("X") + kPrompt; break;
      case LineError::ChecksumError: reply = std::string("E") + kPrompt; break;
      default: reply = kPrompt; break;
    }
  } else {
    // Decode the pairs after the colon; a short, odd or non-hex record and a
    // wrong checksum are all the same error to the loader.
    std::vector<std::uint8_t> bytes;
    bool valid = record.size() >= 11 && record.size() % 2 == 1;
    for (std::size_t i = 1; valid && i + 1 < record.size(); i += 2) {
      const int v = HexField(record, i, 2);
      valid = v >= 0;
      bytes.push_back(static_cast<std::uint8_t>(v));
    }
    if (valid && bytes.size() != 5u + bytes[0]) valid = false;
    int sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    if (!valid || (sum & 0xFF) != 0) {
      reply = std::string("E") + kPrompt;
    } else {
      reply = ProgramRecord(bytes);
      if (reply == ".") {
        hooks.Reply(separator + reply);
        return;  // stays in line mode for the next record
      }
    }
  }
  LeaveLineMode();
  hooks.Reply(separator + reply);
}

std::string BootLoader::ProgramRecord(const std::vector<std::uint8_t>& bytes) {
  const int count = bytes[0];
  const int offset = bytes[1] << 8 | bytes[2];
  switch (bytes[3]) {
    case 0x00: {
      const std::int64_t start = addressBase_ + offset;
      if (start + count > static_cast<std::int64_t>(flash_.size())) return std::string("X") + kPrompt;
      bool ok = true;
      for (int i = 0; i < count; ++i) {
        const int address = static_cast<int>(start + i);
        ok = ProgramByte(address, bytes[4 + i]) && ok;
        // The loader's read-back passed; the weak cell loses the bits after it.
        if (address == config_.weakCellAddress) {
          flash_[address] ^= static_cast<std::uint8_t>(config_.weakCellMask);
        }
      }
      return ok ? "." : std::string("X") + kPrompt;
    }
    case 0x01: return std::string("T") + kPrompt;
    case 0x02:  // extended segment address
      if (count != 2) return std::string("E") + kPrompt;
      addressBase_ = static_cast<std::int64_t>(bytes[4] << 8 | bytes[5]) * 16;
      return ".";
    case 0x04:  // extended linear address
      if (count != 2) return std::string("E") + kPrompt;
      addressBase_ = static_cast<std::int64_t>(bytes[4] << 8 | bytes[5]) << 16;
      return ".";
    case 0x03:
    case 0x05:
      return ".";  // start address: nothing to program
    default: return std::string("E") + kPrompt;
  }
}

}  // namespace varnel::sim
