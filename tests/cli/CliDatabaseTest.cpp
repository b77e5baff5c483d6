// Stations sharing one PostgreSQL database: numbers from one counter and
// every board's record in one place, across processes; the server gone
// before a board and after its number; a newer schema; the password.
#include <algorithm>
#include <set>
#include <thread>

#include "StationFixture.h"
#include "support/PostgresServer.h"

namespace varnel::testing {
namespace {

class CliDatabaseTest : public CliStationTest {
 protected:
  void SetUp() override {
    CliStationTest::SetUp();
    if (const std::string missing = PostgresServer::Missing(); !missing.empty()) {
      GTEST_SKIP() << "no PostgreSQL server to test with: " << missing;
    }
    // The spool in the scratch folder; no connection settings of the user.
    ::setenv("XDG_STATE_HOME", Path("state").c_str(), 1);
    for (const char* name : {"PGHOST", "PGPORT", "PGUSER", "PGDATABASE", "PGPASSWORD", "PGSERVICE"}) {
      ::unsetenv(name);
    }
    server = std::make_unique<PostgresServer>();
    ASSERT_TRUE(server->Start()) << server->why();
    db = server->Conninfo();
  }

  CliResult Db(const std::vector<std::string>& args, const std::string& conninfo = "") {
    std::vector<std::string> all = {"--db", conninfo.empty() ? db : conninfo, "db"};
    all.insert(all.end(), args.begin(), args.end());
    return RunBare(all);
  }
  std::string Spool() const { return ReadFile(Path("state/varnel/spool.jsonl")); }
  static std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  std::unique_ptr<PostgresServer> server;
  std::string db;
};

TEST_F(CliDatabaseTest, TwoStationsShareOneCounterAndOneRecordAndNoneShowsThePassword) {
  std::filesystem::copy_file(kTestData / "blink.hex", dir / "blink.hex");
  // The server trusts the socket, so the password goes unused, but libpq
  // reads it from the URI as from any other.
  const std::string secret = "pw-9f3c1e";
  const std::string uri = "postgresql://varnel:" + secret + "@/varnel?host=" + server->dir();
  CliResult r = Db({"init", "--counter", "board", "--start", "1000"}, uri);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string shown = r.out + r.err;
  // Again: nothing changes, not even the counter.
  r = Db({"init", "--counter", "board", "--start", "1"}, uri);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("schema version 1, as it was"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("counter board exists and is left as it is, next number 1000"), std::string::npos) << r.out;
  shown += r.out + r.err;

  StartBoards(4);
  const auto station = [&](std::size_t first, CliResult& result) {
    result = RunBare({"-b", "38400", "-p", Port(first) + "," + Port(first + 1), "--db", uri, "--serial",
                      "7FF0:4:be", "--serial-counter", "board", "--log", Path("log.jsonl"), "program",
                      "--verify", Path("blink.hex")},
                     {}, 60000);
  };
  CliResult a, b;
  std::thread other([&] { station(2, b); });
  station(0, a);
  other.join();
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  shown += a.out + a.err + b.out + b.err;
  std::set<unsigned> numbers;
  for (std::size_t i = 0; i < 4; ++i) {
    const auto flash = boards[i]->Read(sim::Memory::Code);
    numbers.insert(flash[0x7FF0] << 24 | flash[0x7FF1] << 16 | flash[0x7FF2] << 8 | flash[0x7FF3]);
    EXPECT_TRUE(Holds(i, Data("blink.hex")));
  }
  EXPECT_EQ(numbers, (std::set<unsigned>{1000, 1001, 1002, 1003}));
  EXPECT_EQ(server->Sql("SELECT next FROM counters WHERE name = 'board'"), "1004\n");
  EXPECT_EQ(server->Sql("SELECT count(*), count(DISTINCT record_id), count(DISTINCT station) FROM boards"),
            "4|4|1\n");

  // Read back, the records are the log's lines.
  r = Db({"export"}, uri);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Sorted(Lines(r.out)), Sorted(Lines(ReadFile("log.jsonl"))));
  r = Db({"export", "--serial", "1002", "--since", "2020-01-01"}, uri);
  ASSERT_EQ(Lines(r.out).size(), 1u) << r.out;
  EXPECT_NE(r.out.find("\"serial\":1002,"), std::string::npos) << r.out;
  r = Db({"export", "--since", "2999-01-01 00:00+00"}, uri);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  shown += r.err;

  // A database that is not there is named, without the password.
  r = Db({"export"}, "postgresql://varnel:" + secret + "@/nosuchdb?host=" + server->dir());
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("dbname=nosuchdb"), std::string::npos) << r.err;
  shown += r.out + r.err;
  EXPECT_EQ(shown.find(secret), std::string::npos) << shown;
  EXPECT_EQ(server->Sql("SELECT count(*) FROM boards WHERE extra::text LIKE '%" + secret + "%'"), "0\n");
}

