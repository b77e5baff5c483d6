// One connection to the PostgreSQL server, opened on first use, with a
// deadline on connecting and on every statement: a server that hangs or
// goes away ends the call with an error, never blocks the caller. Not
// shared between threads: every board thread has its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct pg_conn;

namespace varnel::store {

// Connecting, and each statement, at most this long on the server; the
// wait for its answer a little longer.
inline constexpr int kTimeoutSeconds = 5;

// The connection string as it may be shown: its settings as key=value
// without any password; nullopt when libpq cannot read it.
std::optional<std::string> ShownConninfo(const std::string& conninfo);
// Whether the connection string carries a password (libpq reads it from
// ~/.pgpass or PGPASSWORD instead, where it belongs).
bool HoldsPassword(const std::string& conninfo);

using Row = std::vector<std::optional<std::string>>;  // text values, nullopt for NULL

class Connection {
 public:
  // conninfo: any libpq connection string or URI. Throws StoreError
  // (Refused) when libpq cannot read it.
  explicit Connection(std::string conninfo);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Without the password: for messages and to tell databases apart.
  const std::string& Shown() const { return shown_; }
  bool IsOpen() const { return conn_ != nullptr; }
  // Throws StoreError (Unreachable).
  void Open();
  void Close();
  // Runs one statement with text parameters and returns its rows, opening
  // the connection first when needed. A connection that broke since its
  // last use is opened again once. Throws StoreError: Unreachable, or
  // Failed with the server's message (sqlState() says which).
  std::vector<Row> Exec(const std::string& sql, const std::vector<std::optional<std::string>>& params = {});
  // The SQLSTATE of the last statement the server refused.
  const std::string& sqlState() const { return sqlState_; }

 private:
  std::vector<Row> ExecOnce(const std::string& sql, const std::vector<std::optional<std::string>>& params,
                            bool& broken);
  std::string Unreachable(const std::string& why) const;

  std::string conninfo_, shown_, sqlState_;
  pg_conn* conn_ = nullptr;
};

}  // namespace varnel::store
