#pragma once
#include <memory>
#include <string>

class FileLock;

// The names and checks of connection link log files (".cnl"), which are packet logs holding one
// link's packets.
//
// A ".cnl" file is the log of at most one link monitor at a time, in this program or another
// instance of it: the monitor's thread holds an exclusive lock on the file it logs to.
class LinkLogFiles {
 public:
  static constexpr char kExtension[] = ".cnl";
  static constexpr char kFilterName[] = "Connection Monitor Logs";
  static constexpr char kFilterPattern[] = "*.cnl";
  static constexpr int kMaxNameNumber = 999;  // the last "-N" a proposed name tries

  // The name a link monitor proposes for its title: blanks and brackets removed, "." to "-", "ConnectionsLink-"
  // removed, ":" to "p", "->" to "-To-", then ".cnl".
  // "Connections Link - TCP - 10.0.0.1:1025 -> 10.0.0.2:80" gives
  // "TCP-10-0-0-1p1025-To-10-0-0-2p80.cnl".
  static std::string DefaultName(const std::string& title);
  // name (made by DefaultName) when no other monitor logs to that file in folder, else the first
  // of name with "-2", "-3", ... before ".cnl" that none does; ownLog, the asking monitor's log,
  // counts as free. name itself when every number up to kMaxNameNumber is taken.
  static std::string UnheldName(const std::string& folder, const std::string& name, const std::string& ownLog);
  // Appends ".cnl" to a name that does not contain it.
  static std::string MakeCnlFileName(const std::string& name);
  // The rule for names the user chose: the name contains ".cnl".
  static bool IsCnlName(const std::string& name);
  // A file is a packet log when it opens and its records run, each valid, exactly to its end
  // (an empty file is a log without records).
  static bool IsPacketLog(const std::string& path);
  // Both paths name one existing file.
  static bool IsSameFile(const std::string& a, const std::string& b);
  // Copies from to to through a new temporary file beside to (CreateTempFileBeside), with from's
  // permissions, so that a failed copy leaves to as it was. The copy is locked exclusively before it takes to's name, so no other monitor can take
  // the file in between: the lock returned guards the file now at to. Null when nothing was
  // copied.
  static std::unique_ptr<FileLock> Copy(const std::string& from, const std::string& to);
};
