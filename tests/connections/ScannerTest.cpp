// The connections scanner on the machine's real tables: rows for real loopback sockets, their
// texts, disconnects, reconnects, show-current-only, the plain tables, and the worker's life.
#include <thread>

#include "ConnectionsTestSupport.h"
#include "common/Messages.h"
#include "platform/DynamicLibrary.h"

using namespace conntest;

TEST_F(ConnectionsTest, NewEndpointsGetRowsWithProgramPidAndTexts) {
  MonListMon& list = CreateList(200);
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] { return Scanner().GetPassCount() >= 1; }));

  const std::uint64_t before = Scanner().GetPassCount();
  Socket listener = ListenTcp();
  Socket udp = BindUdp();
  ASSERT_GE(listener.fd(), 0);
  ASSERT_GE(udp.fd(), 0);
  ASSERT_TRUE(WaitFor([&] {
    return !RowsOnPort(list, "TCP", listener.LocalPort()).empty() && !RowsOnPort(list, "UDP", udp.LocalPort()).empty();
  }));
  // At most the pass under way and the next one: within one scan interval.
  EXPECT_LE(Scanner().GetPassCount() - before, 2u);

  const RowView tcp = RowsOnPort(list, "TCP", listener.LocalPort()).at(0);
  EXPECT_EQ(tcp.Text(0), OwnName());
  EXPECT_EQ(tcp.Text(2), "Listen");
  EXPECT_EQ(tcp.Text(3), "127.0.0.1");
  EXPECT_EQ(tcp.Text(5), "0.0.0.0");
  EXPECT_EQ(tcp.Text(6), "0");
  EXPECT_TRUE(HasShape(tcp.Text(7), "99/99/99 99:99:99")) << tcp.Text(7);
  EXPECT_TRUE(HasShape(tcp.Text(8), "99:99:99")) << tcp.Text(8);
  EXPECT_EQ(tcp.Text(9), std::to_string(::getpid()));
  ASSERT_TRUE(tcp.hasRecord);
  EXPECT_EQ(tcp.record.state, 2u);
  EXPECT_EQ(tcp.record.localAddr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(tcp.record.localPort, listener.LocalPort());  // host order
  EXPECT_EQ(tcp.record.remoteAddr, 0u);
  EXPECT_EQ(tcp.record.remotePort, 0u);

  const RowView u = RowsOnPort(list, "UDP", udp.LocalPort()).at(0);
  EXPECT_EQ(u.Text(0), OwnName());
  EXPECT_EQ(u.Text(2), "Listen");
  EXPECT_EQ(u.Text(5), "");
  EXPECT_EQ(u.Text(6), "");
  EXPECT_EQ(u.Text(9), std::to_string(::getpid()));
  EXPECT_EQ(u.record.state, 1u);

  // Rows keep arriving in name order while scanning (the sorted style), and every row counts.
  EXPECT_EQ(list.GetStyle() & ~WS_VISIBLE, PelorinCListView::kListStyleSorted);
  EXPECT_EQ(list.GetRowCounter(), list.GetItemCount());
}

TEST_F(ConnectionsTest, ConnectedPairGivesTwoMirroredRowsAndTheElapsedTimeRuns) {
  MonListMon& list = CreateList(100);
  Socket listener = ListenTcp();
  Pair pair = Connect(listener);
  ASSERT_GE(pair.server.fd(), 0);
  const std::uint16_t serverPort = listener.LocalPort();
  const std::uint16_t clientPort = pair.client.LocalPort();
  list.ListStart();

  auto client = [&] {
    return Rows(list, [&](const RowView& r) {
      return r.Text(1) == "TCP" && r.record.localPort == clientPort && r.record.remotePort == serverPort;
    });
  };
  auto server = [&] {
    return Rows(list, [&](const RowView& r) {
      return r.Text(1) == "TCP" && r.record.localPort == serverPort && r.record.remotePort == clientPort;
    });
  };
  ASSERT_TRUE(WaitFor([&] { return client().size() == 1 && server().size() == 1; }));
  const RowView c = client()[0];
  const RowView s = server()[0];
  EXPECT_EQ(c.Text(2), "Connected");
  EXPECT_EQ(s.Text(2), "Connected");
  EXPECT_EQ(c.record.localAddr, s.record.remoteAddr);
  EXPECT_EQ(c.record.remoteAddr, s.record.localAddr);
  EXPECT_EQ(c.Text(4), s.Text(6));
  EXPECT_EQ(c.Text(6), s.Text(4));
  // The listener stays a row of its own beside the accepted connection.
  EXPECT_EQ(RowsOnPort(list, "TCP", serverPort).size(), 2u);

  // Refreshed rows show the time since their connect.
  ASSERT_TRUE(WaitFor([&] { return !client().empty() && client()[0].Text(8) >= "00:00:01"; }, 5000));
  EXPECT_EQ(client()[0].Text(7), c.Text(7));  // the first-seen time stays
}

