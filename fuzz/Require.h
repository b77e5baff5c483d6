// A property of a fuzz target: when it fails the target says which and
// aborts, so the fuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace varnel::fuzz {

inline void Require(bool holds, const std::string& what) {
  if (holds) return;
  std::fprintf(stderr, "property failed: %s\n", what.c_str());
  std::abort();
}

}  // namespace varnel::fuzz
