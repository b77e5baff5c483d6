// The serial port component on real pseudo-terminals: opening, reading and
// writing both ways, receive events on the main thread, line settings and
// every error the component can be made to raise here.
#include "link/CommInt.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QThread>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/CommErrorText.h"
#include "support/EventLoop.h"
#include "support/PtyComm.h"

namespace varnel {
namespace {

using testing::EnsureApplication;
using testing::PumpFor;
using testing::PumpUntil;
using testing::Pty;

using testing::ErrorText;

class CommIntTest : public ::testing::Test, protected testing::PtyComm {
 protected:
  void SetUp() override { EnsureApplication(); }

  // Reads what the port has until `want` bytes came (no event loop needed).
  std::string ReadSome(TCustomComm& port, std::size_t want) {
    std::string got;
    for (int i = 0; i < 400 && got.size() < want; ++i) {
      char buf[256];
      const int n = port.Read(buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
      if (got.size() < want) ::usleep(2000);
    }
    return got;
  }
};

TEST_F(CommIntTest, OpensClosesAndReopensAndCarriesBytesBothWays) {
  EXPECT_FALSE(comm.IsOpen());
  comm.Open();
  EXPECT_TRUE(comm.IsOpen());

  EXPECT_EQ(comm.Write("CR0000", 6), 6);
  EXPECT_EQ(pty.Receive(6), "CR0000");
  pty.Send("02 00 30\r\n>");
  EXPECT_EQ(ReadSome(comm, 11), "02 00 30\r\n>");

  char buf[16];
  EXPECT_EQ(comm.Read(buf, sizeof buf), 0) << "a read returns at once with nothing";

  comm.Close();
  EXPECT_FALSE(comm.IsOpen());
  comm.Close();  // closing a closed port does nothing

  comm.Open();
  EXPECT_EQ(comm.Write("M0", 2), 2);
  EXPECT_EQ(pty.Receive(2), "M0");
  pty.Send("ok.");
  EXPECT_EQ(ReadSome(comm, 3), "ok.");
}

TEST_F(CommIntTest, ReceiveEventsComeOnTheMainThreadWithTheBytesWaiting) {
  std::vector<int> counts;
  std::string received;
  bool offThread = false;
  comm.OnRxChar = [&](CommPort& sender, int count) {
    offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
    EXPECT_EQ(&sender, &comm);
    counts.push_back(count);
    std::vector<char> buf(static_cast<std::size_t>(count));
    const int n = sender.Read(buf.data(), count);
    received.append(buf.data(), static_cast<std::size_t>(std::max(n, 0)));
  };
  comm.Open();
  pty.Send("0102\r\n>");
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 7; }));
  EXPECT_EQ(received, "0102\r\n>");
  EXPECT_FALSE(offThread);
  for (int c : counts) EXPECT_GT(c, 0);
}

TEST_F(CommIntTest, OneEventAtATimeWhileTheHandlerPumpsTheLoop) {
  // The session's receive handler lets the GUI run; no second event may
  // start inside it, and nothing may be lost or reordered.
  int depth = 0, maxDepth = 0, events = 0;
  std::string received;
  comm.OnRxChar = [&](CommPort& sender, int count) {
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    ++events;
    std::vector<char> buf(static_cast<std::size_t>(count));
    const int n = sender.Read(buf.data(), count);
    received.append(buf.data(), static_cast<std::size_t>(n));
    if (events < 4) pty.Send(std::string(1, static_cast<char>('a' + events)));
    PumpFor(10);
    --depth;
  };
  comm.Open();
  pty.Send("x");
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 4 && depth == 0; }));
  EXPECT_EQ(received, "xbcd");
  EXPECT_EQ(maxDepth, 1);
}

TEST_F(CommIntTest, BytesLeftUnreadMakeTheNextEvent) {
  std::vector<int> counts;
  std::string received;
  comm.OnRxChar = [&](CommPort& sender, int count) {
    counts.push_back(count);
    char c;
    if (sender.Read(&c, 1) == 1) received.push_back(c);
  };
  comm.Open();
  pty.Send("abc");
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 3; }));
  EXPECT_EQ(received, "abc");
  EXPECT_EQ(counts.back(), 1);
  PumpFor(20);
  EXPECT_EQ(received.size(), 3u);
  for (int c : counts) EXPECT_GT(c, 0);
}

TEST_F(CommIntTest, AHandlerThatClosesThePortGetsNoFurtherEvents) {
  int events = 0;
  comm.OnRxChar = [&](CommPort& sender, int) {
    ++events;
    sender.Close();  // the settings switched the port off
  };
  comm.Open();
  pty.Send("abc");
  ASSERT_TRUE(PumpUntil([&] { return events == 1; }));
  pty.Send("def");
  PumpFor(30);
  EXPECT_EQ(events, 1);
  EXPECT_FALSE(comm.IsOpen());
}

