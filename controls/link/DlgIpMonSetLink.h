#pragma once
#include <string>

#include "ui/Dialog.h"

class AppProfile;

// The modal "Set Connections Link" dialog: two end points, each an address (IPv4 or IPv6) and a
// port, to monitor. It starts with the values saved last and saves all four on "OK"; two
// addresses of different families are refused there (0.0.0.0 is no address and goes with both).
class DlgIpMonSetLink : public Dialog {
 public:
  static constexpr int IDD = 2007;
  static constexpr int IDC_IP_FROM = 2088;
  static constexpr int IDC_IP_TO = 2089;
  static constexpr int IDC_EDIT_FROM_PORT = 2090;
  static constexpr int IDC_EDIT_TO_PORT = 2091;
  static constexpr int kPortLimit = 7;      // characters
  static constexpr int kValueLimit = 255;   // characters saved per value
  static constexpr char kCaption[] = "Set Connections Link";
  static constexpr char kMixedText[] =
      "The 'From' and 'To' Ip Addresses must be of one kind:\nboth IPv4 or both IPv6.\n\n";

  DlgIpMonSetLink(Window* parent, AppProfile* app);

  static DialogTemplate MakeTemplate();
  bool OnInitDialog() override;
  void OnOK() override;

  // What OK took from the controls.
  const std::string& From() const { return m_from; }
  const std::string& FromPort() const { return m_fromPort; }
  const std::string& To() const { return m_to; }
  const std::string& ToPort() const { return m_toPort; }

 private:
  AppProfile* m_app;
  std::string m_from, m_fromPort, m_to, m_toPort;
};
