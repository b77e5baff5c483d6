// Registration of benchmark figures. Each benchmark measures one or more
// named figures at once; the runner prints "name: value unit" per figure.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace varnel::bench {

struct Figure {
  std::string name;
  double value;
  std::string unit;  // empty for a plain ratio
};

struct Benchmark {
  std::vector<std::string> figures;  // names it produces
  std::function<std::vector<Figure>()> run;
};

std::vector<Benchmark>& Registry();

// Runs the event loop as the program does, sleeping until something happens;
// a timer of wakeMs bounds each wait so the condition is seen. False when
// timeoutMs passed first.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs, int wakeMs);

struct Registrar {
  Registrar(std::vector<std::string> figures, std::function<std::vector<Figure>()> run) {
    Registry().push_back({std::move(figures), std::move(run)});
  }
};

}  // namespace varnel::bench
