#include <QFontMetricsF>
#include <QMdiArea>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTest>
#include <gtest/gtest.h>

#include "connect/Connect.h"
#include "support/GuiApp.h"
#include "memory/CancelWatchdog.h"
#include "memory/MemoryViews.h"
#include "memory/ProgressHost.h"
#include "support/RecordingUi.h"
#include "support/ScriptedPort.h"

namespace varnel {
namespace {

using testing::RecordingUi;
using testing::ScriptedPort;

class MemoryWindowsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::GuiApp(); }
  void SetUp() override {
    area.resize(800, 600);
    area.show();
    session.AttachUi(&ui);
    session.AttachPort(&port);
    session.NotePortOpened();
  }
  QStringList Lines(MemoryKind kind) const {
    return views.View(kind)->SyntaxEdit1()->toPlainText().split(QLatin1Char('\n'));
  }

  Session session;
  RecordingUi ui;
  ScriptedPort port;
  QMdiArea area;
  MemoryViews views{session, &area};
};

TEST_F(MemoryWindowsTest, ViewsShowTheirImagesAsDumpLines) {
  views.Open(MemoryKind::Code);
  QStringList lines = Lines(MemoryKind::Code);
  ASSERT_EQ(lines.size(), 2048);
  const QString erased = "0000 - " + QString("FF ").repeated(16) + " " + QString(16, QChar(0xFF));
  EXPECT_EQ(lines[0], erased);
  EXPECT_EQ(lines[0].size(), 72);

  auto& code = session.Images.CodeImage;
  for (int i = 0; i < 16; ++i) code.Write(0x10 + i, static_cast<std::uint8_t>(0x41 + i));
  const std::uint8_t odd[] = {0x13, 0x14, 0x1F, 0x20, 0xAD};
  for (int i = 0; i < 5; ++i) code.Write(0x20 + i, odd[i]);
  views.Refresh(MemoryKind::Code);
  lines = Lines(MemoryKind::Code);
  EXPECT_EQ(lines[1], "0010 - 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50  ABCDEFGHIJKLMNOP");
  EXPECT_EQ(lines[2].mid(56, 4), QString::fromLatin1("\xFF\x14\x1F\x20", 4));
  EXPECT_EQ(lines[2][60], QChar(0x2010));  // the soft hyphen keeps its column
  EXPECT_EQ(lines[2].size(), 72);

  session.Images.CfgImage.Write(0x7E, 0x50);
  session.Images.CfgImage.Write(0x7F, 0x7F);
  views.Open(MemoryKind::Cfg);
  lines = Lines(MemoryKind::Cfg);
  ASSERT_EQ(lines.size(), 8);
  EXPECT_TRUE(lines[7].startsWith("0070 - "));
  EXPECT_EQ(lines[7].mid(49, 6), "50 7F ");
}

TEST_F(MemoryWindowsTest, RangeIsFixedAtCreationAndCutAtTheImage) {
  session.ProjectSettings.CodeMax = 0x1234;
  session.ProjectSettings.IRAMMax = 0x1FF;
  session.ProjectSettings.SFRMax = 0;
  EXPECT_EQ(views.Open(MemoryKind::Code)->LineCount(), 292);
  EXPECT_EQ(views.Open(MemoryKind::IRAM)->LineCount(), 16);
  EXPECT_EQ(views.Open(MemoryKind::SFR)->LineCount(), 1);
  session.ProjectSettings.CodeMax = 0;
  views.Refresh(MemoryKind::Code);
  EXPECT_EQ(Lines(MemoryKind::Code).size(), 292);  // an open view keeps its range
}

TEST_F(MemoryWindowsTest, OneViewPerMemoryWithCheckMarksAndCaptions) {
  QSignalSpy changes(&views, &MemoryViews::OpenChanged);
  for (int i = 0; i < 16; ++i) {
    session.Images.ExtRAMImage.Write(0x10 + i, static_cast<std::uint8_t>("IMWil.j@ ~#_|%mA"[i]));
  }
  TF_ListMem* first = views.Open(MemoryKind::ExtRAM);
  EXPECT_EQ(views.Open(MemoryKind::ExtRAM), first);
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(area.subWindowList().size(), 1);
  EXPECT_EQ(first->windowTitle(), "Ext.RAM memory");
  EXPECT_EQ(first->size(), QSize(560, 370));
  EXPECT_EQ(first->pos(), QPoint(25, 0));
  EXPECT_EQ(area.activeSubWindow(), first);

  DumpEdit* edit = first->SyntaxEdit1();
  EXPECT_TRUE(edit->isReadOnly());
  EXPECT_EQ(edit->lineWrapMode(), QPlainTextEdit::NoWrap);
  // Fixed pitch as drawn: the digits, the blank and the character shown for
  // an erased cell all advance alike, so a line of narrow and wide letters
  // ends where a line of erased cells does.
  const QChar erased = Lines(MemoryKind::ExtRAM)[0].at(56);
  EXPECT_EQ(erased, QChar(0xFF));
  const QFontMetricsF metrics(edit->font());
  const qreal width = metrics.horizontalAdvance(QLatin1Char('0'));
  EXPECT_GT(width, 0);
  EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char('F')), width);
  EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char(' ')), width);
  EXPECT_EQ(metrics.horizontalAdvance(erased), width);
  const auto lineEnd = [edit](int line) {
    QTextCursor end(edit->document()->findBlockByNumber(line));
    end.movePosition(QTextCursor::EndOfBlock);
    return edit->cursorRect(end).left();
  };
  EXPECT_EQ(lineEnd(1), lineEnd(0));
  // The margin line runs between the last hex cell and the character column.
  QTextCursor cursor(edit->document());
  cursor.setPosition(55);
  const int col56 = edit->cursorRect(cursor).left();
  cursor.setPosition(54);
  EXPECT_GT(edit->MarginX(), edit->cursorRect(cursor).left());
  EXPECT_LE(edit->MarginX(), col56);

  first->close();
  EXPECT_FALSE(views.IsOpen(MemoryKind::ExtRAM));
  ASSERT_EQ(changes.count(), 2);
  EXPECT_FALSE(changes[1][1].toBool());

  // Reopened, it shows what was uploaded meanwhile.
  session.Images.ExtRAMImage.Write(0, 0x5A);
  views.Open(MemoryKind::ExtRAM);
  EXPECT_TRUE(Lines(MemoryKind::ExtRAM)[0].startsWith("0000 - 5A FF"));
  views.DestroyAll();
  EXPECT_FALSE(views.IsOpen(MemoryKind::ExtRAM));
}