TEST_F(CommIntTest, AHandlerThatSwitchesToAnotherPortReceivesFromTheNewOne) {
  Pty other;
  std::string received;
  comm.OnRxChar = [&](CommPort& sender, int count) {
    std::vector<char> buf(static_cast<std::size_t>(count));
    const int n = sender.Read(buf.data(), count);
    received.append(buf.data(), static_cast<std::size_t>(n));
    if (sender.DeviceName() == pty.Path()) {
      sender.Close();
      sender.SetDeviceName(other.Path());
      sender.Open();
      other.Send("2");
      PumpFor(10);  // the new port's bytes wait until this event is over
    }
  };
  comm.Open();
  pty.Send("1");
  ASSERT_TRUE(PumpUntil([&] { return received == "12"; }));
  pty.Send("x");  // the old port is closed: nothing comes from it
  other.Send("3");
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 3; }));
  EXPECT_EQ(received, "123");
}

TEST_F(CommIntTest, NulBytesAreDiscardedWithNullStripAndKeptWithout) {
  std::vector<int> counts;
  std::string received;
  comm.OnRxChar = [&](CommPort& sender, int count) {
    counts.push_back(count);
    std::vector<char> buf(static_cast<std::size_t>(count));
    const int n = sender.Read(buf.data(), count);
    received.append(buf.data(), static_cast<std::size_t>(n));
  };
  comm.SetOptions({coNullStrip});
  comm.Open();
  pty.Send(std::string("A\0B\0\0>", 6));
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 3; }));
  EXPECT_EQ(received, "AB>");

  // A chunk of nothing but NULs is no event at all.
  counts.clear();
  pty.Send(std::string(3, '\0'));
  PumpFor(30);
  EXPECT_TRUE(counts.empty());

  comm.SetOptions({});
  received.clear();
  pty.Send(std::string("C\0>", 3));
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 3; }));
  EXPECT_EQ(received, std::string("C\0>", 3));
}

TEST_F(CommIntTest, ErrorMarksAreDecodedWhenParityCheckingIsOn) {
  // The line doubles a received FF while parity checking is on; the reader
  // gets it once, also when the pair is split between two reads.
  comm.SetOptions({coParityCheck});
  comm.Open();
  pty.Send("A\xFF" "B");
  EXPECT_EQ(ReadSome(comm, 3), "A\xFF" "B");
}

TEST_F(CommIntTest, LineEventsFollowInTheirOrder) {
  std::vector<std::string> seen;
  comm.OnRxChar = [&](CommPort& sender, int count) {
    seen.push_back("rx");
    std::vector<char> buf(static_cast<std::size_t>(count));
    sender.Read(buf.data(), count);
  };
  comm.OnRxFlag = [&](CommPort&) { seen.push_back("flag"); };
  comm.OnTxEmpty = [&](CommPort&) { seen.push_back("txempty"); };
  comm.SetEventChars({17, 19, 0, 0, '>'});
  comm.Open();
  pty.Send("12>");
  ASSERT_TRUE(PumpUntil([&] { return seen.size() >= 2; }));
  EXPECT_EQ(seen, (std::vector<std::string>{"rx", "flag"}));

  seen.clear();
  comm.Write("R", 1);
  EXPECT_EQ(pty.Receive(1), "R");
  ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, (std::vector<std::string>{"txempty"}));
}

TEST_F(CommIntTest, UnmonitoredReceiveRaisesNoEventButBytesStayReadable) {
  int events = 0;
  comm.OnRxChar = [&](CommPort&, int) { ++events; };
  comm.SetMonitorEvents({evBreak, evCts});
  comm.Open();
  pty.Send("ab");
  PumpFor(30);
  EXPECT_EQ(events, 0);
  EXPECT_EQ(ReadSome(comm, 2), "ab");
}

TEST_F(CommIntTest, BaudRateSetWhileClosedIsAppliedAtOpenAndAtOnceWhileOpen) {
  comm.SetBaudRate(br19200);
  termios t = pty.SlaveSettings();
  ASSERT_NE(cfgetospeed(&t), static_cast<speed_t>(B19200)) << "stored only while closed";
  comm.Open();
  t = pty.SlaveSettings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  comm.SetBaudRate(br115200);
  t = pty.SlaveSettings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
}

TEST_F(CommIntTest, ClosingPutsBackTheSettingsFoundAtOpen) {
  termios before = pty.SlaveSettings();
  cfsetspeed(&before, B1200);
  before.c_lflag |= ICANON;
  ::tcsetattr(pty.Slave(), TCSANOW, &before);

  comm.SetBaudRate(br38400);
  comm.Open();
  comm.Close();
  const termios after = pty.SlaveSettings();
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B1200));
  EXPECT_NE(after.c_lflag & ICANON, 0u);
}

