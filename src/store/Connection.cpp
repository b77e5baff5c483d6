// One connection with deadlines: libpq's asynchronous calls, waited on with
// poll, so that no server can hold a board thread longer than its time-out.
#include "store/Connection.h"

#include <libpq-fe.h>
#include <poll.h>

#include <chrono>
#include <cstring>

#include "store/StoreError.h"

namespace varnel::store {
namespace {

using Clock = std::chrono::steady_clock;

// A little beyond the server's own statement time-out, so that its refusal
// arrives before this side gives up.
constexpr auto kAnswerWait = std::chrono::seconds(kTimeoutSeconds + 2);

bool IsSecret(const char* keyword) {
  return std::strcmp(keyword, "password") == 0 || std::strcmp(keyword, "sslpassword") == 0;
}

std::string Quoted(const std::string& value) {
  if (!value.empty() && value.find_first_of(" '\\") == std::string::npos) return value;
  std::string out = "'";
  for (const char c : value) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

// libpq's messages end in a line break and may span lines.
std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  for (std::size_t at; (at = text.find("\n\t")) != std::string::npos;) text.replace(at, 2, "; ");
  for (char& c : text) {
    if (c == '\n' || c == '\t') c = ' ';
  }
  return text;
}

// States after which the server is gone or will not serve us for now:
// a record waits in the spool, a number is not taken.
bool GoneState(const std::string& state) {
  return state.rfind("08", 0) == 0 || state.rfind("53", 0) == 0 || state == "57014" ||
         state == "57P01" || state == "57P02" || state == "57P03";
}

void Quiet(void*, const char*) {}

// Waits until the socket is ready for events or the deadline passes.
bool WaitFor(int socket, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd fd{socket, events, 0};
    const int n = ::poll(&fd, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return true;  // let libpq find out what is wrong
  }
}

}  // namespace

std::optional<std::string> ShownConninfo(const std::string& conninfo) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (error) PQfreemem(error);
  if (!options) return std::nullopt;
  std::string shown;
  for (const PQconninfoOption* o = options; o->keyword; ++o) {
    if (!o->val || !*o->val || IsSecret(o->keyword)) continue;
    if (!shown.empty()) shown += ' ';
    shown += std::string(o->keyword) + "=" + Quoted(o->val);
  }
  PQconninfoFree(options);
  return shown;
}

bool HoldsPassword(const std::string& conninfo) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (error) PQfreemem(error);
  if (!options) return false;
  bool holds = false;
  for (const PQconninfoOption* o = options; o->keyword; ++o) {
    holds = holds || (o->val && *o->val && IsSecret(o->keyword));
  }
  PQconninfoFree(options);
  return holds;
}

Connection::Connection(std::string conninfo) : conninfo_(std::move(conninfo)) {
  const auto shown = ShownConninfo(conninfo_);
  // libpq's own message may quote the text it could not read, password
  // and all: it is not repeated.
  if (!shown) {
    throw StoreError(StoreError::Kind::Refused,
                     "--db: not a connection string libpq can read (key=value settings, or a URI "
                     "postgresql://USER@HOST/DATABASE)");
  }
  shown_ = shown->empty() ? "the default database" : *shown;
}

Connection::~Connection() { Close(); }

void Connection::Close() {
  if (conn_) PQfinish(conn_);
  conn_ = nullptr;
}

std::string Connection::Unreachable(const std::string& why) const {
  return "the database (" + shown_ + ") cannot be reached: " + why;
}

