// varnel-cli as a whole process against the paced simulator at 38400 baud:
// start to exit, handshake included, over the line time of every byte it
// exchanged (counted from its own trace, 10 bits a byte both ways). And the
// window's sequences over the bare loop's floor, from the figures the other
// benchmarks measure.
#if __has_include("target-sim/TargetSim.h") && defined(VARNEL_CLI_EXE)

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Bench.h"
#include "link/Trace.h"
#include "store/BoardStore.h"
#include "support/PostgresServer.h"
#include "target-sim/TargetSim.h"

namespace varnel::bench {
namespace {

using Clock = std::chrono::steady_clock;
using testing::PostgresServer;
constexpr int kBaud = 38400;

struct CliRun {
  bool ok = false;
  double seconds = 0;
  long long bytes = 0;  // both ways, from the trace
};

// Bytes of every line of a trace file.
long long TraceBytesOf(const std::string& path) {
  std::ifstream in(path);
  long long total = 0;
  for (std::string line; std::getline(in, line);) {
    const std::size_t mark = line.find_first_of("<>");
    if (mark == std::string::npos || mark + 2 > line.size()) continue;
    std::string bytes;
    if (TraceBytes(std::string_view(line).substr(mark + 2), bytes)) {
      total += static_cast<long long>(bytes.size());
    }
  }
  return total;
}

CliRun RunCli(const sim::TargetSim& target, const std::string& trace, std::vector<std::string> args,
              const std::string& configHome) {
  std::vector<std::string> all = {VARNEL_CLI_EXE, "-q", "-p", target.SlavePath(), "-b",
                                  std::to_string(kBaud), "--trace", trace};
  all.insert(all.end(), args.begin(), args.end());
  CliRun run;
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    // Its results would mix with the figures on standard output.
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.bytes = TraceBytesOf(trace);
  if (!run.ok) std::fprintf(stderr, "cli bench: varnel-cli failed (status %d)\n", status);
  return run;
}

std::unique_ptr<sim::TargetSim> PacedTarget() {
  // The simulator's paced bytes leave on time only with fine timer slack;
  // its line thread inherits ours.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  sim::TargetSimConfig config;
  config.variant = 5;
  config.paced = true;
  config.baud = kBaud;
  return std::make_unique<sim::TargetSim>(config);
}

double Ratio(const CliRun& run) {
  return run.seconds / (static_cast<double>(run.bytes) * 10.0 / kBaud);
}

std::vector<Figure> CliReadCode() {
  QTemporaryDir dir;
  const auto target = PacedTarget();
  std::vector<std::uint8_t> code(32768);
  std::mt19937 random(1210);
  for (auto& b : code) b = static_cast<std::uint8_t>(random());
  target->Load(sim::Memory::Code, 0, code);
  const std::string out = dir.filePath("code.bin").toStdString();
  const CliRun run = RunCli(*target, dir.filePath("trace.txt").toStdString(),
                            {"read", "code", "-o", out}, dir.path().toStdString());
  std::ifstream in(out, std::ios::binary);
  const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!run.ok || got != std::string(code.begin(), code.end())) {
    std::fprintf(stderr, "cli bench: the read did not return the flash\n");
    return {};
  }
  return {{"cli_read_code_38400_ratio", Ratio(run), ""}, {"cli_read_code_s", run.seconds, "s"}};
}

std::vector<Figure> CliProgram32k() {
  QTemporaryDir dir;
  const auto target = PacedTarget();
  std::vector<std::uint8_t> image(32768);
  std::mt19937 random(1210);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  const std::string file = dir.filePath("image.bin").toStdString();
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  const CliRun run = RunCli(*target, dir.filePath("trace.txt").toStdString(), {"program", file},
                            dir.path().toStdString());
  if (!run.ok || target->Read(sim::Memory::Code) != image) {
    std::fprintf(stderr, "cli bench: the download did not complete\n");
    return {};
  }
  return {{"cli_program_32k_38400_ratio", Ratio(run), ""}, {"cli_program_32k_s", run.seconds, "s"}};
}

// A 32 KB raw image holding 4 KB of code and FFh after it, as a linker pads
// its binary: programmed with every record sent (--send-all) and with the
// erased records left out, each on a fresh paced target, whole process.
std::vector<Figure> ProgramPaddedBin() {
  QTemporaryDir dir;
  std::vector<std::uint8_t> image(32768, 0xFF);
  std::mt19937 random(1210);
  for (std::size_t i = 0; i < 4096; ++i) image[i] = static_cast<std::uint8_t>(random() % 0xFF);
  const std::string file = dir.filePath("fw.bin").toStdString();
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  const auto timeFor = [&](std::vector<std::string> args) {
    const auto target = PacedTarget();
    target->Fill(sim::Memory::Code, 0x00);  // the erase must show
    args.push_back(file);
    const CliRun run = RunCli(*target, dir.filePath("trace.txt").toStdString(), args,
                              dir.path().toStdString());
    return run.ok && target->Read(sim::Memory::Code) == image ? run.seconds : -1.0;
  };
  const double all = timeFor({"program", "--send-all"});
  const double skipped = timeFor({"program"});
  const double allVerify = timeFor({"program", "--send-all", "--verify"});
  const double skippedVerify = timeFor({"program", "--verify"});
  if (all <= 0 || skipped <= 0 || allVerify <= 0 || skippedVerify <= 0) {
    std::fprintf(stderr, "cli bench: the padded image was not programmed\n");
    return {};
  }
  return {{"program_bin_4k_in_32k_speedup", all / skipped, ""},
          {"program_verify_bin_4k_in_32k_speedup", allVerify / skippedVerify, ""},
          {"program_bin_4k_in_32k_all_s", all, "s"},
          {"program_bin_4k_in_32k_skipped_s", skipped, "s"},
          {"program_verify_bin_4k_in_32k_all_s", allVerify, "s"},
          {"program_verify_bin_4k_in_32k_skipped_s", skippedVerify, "s"}};
}

// varnel-cli with a -p per target, -q: seconds from start to exit.
double RunGang(const std::vector<std::unique_ptr<sim::TargetSim>>& targets,
               std::vector<std::string> args, const std::string& configHome) {
  std::vector<std::string> all = {VARNEL_CLI_EXE, "-q", "-b", std::to_string(kBaud)};
  for (const auto& t : targets) {
    all.push_back("-p");
    all.push_back(t->SlavePath());
  }
  all.insert(all.end(), args.begin(), args.end());
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "gang bench: varnel-cli failed (status %d)\n", status);
    return -1;
  }
  return seconds;
}