TEST_F(CliDatabaseTest, FourStationsOfTwentyFiveBoardsGiveEveryNumberOnce) {
  WriteFile("tiny.hex", ":03000000020100FA\n:00000001FF\n");
  ASSERT_EQ(Db({"init", "--counter", "default", "--start", "1"}).status, 0);
  StartBoards(4);
  for (int round = 0; round < 25; ++round) {
    std::vector<CliResult> results(4);
    std::vector<std::thread> stations;
    for (std::size_t i = 0; i < 4; ++i) {
      stations.emplace_back([&, i] {
        results[i] = RunBare({"-q", "-b", "115200", "-p", Port(i), "--db", db, "--serial", "7FF0:2", "program",
                              Path("tiny.hex")});
      });
    }
    for (auto& s : stations) s.join();
    for (const auto& r : results) ASSERT_EQ(r.status, 0) << "round " << round << ": " << r.err;
  }
  EXPECT_EQ(server->Sql("SELECT count(*), count(DISTINCT serial), min(serial), max(serial) FROM boards "
                        "WHERE result = 'ok'"),
            "100|100|1|100\n");
  EXPECT_EQ(server->Sql("SELECT next FROM counters"), "101\n");
}

TEST_F(CliDatabaseTest, TheServerGoneBeforeABoardAndAfterItsNumber) {
  ASSERT_EQ(Db({"init", "--counter", "default", "--start", "50"}).status, 0);
  StartBoards(1, [](std::size_t, sim::TargetSimConfig& c) {
    c.paced = true;
    c.baud = 38400;
  });
  const auto image = RandomBytes(4096, 28);
  WriteFile("image.bin", std::string(image.begin(), image.end()));
  const std::vector<std::string> program = {"-b", "38400", "-p", Port(0), "--db", db, "--serial", "7FF0:2",
                                            "program", Path("image.bin")};

  // Before a board: no number can be taken, so no board is started.
  ASSERT_TRUE(server->Stop());
  CliResult r = RunBare(program);
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_NE(r.err.find("cannot be reached"), std::string::npos) << r.err;
  EXPECT_EQ(boards[0]->CommandCount(), 0u);
  // A record alone waits in the spool, and goes once by hand.
  r = RunBare({"-b", "38400", "-p", Port(0), "--db", db, "info"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(Spool()).size(), 1u);
  ASSERT_TRUE(server->Resume()) << server->why();
  r = Db({"flush"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("1 record(s) sent", 0), 0u) << r.out;
  EXPECT_EQ(Spool(), "");
  EXPECT_EQ(Db({"flush"}).out.rfind("0 record(s) sent", 0), 0u);

  // After its number: the board is done, its record waits in the spool.
  r = RunBare(program, [&](pid_t) {
    for (int tries = 0; tries < 400 && !boards[0]->InLineMode(); ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    server->Stop();
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("the record waits in"), std::string::npos) << r.err;
  ASSERT_EQ(Lines(Spool()).size(), 1u);
  EXPECT_NE(Spool().find("\"serial\":50,"), std::string::npos) << Spool();
  // The next board sends it first, and it is stored once.
  ASSERT_TRUE(server->Resume()) << server->why();
  r = RunBare(program);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Spool(), "");
  EXPECT_EQ(Db({"flush"}).out.rfind("0 record(s) sent", 0), 0u);
  EXPECT_EQ(server->Sql("SELECT command, serial FROM boards ORDER BY time"), "info|\nprogram|50\nprogram|51\n");
  const auto flash = boards[0]->Read(sim::Memory::Code);
  EXPECT_EQ(flash[0x7FF0], 51);
}

TEST_F(CliDatabaseTest, ASchemaFromTheFutureIsRefused) {
  ASSERT_EQ(Db({"init"}).status, 0);
  server->Sql("UPDATE varnel_schema SET version = 2");
  for (const auto& args : {std::vector<std::string>{"init"}, std::vector<std::string>{"export"}}) {
    const CliResult r = Db(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_NE(r.err.find("schema version 2, newer than this program's (1)"), std::string::npos) << r.err;
  }
  StartBoards(1);
  std::filesystem::copy_file(kTestData / "blink.hex", dir / "blink.hex");
  const CliResult r = RunBare({"-b", "38400", "-p", Port(0), "--db", db, "program", Path("blink.hex")});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(boards[0]->CommandCount(), 0u);
  EXPECT_EQ(server->Sql("SELECT count(*) FROM boards"), "0\n");
}

}  // namespace
}  // namespace varnel::testing
