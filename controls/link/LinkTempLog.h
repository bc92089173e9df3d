#pragma once
#include <memory>
#include <string>

class FileLock;

// The temporary log of one link monitor: an empty file made in the connection-logs folder with
// the prefix "PETPE" (the name service keeps "PET"), a unique hex number and ".tmp".
//
// While a monitor holds its temporary log it holds a shared lock on it. A file that no monitor
// holds (a crashed run left it behind) is removed by the next monitor that makes one, once it is
// a minute old, so stale files never pile up and never stand in the way of a new name.
class LinkTempLog {
 public:
  static constexpr char kPrefix[] = "PETPE";
  static constexpr int kStaleAgeSeconds = 60;

  LinkTempLog();
  ~LinkTempLog();  // lets go of the file, which stays
  LinkTempLog(const LinkTempLog&) = delete;
  LinkTempLog& operator=(const LinkTempLog&) = delete;

  // Makes the folder when it is missing (one level), removes stale temporary logs, then makes
  // and holds a new one. Its path, or empty (an empty folder text, a folder that cannot be made
  // or written). A folder without a trailing separator gets one.
  std::string Create(std::string folder);
  const std::string& Path() const { return m_path; }
  bool IsHeld() const { return !m_path.empty(); }
  // Deletes the file held, if any.
  void Remove();

  // Removes the temporary logs in folder that no monitor holds and that are older than
  // kStaleAgeSeconds; their number.
  static int RemoveStale(const std::string& folder);

 private:
  std::string m_path;
  std::unique_ptr<FileLock> m_lock;
};
