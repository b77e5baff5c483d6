#include "project/IniFile.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include "FileFaults.h"
#include "project/IniDocument.h"
#include "project/PropertyValues.h"
#include "support/RecordingUi.h"

namespace varnel {
namespace {

using testing::AsUnprivileged;
using testing::FileSizeLimit;
using testing::ReadAll;
using testing::TestFolder;
using testing::WriteAll;

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
  WriteAll(path, ReadAll(path) + "Baud=2400\n");
  EXPECT_EQ(ini.ReadString("Properties", "baud", ""), "2400");
  const IniWriteResult result = ini.WriteString("Properties", "Port", "COM5");
  ASSERT_TRUE(result.ok);
  EXPECT_TRUE(result.sectionExisted);
  EXPECT_EQ(ReadAll(path), "[Properties]\nPort=COM5\nBaud=2400\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniFileTest, FailedWritesLeaveTheFileAsItWas) {
  TestFolder folder;
  const std::string before = "[Properties]\r\nPort=COM2\r\n";

  // Read-only file in a writable folder: not replaced behind its back.
  const std::string readOnly = folder.Path("ro.prj");
  WriteAll(readOnly, before);
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
  EXPECT_EQ(ReadAll(readOnly), before);

  // Writable file in a read-only folder: no temporary file can be made.
  ::mkdir(folder.Path("locked").c_str(), 0755);
  const std::string locked = folder.Path("locked/p.prj");
  WriteAll(locked, before);
  ::chmod(locked.c_str(), 0666);
  ::chmod(folder.Path("locked").c_str(), 0555);
  {
    AsUnprivileged nobody;
    EXPECT_FALSE(IniFile(locked).WriteString("Properties", "Port", "COM3").ok);
    EXPECT_FALSE(IniFile(folder.Path("locked/new.prj")).WriteString("A", "B", "C").ok);
  }
  EXPECT_EQ(ReadAll(locked), before);

  // Disk full in the middle of the write.
  const std::string full = folder.Path("full.prj");
  WriteAll(full, before);
  {
    FileSizeLimit limit(before.size() + 8);
    EXPECT_FALSE(IniFile(full).WriteString("Code&Data", "HexBin", std::string(200, 'x')).ok);
  }
  EXPECT_EQ(ReadAll(full), before);
  // No temporary file is left behind by any of them.
  EXPECT_EQ(QDir(QString::fromStdString(folder.Path())).entryList(QDir::Hidden | QDir::Files |
                                                                   QDir::NoDotAndDotDot),
            QStringList({"full.prj", "ro.prj"}));
  ::chmod(folder.Path("locked").c_str(), 0755);
}

// What Python's configparser reads from a file, as JSON {section: {key: value}}.
QJsonObject ReadWithConfigParser(const std::string& folder, const std::string& path) {
  const std::string script = folder + "/dump.py";
  WriteAll(script,
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
  testing::RecordingUi ui;
  ASSERT_TRUE(SaveProperties(store, values, SaveLayout::Properties, "1.1", ui));

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