TEST_F(ConnectionsTest, DisconnectIsMarkedAndLoggedOnceAndAReconnectReusesTheRow) {
  MonListMon& list = CreateList(50);
  Socket listener = ListenTcp();
  const std::uint16_t port = listener.LocalPort();
  list.ListStart();
  // A pass writes its records when it ends, after its rows.
  ASSERT_TRUE(WaitFor([&] {
    return RowsOnPort(list, "TCP", port).size() == 1 && RecordsOnPort(m_logPath, "TCP", port).size() == 1;
  }));
  const RowView first = RowsOnPort(list, "TCP", port)[0];
  EXPECT_EQ(first.link.logRecordNumber + 1 <= Scanner().GetRecordCounter(), true);

  listener.Close();
  ASSERT_TRUE(WaitFor([&] {
    auto rows = RowsOnPort(list, "TCP", port);
    return rows.size() == 1 && rows[0].Text(2) == "Disconnect";
  }));
  EXPECT_EQ(RowsOnPort(list, "TCP", port)[0].record.state, kStateDisconnected);
  // Further passes find it gone again but do not log it again.
  const std::uint64_t passes = Scanner().GetPassCount();
  ASSERT_TRUE(WaitFor([&] { return Scanner().GetPassCount() >= passes + 3; }));
  auto records = RecordsOnPort(m_logPath, "TCP", port);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].Data().state, kStateDisconnected);

  // The same four fields again: the same row and record, running again, no new connect record.
  listener = ListenTcp(port);
  ASSERT_GE(listener.fd(), 0);
  ASSERT_TRUE(WaitFor([&] {
    auto rows = RowsOnPort(list, "TCP", port);
    return rows.size() == 1 && rows[0].Text(2) == "Listen" && rows[0].Text(8) == "00:00:00";
  }));
  const RowView again = RowsOnPort(list, "TCP", port)[0];
  EXPECT_EQ(again.recordAddress, first.recordAddress);
  EXPECT_EQ(again.record.state, 2u);
  EXPECT_EQ(again.Text(7), first.Text(7));
  EXPECT_EQ(again.Text(8), "00:00:00");
  const std::uint64_t seen = Scanner().GetPassCount();
  ASSERT_TRUE(WaitFor([&] { return Scanner().GetPassCount() >= seen + 2; }));
  EXPECT_EQ(RecordsOnPort(m_logPath, "TCP", port).size(), 2u);
}