// Program and verify 32 KB on four paced targets at once, over the time
// for one: what running boards side by side costs each of them.
std::vector<Figure> Gang4Vs1() {
  QTemporaryDir dir;
  std::vector<std::uint8_t> image(32768);
  std::mt19937 random(1210);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  const std::string file = dir.filePath("image.bin").toStdString();
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  const std::vector<std::string> args = {"program", "--verify", file};
  const auto timeFor = [&](std::size_t boards) {
    std::vector<std::unique_ptr<sim::TargetSim>> targets;
    for (std::size_t i = 0; i < boards; ++i) targets.push_back(PacedTarget());
    const double seconds = RunGang(targets, args, dir.path().toStdString());
    for (const auto& t : targets) {
      if (t->Read(sim::Memory::Code) != image) return -1.0;
    }
    return seconds;
  };
  const double one = timeFor(1);
  const double four = timeFor(4);
  if (one <= 0 || four <= 0) {
    std::fprintf(stderr, "gang bench: a board was not programmed\n");
    return {};
  }
  return {{"gang_4_vs_1_ratio", four / one, ""}, {"gang_1_program_verify_32k_s", one, "s"},
          {"gang_4_program_verify_32k_s", four, "s"}};
}

// Four boards with serial numbers from the database over four with numbers
// from a counter file: what the shared record costs a station. Each way
// twice, the faster run counting.
std::vector<Figure> Gang4DbVsFile() {
  PostgresServer server;
  if (const std::string missing = PostgresServer::Missing(); !missing.empty() || !server.Start(true)) {
    std::fprintf(stderr, "gang db bench: no PostgreSQL server: %s\n",
                 missing.empty() ? server.why().c_str() : missing.c_str());
    return {};
  }
  QTemporaryDir dir;
  ::setenv("XDG_STATE_HOME", dir.path().toUtf8().constData(), 1);
  {
    store::BoardStore db(server.Conninfo());
    std::uint64_t next = 0;
    db.Init();
    db.CreateCounter("default", 1, next);
  }
  std::vector<std::uint8_t> image(4096);
  std::mt19937 random(1210);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  const std::string file = dir.filePath("image.bin").toStdString();
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  const std::string serialFile = dir.filePath("serial.txt").toStdString();
  std::ofstream(serialFile) << "1\n";
  const auto timeWith = [&](const std::vector<std::string>& numbers) {
    std::vector<std::unique_ptr<sim::TargetSim>> targets;
    for (int i = 0; i < 4; ++i) targets.push_back(PacedTarget());
    std::vector<std::string> args = numbers;
    for (const char* a : {"--serial", "7FF0:4", "program", "--verify"}) args.emplace_back(a);
    args.push_back(file);
    return RunGang(targets, args, dir.path().toStdString());
  };
  double db = 1e9, counterFile = 1e9;
  for (int round = 0; round < 2; ++round) {
    const double f = timeWith({"--serial-file", serialFile});
    const double d = timeWith({"--db", server.Conninfo()});
    if (f <= 0 || d <= 0) return {};
    counterFile = std::min(counterFile, f);
    db = std::min(db, d);
  }
  return {{"gang_4_db_vs_file_ratio", db / counterFile, ""}, {"gang_4_db_program_verify_4k_s", db, "s"},
          {"gang_4_file_program_verify_4k_s", counterFile, "s"}};
}

Registrar cliGangDb({"gang_4_db_vs_file_ratio", "gang_4_db_program_verify_4k_s",
                     "gang_4_file_program_verify_4k_s"},
                    Gang4DbVsFile);
Registrar cliGang({"gang_4_vs_1_ratio", "gang_1_program_verify_32k_s", "gang_4_program_verify_32k_s"},
                  Gang4Vs1);
Registrar cliRead({"cli_read_code_38400_ratio", "cli_read_code_s"}, CliReadCode);
Registrar cliProgram({"cli_program_32k_38400_ratio", "cli_program_32k_s"}, CliProgram32k);
Registrar cliPadded({"program_bin_4k_in_32k_speedup", "program_verify_bin_4k_in_32k_speedup",
                     "program_bin_4k_in_32k_all_s", "program_bin_4k_in_32k_skipped_s",
                     "program_verify_bin_4k_in_32k_all_s", "program_verify_bin_4k_in_32k_skipped_s"},
                    ProgramPaddedBin);

}  // namespace
}  // namespace varnel::bench

#endif
