// The simulator's boot loader fed any bytes, one at a time, in any of its
// configurations: it never fails, its memories keep their sizes, and every
// reply it gives ends in a terminator (".", "$" or ">") or is nothing at
// all; its echo is the byte it is being fed.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "Require.h"
#include "target-sim/BootLoader.h"

namespace varnel::fuzz {
namespace {

class Hooks : public sim::LoaderHooks {
 public:
  bool admit = true;
  char fed = 0;  // the byte being fed
  bool Admit(const std::string&) override { return admit; }
  void Echo(char c) override {
    Require(c == fed, "the loader echoes the byte it is fed, nothing else");
  }
  void Reply(const std::string& text) override {
    Require(text.empty() || text.back() == '.' || text.back() == '$' || text.back() == '>',
            "a reply ends in a terminator: \"" + text + "\"");
  }
};

}  // namespace
}  // namespace varnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnel;
  FuzzedDataProvider in(data, size);
  sim::TargetSimConfig config;
  config.variant = in.ConsumeIntegralInRange(1, 6);  // 1 and 6 name no chip
  config.idValue = in.ConsumeIntegralInRange(-1, 255);
  config.echo = in.ConsumeBool();
  config.leadingCrLf = in.ConsumeBool();
  config.refuseErase = in.ConsumeBool();
  config.refuseConfigWrite = in.ConsumeBool();
  config.lineErrorAt = in.ConsumeIntegralInRange(-1, 4);
  config.lineError = static_cast<sim::LineError>(in.ConsumeIntegralInRange(0, 3));
  config.baud = in.ConsumeBool() ? 0 : 9600;
  sim::BootLoader loader(config);
  loader.SetLineBaud(in.ConsumeIntegralInRange(0, 115200));
  fuzz::Hooks hooks;
  hooks.admit = in.ConsumeBool();
  const auto sizes = [&] {
    std::vector<std::size_t> s;
    for (auto m : {sim::Memory::Code, sim::Memory::ExtRam, sim::Memory::Iram, sim::Memory::Sfr,
                   sim::Memory::Config}) {
      s.push_back(loader.Mem(m).size());
    }
    return s;
  };
  const auto before = sizes();
  for (const char c : in.ConsumeRemainingBytesAsString()) {
    hooks.fed = c;
    if (static_cast<unsigned char>(c) == 0xFF) {
      loader.Idle();  // a pause on the line
      continue;
    }
    loader.Feed(c, hooks);
  }
  fuzz::Require(sizes() == before, "the memories keep their sizes");
  return 0;
}
