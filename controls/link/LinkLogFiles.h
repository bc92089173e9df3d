#pragma once
#include <string>

// The names and checks of connection link log files (".cnl"), which are packet logs holding one
// link's packets.
class LinkLogFiles {
 public:
  static constexpr char kExtension[] = ".cnl";
  static constexpr char kFilterName[] = "Connection Monitor Logs";
  static constexpr char kFilterPattern[] = "*.cnl";

  // The name a link monitor proposes for its title: blanks removed, "." to "-", "ConnectionsLink-"
  // removed, ":" to "p", "->" to "-To-", then ".cnl".
  // "Connections Link - TCP - 10.0.0.1:1025 -> 10.0.0.2:80" gives
  // "TCP-10-0-0-1p1025-To-10-0-0-2p80.cnl".
  static std::string DefaultName(const std::string& title);
  // Appends ".cnl" to a name that does not contain it.
  static std::string MakeCnlFileName(const std::string& name);
  // The rule for names the user chose: the name contains ".cnl".
  static bool IsCnlName(const std::string& name);
  // A file is a packet log when it opens and its records run, each valid, exactly to its end
  // (an empty file is a log without records).
  static bool IsPacketLog(const std::string& path);
  // Copies from to to through a temporary file beside to, so that a failed copy leaves to as it
  // was. False when nothing was copied.
  static bool Copy(const std::string& from, const std::string& to);
};