TEST_F(MemoryWindowsTest, ProgressWindowLayoutAndReferenceEmptiedOnClose) {
  QWidget owner;
  owner.resize(600, 400);
  ProgressHost host(session, &owner);
  host.ProgressCreate();
  TF_Progress* w = host.ProgressWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle(), "Uploading progress");
  EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(w->findChild<QLabel*>("Label1")->text(), "Uploading: ");
  EXPECT_TRUE(w->findChild<QLabel*>("Lbl_Name")->font().bold());
  EXPECT_EQ(w->findChild<QProgressBar*>("ProgressBar1")->geometry(), QRect(8, 40, 185, 16));
  EXPECT_EQ(w->findChild<QPushButton*>("Btn_Cancel")->text(), "&Cancel");

  host.ProgressSetBar(8, 127, 8);
  host.ProgressSetName("Int.RAM");
  host.ProgressSetPosition(24);
  EXPECT_EQ(host.ProgressPosition(), 24);
  EXPECT_EQ(w->Lbl_Name()->text(), "Int.RAM");

  w->close();  // the close box: only the window goes
  EXPECT_FALSE(host.ProgressIsOpen());
  host.ProgressSetBytes("16 bytes");  // quietly nothing
  EXPECT_FALSE(session.StopRequested);
}

TEST_F(MemoryWindowsTest, CancelRequestsTheStopAndTheWatchdogEndsASilentSequence) {
  QWidget owner;
  ProgressHost host(session, &owner);
  session.Await("CR0100");
  ui.toolBarsEnabled = false;
  host.ProgressCreate();
  QTest::mouseClick(host.ProgressWindow()->Btn_Cancel(), Qt::LeftButton);
  EXPECT_FALSE(host.ProgressIsOpen());
  EXPECT_TRUE(session.StopRequested);
  EXPECT_EQ(ui.refreshAllCount, 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return session.LastCommand.empty(); }, 3000));
  EXPECT_TRUE(ui.toolBarsEnabled);
  EXPECT_FALSE(session.StopRequested);

  // The completion notice's button only closes it.
  host.ProgressCreate();
  host.ProgressSetNoticeLook("Programming target finished successfully!", "&Ok");
  EXPECT_TRUE(host.ProgressWindow()->ProgressBar1()->isHidden());
  EXPECT_EQ(host.ProgressWindow()->Label1()->y(), 32);
  host.ProgressWindow()->Btn_Cancel()->click();
  EXPECT_FALSE(host.ProgressIsOpen());
  EXPECT_FALSE(session.StopRequested);
}

TEST_F(MemoryWindowsTest, ConnectWindowDrivesTheHandshake) {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  QWidget owner;
  auto* window = new TF_Connect(session, &owner);
  QPointer<TF_Connect> alive(window);
  EXPECT_EQ(window->windowTitle(), "Connect to target");
  for (const char* name : {"Lbl_Target", "Lbl_FW", "Lbl_SW", "Lbl_Core"}) {
    ASSERT_NE(window->findChild<QLabel*>(name), nullptr) << name;
  }
  window->show();
  EXPECT_EQ(port.Written(), "\r");
  EXPECT_TRUE(window->Timer1()->isActive());
  EXPECT_EQ(window->Timer1()->interval(), 500);

  port.Deliver(">");
  window->Timer1Timer();
  EXPECT_EQ(window->Timer1()->interval(), 100);
  for (const char* reply : {"03\r\n>", "DC\r\n>", "FF\r\n>"}) {
    port.Deliver(reply);
    window->Timer1Timer();
  }
  EXPECT_EQ(window->findChild<QLabel*>("Lbl_Target")->text(), "MSC1210Y5");
  EXPECT_EQ(window->findChild<QLabel*>("Lbl_Core")->text(), "approx. 11.10MHz");
  EXPECT_EQ(ui.sleptMs, 1500);
  EXPECT_TRUE(ui.targetButtonsEnabled);
  EXPECT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, 2000));
}

}  // namespace
}  // namespace varnel
