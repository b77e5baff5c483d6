// A serial number from the database: one short statement over the Unix
// socket of a server on this machine, the median of many.
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "Bench.h"
#include "store/BoardStore.h"
#include "support/PostgresServer.h"

namespace varnel::bench {
namespace {

using testing::PostgresServer;

std::vector<Figure> TakeNumber() {
  PostgresServer server;
  if (const std::string missing = PostgresServer::Missing(); !missing.empty() || !server.Start(true)) {
    std::fprintf(stderr, "db bench: no PostgreSQL server: %s\n",
                 missing.empty() ? server.why().c_str() : missing.c_str());
    return {};
  }
  store::BoardStore db(server.Conninfo());
  std::uint64_t next = 0;
  db.Init();
  db.CreateCounter("bench", 1, next);
  for (int i = 0; i < 50; ++i) db.TakeNumber("bench", 1u << 31);  // the connection warm
  std::vector<double> ms;
  for (int i = 0; i < 1000; ++i) {
    const auto start = std::chrono::steady_clock::now();
    db.TakeNumber("bench", 1u << 31);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
  return {{"db_take_number_ms", ms[ms.size() / 2], "ms"}};
}

Registrar takeNumber({"db_take_number_ms"}, TakeNumber);

}  // namespace
}  // namespace varnel::bench
