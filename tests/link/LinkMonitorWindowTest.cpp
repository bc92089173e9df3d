// The link monitor window: its buttons and their enabling, Set Link, the log files, the page
// size, the context menu, and real captures on lo of a TCP connection and a UDP exchange with a
// link monitor on each beside the packet pane.
#include <fcntl.h>
#include <linux/fs.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <filesystem>

#include "LinkTestSupport.h"
#include "common/Messages.h"
#include "controls/link/DlgIpMon.h"
#include "controls/link/DlgIpMonSetLink.h"
#include "controls/link/IpMon.h"
#include "controls/link/LinkFilter.h"
#include "controls/link/LinkLogFiles.h"
#include "controls/link/PelorinCThreadIpMon.h"
#include "ui/ScriptedServices.h"
#include "ui/UiPump.h"
#include "wincap/DlgPelorinLogPages.h"
#include "wincap/PacketLogFile.h"

using namespace link_test;
using capture_test::CaptureEnv;
using capture_test::Rows;

namespace fs = std::filesystem;

namespace {

using D = DlgIpMon;

bool Enabled(const Dialog& dialog, int id) { return dialog.GetDlgItem(id)->IsWindowEnabled(); }

// A saved link log of a few hand-built UDP packets.
void WriteLinkLog(const std::string& path, int packets) {
  PacketLogFile file;
  ASSERT_TRUE(file.OpenTruncate(path));
  for (int i = 0; i < packets; ++i) {
    const auto frame = capture_test::BuildFrame(capture_test::FrameParts{.payload = "packet " + std::to_string(i)});
    ASSERT_GT(file.Write(frame.data(), static_cast<LONG>(frame.size()), "10.0.0.1", "10.0.0.2",
                         "12/08/2026 07:00:00.000", nullptr), 0);
  }
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

int BoundPort(int fd) {
  sockaddr_in address = Loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// Keeps a file from being written while it lives, by root too: the mode binds others, the
// immutable flag binds root.
struct ReadOnlyFile {
  explicit ReadOnlyFile(const std::string& path) : fd(open(path.c_str(), O_RDONLY)) {
    chmod(path.c_str(), 0444);
    SetImmutable(true);
  }
  ~ReadOnlyFile() {
    SetImmutable(false);
    close(fd);
  }
  void SetImmutable(bool on) const {
    int flags = 0;
    if (!capture_test::IsRoot() || ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ioctl(fd, FS_IOC_SETFLAGS, &flags);
  }
  const int fd;
};

const char kUdpLink[] = "UDP - 10.0.0.1:1025 -> 10.0.0.2:80";
const _MonListMonItemDataIp kUdpRecord = LinkOf({17, 0, "10.0.0.1", "10.0.0.2", 1025, 80});

class LinkWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    m_folder = m_env.File("ConnLogs");
    m_env.App().WriteProfileString("", PelorinCThreadIpMon::kFolderKey, m_folder + "/");
  }
  std::unique_ptr<DlgIpMon> Open(const std::string& description, const _MonListMonItemDataIp* link) {
    return std::make_unique<DlgIpMon>(nullptr, &m_env.App(), capture_test::kRegistryPath, Point{}, description,
                                      link, nullptr, nullptr);
  }
  // The interface replays count packets of kUdpLink, whenever capture starts.
  void UseReplay(int count) {
    const auto frame = capture_test::BuildFrame(capture_test::FrameParts{.payload = "on the link"});
    ASSERT_TRUE(capture_test::WriteCapture(m_env.File("link.pcap"), std::vector(count, frame)));
    m_env.UseCaptureFile(m_env.File("link.pcap"));
  }
  static void StopAfterReplay(DlgIpMon& window) {
    ASSERT_TRUE(capture_test::WaitUntil([&] { return window.GetThread()->IsReplayDone(); }, 10000));
    window.ClickButton(D::IDC_BUTTON_STOP);
  }
  CaptureEnv m_env;
  ScriptedServices m_script;
  std::string m_folder;
};

}  // namespace

TEST_F(LinkWindow, WithoutALinkSetLinkThenLoadTakesTheLinkFromTheFile) {
  auto window = Open("Open Connections Link Log", nullptr);
  ASSERT_TRUE(window->IsCreated());
  EXPECT_EQ(window->GetWindowText(), "Open Connections Link Log");
  for (int id : {D::IDC_BUTTON_START, D::IDC_BUTTON_STOP, D::IDC_BUTTON_SAVE_LOG}) EXPECT_FALSE(Enabled(*window, id));
  for (int id : {D::IDC_BUTTON_LOAD_LOG, D::IDC_BUTTON_FROM, D::IDC_BUTTON_SET_LINK}) EXPECT_TRUE(Enabled(*window, id));
  EXPECT_EQ(window->GetDlgItemText(D::IDC_EDIT_LOG_PATH), window->GetThread()->LogGet());

  // Addresses of two families are refused; two IPv6 ones make an IPv6 link.
  m_script.OnNextModal([](Dialog& d) {
    d.TypeInto(2088, "fd00::1");
    d.TypeInto(2090, "1025");
    d.TypeInto(2089, "10.0.0.2");
    d.ClickButton(IDOK);
    d.TypeInto(2089, "fd00::2");
    d.ClickButton(IDOK);
  });
  window->ClickButton(D::IDC_BUTTON_SET_LINK);
  ASSERT_EQ(m_script.Messages().size(), 1u);
  EXPECT_EQ(m_script.Messages()[0].text, DlgIpMonSetLink::kMixedText);
  EXPECT_EQ(window->GetWindowText(), "Connections Link - [fd00::1]:1025 -> fd00::2");
  EXPECT_EQ(window->GetThread()->GetLink6().value_or(LinkAddresses6{}).remote[15], 2);

  m_script.OnNextModal([](Dialog& d) {
    d.TypeInto(2088, "10.0.0.1");
    d.TypeInto(2090, "1025");
    d.TypeInto(2089, "10.0.0.2");
    d.TypeInto(2091, "");
    d.ClickButton(IDOK);
  });
  window->ClickButton(D::IDC_BUTTON_SET_LINK);
  EXPECT_EQ(window->GetWindowText(), "Connections Link - 10.0.0.1:1025 -> 10.0.0.2");
  EXPECT_FALSE(window->GetThread()->GetLink6().has_value());
  EXPECT_EQ(window->GetThread()->GetMonFlags(), LinkFilter::kFromAddr | LinkFilter::kFromPort | LinkFilter::kToAddr);
  EXPECT_FALSE(window->IsDlgButtonChecked(D::IDC_CHECK_TYPE));
  EXPECT_TRUE(window->IsDlgButtonChecked(D::IDC_CHECK_FROM_PORT));
  EXPECT_FALSE(window->IsDlgButtonChecked(D::IDC_CHECK_TO_PORT));
  EXPECT_TRUE(Enabled(*window, D::IDC_BUTTON_START));
  EXPECT_EQ(m_env.App().GetProfileString("", "ConnectionsLinkSetLinkSourcePort"), "1025");
  // The box clears its flag at once.
  window->ClickButton(D::IDC_CHECK_FROM_PORT);
  EXPECT_EQ(window->GetThread()->GetMonFlags(), LinkFilter::kFromAddr | LinkFilter::kToAddr);

  // A name without ".cnl", and a ".cnl" name that is no packet log, keep the current log.
  const std::string temp = window->GetThread()->LogGet();
  m_script.AnswerFileDialog(m_env.File("notes.txt"));
  window->ClickButton(D::IDC_BUTTON_LOAD_LOG);
  const std::string impostor = m_env.File("x.cnl.bak");
  std::ofstream(impostor) << "not a log";
  m_script.AnswerFileDialog(impostor);
  window->ClickButton(D::IDC_BUTTON_LOAD_LOG);
  ASSERT_EQ(m_script.Messages().size(), 3u);
  EXPECT_EQ(m_script.Messages()[1].text, "Invalid Connection Monitor File ( .cnl ).");
  EXPECT_EQ(m_script.Messages()[1].caption, "Invalid entry");
  EXPECT_EQ(m_script.Messages()[2].caption, "Invalid entry");
  EXPECT_NE(m_script.Messages()[2].text.find(impostor), std::string::npos);
  EXPECT_EQ(window->GetThread()->LogGet(), temp);
  EXPECT_EQ(m_script.FileDialogs()[0].filter, "Connection Monitor Logs|*.cnl||");
  EXPECT_EQ(m_script.FileDialogs()[0].fileName, "10-0-0-1p1025-To-10-0-0-2.cnl");
  EXPECT_EQ(LinkLogFiles::DefaultName("Connections Link - TCP6 - [fd00::1]:1025 -> [fd00::2]:80"),
            "TCP6-fd00pp1p1025-To-fd00pp2p80.cnl");

  // A real link log: the link, the title and the flags come from its first row.
  const std::string saved = m_env.File("udp.cnl");
  WriteLinkLog(saved, 60);
  m_script.AnswerFileDialog(saved);
  window->ClickButton(D::IDC_BUTTON_LOAD_LOG);
  EXPECT_EQ(window->GetThread()->LogGet(), saved);
  EXPECT_EQ(window->GetDlgItemText(D::IDC_EDIT_LOG_PATH), saved);
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_EQ(window->GetList()->GetItemCount(), 60);
  EXPECT_EQ(window->GetWindowText(), "Connections Link - UDP - 10.0.0.1:1025 -> 10.0.0.2:80");
  EXPECT_EQ(window->GetThread()->GetMonFlags(), LinkFilter::kAllFlags);

  // The page size is clamped, saved, and a chosen page is loaded and named.
  window->TypeInto(D::IDC_EDIT_PAGE_SIZE, "5");
  m_script.OnNextModal([](Dialog& d) {
    auto& pages = dynamic_cast<DlgPelorinLogPages&>(d);
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return !pages.IsListing(); }, 5000));
    d.DoubleClickListItem(DlgPelorinLogPages::IDC_LIST_PAGES, 2);
  });
  window->ClickButton(D::IDC_BUTTON_LOAD_PAGE);
  EXPECT_EQ(window->GetDlgItemText(D::IDC_EDIT_PAGE_SIZE), "25");
  EXPECT_EQ(m_env.App().GetProfileInt("", "LogPageSize", 0), 25);
  EXPECT_EQ(window->GetList()->GetItemCount(), 10);  // records 50..59
  EXPECT_EQ(window->GetDlgItemText(D::IDC_STATIC_LOG_PAGE).rfind("Page : 2 - File Pos : ", 0), 0u);
  window->TypeInto(D::IDC_EDIT_PAGE_SIZE, "40000");
  m_script.OnNextModal([](Dialog& d) { d.ClickButton(IDCANCEL); });
  window->ClickButton(D::IDC_BUTTON_LOAD_PAGE);
  EXPECT_EQ(window->GetDlgItemText(D::IDC_EDIT_PAGE_SIZE), "32768");

  // "->From" needs a row; with one, the page starts at its record.
  window->GetList()->SetItemState(-1, 0, LVIS_SELECTED);
  window->ClickButton(D::IDC_BUTTON_FROM);
  EXPECT_EQ(m_script.Messages().back().text, "\n\nYou must select an item to load from...\n\n");
  EXPECT_EQ(m_script.Messages().back().caption, "Load From Item");
  const auto rows = Rows(*window->GetList());
  window->GetList()->SetItemState(5, LVIS_SELECTED, LVIS_SELECTED);
  window->ClickButton(D::IDC_BUTTON_FROM);
  ASSERT_GT(window->GetList()->GetItemCount(), 0);
  EXPECT_EQ(Rows(*window->GetList())[0].item.recordPosition, rows[5].item.recordPosition);

  // The context menu offers its four commands; Compare needs a row, then opens a compare window.
  m_script.AnswerMenu(D::ID_LINK_COMPARE);
  window->SendMessage(WM_CONTEXTMENU, 0, static_cast<LPARAM>(window->GetList()->GetSafeHwnd()));
  UiPump::Instance().PumpPending();
  EXPECT_EQ(window->GetList()->GetCompareWindow(), nullptr);
  window->GetList()->SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
  m_script.AnswerMenu(D::ID_LINK_COMPARE);
  window->SendMessage(WM_CONTEXTMENU, 0, static_cast<LPARAM>(window->GetList()->GetSafeHwnd()));
  UiPump::Instance().PumpPending();
  ASSERT_FALSE(m_script.Menus().empty());
  EXPECT_EQ(m_script.Menus().back().items, (std::vector<std::string>{"Allow/Block", "Compare", "Compare Add", "Trace", "-", "Open in Wireshark"}));
  EXPECT_NE(window->GetList()->GetCompareWindow(), nullptr);

  // Done closes what the list opened and keeps the loaded file.
  window->ClickButton(D::IDC_BUTTON_DONE);
  EXPECT_TRUE(window->IsClosed());
  window.reset();
  EXPECT_TRUE(LinkLogFiles::IsPacketLog(saved));
  EXPECT_TRUE(fs::is_empty(m_folder));
}