TEST_F(ConnectionsTest, AReturningUdpEndpointShowsItsRecordBeforeTheReconnectAndReloadsListening) {
  MonListMon& list = CreateList(60000);  // passes run here, one at a time
  Socket socket = BindUdp();
  const std::uint16_t port = socket.LocalPort();
  const auto row = [&] {
    const auto rows = RowsOnPort(list, "UDP", port);
    EXPECT_EQ(rows.size(), 1u);
    return rows.empty() ? RowView{} : rows[0];
  };
  ASSERT_TRUE(Scanner().ScanPass());
  ASSERT_EQ(row().Text(2), "Listen");
  socket.Close();
  ASSERT_TRUE(Scanner().ScanPass());
  ASSERT_EQ(row().record.state, kStateDisconnected);
  const std::uint32_t goneAt = row().record.connectTime;

  // The pass that finds it again takes the texts from the record as the disconnect left it,
  // then reconnects the record; the next pass shows it listening.
  socket = BindUdp(port);
  ASSERT_GE(socket.fd(), 0);
  ASSERT_TRUE(Scanner().ScanPass());
  EXPECT_EQ(row().Text(2), "Disconnect");
  EXPECT_EQ(row().record.state, 1u);
  EXPECT_GE(row().record.connectTime, goneAt);
  ASSERT_TRUE(Scanner().ScanPass());
  EXPECT_EQ(row().Text(2), "Listen");

  // Rebuilt from the log: the disconnect record's row says so, its record listens (1).
  list.LoadLastLog();
  ASSERT_TRUE(WaitFor([&] { return Scanner().IsLogLast() == 0; }));
  const auto rebuilt = RowsOnPort(list, "UDP", port);
  ASSERT_EQ(rebuilt.size(), 2u);
  EXPECT_EQ(rebuilt[1].Text(2), "Disconnect");
  EXPECT_EQ(rebuilt[1].record.state, 1u);
}

TEST_F(ConnectionsTest, ShowCurrentOnlyRemovesAVanishedRowInTheSamePass) {
  MonListMon& list = CreateList(50);
  list.SetShowCurrentOnly(1);
  EXPECT_EQ(list.IsShowCurrentOnly(), 1);
  Socket listener = ListenTcp();
  Socket udp = BindUdp();
  const std::uint16_t port = listener.LocalPort();
  const std::uint16_t udpPort = udp.LocalPort();
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] { return !RowsOnPort(list, "TCP", port).empty() && !RowsOnPort(list, "UDP", udpPort).empty(); }));

  listener.Close();
  udp.Close();
  ASSERT_TRUE(WaitFor([&] { return RowsOnPort(list, "TCP", port).empty() && RowsOnPort(list, "UDP", udpPort).empty(); }));
  // The disconnects are still logged, once each.
  ASSERT_TRUE(WaitFor([&] { return RecordsOnPort(m_logPath, "UDP", udpPort).size() == 2; }));
  EXPECT_EQ(RecordsOnPort(m_logPath, "TCP", port).size(), 2u);
  EXPECT_EQ(list.GetRowCounter() >= list.GetItemCount(), true);
}

TEST_F(ConnectionsTest, EndpointsListedTwiceShareOneRow) {
  // Sockets bound to the same address and port with SO_REUSEPORT: the table lists the
  // endpoint twice, the list shows it once.
  Socket a = BindUdp(0, true);
  Socket b = BindUdp(a.LocalPort(), true);
  Socket ta = ListenTcp(0, true);
  Socket tb = ListenTcp(ta.LocalPort(), true);
  ASSERT_GE(b.fd(), 0);
  ASSERT_GE(tb.fd(), 0);
  MonListMon& list = CreateList(50);
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] { return Scanner().GetPassCount() >= 3; }));
  EXPECT_EQ(RowsOnPort(list, "UDP", a.LocalPort()).size(), 1u);
  EXPECT_EQ(RowsOnPort(list, "TCP", ta.LocalPort()).size(), 1u);
  EXPECT_EQ(RecordsOnPort(m_logPath, "UDP", a.LocalPort()).size(), 1u);
}

