#include "project/IniFile.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include "support/FileFaults.h"
#include "core/FileBytes.h"
#include "project/IniDocument.h"
#include "project/PropertyValues.h"
#include "support/RecordingUi.h"

namespace varnel {
namespace {

using testing::AsUnprivileged;
using testing::FileSizeLimit;
using testing::ReadFile;
using testing::TestFolder;
using testing::WriteFile;

// A project file as another machine's editor may leave it.
const std::string kForeign =
    "\xEF\xBB\xBF; Varnel project\r\n"
    "\r\n"
    "[ properties ]\r\n"
    "  port = COM2 \r\n"
    "BAUD=19200\r\n"
    "; keep me\r\n"
    "\r\n"
    "[Unknown]\r\n"
    "foo = bar\r\n"
    "[code&data]\r\n"
    "Default=0\r\n"
    "CodeMax\t=\t1FFF";

TEST(IniDocumentTest, ReadsForeignLayoutRegardlessOfCaseBlanksAndLineEnds) {
  const IniDocument doc = IniDocument::Parse(kForeign);
  EXPECT_EQ(doc.Value("Properties", "Port"), "COM2");
  EXPECT_EQ(doc.Value("PROPERTIES", "baud"), "19200");
  EXPECT_EQ(doc.Value("Code&Data", "CodeMax"), "1FFF");
  EXPECT_EQ(doc.Value("Unknown", "Foo"), "bar");
  EXPECT_EQ(doc.Value("Properties", "; keep me"), std::nullopt);
  EXPECT_EQ(doc.Value("Properties", "Version"), std::nullopt);
  EXPECT_EQ(doc.Value("MSC1210Setup", "HCR0"), std::nullopt);
  EXPECT_EQ(doc.LineEnd(), "\r\n");

  const IniDocument lf = IniDocument::Parse("[A]\nk=\nk=second\n[a]\nj=1\n");
  EXPECT_EQ(lf.Value("a", "K"), "");  // present but empty, and the first one wins
  EXPECT_EQ(lf.Value("a", "j"), std::nullopt);  // a repeated section is not searched
  EXPECT_EQ(lf.LineEnd(), "\n");
}

TEST(IniDocumentTest, WriteChangesOnlyItsOwnLineAndKeepsEverythingElseByteForByte) {
  IniDocument doc = IniDocument::Parse(kForeign);
  doc.SetValue("PROPERTIES", "Port", "COM3");
  std::string expected = kForeign;
  expected.replace(expected.find("  port = COM2 "), 14, "  port = COM3");
  EXPECT_EQ(doc.Bytes(), expected);

  // A new key goes after the section's last entry, before the comment that
  // leads into the next section, with the file's own line end.
  doc.SetValue("Properties", "Version", "");
  expected.insert(expected.find("; keep me"), "Version=\r\n");
  EXPECT_EQ(doc.Bytes(), expected);

  // The last line had no line end: it gets one before the key that follows.
  doc.SetValue("Code&Data", "Lst", "a.lst");
  expected += "\r\nLst=a.lst\r\n";
  EXPECT_EQ(doc.Bytes(), expected);

  doc.SetValue("MSC1210Setup", "HCR0", "7Fh");
  expected += "\r\n[MSC1210Setup]\r\nHCR0=7Fh\r\n";
  EXPECT_EQ(doc.Bytes(), expected);
  EXPECT_EQ(IniDocument::Parse(doc.Bytes()).Value("msc1210setup", "hcr0"), "7Fh");
}

TEST(IniDocumentTest, ValueIsOneLineAndEmptyTextStartsWithoutBom) {
  IniDocument doc = IniDocument::Parse("");
  doc.SetValue("Code&Data", "HexBin", "a\r\nb\nc");
  doc.SetValue("Code&Data", "Lst", "  x.lst  ");
  EXPECT_EQ(doc.Bytes(), "[Code&Data]\nHexBin=a  b c\nLst=x.lst\n");
}

TEST(IniFileTest, ReadsAndWritesThroughToDiskKeepingPermissions) {
  TestFolder folder;
  const std::string path = folder.Path("demo.prj");
  IniFile ini(path);
  EXPECT_EQ(ini.ReadString("Properties", "Port", "COM1"), "COM1");  // missing file
  ASSERT_TRUE(ini.WriteString("Properties", "Port", "COM4").ok);
  ::chmod(path.c_str(), 0640);

  // Another writer between two calls is seen at once: nothing is cached.
  WriteFile(path, ReadFile(path) + "Baud=2400\n");
  EXPECT_EQ(ini.ReadString("Properties", "baud", ""), "2400");
  const IniWriteResult result = ini.WriteString("Properties", "Port", "COM5");
  ASSERT_TRUE(result.ok);
  EXPECT_TRUE(result.sectionExisted);
  EXPECT_EQ(ReadFile(path), "[Properties]\nPort=COM5\nBaud=2400\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniFileTest, FailedWritesLeaveTheFileAsItWas) {
  TestFolder folder;
  const std::string before = "[Properties]\r\nPort=COM2\r\n";

  // Read-only file in a writable folder: not replaced behind its back.
  const std::string readOnly = folder.Path("ro.prj");
  WriteFile(readOnly, before);
  ::chmod(folder.Path().c_str(), 0777);
  ::chmod(readOnly.c_str(), 0444);
  {
    AsUnprivileged nobody;
    IniFile ini(readOnly);
    const IniWriteResult result = ini.WriteString("Properties", "Port", "COM3");
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.sectionExisted);
    EXPECT_FALSE(ini.WriteString("Other", "Key", "x").sectionExisted);
  }
  EXPECT_EQ(ReadFile(readOnly), before);

  // Writable file in a read-only folder: no temporary file can be made.
  ::mkdir(folder.Path("locked").c_str(), 0755);
  const std::string locked = folder.Path("locked/p.prj");
  WriteFile(locked, before);
  ::chmod(locked.c_str(), 0666);
  ::chmod(folder.Path("locked").c_str(), 0555);
  {
    AsUnprivileged nobody;
    EXPECT_FALSE(IniFile(locked).WriteString("Properties", "Port", "COM3").ok);
    EXPECT_FALSE(IniFile(folder.Path("locked/new.prj")).WriteString("A", "B", "C").ok);
  }
  EXPECT_EQ(ReadFile(locked), before);

  // Disk full in the middle of the write.
  const std::string full = folder.Path("full.prj");
  WriteFile(full, before);
  {
    FileSizeLimit limit(before.size() + 8);
    EXPECT_FALSE(IniFile(full).WriteString("Code&Data", "HexBin", std::string(200, 'x')).ok);
  }
  EXPECT_EQ(ReadFile(full), before);
  // No temporary file is left behind by any of them.
  EXPECT_EQ(QDir(QString::fromStdString(folder.Path())).entryList(QDir::Hidden | QDir::Files |
                                                                   QDir::NoDotAndDotDot),
            QStringList({"full.prj", "ro.prj"}));
  ::chmod(folder.Path("locked").c_str(), 0755);
}

TEST(IniFileTest, AStoreReadsItsFileOnceAndWritesThroughAtOnce) {
  TestFolder folder;
  const std::string path = folder.Path("demo.prj");
  WriteFile(path, "[Properties]\nPort=COM2\n");
  SettingsStore store(SettingsStore::Backend::ProjectFile, path);
  EXPECT_EQ(store.ReadText("Properties", "Port", "?"), "COM2");

  // Another writer during the operation: the open store keeps the text it
  // read, the next store sees the change.
  WriteFile(path, "[Properties]\nPort=COM3\nBaud=2400\n");
  EXPECT_EQ(store.ReadText("Properties", "Port", "?"), "COM2");
  EXPECT_EQ(store.ReadText("Properties", "Baud", "9600"), "9600");
  SettingsStore next(SettingsStore::Backend::ProjectFile, path);
  EXPECT_EQ(next.ReadText("Properties", "Baud", "9600"), "2400");

  // Each write is on disk at once, and the store reads its own writes.
  std::string message;
  ASSERT_TRUE(next.WriteText("Code&Data", "HexBin", "a.hex", &message));
  EXPECT_EQ(ReadFile(path), "[Properties]\nPort=COM3\nBaud=2400\n\n[Code&Data]\nHexBin=a.hex\n");
  ASSERT_TRUE(next.WriteBool("Code&Data", "Default", false, &message));
  EXPECT_EQ(IniFile(path).ReadString("Code&Data", "Default", "?"), "0");
  EXPECT_FALSE(next.ReadBool("Code&Data", "Default", true));
  EXPECT_EQ(next.ReadText("Code&Data", "HexBin", ""), "a.hex");

  // A write that fails leaves the file as it was, and the store reads the
  // file again rather than believing its own change.
  const std::string before = ReadFile(path);
  {
    FileSizeLimit full(8);
    EXPECT_FALSE(next.WriteText("Code&Data", "Lst", "b.lst", &message));
  }
  EXPECT_EQ(message, "Unable to write to " + path);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(next.ReadText("Code&Data", "Lst", "none"), "none");
  // A store first opened on a missing file creates it with its first write.
  SettingsStore fresh(SettingsStore::Backend::UserStore, folder.Path("new.ini"));
  EXPECT_EQ(fresh.ReadText("Properties", "Port", "None"), "None");
  ASSERT_TRUE(fresh.WriteText("Properties", "Port", "COM1", &message));
  EXPECT_EQ(ReadFile(folder.Path("new.ini")), "[Properties]\nPort=COM1\n");
}

TEST(IniFileTest, SettingsFilesUpToTheLimitReadAndLargerOnesAreLeftAlone) {
  TestFolder folder;
  const std::string keys = "[Properties]\nPort=COM2\n";
  // Notes, then a comment line that makes up the size exactly, the key last.
  const auto padded = [&](std::size_t size) {
    std::string text = "[Notes]\n";
    while (text.size() + 8 + keys.size() < size) text += "; note\n";
    text += std::string(size - text.size() - keys.size() - 1, ';') + "\n";
    return text + keys;
  };
  const std::string atLimit = padded(kMaxSettingsFileSize);
  ASSERT_EQ(atLimit.size(), kMaxSettingsFileSize);
  const std::string path = folder.Path("full.prj");
  WriteFile(path, atLimit);
  EXPECT_EQ(IniFile(path).ReadString("Properties", "Port", "?"), "COM2");
  EXPECT_EQ(SettingsStore(SettingsStore::Backend::ProjectFile, path)
                .ReadText("Properties", "Port", "?"),
            "COM2");

  // A write that would take the file past the limit is refused: written,
  // the file would read as unreadable and lose every setting.
  std::string message;
  SettingsStore store(SettingsStore::Backend::ProjectFile, path);
  EXPECT_FALSE(store.WriteText("Properties", "Baud", "2400", &message));
  EXPECT_EQ(message, "Unable to write to " + path);
  EXPECT_EQ(ReadFile(path), atLimit);
  EXPECT_FALSE(IniFile(path).WriteString("Properties", "Baud", "2400").ok);
  EXPECT_EQ(ReadFile(path), atLimit);

  // One byte more is no settings file: it reads as the defaults and no
  // write replaces it.
  const std::string over = padded(kMaxSettingsFileSize + 1);
  WriteFile(path, over);
  EXPECT_EQ(IniFile(path).ReadString("Properties", "Port", "?"), "?");
  SettingsStore large(SettingsStore::Backend::UserStore, path);
  EXPECT_EQ(large.ReadText("Properties", "Port", "None"), "None");
  EXPECT_FALSE(large.WriteText("Properties", "Port", "COM1", &message));
  EXPECT_EQ(message, "Failed to create key Properties");
  const IniWriteResult result = IniFile(path).WriteString("Properties", "Port", "COM1");
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("Too large"), std::string::npos) << result.error;
  EXPECT_EQ(ReadFile(path), over);
}

// What Python's configparser reads from a file, as JSON {section: {key: value}}.
QJsonObject ReadWithConfigParser(const std::string& folder, const std::string& path) {
  const std::string script = folder + "/dump.py";
  WriteFile(script,
           "import configparser, json, sys\n"
           "p = configparser.RawConfigParser(strict=True)\n"
           "p.optionxform = str\n"
           "with open(sys.argv[1], encoding='utf-8') as f:\n"
           "    p.read_file(f)\n"
           "print(json.dumps({s: dict(p[s]) for s in p.sections()}))\n");
  const std::string command = "python3 '" + script + "' '" + path + "'";
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
  }
  return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
}

