#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <gtest/gtest.h>

#include "app/TF_Main.h"
#include "memory/ListMem.h"
#include "support/GuiApp.h"
#include "support/AnsweringPrompts.h"

namespace varnel {
namespace {

// Each window gets a per-user store of its own, so no test sees another's.
struct Store {
  QTemporaryDir dir;
  std::string Path() const { return dir.filePath("Varnel/Varnel.ini").toStdString(); }
};

QStringList MenuTexts(QMenu* menu) {
  QStringList texts;
  for (QAction* a : menu->actions()) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
  return texts;
}

QMenu* TopMenu(TF_Main& main, const QString& title) {
  for (QAction* a : main.menuBar()->actions()) {
    if (a->text() == title) return a->menu();
  }
  return nullptr;
}

TEST(MainWindow, MenusCarryTheirTextsShortcutsAndInitialStates) {
  testing::GuiApp();
  Store store;
  TF_Main main(nullptr, store.Path());
  EXPECT_EQ(main.windowTitle(), "Varnel");
  EXPECT_EQ(main.size(), QSize(696, 480));
  QStringList titles;
  for (QAction* a : main.menuBar()->actions()) titles << a->text();
  EXPECT_EQ(titles, QStringList({"&File", "&Target", "&View", "&Window", "Help"}));

  EXPECT_EQ(MenuTexts(TopMenu(main, "&File")),
            QStringList({"&New", "&Open", "&Close", "&Save", "Save &As...", "-", "E&xit"}));
  EXPECT_EQ(MenuTexts(TopMenu(main, "&Target")),
            QStringList({"&Connect", "&Program", "-", "&Upload", "Upload CO&DE",
                         "Upload &Ext. RAM", "Upload IRAM", "Upload &SFR", "Upload &PS1 cfg", "-",
                         "Con&figure"}));
  EXPECT_EQ(MenuTexts(TopMenu(main, "&View")),
            QStringList({"&CODE", "&Ext.RAM", "&IRAM", "&SFR", "&PS1 cfg", "-", "&Terminal",
                         "Serial &trace"}));
  EXPECT_EQ(MenuTexts(TopMenu(main, "&Window")).first(), "Cascade");
  EXPECT_EQ(MenuTexts(TopMenu(main, "Help")),
            QStringList({"&Help contents", "-", "&About Varnel"}));

  EXPECT_EQ(main.Action("New1")->shortcut(), QKeySequence("Ctrl+N"));
  EXPECT_EQ(main.Action("Open1")->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(main.Action("Save1")->shortcut(), QKeySequence("Ctrl+S"));
  EXPECT_FALSE(main.Action("Close1")->isEnabled());
  EXPECT_FALSE(main.Action("Save1")->isEnabled());
  EXPECT_FALSE(main.Action("SaveAs1")->isEnabled());
  // The menu's Program stays enabled while its button is not.
  EXPECT_TRUE(main.Action("Program1")->isEnabled());
  EXPECT_FALSE(main.Action("SpeedProg")->isEnabled());
}

TEST(MainWindow, ToolbarsHoldTheirButtonsHintsAndEnableRules) {
  testing::GuiApp();
  Store store;
  TF_Main main(nullptr, store.Path());
  const std::pair<const char*, const char*> hints[] = {
      {"SpeedNew", "New project"},
      {"SpeedOpen", "Open file or project"},
      {"SpeedSave", "Save modified file"},
      {"SpeedConnect", "Connect to target"},
      {"SpeedProg", "Start programming target"},
      {"Speed", "Run user program or continue after break"},
      {"SpeedAll", "Upload All selected"},
      {"SpeedCode", "Upload Code memory from target"},
      {"SpeedExt", "Upload ext. memory from target"},
      {"SpeedIRAM", "Upload IRAM from target"},
      {"SpeedSFR", "Upload SFR from target"},
      {"SpeedCFG", "Upload HW configuration memory from target"},
      {"SpeedTool", "Target or project properties"}};
  for (auto [name, hint] : hints) {
    QAction* a = main.Action(name);
    ASSERT_TRUE(a) << name;
    EXPECT_EQ(a->toolTip(), hint);
    EXPECT_FALSE(a->icon().isNull()) << name;
  }
  for (const char* name : {"SpeedNew", "SpeedOpen", "SpeedConnect", "SpeedTool"}) {
    EXPECT_TRUE(main.Action(name)->isEnabled()) << name;
  }
  for (const char* name : {"SpeedSave", "Speed", "SpeedAll", "SpeedCode", "SpeedExt",
                           "SpeedIRAM", "SpeedSFR", "SpeedCFG", "SpeedProg"}) {
    EXPECT_FALSE(main.Action(name)->isEnabled()) << name;
  }
  auto* fileBar = main.findChild<QToolBar*>("ToolBar1");
  auto* targetBar = main.findChild<QToolBar*>("ToolBar2");
  auto* uploadBar = main.findChild<QToolBar*>("ToolBar3");
  ASSERT_TRUE(fileBar && targetBar && uploadBar);
  EXPECT_EQ(fileBar->windowTitle(), "File tool");
  EXPECT_EQ(targetBar->windowTitle(), "Target tool");
  EXPECT_EQ(uploadBar->windowTitle(), "Upload tool");
  EXPECT_TRUE(uploadBar->isMovable() && uploadBar->isFloatable());

  TargetUi& ui = main;
  ui.SetTargetButtonsEnabled(true);
  EXPECT_TRUE(main.Action("SpeedCode")->isEnabled());
  EXPECT_TRUE(main.Action("SpeedProg")->isEnabled());
  EXPECT_FALSE(main.Action("Speed")->isEnabled());  // never enabled
  ui.SetToolBarsEnabled(false);
  EXPECT_FALSE(targetBar->isEnabled());
  EXPECT_FALSE(uploadBar->isEnabled());
  EXPECT_TRUE(fileBar->isEnabled());  // the file bar is never disabled
  ui.SetToolBarsEnabled(true);
  EXPECT_TRUE(uploadBar->isEnabled());
}

TEST(MainWindow, NoOpCommandsDoNothingAndTheWindowMenuListsChildren) {
  testing::GuiApp();
  Store store;
  TF_Main main(nullptr, store.Path());
  main.show();
  const QString caption = main.windowTitle();
  for (const char* name : {"Terminal1", "Save1", "SaveAs1", "SpeedSave", "Speed"}) {
    main.Action(name)->trigger();
  }
  EXPECT_EQ(main.windowTitle(), caption);
  EXPECT_TRUE(main.MdiArea()->subWindowList().isEmpty());

  auto* first = main.MdiArea()->addSubWindow(new QLabel("one"));
  first->setWindowTitle("First child");
  first->show();
  auto* second = main.MdiArea()->addSubWindow(new QLabel("two"));
  second->setWindowTitle("Second child");
  second->show();
  first->move(0, 0);
  second->move(0, 0);
  main.Action("Cascade1")->trigger();
  EXPECT_NE(first->pos(), second->pos());

  QMenu* window = TopMenu(main, "&Window");
  emit window->aboutToShow();
  const QStringList texts = MenuTexts(window);
  ASSERT_EQ(texts.size(), 4);
  EXPECT_EQ(texts[0], "Cascade");
  EXPECT_EQ(texts[1], "-");
  EXPECT_TRUE(texts[2].endsWith("First child"));
  EXPECT_TRUE(texts[3].endsWith("Second child"));
  window->actions()[2]->trigger();
  EXPECT_EQ(main.MdiArea()->activeSubWindow(), first);
}

TEST(MainWindow, StatusBarHasThreePanelsAndCaptionFollowsTheTarget) {
  testing::GuiApp();
  Store store;
  TF_Main main(nullptr, store.Path());
  TargetUi& ui = main;
  ui.SetStatusPanel(0, "COM1,9600Bd,N,8,1");
  ui.SetStatusPanel(1, "Receiving ... 3 byte.");
  ui.SetStatusPanel(2, "Prog.: /tmp/fw.hex");
  EXPECT_EQ(main.StatusText(0), "COM1,9600Bd,N,8,1");
  EXPECT_EQ(main.StatusText(1), "Receiving ... 3 byte.");
  EXPECT_EQ(main.StatusText(2), "Prog.: /tmp/fw.hex");
  EXPECT_EQ(main.findChild<QLabel*>("StatusPanel1")->width(), 105);
  ui.SetMainCaption("Varnel - Target: MSC1210Y5");
  EXPECT_EQ(main.windowTitle(), "Varnel - Target: MSC1210Y5");
}

}  // namespace
}  // namespace varnel

namespace varnel {
namespace {

TEST(MainWindow, TargetMenuUploadItemsOpenViewsAndSendNothing) {
  testing::GuiApp();
  Store store;
  std::vector<QString> boxes;
  testing::AnsweringPrompts prompts(
      [&](MessageKind, const std::string& text) { boxes.push_back(QString::fromStdString(text)); });
  TF_Main main(nullptr, store.Path(), &prompts);
  main.show();
  const std::pair<const char*, const char*> items[] = {{"UploadCODE1", "CODE1"},
                                                       {"UploadExtRAM1", "ExtRAM1"},
                                                       {"UploadIRAM1", "IRAM1"},
                                                       {"UploadSFR1", "SFR1"},
                                                       {"UploadPS1cfg1", "PS1cfg1"}};
  for (auto [item, view] : items) {
    main.Action(item)->trigger();
    EXPECT_TRUE(main.Action(view)->isChecked()) << view;
  }
  EXPECT_EQ(main.MdiArea()->subWindowList().size(), 5);
  main.Action("CODE1")->trigger();  // open already: raised, still checked, no second view
  EXPECT_TRUE(main.Action("CODE1")->isChecked());
  EXPECT_EQ(main.MdiArea()->subWindowList().size(), 5);
  EXPECT_TRUE(main.Link().LastCommand.empty());

  // Not connected: the menu's Program and Upload do nothing at all.
  main.Action("Program1")->trigger();
  main.Action("Upload1")->trigger();
  EXPECT_TRUE(main.Link().LastCommand.empty());
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(main.findChild<QToolBar*>("ToolBar3")->isEnabled());

  main.Views().View(MemoryKind::SFR)->close();
  EXPECT_FALSE(main.Action("SFR1")->isChecked());
}

}  // namespace
}  // namespace varnel
