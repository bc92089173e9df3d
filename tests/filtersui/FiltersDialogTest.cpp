#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/AddressText.h"
#include "common/Messages.h"
#include "controls/packets/DlgPelorinFilters.h"
#include "controls/packets/DlgPelorinFiltersIds.h"
#include "controls/packets/PacketFilterFile.h"
#include "platform/FileContents.h"
#include "ui/IpAddressControl.h"
#include "ui/ListBox.h"
#include "ui/HelpFile.h"
#include "ui/ScriptedServices.h"
#include "ui/UiPump.h"

using namespace FiltersIds;

namespace {

const char kPath[] = "\\Software\\DunmereIncProducts\\Setup\\PelorinPro";
const char kKey[] = "Software\\DunmereIncProducts\\Setup\\PelorinPro\\Filters";

// Applies by saving, as the packet pane's dialog does while no capture runs.
class SavingFilters : public DlgPelorinFilters {
 public:
  explicit SavingFilters(Window* owner) : DlgPelorinFilters(owner, nullptr, nullptr, kPath) {}
  void OnButtonApply() override { ++applies, SaveFilters(); }
  int applies = 0;
};

class Owner : public Window {
 public:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_PELORIN_CLOSE_WINDOW) closeRequests.push_back(static_cast<HWND>(lParam));
    return Window::WindowProc(message, wParam, lParam);
  }
  std::vector<HWND> closeRequests;
};

class FiltersDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelorin-filtersui-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
    setenv("PELORIN_REGISTRY", (m_folder + "/registry.reg").c_str(), 1);
    ASSERT_TRUE(m_owner.Create("owner", WS_VISIBLE, Rect{0, 0, 800, 600}, nullptr, 0));
  }
  void TearDown() override {
    unsetenv("PELORIN_REGISTRY");
    std::filesystem::remove_all(m_folder);
  }
  std::optional<RegistryValue> Value(const std::string& name) { return Registry(m_folder + "/registry.reg").GetValue(kKey, name); }
  static std::vector<std::string> Lines(Dialog& d, int listId) { return d.GetDlgItemAs<ListBox>(listId)->Lines(); }
  static void Add(Dialog& d, int fieldId, const std::string& text) {
    d.TypeInto(fieldId, text);
    ASSERT_TRUE(d.ClickButton(fieldId + 1));
  }
  const std::string& LastMessage() { return m_services.Messages().back().text; }
  // Every part of a filter file in use, the lists in the order the sorted lists show them.
  static PacketFilterSet FullSet() {
    PacketFilterSet set;
    set.List(FilterList::SourceIpMustNotBe) = {InetAddr("10.0.0.1"), InetAddr("10.0.0.2")};
    set.List(FilterList::DestPortMustBe) = {443, 80};
    set.eitherAddress = InetAddr("192.168.0.1");
    set.eitherPort = 53;
    set.minSize = 40;
    set.maxSize = 1400;
    set.other = false;
    set.mustContain = "GET";
    set.mustNotContain = "POST";
    return set;
  }

  std::string m_folder;
  ScriptedServices m_services;
  Owner m_owner;
};

}  // namespace

