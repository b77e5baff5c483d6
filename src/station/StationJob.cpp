// The station file: the [Station] section and its keys.
#include "station/StationJob.h"

#include <charconv>

#include "project/IniFile.h"
#include "store/Connection.h"

namespace varnel::station {
namespace {

constexpr char kSection[] = "Station";

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ",") + item;
  return text;
}

std::vector<std::string> Split(std::string_view text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view item = TrimBlanks(text.substr(start, comma - start));
    if (!item.empty()) items.emplace_back(item);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return items;
}

bool ToInt(std::string_view text, int& value) {
  text = TrimBlanks(text);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// A hexadecimal address as the command line takes it: 7FF0, 0x7FF0, 7FF0h.
bool IsHexAddress(std::string text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.erase(0, 2);
  } else if (!text.empty() && (text.back() == 'h' || text.back() == 'H')) {
    text.pop_back();
  }
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return !text.empty() && error == std::errc() && end == text.data() + text.size() && value <= 0xFFFF;
}

}  // namespace

std::string WithoutPassword(const std::string& conninfo) {
  if (!store::HoldsPassword(conninfo)) return conninfo;
  return store::ShownConninfo(conninfo).value_or(std::string());
}

JobRead ReadJob(const std::string& path) {
  JobRead read;
  const IniText text = IniFile(path).Read();
  if (text.outcome == ReadOutcome::Missing) {
    read.error = "there is no station file " + path;
    return read;
  }
  if (text.outcome != ReadOutcome::Read) {
    read.error = "cannot read the station file " + path + ": " + text.error;
    return read;
  }
  const IniDocument& doc = text.document;
  if (!doc.HasSection(kSection)) {
    read.error = path + " is no station file: it has no [Station] section";
    return read;
  }
  const auto value = [&](const char* key) { return doc.Value(kSection, key).value_or(""); };
  StationJob& job = read.job;
  job.file = value("File");
  job.ports = Split(value("Ports"));
  job.resetSequence = value("ResetSequence");
  job.serialAddress = value("SerialAddress");
  job.serialFile = value("SerialFile");
  job.log = value("Log");
  job.database = WithoutPassword(std::string(TrimBlanks(value("Database"))));
  job.serialCounter = std::string(TrimBlanks(value("SerialCounter")));
  if (const std::string f = value("SerialFormat"); !f.empty()) job.serialFormat = f;
  if (const auto v = doc.Value(kSection, "Verify")) job.verify = TrimBlanks(*v) != "0";
  // A number that does not read keeps its default; the job's check names
  // what is wrong with the rest.
  if (const auto b = doc.Value(kSection, "Baud"); b && !ToInt(*b, job.baud)) {
    read.error = path + ": Baud=" + *b + " is no line rate";
    return read;
  }
  if (const auto l = doc.Value(kSection, "SerialLength"); l && !TrimBlanks(*l).empty() &&
                                                          !ToInt(*l, job.serialLength)) {
    read.error = path + ": SerialLength=" + *l + " is no count of bytes";
    return read;
  }
  read.ok = true;
  return read;
}

bool WriteJob(const std::string& path, const StationJob& job, std::string* error) {
  IniFile file(path);
  const IniText text = file.Read();
  if (text.outcome == ReadOutcome::Failed) {
    // Never replace a file whose content could not be read: it would be lost.
    if (error) *error = "cannot read " + path + " to update it: " + text.error;
    return false;
  }
  IniDocument doc = text.document;
  doc.SetValue(kSection, "File", job.file);
  doc.SetValue(kSection, "Ports", Joined(job.ports));
  doc.SetValue(kSection, "Baud", std::to_string(job.baud));
  doc.SetValue(kSection, "ResetSequence", job.resetSequence);
  doc.SetValue(kSection, "Verify", job.verify ? "1" : "0");
  doc.SetValue(kSection, "SerialAddress", job.serialAddress);
  doc.SetValue(kSection, "SerialLength", std::to_string(job.serialLength));
  doc.SetValue(kSection, "SerialFormat", job.serialFormat);
  doc.SetValue(kSection, "SerialFile", job.serialFile);
  doc.SetValue(kSection, "Log", job.log);
  doc.SetValue(kSection, "Database", WithoutPassword(job.database));
  doc.SetValue(kSection, "SerialCounter", job.serialCounter);
  return file.Store(doc, error);
}

std::string JobProblem(const StationJob& job) {
  if (job.file.empty()) return "choose the firmware file";
  if (job.ports.empty()) return "choose at least one port";
  for (const std::string& port : job.ports) {
    if (port.find(',') != std::string::npos) return "a port name holds a comma: " + port;
  }
  if (!job.database.empty() && !store::ShownConninfo(job.database)) {
    return "the database's connection string cannot be read: key=value settings, or a URI "
           "postgresql://USER@HOST/DATABASE";
  }
  if (job.serialAddress.empty()) return {};
  if (!IsHexAddress(job.serialAddress)) {
    return "the serial number's address " + job.serialAddress + " is no hexadecimal address (0000-FFFF)";
  }
  const bool ascii = job.serialFormat == "ascii";
  if (job.serialFormat != "le" && job.serialFormat != "be" && !ascii) {
    return "the serial number's format is le, be or ascii, not " + job.serialFormat;
  }
  const int most = ascii ? 20 : 8;
  if (job.serialLength < 1 || job.serialLength > most) {
    return "the serial number takes 1 to " + std::to_string(most) + " bytes in the format " +
           job.serialFormat;
  }
  // The numbers come from one place: the database's counter or the file.
  if (!job.database.empty() && !job.serialFile.empty()) {
    return "the serial numbers come from the database or from a counter file, not both: clear the counter file";
  }
  if (job.serialFile.empty() && job.database.empty()) {
    return "choose the counter file that holds the next serial number (or a database)";
  }
  return {};
}

}  // namespace varnel::station