TEST_F(CommIntTest, OpenRefusesAnOpenPortMissingDevicesPlainFilesAndNonTerminals) {
  comm.Open();
  EXPECT_EQ(ErrorText([&] { comm.Open(); }), "Port already assigned (open) (Error: -1) ");
  EXPECT_TRUE(comm.IsOpen());
  comm.Close();

  comm.SetDeviceName("/dev/varnel-no-such-port");
  EXPECT_EQ(ErrorText([&] { comm.Open(); }),
            "Error accessing specified device (Error: 2) ");
  comm.SetDeviceName("None");
  EXPECT_EQ(ErrorText([&] { comm.Open(); }),
            "Error accessing specified device (Error: 2) ");

  const std::string file = ::testing::TempDir() + "varnel-plain-file";
  std::ofstream(file) << "not a port";
  comm.SetDeviceName(file);
  EXPECT_EQ(ErrorText([&] { comm.Open(); }),
            "Invalid device handle, access denied (Error: -1) ");
  std::filesystem::remove(file);

  comm.SetDeviceName("/dev/null");  // a character device, but no line
  EXPECT_EQ(ErrorText([&] { comm.Open(); }), "Error updating CommTimeouts (Error: 25) ");
  EXPECT_FALSE(comm.IsOpen());
}

TEST_F(CommIntTest, APortHeldByAnotherInstanceIsBusy) {
  TComm first;
  first.SetDeviceName(pty.Path());
  first.Open();
  EXPECT_EQ(ErrorText([&] { comm.Open(); }),
            "Error accessing specified device (Error: 16) ");
  EXPECT_FALSE(comm.IsOpen());
  first.Close();
  comm.Open();  // free again
  EXPECT_TRUE(comm.IsOpen());
}

TEST_F(CommIntTest, PropertiesFixedWhileOpenAreRefused) {
  comm.Open();
  const std::string refused = "Port already assigned (open) (Error: -1) ";
  EXPECT_EQ(ErrorText([&] { comm.SetDeviceName("COM1"); }), refused);
  EXPECT_EQ(ErrorText([&] { comm.SetReadBufSize(100); }), refused);
  EXPECT_EQ(ErrorText([&] { comm.SetWriteBufSize(100); }), refused);
  EXPECT_EQ(ErrorText([&] { comm.SetMonitorEvents({evRxChar}); }), refused);
  EXPECT_EQ(comm.DeviceName(), pty.Path());
  EXPECT_EQ(comm.ReadBufSize(), 4096);
  comm.SetReadTimeout(10);  // used per operation: fine while open
  comm.SetWriteTimeout(10);
}

TEST_F(CommIntTest, ModemLinesNeedAnOpenPortAndAreRefusedByAPty) {
  EXPECT_EQ(ErrorText([&] { comm.SetDTR(true); }),
            "Port not open, unable to complete operation (Error: -1) ");
  EXPECT_EQ(ErrorText([&] { comm.SetRTS(false); }),
            "Port not open, unable to complete operation (Error: -1) ");
  EXPECT_EQ(ErrorText([&] { comm.SetBreak(true); }),
            "Port not open, unable to complete operation (Error: -1) ");
  comm.Open();
  EXPECT_EQ(ErrorText([&] { comm.SetDTR(true); }), "EscapeCommFunction failure (Error: 25) ");
  EXPECT_EQ(ErrorText([&] { comm.SetRTS(true); }), "EscapeCommFunction failure (Error: 25) ");
  // A break is taken (a pty shows nothing of it) and released.
  EXPECT_EQ(ErrorText([&] { comm.SetBreak(true); }), "no error");
  EXPECT_EQ(ErrorText([&] { comm.SetBreak(false); }), "no error");
}

TEST_F(CommIntTest, ReadAndWriteOnAClosedPortRaise) {
  char buf[4];
  EXPECT_EQ(ErrorText([&] { comm.Read(buf, 4); }), "Read error (Error: -1) ");
  EXPECT_EQ(ErrorText([&] { comm.Write("x", 1); }), "Write error (Error: -1) ");
}

TEST_F(CommIntTest, AWriteThePeerDoesNotTakeTimesOut) {
  comm.SetWriteTimeout(20);
  comm.Open();
  const std::string lots(1 << 20, 'x');  // far more than the line buffers
  EXPECT_EQ(comm.Write(lots.data(), static_cast<int>(lots.size())), -1);
  EXPECT_TRUE(comm.IsOpen());
}

TEST_F(CommIntTest, AHungUpLineStopsEventsAndWritesReportIt) {
  int events = 0;
  comm.OnRxChar = [&](CommPort& sender, int count) {
    ++events;
    std::vector<char> buf(static_cast<std::size_t>(count));
    sender.Read(buf.data(), count);
  };
  pty.CloseKeeper();
  comm.Open();
  pty.CloseMaster();
  ASSERT_TRUE(PumpUntil([&] { return comm.IsHungUp(); }));
  const int after = events;
  PumpFor(30);
  EXPECT_EQ(events, after);
  EXPECT_TRUE(comm.IsOpen());
  EXPECT_EQ(ErrorText([&] { comm.Write("x", 1); }), "Write error (Error: 5) ");
  char buf[4];
  EXPECT_EQ(ErrorText([&] { comm.Read(buf, 4); }), "Read error (Error: 5) ");
  comm.Close();
  EXPECT_FALSE(comm.IsHungUp());
}

}  // namespace
}  // namespace varnel