TEST_F(FiltersDialog, TypedFiltersApplyAsExactRegistryValuesAndOkClosesThroughTheOwner) {
  SavingFilters dialog(&m_owner);
  ASSERT_TRUE(dialog.IsWindowVisible());
  Add(dialog, IDC_EDIT_SIMB, "192.168.1.1");
  Add(dialog, IDC_EDIT_SIMB, "10.0.0.5");
  Add(dialog, IDC_EDIT_SIMB, "2001:DB8:0:0::1");  // kept in its shortest text
  Add(dialog, IDC_EDIT_DPMNB, "8080");
  Add(dialog, IDC_EDIT_DPMNB, "443");
  Add(dialog, IDC_EDIT_SPMB, "");  // an empty port is listed, never saved
  EXPECT_EQ(Lines(dialog, IDC_LIST_SPMB), std::vector<std::string>{""});
  dialog.TypeInto(IDC_IPADDRESS_OR, "10.1.2.3");
  dialog.TypeInto(IDC_EDIT_ORPORT, "53");
  dialog.TypeInto(IDC_EDIT_MINSIZE, "60");
  dialog.TypeInto(IDC_EDIT_MUSTCONTAIN, "GET /");
  dialog.ClickButton(IDC_CHECK_UDP);
  ASSERT_TRUE(dialog.ClickButton(IDC_BUTTON_APPLY));

  EXPECT_EQ(Value("SourceIpMustBe"), RegistryValue::Binary({10, 0, 0, 5, 192, 168, 1, 1}));
  EXPECT_EQ(Value("SourceIpMustBeCount"), RegistryValue::String("2"));
  EXPECT_EQ(Lines(dialog, IDC_LIST_SIMB), (std::vector<std::string>{"10.0.0.5", "192.168.1.1", "2001:db8::1"}));
  EXPECT_EQ(Value("SourceIp6MustBe"),
            RegistryValue::Binary({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(Value("SourceIp6MustBeCount"), RegistryValue::String("1"));
  EXPECT_EQ(Value("DestPortMustNotBe"), RegistryValue::Binary({0xBB, 0x01, 0, 0, 0x90, 0x1F, 0, 0}));
  EXPECT_EQ(Value("SourcePortMustBe"), RegistryValue::Binary({}));
  EXPECT_EQ(Value("SourcePortMustBeCount"), RegistryValue::String("0"));
  EXPECT_EQ(Value("OrIp"), RegistryValue::Dword(InetAddr("10.1.2.3")));
  EXPECT_EQ(Value("OrPort"), RegistryValue::Dword(53));
  EXPECT_EQ(Value("MinPacketSize"), RegistryValue::Dword(60));
  EXPECT_EQ(Value("MaxPacketSize"), RegistryValue::Dword(0));
  EXPECT_EQ(Value("UDP"), RegistryValue::Dword(0));
  EXPECT_EQ(Value("TCP"), RegistryValue::Dword(1));
  EXPECT_EQ(Value("MustContain"), RegistryValue::String("GET /"));

  // An either-end IPv6 address takes the place of the IPv4 one.
  dialog.TypeInto(IDC_IPADDRESS_OR, "fe80::1");
  ASSERT_TRUE(dialog.ClickButton(IDC_BUTTON_APPLY));
  EXPECT_EQ(Value("OrIp"), RegistryValue::Binary({}));
  EXPECT_EQ(Value("OrIp6"), RegistryValue::Binary({0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));

  // Cleared fields clear their values; OK applies once more and asks the owner to close.
  dialog.SetDlgItemText(IDC_IPADDRESS_OR, "");
  dialog.TypeInto(IDC_EDIT_ORPORT, "0");
  ASSERT_TRUE(dialog.ClickButton(IDOK));
  EXPECT_EQ(dialog.applies, 3);
  EXPECT_EQ(Value("OrIp"), RegistryValue::Binary({}));
  EXPECT_FALSE(Value("OrIp6").has_value());
  EXPECT_EQ(Value("OrPort"), RegistryValue::Binary({}));
  EXPECT_FALSE(dialog.IsShown());
  UiPump::Instance().PumpPending();
  EXPECT_EQ(m_owner.closeRequests, std::vector<HWND>{dialog.GetSafeHwnd()});
}

TEST_F(FiltersDialog, OpeningAndReLoadShowTheRegistryAndDamageIsReported) {
  PacketFilterSet set;
  set.List(FilterList::DestIpMustBe) = {InetAddr("172.16.0.9"), InetAddr("8.8.8.8")};
  set.List(FilterList::SourcePortMustNotBe) = {22, 0xFFFFFFFFu};
  set.eitherAddress = InetAddr("10.0.0.5");
  set.eitherPort = 0;  // present but zero: not shown
  set.maxSize = 1500;
  set.tcp = false;
  set.mustNotContain = "secret";
  ASSERT_TRUE(PacketFilterStore(kPath).Save(set).Ok());

  SavingFilters dialog(&m_owner);
  auto shown = [&] {
    EXPECT_EQ(Lines(dialog, IDC_LIST_DIMB), (std::vector<std::string>{"172.16.0.9", "8.8.8.8"}));
    EXPECT_EQ(Lines(dialog, IDC_LIST_SPMNB), (std::vector<std::string>{"-1", "22"}));
    EXPECT_EQ(dialog.GetDlgItemText(IDC_IPADDRESS_OR), "10.0.0.5");
    EXPECT_EQ(dialog.GetDlgItemText(IDC_EDIT_ORPORT), "");
    EXPECT_EQ(dialog.GetDlgItemText(IDC_EDIT_MINSIZE), "");
    EXPECT_EQ(dialog.GetDlgItemText(IDC_EDIT_MAXSIZE), "1500");
    EXPECT_EQ(dialog.IsDlgButtonChecked(IDC_CHECK_TCP), BST_UNCHECKED);
    EXPECT_EQ(dialog.IsDlgButtonChecked(IDC_CHECK_OTHER), BST_CHECKED);
    EXPECT_EQ(dialog.GetDlgItemText(IDC_EDIT_MUSTNOTCONTAIN), "secret");
  };
  shown();
  // Edits not applied give way to the registry's filters; lists are replaced, not added to.
  Add(dialog, IDC_EDIT_DIMB, "1.1.1.1");
  dialog.TypeInto(IDC_EDIT_MAXSIZE, "99");
  ASSERT_EQ(dialog.GetFilters(), S_OK);
  shown();
  Add(dialog, IDC_EDIT_DIMB, "1.1.1.1");
  ASSERT_TRUE(dialog.ClickButton(IDC_BUTTON_REFRESH));
  shown();
  EXPECT_TRUE(m_services.Messages().empty());

  // A damaged key is refused with its reason; Re-Load's reset stands, the rest is untouched.
  Registry(m_folder + "/registry.reg").SetValue(kKey, "DestIpMustBeCount", RegistryValue::String("51"));
  ASSERT_TRUE(dialog.ClickButton(IDC_BUTTON_REFRESH));
  ASSERT_EQ(m_services.Messages().size(), 1u);
  EXPECT_NE(LastMessage().find("DestIpMustBe"), std::string::npos);
  EXPECT_TRUE(Lines(dialog, IDC_LIST_DIMB).empty());
  EXPECT_EQ(dialog.GetDlgItemText(IDC_EDIT_MAXSIZE), "1500");

  EXPECT_FALSE(dialog.TypeInto(IDC_EDIT_SPMB, "8o8o1234567890"));  // digits only, 10 at most
  EXPECT_EQ(dialog.GetDlgItemText(IDC_EDIT_SPMB), "8812345678");
  EXPECT_TRUE(dialog.PressHelp());
  EXPECT_EQ(m_services.HelpFiles(), std::vector<std::string>{HelpFilePath()});
}

TEST_F(FiltersDialog, ListsStopAtFiftyDelGivesTheEntryBackAndResetAllKeepsTheFields) {
  SavingFilters dialog(&m_owner);
  for (int port = 1; port <= 51; ++port) Add(dialog, IDC_EDIT_DPMB, std::to_string(port));
  ASSERT_EQ(m_services.Messages().size(), 1u);
  EXPECT_EQ(LastMessage(), "Maximum list items cannot exceed : 50\n\n");
  EXPECT_EQ(m_services.Messages()[0].caption, "Max items exceeded");
  EXPECT_EQ(Lines(dialog, IDC_LIST_DPMB).size(), 50u);

  Add(dialog, IDC_EDIT_SIMB, "10.0.0.1");
  EXPECT_EQ(Window::GetFocus(), dialog.GetDlgItem(IDC_EDIT_SIMB));
  Add(dialog, IDC_EDIT_SIMB, "10.0.0.2");
  ASSERT_TRUE(dialog.SelectListItem(IDC_LIST_SIMB, 1));
  ASSERT_TRUE(dialog.ClickButton(IDC_BUTTON_SIMBDEL));
  EXPECT_EQ(Lines(dialog, IDC_LIST_SIMB), std::vector<std::string>{"10.0.0.1"});
  EXPECT_EQ(dialog.GetDlgItemText(IDC_EDIT_SIMB), "10.0.0.2");
  EXPECT_EQ(Window::GetFocus(), dialog.GetDlgItem(IDC_LIST_SIMB));
  ASSERT_TRUE(dialog.ClickButton(IDC_BUTTON_SIMBDEL));  // nothing selected: nothing removed
  EXPECT_EQ(Lines(dialog, IDC_LIST_SIMB).size(), 1u);

  dialog.SetToControls(FullSet());
  ASSERT_TRUE(dialog.ClickButton(IDC_BUTTON_RESETALL));
  PacketFilterSet kept = FullSet();
  kept.lists = {};
  kept.eitherAddress.reset();
  kept.other = true;
  EXPECT_EQ(dialog.ControlsToSet(), kept);
}

TEST_F(FiltersDialog, SaveAsWritesTheFileAndTheRegistryAlike) {
  SavingFilters dialog(&m_owner);
  dialog.SetToControls(FullSet());
  m_services.AnswerFileDialog(m_folder + "/office");  // the name gets ".flt"
  ASSERT_TRUE(dialog.ClickButton(IDC_BUTTON_SAVEAS));
  EXPECT_EQ(dialog.applies, 1);
  const FileDialogRequest& request = m_services.FileDialogs().at(0);
  EXPECT_FALSE(request.open);
  EXPECT_EQ(request.filter, "Filter Files|*.flt||");
  EXPECT_EQ(request.initialDir, (std::filesystem::current_path() / "Filters").string());
  PacketFilterSet fromFile, fromRegistry;
  ASSERT_TRUE(PacketFilterFile::Read(m_folder + "/office.flt", fromFile).Ok());
  ASSERT_TRUE(PacketFilterStore(kPath).Read(fromRegistry).Ok());
  EXPECT_EQ(fromFile, FullSet());
  EXPECT_EQ(fromRegistry, fromFile);

  m_services.AnswerFileDialog(m_folder + "/missing/x.flt");
  dialog.ClickButton(IDC_BUTTON_SAVEAS);
  ASSERT_EQ(m_services.Messages().size(), 1u);
  EXPECT_EQ(m_services.Messages()[0].caption, "Save As");
  std::string name;
  EXPECT_EQ(dialog.MakeFilterFileName("", &name), E_UNEXPECTED);
  ASSERT_EQ(dialog.MakeFilterFileName("/x.flt.d/b", &name), S_OK);
  EXPECT_EQ(name, "/x.flt.d/b.flt");
}

TEST_F(FiltersDialog, LoadFiltersTakesNamesWithFltAndRefusesDamagedFilesAfterResetting) {
  const std::string full = PacketFilterFile::Encode(FullSet());
  std::string tooMany = PacketFilterFile::Encode(PacketFilterSet{});
  tooMany[0] = 51;
  ASSERT_TRUE(ReplaceFileContents(m_folder + "/a.flt.bak", full));
  ASSERT_TRUE(ReplaceFileContents(m_folder + "/x.txt", full));
  ASSERT_TRUE(ReplaceFileContents(m_folder + "/many.flt", tooMany));
  ASSERT_TRUE(ReplaceFileContents(m_folder + "/short.flt", full.substr(0, full.size() - 2)));
  SavingFilters dialog(&m_owner);
  Add(dialog, IDC_EDIT_SIMB, "1.1.1.1");

  m_services.AnswerFileDialog(m_folder + "/x.txt");
  ASSERT_TRUE(dialog.ClickButton(IDC_BUTTON_LOADFILTERS));
  EXPECT_EQ(LastMessage(), "Invalid Filters File ( .flt ).");
  EXPECT_EQ(m_services.Messages().back().caption, "Invalid entry");
  EXPECT_EQ(Lines(dialog, IDC_LIST_SIMB), std::vector<std::string>{"1.1.1.1"});
  EXPECT_NE(m_services.FileDialogs().at(0).flags & OFN_FILEMUSTEXIST, 0u);

  m_services.AnswerFileDialog(m_folder + "/a.flt.bak");
  ASSERT_TRUE(dialog.ClickButton(IDC_BUTTON_LOADFILTERS));
  EXPECT_EQ(m_services.Messages().size(), 1u);
  EXPECT_EQ(dialog.ControlsToSet(), FullSet());
  EXPECT_EQ(dialog.applies, 0);
  EXPECT_FALSE(std::filesystem::exists(m_folder + "/registry.reg"));  // nothing applied yet

  // Each refusal gives its reason and leaves the controls as "Reset All" did.
  PacketFilterSet reset = FullSet();
  reset.lists = {};
  reset.eitherAddress.reset();
  reset.other = true;
  for (std::string file : {"many.flt", "short.flt", "gone.flt"}) {
    dialog.SetToControls(FullSet());
    m_services.AnswerFileDialog(m_folder + "/" + file);
    ASSERT_TRUE(dialog.ClickButton(IDC_BUTTON_LOADFILTERS));
    EXPECT_EQ(m_services.Messages().back().caption, "Load Filters") << file;
    EXPECT_EQ(dialog.ControlsToSet(), reset) << file;
  }
  ASSERT_EQ(m_services.Messages().size(), 4u);
  EXPECT_NE(m_services.Messages()[1].text.find("51"), std::string::npos);
  EXPECT_NE(m_services.Messages()[2].text.find("ends early"), std::string::npos);
  EXPECT_NE(m_services.Messages()[3].text.find("cannot be opened"), std::string::npos);
}
