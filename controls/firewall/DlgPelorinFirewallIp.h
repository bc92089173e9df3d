#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "common/FirewallRule.h"
#include "common/MonListMonItemDataIp.h"
#include "ui/Dialog.h"
#include "ui/ListNotify.h"

class AppProfile;
class CRampaMem;
class ListControl;

// The modal "Pelorin Firewall Properties" dialog, the editor of the firewall rule file named by
// the profile value "PelorinFirewallCfgFileCurrent". It lists the rules, adds, edits and deletes
// them, writes the whole file after every change and, while the engine is present and
// filtering, asks it to take the file up again (request 1124).
//
// Opened with a row of the connections or packet pane, the row's address prefills the new rule.
// Every rule it writes is a blocking rule over the range From .. To, both IPv4 or both IPv6.
class DlgPelorinFirewallIp : public Dialog {
 public:
  static constexpr int IDD = 133;  // dialog template number
  static constexpr int IDC_LIST_RULES = 1330;
  static constexpr int IDC_EDIT_NAME = 1331;
  static constexpr int IDC_IP_FROM = 1332;
  static constexpr int IDC_IP_TO = 1333;
  static constexpr int IDC_CHECK_ACTIVE = 1334;
  static constexpr int IDC_RADIO_ALLOW = 1335;  // created hidden and disabled
  static constexpr int IDC_RADIO_BLOCK = 1336;  // created hidden and disabled
  static constexpr int IDC_BUTTON_SAVE = 1337;
  static constexpr int IDC_BUTTON_ADD = 1338;
  static constexpr int IDC_BUTTON_DELETE = 1339;
  static constexpr int IDC_BUTTON_RESET = 1340;
  static constexpr int IDC_BUTTON_DONE = IDOK;

  static constexpr int kNameLimit = 30;           // characters of a rule name
  static constexpr std::size_t kMaxRows = 65536;  // rules a load shows at most
  static constexpr char kDefaultRuleFile[] = "PelorinFirewallCfgFile.cfg";
  static constexpr char kActive[] = "Active";
  static constexpr char kNotActive[] = "Not Active";
  static constexpr char kLockedCaption[] = "Configuration File Locked";
  static constexpr char kLoadLockedText[] =
      "Your requested to load current Ip settings.\n\nThere seems to be a problem opening the configuration "
      "file.\nIt may be locked for reading by the firewall...OR...\nit may not yet exist.\n\n";
  static constexpr char kSaveLockedText[] =
      "Your requested to save current Ip settings.\n\nThere seems to be a problem opening the configuration "
      "file.\nIt may be locked for reading by the firewall.\n\n";
  static constexpr char kUnreadText[] =
      "Your requested to change the current Ip settings.\n\nThe configuration file could not be read, so no "
      "change is saved:\na save now would replace every rule in it.\n\nTry again once the firewall has let go "
      "of the file.\n\n";
  static constexpr char kInvalidCaption[] = "Invalid Rule";
  static constexpr char kInvalidText[] = "You must select a 'From' Ip Address.\n\n";
  static constexpr char kMixedText[] =
      "The 'From' and 'To' Ip Addresses must be of one kind:\nboth IPv4 or both IPv6.\n\n";

  // row: the item data of a connections or packet row whose addresses prefill the new rule
  // (the address of interest at offset 4), or null. It is copied.
  DlgPelorinFirewallIp(Window* parent, AppProfile* application, const _MonListMonItemDataIp* row = nullptr);
  ~DlgPelorinFirewallIp() override;

  // Prefills From with an IPv6 address (16 bytes, network order) instead of the row's IPv4 one.
  void SetPrefill6(const std::uint8_t* address);

  static DialogTemplate MakeTemplate();

  void RuleFileGet();
  // False when the file exists but could not be read: the list is empty then, and nothing is
  // written until a later load succeeds. A missing file is an empty rule list.
  bool RuleFileLoad();
  // False when the file could not be written (the list keeps the change), or when the rules
  // were never read (nothing is written then).
  bool RuleFileUpdate();
  void AddRule();
  void EditRule();
  void SaveRule();
  void DeleteRule();
  void Reset();
  // The engine's interface file from the registry, and the dialog's own channel attached to it.
  void GetMem();
  void ListCreate();
  // Forwarded to the channel only while it has a view showing the engine present; else 0 / null.
  int SendEngineMessage(std::int32_t code, std::uint32_t wparam, std::int32_t lparam, int wait);
  std::uint8_t* SendEngineMessageWithReturn(std::int32_t code, std::uint32_t wparam, std::int32_t lparam, int wait);

  bool OnInitDialog() override;

  const std::string& GetRuleFilePath() const { return m_ruleFilePath; }
  const std::string& GetInterfaceFile() const { return m_interfaceFile; }
  int GetSelectedRow() const { return m_selectedRow; }
  int GetRuleCount() const { return m_ruleCount; }
  bool IsEditing() const { return m_editing != 0; }
  bool IsLoaded() const { return m_loaded; }
  // The record a list row stands for, as the file holds it.
  _FirewallRule RowRule(int row) const;

 protected:
  bool OnNotify(int controlId, int code, const ListNotify& notify, LRESULT* result) override;

 private:
  struct Fields {
    std::string name, from, to;
    bool active = false;
  };
  ListControl* List() const;
  Fields TakeFields() const;
  // The From address is given and both addresses are of one family; says so when not.
  bool CheckFields(const Fields& fields);
  void SetRow(int row, const Fields& fields);
  void ClearFields();
  void SetEditButtons(bool editing);
  void FocusName();
  // Empties the list and the selection.
  void ClearRows();
  // The address columns grow to show the whole of a row's range texts (IPv6 ones are long).
  void FitAddressColumns(int row);
  bool LoadRules(bool tellFailure);
  // The rules are known: read before, or read again now. Says so when they are not.
  bool EnsureLoaded();
  // Request 1124 when the engine is present and filtering.
  void TellEngine();

  AppProfile* m_application = nullptr;
  std::string m_ruleFilePath;
  int m_selectedRow = -1;
  int m_ruleCount = 0;
  int m_editing = 0;
  bool m_loaded = false;  // the list holds the file's rules, so a write loses none
  _MonListMonItemDataIp m_prefill{};
  bool m_hasPrefill = false;
  std::string m_prefill6;  // IPv6 text of the prefill, else empty
  std::unique_ptr<CRampaMem> m_channel;
  void* m_channelView = nullptr;
  std::string m_interfaceFile;
};