TEST_F(ConnectionsTest, PlainTablesShowNoNamesNoProcessIdsAndHideThoseColumns) {
  ScopedLibraryExports plain("iphlpapi.dll", WithoutExports(LibraryExports("iphlpapi.dll"),
                                                            {"AllocateAndGetTcpExTableFromStack",
                                                             "AllocateAndGetUdpExTableFromStack"}));
  MonListMon& list = CreateList(50);
  EXPECT_FALSE(Scanner().HasExtendedTcp());
  EXPECT_EQ(list.GetColumnWidth(0), 0);
  EXPECT_EQ(list.GetColumnWidth(9), 0);
  for (int column = 1; column < 9; ++column) EXPECT_GT(list.GetColumnWidth(column), 0) << column;

  Socket listener = ListenTcp();
  Socket udp = BindUdp();
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] {
    return !RowsOnPort(list, "TCP", listener.LocalPort()).empty() && !RowsOnPort(list, "UDP", udp.LocalPort()).empty();
  }));
  for (const RowView& r : {RowsOnPort(list, "TCP", listener.LocalPort())[0], RowsOnPort(list, "UDP", udp.LocalPort())[0]}) {
    EXPECT_EQ(r.Text(0), "n/a");
    EXPECT_EQ(r.Text(9), "");
  }
  ASSERT_TRUE(WaitFor([&] { return RecordsOnPort(m_logPath, "TCP", listener.LocalPort()).size() == 1; }));
  const auto records = RecordsOnPort(m_logPath, "TCP", listener.LocalPort());
  EXPECT_EQ(records[0].Data().processName[0], '\0');  // no name without the extended tables
}

TEST_F(ConnectionsTest, WithoutTheLibraryPassesFindNothing) {
  ScopedLibraryExports removed("iphlpapi.dll");
  MonListMon& list = CreateList(20);
  Socket listener = ListenTcp();
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] { return Scanner().GetPassCount() >= 3; }));
  EXPECT_EQ(list.GetItemCount(), 0);
}

TEST_F(ConnectionsTest, ScanIntervalIsReadInSeconds) {
  m_profile.WriteProfileInt("", "ScanList", 3);
  CreateList();
  MonListMon other(&m_profile, "", "");
  ASSERT_EQ(other.MonListCreate(nullptr, 1024, Rect{0, 0, 100, 100}), 0);
  EXPECT_EQ(other.Scanner()->GetScan(), 3000u);  // ms
  other.ProcessClose();
}

TEST_F(ConnectionsTest, StartStopClearAndCloseUnderLoadStayOrderly) {
  std::vector<Socket> sockets;
  Socket listener = ListenTcp();
  for (int i = 0; i < 100; ++i) {
    Pair pair = Connect(listener);
    sockets.push_back(std::move(pair.client));
    sockets.push_back(std::move(pair.server));
  }
  MonListMon& list = CreateList(1);
  for (int round = 0; round < 5; ++round) {
    list.ListStart();
    ASSERT_TRUE(WaitFor([&] { return RowsOnPort(list, "TCP", listener.LocalPort()).size() >= 50; }));
    if (round % 2 == 0) list.SetDeleteAll(1);
    if (round == 3) list.LoadLastLog();
    // Connections come and go while the worker scans.
    sockets.resize(sockets.size() - 4);
    list.ListStop();
    EXPECT_EQ(Scanner().GetIdleMessage(), 0);
  }
  // Stopped: the rows no longer change.
  UiPump::Instance().PumpUntil([] { return false; }, 100);
  const std::uint64_t passes = Scanner().GetPassCount();
  const int rows = list.GetItemCount();
  UiPump::Instance().PumpUntil([] { return false; }, 100);
  EXPECT_EQ(Scanner().GetPassCount(), passes);
  EXPECT_EQ(list.GetItemCount(), rows);

  // Closing while a scan runs ends the worker and frees every row.
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] { return list.GetItemCount() > 0; }));
  list.ProcessClose();
  EXPECT_EQ(list.Scanner(), nullptr);
  EXPECT_EQ(list.GetItemCount(), 0);
  EXPECT_EQ(list.IsClose(), 1);
}

TEST_F(ConnectionsTest, StopReturnsWhenTheWorkerNeverAnswers) {
  MonListMon& list = CreateList(50);
  list.ListStart();
  ASSERT_TRUE(WaitFor([&] { return Scanner().GetIdleMessage() != 0; }));
  Scanner().SuspendThread();  // holds the worker: the stop requests stay unread
  list.ListStop();
  EXPECT_EQ(Scanner().GetIdleMessage(), 1);
  Scanner().ResumeThread();
  ASSERT_TRUE(WaitFor([&] { return Scanner().GetIdleMessage() == 0; }));
}
