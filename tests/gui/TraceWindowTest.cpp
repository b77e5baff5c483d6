// The serial trace window over the real serial component on a pseudo-
// terminal: what it lists, when it listens, Clear, Save... and its bound.
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>

#include "app/TF_Trace.h"
#include "support/GuiApp.h"
#include "link/CommInt.h"
#include "support/AnsweringPrompts.h"
#include "support/EventLoop.h"
#include "support/Files.h"
#include "support/PtyComm.h"

namespace varnel {
namespace {

QStringList Shown(TF_Trace& trace) {
  trace.ShowNew();
  const QString text = trace.Lines()->toPlainText();
  return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// The line without its time: "> CR0010".
QString Untimed(const QString& line) { return line.mid(line.indexOf(QLatin1Char(' ')) + 1); }

class TraceWindowTest : public ::testing::Test, protected testing::PtyComm {
 protected:
  static void SetUpTestSuite() { testing::GuiApp(); }
  void SetUp() override {
    comm.Open();
    comm.OnRxChar = [this](CommPort& sender, int count) {
      std::string buffer(static_cast<std::size_t>(count), '\0');
      const int n = sender.Read(buffer.data(), count);
      if (n > 0) received.append(buffer, 0, static_cast<std::size_t>(n));
    };
    prompts.onBox = [this](MessageKind, const std::string& text) { boxes.push_back(text); };
  }
  void TearDown() override { comm.Close(); }

  // The peer answers; returns once the port has read it all.
  void Answer(const std::string& bytes) {
    const std::size_t want = received.size() + bytes.size();
    pty.Send(bytes);
    ASSERT_TRUE(testing::PumpUntil([&] { return received.size() >= want; }));
  }

  std::string received;
  testing::AnsweringPrompts prompts;
  std::vector<std::string> boxes;
  QMdiArea area;
};

TEST_F(TraceWindowTest, ListsEveryChunkBothWaysWhileOpenAndNothingOnceClosed) {
  auto* trace = new TF_Trace(comm, prompts);
  QPointer<TF_Trace> alive(trace);
  area.addSubWindow(trace);
  trace->show();
  EXPECT_EQ(trace->windowTitle(), "Serial trace");
  EXPECT_EQ(comm.Tap(), trace);
  ASSERT_TRUE(trace->findChild<QPushButton*>("Btn_Clear"));
  EXPECT_EQ(trace->findChild<QPushButton*>("Btn_Save")->text(), "Save...");

  comm.Write("CR0010", 6);
  Answer("\r\n01 02 03\r\n>");
  comm.Write("\x00\\", 2);
  const QStringList lines = Shown(*trace);
  ASSERT_GE(lines.size(), 3);
  EXPECT_EQ(Untimed(lines.front()), "> CR0010");
  EXPECT_EQ(Untimed(lines.back()), "> \\x00\\\\");
  // However the line split the reply, the received lines hold it in order.
  QString reply;
  for (int i = 1; i + 1 < lines.size(); ++i) {
    ASSERT_TRUE(Untimed(lines[i]).startsWith("< ")) << lines[i].toStdString();
    reply += Untimed(lines[i]).mid(2);
  }
  EXPECT_EQ(reply, "\\r\\n01 02 03\\r\\n>");
  // Times in ms with three decimals, never going back.
  double last = -1;
  for (const QString& line : lines) {
    const QString time = line.left(line.indexOf(QLatin1Char(' ')));
    EXPECT_EQ(time.size() - time.indexOf(QLatin1Char('.')), 4) << line.toStdString();
    EXPECT_GE(time.toDouble(), last);
    last = time.toDouble();
  }

  // Clear empties the list; what follows starts it again.
  trace->findChild<QPushButton*>("Btn_Clear")->click();
  EXPECT_TRUE(Shown(*trace).isEmpty());
  comm.Write("RRE9", 4);
  ASSERT_EQ(Shown(*trace).size(), 1);

  trace->close();
  EXPECT_EQ(comm.Tap(), nullptr);  // not listening from the moment it closes
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(alive.isNull());
  comm.Write("E", 1);  // nobody records this
  Answer(">");

  auto* again = new TF_Trace(comm, prompts);
  area.addSubWindow(again);
  EXPECT_TRUE(Shown(*again).isEmpty());
  delete again;
  EXPECT_EQ(comm.Tap(), nullptr);
}

TEST_F(TraceWindowTest, SaveWritesTheListAndAFailureLosesNothing) {
  QTemporaryDir dir;
  TF_Trace trace(comm, prompts, [&] { return dir.path().toStdString(); });
  comm.Write("CR0000", 6);
  Answer("\r\nFF\r\n>");
  std::string suggested;
  std::string path = dir.filePath("line.txt").toStdString();
  prompts.onChooseFile = [&](FileChoice choice, const std::string& start) {
    EXPECT_EQ(choice, FileChoice::SaveTrace);
    suggested = start;
    return path;
  };
  trace.findChild<QPushButton*>("Btn_Save")->click();
  EXPECT_EQ(suggested, dir.filePath("trace.txt").toStdString());
  const std::string saved = testing::ReadFile(path);
  EXPECT_EQ(saved, trace.Text());
  EXPECT_EQ(QString::fromStdString(saved).trimmed().split('\n'), Shown(trace));
  EXPECT_TRUE(boxes.empty());

  // A folder in the file's place: the box says why, the folder stays.
  path = dir.path().toStdString();
  trace.findChild<QPushButton*>("Btn_Save")->click();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("Serial trace not saved. ", 0), 0u) << boxes[0];
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(TraceWindowTest, KeepsTheLastTenThousandChunks) {
  TF_Trace trace(comm, prompts);
  trace.Chunk(TraceDirection::Sent, "first");
  Shown(trace);  // some are on screen already when the flood comes
  for (int i = 0; i < 10004; ++i) {
    trace.Chunk(TraceDirection::Received, "n" + std::to_string(i));
  }
  const QStringList lines = Shown(trace);
  ASSERT_EQ(lines.size(), 10000);
  EXPECT_EQ(Untimed(lines.front()), "< n4");
  EXPECT_EQ(Untimed(lines.back()), "< n10003");
  EXPECT_EQ(trace.Log().Entries().size(), 10000u);
}

}  // namespace
}  // namespace varnel