TEST_F(LinkWindow, NoInterfaceSelectedIsToldAndCaptureCannotStart) {
  m_env.App().WriteProfileInt("", "AdapterCurr", -1);
  _MonListMonItemDataIp link{};
  link.localAddr = Address("10.0.0.1");
  auto window = Open("TCP - 10.0.0.1:1 -> 0.0.0.0:0", &link);
  ASSERT_EQ(m_script.Messages().size(), 1u);
  EXPECT_EQ(m_script.Messages()[0].caption, "Network Card Interface");
  EXPECT_EQ(m_script.Messages()[0].text.rfind("No selected network Interface detected.\n\n", 0), 0u);
  for (int id : {D::IDC_BUTTON_START, D::IDC_BUTTON_STOP, D::IDC_BUTTON_SAVE_LOG, D::IDC_BUTTON_LOAD_LOG,
                 D::IDC_BUTTON_FROM})
    EXPECT_FALSE(Enabled(*window, id));
  EXPECT_FALSE(window->GetThread()->GetIdleMessage());
}

TEST_F(LinkWindow, LiveTcpAndUdpOnLoopbackEachMonitorKeepsItsOwnLink) {
  if (!capture_test::IsRoot()) GTEST_SKIP() << "capture needs root";
  m_env.UseAdapter(0, "lo");
  m_env.App().WriteProfileInt("", "LogPageSize", 10000);
  auto pane = capture_test::MakePane(m_env.App());
  ASSERT_NE(pane, nullptr);
  pane->ListStart();

  // A TCP connection and two UDP exchanges between local sockets.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  const int tcpPort = BoundPort(listener);
  ASSERT_EQ(listen(listener, 1), 0);
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  const int clientPort = BoundPort(client);
  sockaddr_in to = Loopback(tcpPort);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  const int server = accept(listener, nullptr, nullptr);
  const int udpA = socket(AF_INET, SOCK_DGRAM, 0), udpB = socket(AF_INET, SOCK_DGRAM, 0);
  const int udpOther = socket(AF_INET, SOCK_DGRAM, 0);
  const int portA = BoundPort(udpA), portB = BoundPort(udpB);
  BoundPort(udpOther);

  _MonListMonItemDataIp tcpLink{};
  tcpLink.localAddr = tcpLink.remoteAddr = htonl(INADDR_LOOPBACK);
  tcpLink.localPort = static_cast<std::uint32_t>(clientPort);
  tcpLink.remotePort = static_cast<std::uint32_t>(tcpPort);
  _MonListMonItemDataIp udpLink = tcpLink;
  udpLink.localPort = static_cast<std::uint32_t>(portA);
  udpLink.remotePort = static_cast<std::uint32_t>(portB);
  const std::string tcpTitle = "TCP - 127.0.0.1:" + std::to_string(clientPort) + " -> 127.0.0.1:" + std::to_string(tcpPort);
  auto tcpWindow = Open(tcpTitle, &tcpLink);
  auto udpWindow = Open("UDP - 127.0.0.1:" + std::to_string(portA) + " -> 127.0.0.1:" + std::to_string(portB), &udpLink);
  // A given link starts the capture at once.
  for (auto* window : {tcpWindow.get(), udpWindow.get()}) {
    ASSERT_TRUE(window->GetThread()->GetIdleMessage());
    EXPECT_FALSE(Enabled(*window, D::IDC_BUTTON_START));
    EXPECT_TRUE(Enabled(*window, D::IDC_BUTTON_STOP));
    EXPECT_FALSE(Enabled(*window, D::IDC_BUTTON_SET_LINK));
  }
  EXPECT_EQ(tcpWindow->GetWindowText(), "Connections Link - " + tcpTitle);

  constexpr int kMessages = 20;
  for (int i = 0; i < kMessages; ++i) {
    const std::string text = "link message " + std::to_string(i);
    ASSERT_EQ(send(client, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    char buffer[64];
    ASSERT_GT(recv(server, buffer, sizeof buffer, 0), 0);
    sockaddr_in toB = Loopback(portB), toA = Loopback(portA);
    sendto(udpA, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&toB), sizeof toB);
    sendto(udpB, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&toA), sizeof toA);
    sendto(udpOther, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&toB), sizeof toB);
  }
  IpMon* udpList = udpWindow->GetList();
  EXPECT_TRUE(capture_test::WaitUntil([&] { return udpList->GetItemCount() >= 2 * kMessages; }, 5000));
  EXPECT_TRUE(capture_test::WaitUntil([&] { return tcpWindow->GetList()->GetItemCount() >= kMessages; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  for (auto* window : {tcpWindow.get(), udpWindow.get()}) {
    window->ClickButton(D::IDC_BUTTON_STOP);
    EXPECT_TRUE(Enabled(*window, D::IDC_BUTTON_START));
    EXPECT_FALSE(Enabled(*window, D::IDC_BUTTON_STOP));
  }
  pane->ListStop();

  // Each monitor has exactly its own link's packets in both directions; the pane has them all.
  EXPECT_EQ(udpList->GetItemCount(), 2 * kMessages);
  const auto ports = [](const capture_test::Row& row) { return std::stoi(row.texts[3]) + std::stoi(row.texts[5]); };
  for (const auto& row : Rows(*udpList)) {
    EXPECT_EQ(row.texts[0], "UDP");
    EXPECT_EQ(ports(row), portA + portB);
  }
  const auto tcpRows = Rows(*tcpWindow->GetList());
  for (const auto& row : tcpRows) {
    EXPECT_EQ(row.texts[0], "TCP");
    EXPECT_EQ(ports(row), clientPort + tcpPort);
  }
  EXPECT_GE(pane->GetItemCount(), 3 * kMessages + static_cast<int>(tcpRows.size()));

  // Saving proposes the name made from the title and writes the link's packets only.
  m_script.AnswerFileDialog(m_env.File("tcp-link"));
  tcpWindow->ClickButton(D::IDC_BUTTON_SAVE_LOG);
  EXPECT_EQ(m_script.FileDialogs().back().fileName, "TCP-127-0-0-1p" + std::to_string(clientPort) + "-To-127-0-0-1p" +
                                                        std::to_string(tcpPort) + ".cnl");
  const std::string saved = m_env.File("tcp-link.cnl");
  EXPECT_EQ(tcpWindow->GetDlgItemText(D::IDC_EDIT_LOG_PATH), saved);
  EXPECT_TRUE(LinkLogFiles::IsPacketLog(saved));
  EXPECT_EQ(PacketLogFile::GetMaxRecNum(saved) > 0, !tcpRows.empty());
  EXPECT_EQ(static_cast<int>(Rows(*tcpWindow->GetList()).size()), static_cast<int>(tcpRows.size()));

  // Closing: the saved file stays, the unsaved monitor's temporary log goes.
  const std::string udpTemp = udpWindow->GetThread()->LogGet();
  tcpWindow.reset();
  udpWindow.reset();
  EXPECT_TRUE(fs::exists(saved));
  EXPECT_FALSE(fs::exists(udpTemp));
  EXPECT_TRUE(fs::is_empty(m_folder));
  for (int fd : {listener, client, server, udpA, udpB, udpOther}) close(fd);
}

TEST_F(LinkWindow, ALinkLogIsTheLogOfOneMonitorAndARefusedFileKeepsTheCurrentLog) {
  UseReplay(10);
  auto first = Open(kUdpLink, &kUdpRecord);
  auto second = Open(kUdpLink, &kUdpRecord);
  StopAfterReplay(*first);
  StopAfterReplay(*second);
  const std::string name = "UDP-10-0-0-1p1025-To-10-0-0-2p80";
  const std::string held = m_folder + "/" + name + ".cnl";
  m_script.AnswerFileDialog(held);
  first->ClickButton(D::IDC_BUTTON_SAVE_LOG);
  const auto heldSize = fs::file_size(held);
  const std::string temp = second->GetThread()->LogGet();
  const auto tempSize = fs::file_size(temp);
  ASSERT_GT(heldSize, 0u);

  // The second monitor is offered the next free name; the first one's file is refused for a save
  // and a load alike, and so is a file nobody may write.
  const std::string readOnly = m_env.File("kept.cnl");
  WriteLinkLog(readOnly, 3);
  ReadOnlyFile guard(readOnly);
  const int writable = open(readOnly.c_str(), O_RDWR);
  if (writable >= 0) close(writable);
  if (writable >= 0) GTEST_SKIP() << "a file cannot be made read-only here";
  for (const std::string& chosen : {held, held, readOnly}) m_script.AnswerFileDialog(chosen);
  second->ClickButton(D::IDC_BUTTON_SAVE_LOG);
  EXPECT_EQ(m_script.FileDialogs().back().fileName, name + "-2.cnl");
  second->ClickButton(D::IDC_BUTTON_LOAD_LOG);
  second->ClickButton(D::IDC_BUTTON_LOAD_LOG);
  ASSERT_EQ(m_script.Messages().size(), 3u);
  EXPECT_EQ(m_script.Messages()[0].text, held + " is the log of another link monitor: the current log is kept.");
  EXPECT_EQ(m_script.Messages()[1].text, m_script.Messages()[0].text);
  EXPECT_EQ(m_script.Messages()[2].text, readOnly + " is read-only: the current log is kept.");
  EXPECT_EQ(m_script.Messages()[0].caption, "Save Log");
  EXPECT_EQ(m_script.Messages()[1].caption, "Load Log");
  EXPECT_EQ(second->GetThread()->LogGet(), temp);

  // Each goes on logging to its own file, the first after saving onto it again.
  m_script.AnswerFileDialog(held);
  first->ClickButton(D::IDC_BUTTON_SAVE_LOG);
  EXPECT_EQ(m_script.Messages().size(), 3u);
  for (auto* window : {first.get(), second.get()}) {
    window->ClickButton(D::IDC_BUTTON_START);
    StopAfterReplay(*window);
  }
  EXPECT_EQ(fs::file_size(held), 2 * heldSize);
  EXPECT_EQ(fs::file_size(temp), 2 * tempSize);

  // Once the first monitor is gone its file is free.
  first.reset();
  m_script.AnswerFileDialog(held);
  second->ClickButton(D::IDC_BUTTON_LOAD_LOG);
  EXPECT_EQ(second->GetThread()->LogGet(), held);
  EXPECT_EQ(second->GetList()->GetItemCount(), 20);
}

TEST_F(LinkWindow, AMonitorWhoseLogFolderCannotBeMadeSaysSoAndOnlyDoneWorks) {
  std::ofstream(m_env.File("plain")) << "a file where the folder would go";
  const std::string folder = m_env.File("plain/ConnLogs/");
  m_env.App().WriteProfileString("", PelorinCThreadIpMon::kFolderKey, folder);
  auto window = Open(kUdpLink, &kUdpRecord);
  ASSERT_EQ(m_script.Messages().size(), 1u);
  EXPECT_NE(m_script.Messages()[0].text.find(folder), std::string::npos);
  for (const DialogItem& item : D::MakeTemplate().items)
    EXPECT_TRUE(item.kind != WindowKind::Button || Enabled(*window, item.id) == (item.id == D::IDC_BUTTON_DONE))
        << item.text;
  // Each command, reached however, finds no list and does nothing.
  for (void (DlgIpMon::*command)() :
       {&D::OnStartMonitor, &D::OnStopMonitor, &D::OnClear, &D::OnSaveLog, &D::OnLoadLog, &D::OnLoadPage,
        &D::OnLoadFrom, &D::OnFind, &D::OnSetLink, &D::OnFeed, &D::OnExportLog, &D::OnApplyRange, &D::OnCompareAdd,
        &D::OnTrace, &D::OnAllowBlock, &D::OnDone})
    (window.get()->*command)();
  EXPECT_EQ(m_script.Messages().size() + m_script.FileDialogs().size() + m_script.ModalCaptions().size(), 1u);
  EXPECT_TRUE(window->IsClosed());
}

TEST_F(LinkWindow, ClearWithCaptureStoppedComesAfterAPendingReloadAndKeepsTheLog) {
  UseReplay(30);
  auto window = Open(kUdpLink, &kUdpRecord);
  StopAfterReplay(*window);
  IpMon* list = window->GetList();
  PelorinCThreadIpMon* thread = window->GetThread();
  const auto logSize = fs::file_size(thread->LogGet());
  m_script.OnNextModal([](Dialog& d) {
    auto& pages = dynamic_cast<DlgPelorinLogPages&>(d);
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return !pages.IsListing(); }, 5000));
    d.DoubleClickListItem(DlgPelorinLogPages::IDC_LIST_PAGES, 0);
  });
  window->ClickButton(D::IDC_BUTTON_LOAD_PAGE);
  ASSERT_EQ(list->GetItemCount(), 30);
  window->ClickButton(D::IDC_BUTTON_CLEAR);
  EXPECT_EQ(list->GetItemCount(), 0);

  // A reload asked for just before: the clear takes the rows it brings.
  list->LoadLastLog(-1);
  window->ClickButton(D::IDC_BUTTON_CLEAR);
  ASSERT_TRUE(capture_test::WaitUntil([&] { return !thread->IsLogLast(); }, 5000));
  EXPECT_EQ(list->GetItemCount(), 0);
  EXPECT_EQ(fs::file_size(thread->LogGet()), logSize);
  list->Reload(-1);
  EXPECT_EQ(list->GetItemCount(), 30);
}
