#pragma once
#include <optional>
#include <string>

#include "common/LinkAddresses6.h"
#include "common/MonListMonItemDataIp.h"
#include "controls/packets/MonListIpMon.h"

class PelorinCThreadIpMon;

// The packet list of a link monitor: the packet pane's list and commands on a capture thread
// that keeps only the link's packets (PelorinCThreadIpMon), with a log the user can save as a
// ".cnl" file or replace by one.
class IpMon : public MonListIpMon {
 public:
  static constexpr int kReloadWaitMs = 10000;  // a page reload of the log, or a clear behind one

  // What a save or a load did. Anything but Ok leaves the log as it was.
  enum class LogResult {
    Ok,
    NotALog,       // the file is not a whole packet log (load)
    OtherMonitor,  // another link monitor logs to the file
    ReadOnly,      // the file cannot be written
    NotWritten,    // the copy could not be made (save)
  };

  // link6: the addresses of an IPv6 link (see LinkFilter).
  IpMon(AppProfile* app, const _MonListMonItemDataIp& link, std::string protocol, std::string registryPath = "",
        std::optional<LinkAddresses6> link6 = std::nullopt);
  ~IpMon() override;

  // Creates the list and its link capture thread. 0, or E_FAIL with the cause in CreateFailure.
  LONG MonListCreate(Window* parent, UINT id, const Rect& rect) override;
  // Why MonListCreate failed, as a phrase for the user; empty when it did not.
  const std::string& CreateFailure() const { return m_createFailure; }
  // Closes the windows opened from the list, stops capture, ends the thread (which deletes its
  // temporary log unless a saved file is in use) and clears the rows.
  void ProcessClose() override;

  // Copies the current log to path (replacing it), makes path the log, reloads the rows from it
  // and marks the thread as using a loaded file. Saving onto the current log keeps it.
  LogResult LogSave(const std::string& path);
  // Makes path the log, reloads the rows from it and marks the thread as using a loaded file.
  LogResult LogLoad(const std::string& path);
  // Reloads one page from position (-1: the first record) and waits until the rows are in.
  void Reload(LONG position);
  // With capture stopped: the capture thread clears the rows, after any reload it was asked for
  // before, and keeps the log as it is; waits until the rows are gone.
  void ClearRows();

  PelorinCThreadIpMon* GetLinkThread() const;

 private:
  _MonListMonItemDataIp m_link;
  std::optional<LinkAddresses6> m_link6;
  std::string m_protocol;
  std::string m_createFailure;
};
