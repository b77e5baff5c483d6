// Where the tests' data files are: tests/data of the source tree, as the
// build names it. (A path taken from __FILE__ is relative to wherever the
// compiler ran, and each test program runs in a folder of its own.)
#pragma once

#include <filesystem>

namespace varnel::testing {

inline const std::filesystem::path kTestData = VARNEL_TEST_DATA;

}  // namespace varnel::testing
