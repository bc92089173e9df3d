#pragma once
#include <cstdint>

#include "ui/Dialog.h"

class AppProfile;

// The firewall settings of the console key "IpRamparo": the block refresh interval, whether
// blocks are logged, which protocols are blocked, the directions, and the engine's options.
// OK writes every value as a 32-bit number.
class DlgIpRamparoProperties : public Dialog {
 public:
  static constexpr int IDD = 139;
  static constexpr int IDC_EDIT_INTERVAL = 1390;
  static constexpr int IDC_CHECK_LOG = 1391;
  static constexpr int IDC_CHECK_TCP = 1392;
  static constexpr int IDC_CHECK_UDP = 1393;
  static constexpr int IDC_CHECK_ICMP = 1394;
  static constexpr int IDC_CHECK_ALL = 1395;
  static constexpr int IDC_RADIO_INCOMING = 1396;  // direction 1
  static constexpr int IDC_RADIO_OUTGOING = 1397;  // direction 2
  static constexpr int IDC_RADIO_BOTH = 1398;      // direction 3
  static constexpr int IDC_CHECK_INTERFACE = 1399;
  static constexpr int IDC_CHECK_NO_PORT_MONITOR = 1400;

  // consoleKey: the "IpRamparo" key; it must outlive the dialog.
  DlgIpRamparoProperties(Window* parent, const AppProfile& consoleKey);
  ~DlgIpRamparoProperties() override;

  static DialogTemplate MakeTemplate();

  bool OnInitDialog() override;
  void OnOK() override;
  // "Block All Protocols" sets the three protocols; a protocol changed while it is on clears it.
  void OnBlockAll();
  void OnProtocol();

  // "Log Blocks" as OK stored it.
  std::int32_t GetLogBlocks() const { return m_logBlocks; }

 private:
  const AppProfile& m_consoleKey;
  std::int32_t m_logBlocks = 1;
};
