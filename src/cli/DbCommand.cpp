// varnel-cli and the database: the db command, the check before a run, and
// the numbers and records of each board thread.
#include "cli/DbCommand.h"

#include <cstdio>
#include <limits>

#include "store/BoardStore.h"
#include "store/Spool.h"
#include "store/StoreError.h"

namespace varnel::cli {
namespace {

using store::StoreError;

// The largest number the serial number's bytes hold.
std::uint64_t LargestSerial(const SerialSpec& spec) {
  constexpr std::uint64_t kAll = std::numeric_limits<std::uint64_t>::max();
  if (spec.format == SerialSpec::Format::Ascii) {
    std::uint64_t most = 9;
    for (std::uint32_t i = 1; i < spec.length && most <= kAll / 10; ++i) most = most * 10 + 9;
    return spec.length >= 20 ? kAll : most;
  }
  return spec.length >= 8 ? kAll : (std::uint64_t{1} << (8 * spec.length)) - 1;
}

// The kind of end a store error is for varnel-cli.
CliFailure Failure(const StoreError& e, const std::string& before = "") {
  return CliFailure(e.kind() == StoreError::Kind::Refused ? OutcomeKind::Refused : OutcomeKind::NotStored,
                    before + e.what());
}

std::unique_ptr<store::BoardStore> Open(const std::string& conninfo) {
  try {
    return std::make_unique<store::BoardStore>(conninfo);
  } catch (const StoreError& e) {
    throw Failure(e);
  }
}

void Say(const std::string& text) {
  std::fprintf(stderr, "varnel-cli: %s\n", text.c_str());
  std::fflush(stderr);
}

// Sends the spool, saying what happened; StoreError when the server went.
void SendAndSay(store::Spool& spool, store::BoardStore& db) {
  if (spool.Empty()) return;
  const store::SpoolSent sent = spool.Send(db);
  if (sent.sent > 0) {
    Say(std::to_string(sent.sent) + " record(s) from the spool " + spool.path() + " sent to the database");
  }
  if (sent.rejected > 0) {
    Say("warning: the database refused " + std::to_string(sent.rejected) +
        " record(s) of the spool; they are kept in " + sent.rejectedPath);
  }
}

}  // namespace

void RunDb(const Options& o) {
  const auto db = Open(o.db);
  store::Spool spool;
  try {
    if (o.dbAction == "init") {
      const int before = db->Init();
      std::printf("%s: schema version %d%s\n", db->Shown().c_str(), store::kSchemaVersion,
                  before == 0 ? " created" : ", as it was");
      if (!o.counter.empty()) {
        std::uint64_t next = 0;
        const bool created = db->CreateCounter(o.counter, *o.counterStart, next);
        std::printf("counter %s %s, next number %llu\n", o.counter.c_str(),
                    created ? "created" : "exists and is left as it is",
                    static_cast<unsigned long long>(next));
      }
    } else if (o.dbAction == "flush") {
      db->Check();  // a wrong --db is said even when there is nothing to send
      const store::SpoolSent sent = spool.Send(*db);
      std::printf("%zu record(s) sent to %s, %zu left in %s\n", sent.sent, db->Shown().c_str(), sent.left,
                  spool.path().c_str());
      if (sent.rejected > 0) {
        std::printf("%zu record(s) the database refused, kept in %s\n", sent.rejected,
                    sent.rejectedPath.c_str());
      }
    } else {
      db->Export(o.since, o.exportSerial, [](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
      });
    }
  } catch (const StoreError& e) {
    throw Failure(e);
  } catch (const std::runtime_error& e) {
    throw CliFailure(OutcomeKind::NotStored, e.what());
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    throw CliFailure(OutcomeKind::NotStored, "cannot write the standard output");
  }
}

void PrepareDb(const Options& o) {
  const auto db = Open(o.db);
  store::Spool spool;
  try {
    spool.Check();
  } catch (const std::runtime_error& e) {
    throw CliFailure(OutcomeKind::Refused, e.what());
  }
  try {
    if (o.serial) {
      const std::uint64_t next = db->PeekNumber(o.serialCounter);
      if (next > LargestSerial(*o.serial)) {
        throw CliFailure(OutcomeKind::Refused, "the serial number " + std::to_string(next) + " of counter '" +
                                                   o.serialCounter + "' does not fit " +
                                                   std::to_string(o.serial->length) + " bytes");
      }
    } else {
      db->Check();
    }
  } catch (const StoreError& e) {
    if (e.kind() == StoreError::Kind::Unreachable && !o.serial) {
      Say("warning: " + std::string(e.what()) + "; the records wait in " + spool.path());
      return;
    } else {
      throw Failure(e, o.serial && e.kind() != StoreError::Kind::Refused ? "no serial numbers: " : "");
    }
  }
  try {
    SendAndSay(spool, *db);
  } catch (const std::exception& e) {
    Say(std::string("warning: ") + e.what());
  }
}

BoardRecords::BoardRecords(const Options& o)
    : o_(o), store_(Open(o.db)), spool_(std::make_unique<store::Spool>()) {}

BoardRecords::~BoardRecords() = default;

void BoardRecords::SendSpool() {
  try {
    SendAndSay(*spool_, *store_);
  } catch (const StoreError&) {
    throw;
  } catch (const std::exception& e) {
    Say(std::string("warning: ") + e.what());
  }
}

std::uint64_t BoardRecords::TakeNumber(const SerialSpec& spec) {
  try {
    SendSpool();  // what waited goes first
    return store_->TakeNumber(o_.serialCounter, LargestSerial(spec));
  } catch (const StoreError& e) {
    if (e.kind() == StoreError::Kind::Refused) throw Failure(e);
    throw Failure(e, "no serial number: ");
  }
}

std::string BoardRecords::Keep(const std::string& logLine) {
  const std::string record =
      store::TravellingRecord(logLine, store::NewRecordId(), store::StationName(), store_->Shown());
  std::string why;
  try {
    SendSpool();
    store_->Insert(record);
    return "";
  } catch (const std::exception& e) {
    why = e.what();
  }
  try {
    spool_->Append(record);
  } catch (const std::exception& e) {
    return why + "; " + e.what();
  }
  Say("warning: " + why + "; the record waits in " + spool_->path());
  return "";
}

Outcome WithRecord(const Outcome& outcome, const std::string& lost) {
  if (lost.empty() || !outcome.Done()) return outcome;
  return {OutcomeKind::NotStored, "done, but its record could not be stored: " + lost};
}

}  // namespace varnel::cli
