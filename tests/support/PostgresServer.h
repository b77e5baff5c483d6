// A PostgreSQL server of the test's own: a cluster made by initdb in a
// temporary folder, listening only on a Unix socket in that folder, with
// the superuser "varnel" and trust on the socket. The server refuses to run
// as root, so for root it runs as "nobody", in a folder that user owns.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace varnel::testing {

class PostgresServer {
 public:
  static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";

  // Why no server can be started here; empty when one can.
  static std::string Missing() {
    for (const char* tool : {"initdb", "pg_ctl", "postgres", "psql"}) {
      if (::access((std::string(kBin) + "/" + tool).c_str(), X_OK) != 0) {
        return std::string("no ") + kBin + "/" + tool + " (Debian's package postgresql)";
      }
    }
    if (::geteuid() == 0 && !::getpwnam("nobody")) return "running as root, and no user nobody to run the server";
    return "";
  }

  // Makes the cluster and starts it; false with why() set. Not durable:
  // no waiting for the disk, which tests do not need; durable: a server's
  // defaults, for figures that mean what a line will see.
  bool Start(bool durable = false) {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnel-pg-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return Fail("mkdtemp");
    dir_ = pattern;
    if (::geteuid() == 0) {
      const passwd* nobody = ::getpwnam("nobody");
      uid_ = nobody->pw_uid;
      gid_ = nobody->pw_gid;
      if (::chown(dir_.c_str(), uid_, gid_) != 0) return Fail("chown");
    }
    if (Run({Tool("initdb"), "-D", Data(), "-U", "varnel", "-A", "trust", "-E", "UTF8", "--locale=C",
             "--no-sync"}, true) != 0) {
      return Fail("initdb: " + Log());
    }
    std::ofstream conf(Data() + "/postgresql.conf", std::ios::app);
    conf << "listen_addresses = ''\nunix_socket_directories = '" << dir_ << "'\n";
    if (!durable) conf << "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n";
    conf.close();
    if (!Resume()) return false;
    if (Run({Tool("psql"), "-X", "-q", "-h", dir_, "-U", "varnel", "-d", "postgres", "-c",
             "CREATE DATABASE varnel"}, false) != 0) {
      return Fail("createdb: " + Log());
    }
    return true;
  }
  // Stops the server (it may be started again with Resume).
  bool Stop() { return Run({Tool("pg_ctl"), "-D", Data(), "-m", "fast", "-w", "stop"}, true) == 0; }
  bool Resume() {
    if (Run({Tool("pg_ctl"), "-D", Data(), "-l", dir_ + "/server.log", "-w", "start"}, true) != 0) {
      return Fail("pg_ctl start: " + Log() + ReadAll(dir_ + "/server.log"));
    }
    return true;
  }

  ~PostgresServer() {
    if (!dir_.empty()) {
      Run({Tool("pg_ctl"), "-D", Data(), "-m", "immediate", "-w", "stop"}, true);
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }

  // The connection string of the database "varnel".
  std::string Conninfo() const { return "host=" + dir_ + " user=varnel dbname=varnel"; }
  const std::string& dir() const { return dir_; }
  const std::string& why() const { return why_; }

  // The rows of a query, one line each, fields separated by "|".
  std::string Sql(const std::string& query) {
    Run({Tool("psql"), "-X", "-A", "-t", "-q", "-h", dir_, "-U", "varnel", "-d", "varnel", "-c", query}, false);
    return ReadAll(dir_ + "/psql.out");
  }

 private:
  static std::string Tool(const char* name) { return std::string(kBin) + "/" + name; }
  std::string Data() const { return dir_ + "/data"; }
  std::string Log() const { return ReadAll(dir_ + "/tool.log"); }
  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  bool Fail(const std::string& why) {
    why_ = why;
    return false;
  }

  // Runs a tool with its output in the folder; the server's tools as the
  // folder's owner.
  int Run(const std::vector<std::string>& args, bool asOwner) {
    const std::string out = dir_ + (asOwner ? "/tool.log" : "/psql.out");
    ::unlink(out.c_str());
    // Made before the fork: the child of a process with threads only execs.
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      if (asOwner && uid_ != 0) {
        if (::fchown(fd, uid_, gid_) != 0 || ::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 ||
            ::setuid(uid_) != 0) {
          ::_exit(126);
        }
      }
      if (::chdir(dir_.c_str()) != 0) ::_exit(126);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string dir_, why_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

}  // namespace varnel::testing
