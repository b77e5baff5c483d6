// Files for tests: whole files read and written as bytes, a scratch folder
// removed afterwards, and a program run in it (binutils, for cross-checks).
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::testing {

// The file's bytes; "" when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class ToolFolder {
 public:
  ToolFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "varnel-XXXXXX").string();
    if (::mkdtemp(name.data())) path_ = name;
  }
  ~ToolFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ToolFolder(const ToolFolder&) = delete;
  ToolFolder& operator=(const ToolFolder&) = delete;

  bool Valid() const { return !path_.empty(); }
  std::string Path(const std::string& name = {}) const {
    return name.empty() ? path_ : path_ + "/" + name;
  }
  // Names of the entries in the folder, hidden ones included.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

// Runs a program with arguments, its output to /dev/null; its exit status,
// 127 when it cannot be started.
inline int RunTool(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What objcopy of binutils writes as Intel HEX for the raw image in binPath
// placed at base (into hexPath); "" when it wrote nothing. Its exit status
// goes to *status.
inline std::string ObjcopyIntelHex(const std::string& binPath, const std::string& hexPath,
                                   std::uint32_t base, int* status = nullptr) {
  std::filesystem::remove(hexPath);
  char address[32];
  std::snprintf(address, sizeof address, ".data=0x%X", base);
  const int rc = RunTool({"objcopy", "-I", "binary", "-O", "ihex", "--change-section-address",
                          address, binPath, hexPath});
  if (status) *status = rc;
  return std::filesystem::exists(hexPath) ? ReadFile(hexPath) : "";
}

}  // namespace varnel::testing
