// The INI text and the settings store over it, with any bytes as the file:
//  - a parse keeps the text's bytes exactly;
//  - after a value is set, writing the text out and parsing it again gives
//    the same value for every key, the set key reads back as written (one
//    line, blanks trimmed) and no other key changes;
//  - the store, writing through the file on disk, reads back what it wrote
//    in each value form and leaves the other keys as they were.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "Require.h"
#include "core/FileBytes.h"
#include "core/SettingsKeys.h"
#include "link/HexText.h"
#include "project/IniDocument.h"
#include "project/SettingsStore.h"

namespace varnel::fuzz {
namespace {

std::string g_storePath;

using Values = std::map<std::string, std::optional<std::string>>;

std::string Name(const KeyEntry& entry) { return std::string(entry.section) + "/" + entry.key; }

Values TableValues(const IniDocument& doc) {
  Values values;
  for (const KeyEntry& entry : kKeyTable) values[Name(entry)] = doc.Value(entry.section, entry.key);
  return values;
}

// What a value reads back as once written: one line, blanks trimmed.
std::string Stored(std::string_view value) {
  std::string line(TrimBlanks(value));
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return std::string(TrimBlanks(line));
}

void RequireOthersKept(const Values& before, const Values& after, const KeyEntry& written,
                       const std::string& where) {
  for (const KeyEntry& entry : kKeyTable) {
    if (EqualsNoCase(entry.key, written.key) && EqualsNoCase(entry.section, written.section)) {
      continue;
    }
    Require(before.at(Name(entry)) == after.at(Name(entry)),
            where + ": writing " + Name(written) + " changed " + Name(entry));
  }
}

void Document(FuzzedDataProvider& in, const std::string& text) {
  IniDocument doc = IniDocument::Parse(text);
  Require(doc.Bytes() == text, "a parse keeps the bytes");
  const int edits = in.ConsumeIntegralInRange(0, 4);
  for (int n = 0; n < edits; ++n) {
    const KeyEntry& entry = kKeyTable[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeyTable) - 1)];
    const std::string value = in.ConsumeRandomLengthString(48);
    const Values before = TableValues(doc);
    doc.SetValue(entry.section, entry.key, value);
    const IniDocument again = IniDocument::Parse(doc.Bytes());
    Require(again.Bytes() == doc.Bytes(), "a written text parses to itself");
    const Values written = TableValues(doc);
    const Values reread = TableValues(again);
    Require(written == reread, "parse -> write -> parse gives the same values");
    Require(reread.at(Name(entry)) == Stored(value), Name(entry) + " reads back as written");
    RequireOthersKept(before, reread, entry, "document");
    doc = again;
  }
}

void Store(FuzzedDataProvider& in, const std::string& text) {
  std::string error;
  Require(ReplaceFileAtomically(g_storePath, text, &error), "store file written: " + error);
  SettingsStore store(SettingsStore::Backend::ProjectFile, g_storePath);
  const int writes = in.ConsumeIntegralInRange(0, 3);
  for (int n = 0; n < writes; ++n) {
    const KeyEntry& entry = kKeyTable[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeyTable) - 1)];
    const Values before = TableValues(store.File().Load());
    std::string message;
    const std::uint32_t number = in.ConsumeIntegral<std::uint32_t>();
    switch (entry.form) {
      case ValueForm::Boolean: {
        const bool on = number & 1;
        Require(store.WriteBool(entry.section, entry.key, on, &message), message);
        Require(store.ReadBool(entry) == on, Name(entry) + " reads back as written");
        break;
      }
      case ValueForm::Register: {
        const auto value = static_cast<std::uint8_t>(number);
        Require(store.WriteText(entry.section, entry.key, RegisterText(value), &message), message);
        Require(store.ReadRegister(entry) == value, Name(entry) + " reads back as written");
        break;
      }
      case ValueForm::Address: {
        const std::int32_t value = static_cast<std::int32_t>(number & 0xFFFF);
        Require(store.WriteText(entry.section, entry.key, HD16Prev(value), &message), message);
        Require(store.ReadAddress(entry) == value, Name(entry) + " reads back as written");
        break;
      }
      case ValueForm::Text: {
        const std::string value = in.ConsumeRandomLengthString(32);
        Require(store.WriteText(entry.section, entry.key, value, &message), message);
        Require(store.ReadText(entry) == Stored(value), Name(entry) + " reads back as written");
        break;
      }
    }
    RequireOthersKept(before, TableValues(store.File().Load()), entry, "store");
  }
}

}  // namespace
}  // namespace varnel::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string folder = (std::filesystem::temp_directory_path() / "varnel-fuzz-ini-XXXXXX").string();
  if (!::mkdtemp(folder.data())) std::abort();
  static std::string made = folder;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(made, ignored);
  });
  varnel::fuzz::g_storePath = folder + "/project.prj";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string text = in.ConsumeRandomLengthString(4096);
  varnel::fuzz::Document(in, text);
  varnel::fuzz::Store(in, text);
  return 0;
}