void Connection::Open() {
  Close();
  const std::string timeout = std::to_string(kTimeoutSeconds);
  // The caller's settings come last and win over these defaults.
  const char* keys[] = {"connect_timeout", "fallback_application_name", "dbname", nullptr};
  const char* values[] = {timeout.c_str(), "varnel", conninfo_.c_str(), nullptr};
  PGconn* conn = PQconnectStartParams(keys, values, 1);
  if (!conn) throw StoreError(StoreError::Kind::Unreachable, Unreachable("out of memory"));
  const auto deadline = Clock::now() + std::chrono::seconds(kTimeoutSeconds);
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  while (PQstatus(conn) != CONNECTION_BAD && state != PGRES_POLLING_OK && state != PGRES_POLLING_FAILED) {
    const short events = state == PGRES_POLLING_READING ? POLLIN : POLLOUT;
    if (!WaitFor(PQsocket(conn), events, deadline)) {
      PQfinish(conn);
      throw StoreError(StoreError::Kind::Unreachable,
                       Unreachable("no answer within " + std::to_string(kTimeoutSeconds) + " s"));
    }
    state = PQconnectPoll(conn);
  }
  if (PQstatus(conn) != CONNECTION_OK) {
    const std::string why = OneLine(PQerrorMessage(conn));
    PQfinish(conn);
    throw StoreError(StoreError::Kind::Unreachable, Unreachable(why));
  }
  PQsetNoticeProcessor(conn, Quiet, nullptr);  // "already exists, skipping" and the like
  conn_ = conn;
  bool broken = false;
  try {
    ExecOnce("SET statement_timeout = " + std::to_string(kTimeoutSeconds * 1000), {}, broken);
  } catch (const StoreError&) {
    Close();
    throw;
  }
  if (broken) {
    Close();
    throw StoreError(StoreError::Kind::Unreachable, Unreachable("the connection broke"));
  }
}

std::vector<Row> Connection::Exec(const std::string& sql,
                                  const std::vector<std::optional<std::string>>& params) {
  if (!conn_) Open();
  bool broken = false;
  std::vector<Row> rows = ExecOnce(sql, params, broken);
  if (!broken) return rows;
  // A server restarted since the last statement: once more on a new
  // connection (a statement that never arrived is not done twice).
  Open();
  rows = ExecOnce(sql, params, broken);
  if (broken) {
    Close();
    throw StoreError(StoreError::Kind::Unreachable, Unreachable("the connection broke"));
  }
  return rows;
}

std::vector<Row> Connection::ExecOnce(const std::string& sql,
                                      const std::vector<std::optional<std::string>>& params,
                                      bool& broken) {
  broken = false;
  sqlState_.clear();
  std::vector<const char*> values;
  for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
  // Without parameters several statements may go at once, as one
  // transaction (the schema's set-up).
  const int sent = params.empty() ? PQsendQuery(conn_, sql.c_str())
                                  : PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()),
                                                      nullptr, values.data(), nullptr, nullptr, 0);
  if (!sent) {
    broken = true;
    return {};
  }
  const auto deadline = Clock::now() + kAnswerWait;
  std::vector<Row> rows;
  std::string error, state;
  for (;;) {
    while (PQisBusy(conn_)) {
      if (!WaitFor(PQsocket(conn_), POLLIN, deadline)) {
        Close();
        throw StoreError(StoreError::Kind::Unreachable,
                         Unreachable("no answer within " + std::to_string(kTimeoutSeconds + 2) + " s"));
      }
      if (!PQconsumeInput(conn_)) {
        broken = true;
        return {};
      }
    }
    PGresult* result = PQgetResult(conn_);
    if (!result) break;
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_TUPLES_OK) {
      for (int r = 0; r < PQntuples(result); ++r) {
        Row row;
        for (int c = 0; c < PQnfields(result); ++c) {
          if (PQgetisnull(result, r, c)) {
            row.emplace_back(std::nullopt);
          } else {
            row.emplace_back(std::string(PQgetvalue(result, r, c),
                                         static_cast<std::size_t>(PQgetlength(result, r, c))));
          }
        }
        rows.push_back(std::move(row));
      }
    } else if (status != PGRES_COMMAND_OK && error.empty()) {
      const char* code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
      const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
      state = code ? code : "";
      error = OneLine(primary ? primary : PQresultErrorMessage(result));
      if (error.empty()) error = OneLine(PQerrorMessage(conn_));
    }
    PQclear(result);
  }
  if (PQstatus(conn_) == CONNECTION_BAD) {
    broken = true;
    return {};
  }
  if (!error.empty()) {
    sqlState_ = state;
    if (GoneState(state)) {
      Close();
      throw StoreError(StoreError::Kind::Unreachable, Unreachable(error));
    }
    throw StoreError(StoreError::Kind::Failed, "the database refused: " + error);
  }
  return rows;
}

}  // namespace varnel::store
