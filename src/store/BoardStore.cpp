// The schema, the counters and the records, as SQL over one connection.
#include "store/BoardStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QUuid>
#include <climits>
#include <cstdio>

#include "store/StoreError.h"

namespace varnel::store {
namespace {

// The record's fields in the order the log writes them, with how each is
// written back: as a string, or as it reads (numbers, true/false).
struct Field {
  const char* name;
  bool text;
};
constexpr Field kFields[] = {
    {"time", true},        {"port", true},          {"command", true},       {"target", true},
    {"id", true},          {"firmware", true},      {"clock_hz", false},     {"file", true},
    {"file_sha256", true}, {"serial", false},       {"bytes_written", false}, {"bytes_sent", false},
    {"verified", false},   {"result", true},        {"exit_status", false},  {"message", true},
    {"seconds", false},
};

// Serialised by the advisory lock, so two stations initialising at once
// do not both create the tables.
constexpr char kInit[] = R"SQL(
DO $$ BEGIN PERFORM pg_advisory_xact_lock(1210); END $$;
CREATE TABLE IF NOT EXISTS varnel_schema (version integer NOT NULL);
DO $$ BEGIN
  IF (SELECT max(version) FROM varnel_schema) > 1 THEN
    RAISE EXCEPTION 'newer schema' USING ERRCODE = 'VR001';
  END IF;
END $$;
SELECT coalesce(max(version), 0) FROM varnel_schema;
CREATE TABLE IF NOT EXISTS counters (
  name text PRIMARY KEY,
  next bigint NOT NULL CHECK (next >= 0)
);
CREATE TABLE IF NOT EXISTS boards (
  record_id uuid PRIMARY KEY,
  station text NOT NULL,
  time timestamptz NOT NULL,
  port text,
  command text,
  target text,
  id text,
  firmware text,
  clock_hz bigint,
  file text,
  file_sha256 text,
  serial numeric(20, 0),
  bytes_written bigint,
  bytes_sent bigint,
  verified boolean,
  result text,
  exit_status integer,
  message text,
  seconds numeric,
  extra jsonb
);
COMMENT ON COLUMN boards.extra IS 'fields of the record that have no column of their own';
CREATE INDEX IF NOT EXISTS boards_time ON boards (time);
CREATE INDEX IF NOT EXISTS boards_serial ON boards (serial);
INSERT INTO varnel_schema (version) SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM varnel_schema);
)SQL";

constexpr char kInsert[] = R"SQL(
INSERT INTO boards (record_id, station, time, port, command, target, id, firmware, clock_hz, file,
                    file_sha256, serial, bytes_written, bytes_sent, verified, result, exit_status,
                    message, seconds, extra)
SELECT (r->>'record_id')::uuid, r->>'station', (r->>'time')::timestamptz, r->>'port',
       r->>'command', r->>'target', r->>'id', r->>'firmware', (r->>'clock_hz')::bigint,
       r->>'file', r->>'file_sha256', (r->>'serial')::numeric, (r->>'bytes_written')::bigint,
       (r->>'bytes_sent')::bigint, (r->>'verified')::boolean, r->>'result', (r->>'exit_status')::integer, r->>'message',
       (r->>'seconds')::numeric,
       nullif(r - ARRAY['record_id', 'station', 'db', 'time', 'port', 'command', 'target', 'id',
                        'firmware', 'clock_hz', 'file', 'file_sha256', 'serial', 'bytes_written',
                        'bytes_sent', 'verified', 'result', 'exit_status', 'message', 'seconds'], '{}'::jsonb)
FROM (SELECT $1::jsonb AS r) AS line
ON CONFLICT (record_id) DO NOTHING
)SQL";

constexpr char kExport[] = R"SQL(
SELECT to_char(time AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"'), port, command, target,
       id, firmware, clock_hz, file, file_sha256, serial, bytes_written, bytes_sent,
       CASE WHEN verified THEN 'true' WHEN NOT verified THEN 'false' END, result, exit_status,
       message, seconds, extra
FROM boards
WHERE ($1::timestamptz IS NULL OR time >= $1::timestamptz)
  AND ($2::numeric IS NULL OR serial = $2::numeric)
ORDER BY time, serial NULLS FIRST, record_id
)SQL";

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

bool ValidUtf8(const std::string& text) {
  const QByteArray bytes = QByteArray::fromStdString(text);
  return QString::fromUtf8(bytes).toUtf8() == bytes;
}

std::string NewerSchema(int version) {
  return "the database holds schema version " + std::to_string(version) +
         ", newer than this program's (" + std::to_string(kSchemaVersion) +
         "): update varnel on this station before it uses that database";
}

}  // namespace

std::string TravellingRecord(const std::string& logLine, const std::string& recordId,
                             const std::string& station, const std::string& db) {
  std::string record = logLine;
  // The server keeps text in UTF-8: bytes that are not are taken as the
  // Latin-1 characters they are, and a NUL as the replacement character.
  if (!ValidUtf8(record)) record = QString::fromLatin1(QByteArray::fromStdString(record)).toUtf8().toStdString();
  for (std::size_t at; (at = record.find("\\u0000")) != std::string::npos;) record.replace(at, 6, "\\ufffd");
  const std::string head = "{\"record_id\":" + JsonString(recordId) + ",\"station\":" + JsonString(station) +
                           ",\"db\":" + JsonString(db);
  if (record.size() < 2 || record.front() != '{') return head + "}";
  return head + (record == "{}" ? "" : ",") + record.substr(1);
}