TEST(IniFileTest, ProjectFileWeWriteReadsTheSameInPythonsConfigParser) {
  if (std::system("python3 -c 'import configparser' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "python3 is not available";
  }
  TestFolder folder;
  const std::string path = folder.Path("demo.prj");
  PropertyValues values;
  values.Port = "/dev/ttyUSB0";
  values.HexBin = "/home/ann/fw 100% #2; \xC3\xBC" "ber=neu.hex";
  values.Lst = "";
  values.HCR0 = "a5h";
  values.Default = false;
  SettingsStore store(SettingsStore::Backend::ProjectFile, path);
  ASSERT_TRUE(SaveProperties(store, values, SaveLayout::Properties, "1.1").Done());

  const QJsonObject python = ReadWithConfigParser(folder.Path(), path);
  ASSERT_EQ(python.keys(), QStringList({"Code&Data", "MSC1210Setup", "Properties"}));
  int keys = 0;
  for (const QString& sectionName : python.keys()) {
    const QJsonObject entries = python[sectionName].toObject();
    for (const QString& key : entries.keys()) {
      ++keys;
      EXPECT_EQ(entries[key].toString().toStdString(),
                store.ReadText(sectionName.toStdString(), key.toStdString(), "<missing>"))
          << key.toStdString();
    }
  }
  EXPECT_EQ(keys, 29);
  EXPECT_EQ(python["Code&Data"].toObject()["HexBin"].toString().toStdString(), values.HexBin);
}

}  // namespace
}  // namespace varnel
