#pragma once
#include <string>

#include "app/FirewallConsole.h"

class CMainFrame;
class CmdUI;

// The frame's firewall commands: the "Ramparo" menu (Attach, Start, Stop, Ip Block/Allow,
// Rules, Properties, View Log, Statistics, Processes) and the Block/Allow items of the two pane
// context menus, with their enabling rules. Every command but Attach is closed while the engine
// holds the console lock.
class FirewallMenu {
 public:
  static constexpr char kApplicationName[] = "PelorinPro";
  static constexpr char kAttachCaption[] = "FireWall Interface";
  static constexpr char kAttachText[] =
      "Following will appear an Open File window\nin which you choose the interface file of the\nIpRamparo "
      "firewall to attach to.\n\nOpen the default interface file to return\nto the firewall of this "
      "machine.\n\n            Press OK to continue...";
  static constexpr char kAnomalyCaption[] = "IpRamparo Engine Anamoly";
  static constexpr char kAnomalyText[] =
      "IpRamparo has unexpectedly not responded in a\nresonable amount of time.\n\nEnsure IpRamparo has "
      "successfully been installed.\n\nTry Starting IpRamparo again.\n\n";
  static constexpr char kRunningCaption[] = "IpRamparo Running";
  static constexpr char kRunningText[] = "IpRamparo Firewall is running.\n\nDo you want to shutdown the firewall ?\n\n";

  FirewallMenu(CMainFrame& frame, FirewallConsole& console);

  // Maps the commands and their rules on the frame.
  void Map();
  // Tests shorten the start sequence's pauses.
  void SetStartLimits(const FirewallConsole::StartLimits& limits) { m_startLimits = limits; }

  void OnAttach();
  void OnStart();
  void OnStop();
  void OnBlockAllow();
  void OnRules();
  void OnProperties();
  void OnViewLog();
  void OnStatistics();
  void OnProcesses();

 private:
  bool Installed() const { return m_console.EngineInstalled(); }
  bool Open() const { return !m_console.Locked(); }  // the engine does not hold the console lock
  bool PaneRowChosen(bool packets) const;            // the pane has the focus and a chosen row
  void UpdateRules(CmdUI& cmd);
  // Request 1137 while the engine is present and filtering.
  void TellSettings();

  CMainFrame& m_frame;
  FirewallConsole& m_console;
  FirewallConsole::StartLimits m_startLimits;
};
