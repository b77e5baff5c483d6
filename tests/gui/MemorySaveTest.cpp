// Saving a memory view from its context menu and its system menu: the
// Intel HEX text against objcopy's for the same bytes at the memory's
// target addresses, the binary against the image, and a save that fails.
#include <QAction>
#include <QMdiArea>
#include <QMenu>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "support/GuiApp.h"
#include "memory/MemoryViews.h"
#include "support/Files.h"
#include "support/RecordingUi.h"
#include "support/ScriptedPort.h"

namespace varnel {
namespace {

using testing::ReadFile;
using testing::ObjcopyIntelHex;
using testing::ToolFolder;
using testing::WriteFile;

QAction* Named(QMenu* menu, const char* name) {
  for (QAction* a : menu->actions()) {
    if (a->objectName() == QLatin1String(name)) return a;
  }
  return nullptr;
}

class MemorySaveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::GuiApp(); }
  void SetUp() override {
    ASSERT_TRUE(folder.Valid());
    area.resize(800, 600);
    area.show();
    session.AttachUi(&ui);
    session.AttachPort(&port);
    session.WorkDir = folder.Path();
    // Every memory at the range its view shows by default.
    auto& ps = session.ProjectSettings;
    ps.CodeMax = 0, ps.SFRMax = 0xFF, ps.ExtMax = 0x3FF, ps.IRAMMax = 0xFF;
    // A different pattern in each image, so a mix-up shows.
    int salt = 1;
    for (MemoryKind kind : kinds) {
      MemoryImage& image = session.Images.Of(kind);
      for (std::size_t i = 0; i < image.Size(); ++i) {
        const auto value = static_cast<std::uint8_t>((i * 7 + salt * 31) ^ (i >> 8));
        image.Write(static_cast<std::int64_t>(i), value);
      }
      ++salt;
    }
    ui.chooseSaveFile = [this](FileChoice choice, const std::string& start) {
      choices.push_back(choice);
      starts.push_back(start);
      return answer;
    };
  }

  // What objcopy writes for these bytes loaded at base.
  std::string Objcopy(const std::vector<std::uint8_t>& bytes, std::uint32_t base) {
    WriteFile(folder.Path("in.bin"), std::string(bytes.begin(), bytes.end()));
    int rc = -1;
    std::string hex = ObjcopyIntelHex(folder.Path("in.bin"), folder.Path("objcopy.hex"), base, &rc);
    EXPECT_EQ(rc, 0) << "objcopy of binutils is needed for this test";
    return hex;
  }

  const MemoryKind kinds[5] = {MemoryKind::Code, MemoryKind::ExtRAM, MemoryKind::IRAM,
                               MemoryKind::SFR, MemoryKind::Cfg};
  ToolFolder folder;
  Session session;
  testing::RecordingUi ui;
  testing::ScriptedPort port;
  QMdiArea area;
  MemoryViews views{session, &area};
  std::string answer;
  std::vector<FileChoice> choices;
  std::vector<std::string> starts;
};

TEST_F(MemorySaveTest, EveryMemorySavesAsObjcopysIntelHexAndAsItsImage) {
  const std::pair<MemoryKind, std::uint32_t> expected[] = {
      {MemoryKind::Code, 0x0000}, {MemoryKind::ExtRAM, 0x0000}, {MemoryKind::IRAM, 0x00},
      {MemoryKind::SFR, 0x00},    {MemoryKind::Cfg, 0x8000}};
  for (auto [kind, base] : expected) {
    SCOPED_TRACE(InfoOf(kind).caption);
    TF_ListMem* view = views.Open(kind);
    const auto& cells = session.Images.Of(kind).Cells();
    const std::vector<std::uint8_t> range(cells.begin(), cells.begin() + view->LastAddress() + 1);
    ASSERT_EQ(range.size(), kind == MemoryKind::ExtRAM ? 0x400u : cells.size());

    // From the context menu, which keeps the text control's own entries.
    std::unique_ptr<QMenu> menu(view->CreateContextMenu());
    QAction* hex = Named(menu.get(), "SaveHex1");
    QAction* bin = Named(menu.get(), "SaveBin1");
    ASSERT_TRUE(hex && bin);
    EXPECT_EQ(hex->text(), "Save as Intel HEX...");
    EXPECT_EQ(bin->text(), "Save as binary...");
    EXPECT_GT(menu->actions().size(), 3);  // copy and select all are still there

    answer = folder.Path("saved.hex");
    hex->trigger();
    EXPECT_EQ(ReadFile(answer), Objcopy(range, base));
    EXPECT_EQ(choices.back(), FileChoice::SaveIntelHex);
    EXPECT_EQ(starts.back(), folder.Path(std::string(InfoOf(kind).shortName) + ".hex"));

    // From the system menu: the same entries.
    answer = folder.Path("saved.bin");
    QAction* systemBin = Named(view->systemMenu(), "SaveBin1");
    ASSERT_EQ(systemBin, bin);
    ASSERT_TRUE(Named(view->systemMenu(), "SaveHex1"));
    systemBin->trigger();
    EXPECT_EQ(ReadFile(answer), std::string(range.begin(), range.end()));
    EXPECT_EQ(choices.back(), FileChoice::SaveBinary);
  }
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(MemorySaveTest, TheSavedRangeIsTheViewsAndTheFileIsReplacedWhole) {
  session.ProjectSettings.CodeMax = 0x1234;
  TF_ListMem* view = views.Open(MemoryKind::Code);
  answer = folder.Path("code.bin");
  WriteFile(answer, std::string(40000, 'x'));  // a longer old file leaves nothing behind
  view->SaveBinAction()->trigger();
  const std::string bin = ReadFile(answer);
  ASSERT_EQ(bin.size(), 0x1235u);
  EXPECT_EQ(static_cast<std::uint8_t>(bin[0x1234]), session.Images.CodeImage.Read(0x1234));
  // The temporary file is gone: the folder holds what was asked for only.
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"code.bin"});

  // Cancelled: nothing written, nothing said.
  answer.clear();
  view->SaveHexAction()->trigger();
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"code.bin"});
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(MemorySaveTest, AFailedSaveShowsWhyAndLosesNothing) {
  TF_ListMem* view = views.Open(MemoryKind::Cfg);
  // A folder where the file should go: refused, the folder untouched.
  std::filesystem::create_directory(folder.Path("taken.hex"));
  WriteFile(folder.Path("taken.hex/inside"), "keep");
  answer = folder.Path("taken.hex");
  view->SaveHexAction()->trigger();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, MessageKind::Error);
  EXPECT_EQ(ui.boxes[0].text, "PS1 config not saved. Not a regular file: " + answer);
  EXPECT_EQ(ReadFile(folder.Path("taken.hex/inside")), "keep");

  // A folder that is not there.
  answer = folder.Path("gone/cfg.bin");
  view->SaveBinAction()->trigger();
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].text.rfind("PS1 config not saved. Cannot write " + answer, 0), 0u)
      << ui.boxes[1].text;
  EXPECT_FALSE(std::filesystem::exists(folder.Path("gone")));
}

}  // namespace
}  // namespace varnel