std::string NewRecordId() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString(); }

std::string StationName() { return QSysInfo::machineHostName().toStdString(); }

int BoardStore::Init() {
  try {
    const auto rows = db_.Exec(kInit);
    checked_ = true;
    return rows.empty() || !rows[0][0] ? 0 : std::stoi(*rows[0][0]);
  } catch (const StoreError& e) {
    if (db_.sqlState() != "VR001") throw;
    const auto rows = db_.Exec("SELECT max(version) FROM varnel_schema");
    throw StoreError(StoreError::Kind::Refused, NewerSchema(std::stoi(rows.at(0).at(0).value_or("0"))));
  }
}

void BoardStore::Ready() {
  if (checked_) return;
  std::vector<Row> rows;
  try {
    rows = db_.Exec("SELECT max(version) FROM varnel_schema");
  } catch (const StoreError& e) {
    if (db_.sqlState() != "42P01") throw;  // undefined_table
    throw StoreError(StoreError::Kind::Refused, "the database (" + Shown() +
                                                    ") holds no board records yet: set it up with "
                                                    "varnel-cli db init --db CONNINFO");
  }
  const int version = rows.empty() || !rows[0][0] ? 0 : std::stoi(*rows[0][0]);
  if (version > kSchemaVersion) throw StoreError(StoreError::Kind::Refused, NewerSchema(version));
  checked_ = true;
}

bool BoardStore::CreateCounter(const std::string& name, std::uint64_t start, std::uint64_t& next) {
  Ready();
  const auto rows = db_.Exec("INSERT INTO counters (name, next) VALUES ($1, $2) "
                             "ON CONFLICT (name) DO NOTHING RETURNING next",
                             {name, std::to_string(start)});
  if (!rows.empty()) {
    next = start;
    return true;
  }
  next = PeekNumber(name);
  return false;
}

std::uint64_t BoardStore::PeekNumber(const std::string& name) {
  Ready();
  const auto rows = db_.Exec("SELECT next FROM counters WHERE name = $1", {name});
  if (rows.empty() || !rows[0][0]) {
    throw StoreError(StoreError::Kind::Refused,
                     "the database has no serial-number counter '" + name +
                         "': create it with varnel-cli db init --db CONNINFO --counter " + name +
                         " --start N");
  }
  return std::stoull(*rows[0][0]);
}

std::uint64_t BoardStore::TakeNumber(const std::string& name, std::uint64_t largest) {
  Ready();
  // The counter holds a bigint, and the number after the last one must fit.
  const std::uint64_t most = std::min<std::uint64_t>(largest, LLONG_MAX - 1);
  const auto rows = db_.Exec("UPDATE counters SET next = next + 1 WHERE name = $1 AND next <= $2 "
                             "RETURNING next - 1",
                             {name, std::to_string(most)});
  if (!rows.empty() && rows[0][0]) return std::stoull(*rows[0][0]);
  const std::uint64_t next = PeekNumber(name);  // refuses a missing counter
  throw StoreError(StoreError::Kind::Refused, "the serial number " + std::to_string(next) +
                                                  " of counter '" + name + "' does not fit");
}

void BoardStore::Insert(const std::string& travellingRecord) {
  Ready();
  db_.Exec(kInsert, {travellingRecord});
}

void BoardStore::Export(const std::optional<std::string>& since,
                        const std::optional<std::uint64_t>& serial,
                        const std::function<void(const std::string&)>& line) {
  Ready();
  std::optional<std::string> number;
  if (serial) number = std::to_string(*serial);
  std::vector<Row> rows;
  try {
    rows = db_.Exec(kExport, {since, number});
  } catch (const StoreError& e) {
    // A time the server cannot read (22007, 22008: datetime format, field).
    if (db_.sqlState().rfind("22", 0) != 0) throw;
    const std::string why = e.what();
    throw StoreError(StoreError::Kind::Refused, "--since: " + why.substr(why.find(": ") + 2) +
                                                    " (a time such as 2026-03-01 or '2026-03-01 14:00+01')");
  }
  for (const Row& row : rows) {
    std::string out = "{";
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
      if (i > 0) out += ',';
      out += JsonString(kFields[i].name) + ":";
      const auto& value = row[i];
      out += !value ? "null" : kFields[i].text ? JsonString(*value) : *value;
    }
    // Fields a newer record brought, after the known ones.
    if (const auto& extra = row[std::size(kFields)]) {
      const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(*extra)).object();
      for (auto it = object.begin(); it != object.end(); ++it) {
        QJsonObject one;
        one.insert(it.key(), it.value());
        const QByteArray text = QJsonDocument(one).toJson(QJsonDocument::Compact);
        out += "," + text.mid(1, text.size() - 2).toStdString();
      }
    }
    line(out + "}");
  }
}

}  // namespace varnel::store
