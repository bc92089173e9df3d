#pragma once
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

// Places a set of files all together or not at all. New contents are written beside their
// targets first ("NAME.setup-new"); Commit moves them into place, keeping each replaced file as
// "NAME.setup-old" until Finish; Rollback, or destruction before Finish, puts back every
// replaced file and removes every file and folder the transaction made.
class FileTransaction {
 public:
  FileTransaction() = default;
  ~FileTransaction();
  FileTransaction(const FileTransaction&) = delete;
  FileTransaction& operator=(const FileTransaction&) = delete;

  static std::string StagedName(const std::string& target) { return target + ".setup-new"; }
  static std::string OldName(const std::string& target) { return target + ".setup-old"; }

  // The folder and its missing parents, created with the mode.
  bool MakeFolder(const std::string& path, mode_t mode);
  bool StageCopy(const std::string& source, const std::string& target, mode_t mode);
  bool StageBytes(const std::string& target, std::string_view bytes, mode_t mode);
  bool Commit();
  void Finish();
  void Rollback();

  // Folders this transaction created, parents first.
  const std::vector<std::string>& CreatedFolders() const { return m_createdFolders; }
  // What failed, for the message.
  const std::string& Error() const { return m_error; }

 private:
  enum class State { Staged, OldMoved, Placed };
  struct Entry {
    std::string target;
    State state = State::Staged;
    bool hadOld = false;
  };
  bool Fail(const std::string& what, const std::string& path);
  bool Stage(const std::string& target, int sourceFd, std::string_view bytes, mode_t mode);

  std::vector<Entry> m_entries;
  std::vector<std::string> m_createdFolders;
  std::string m_error;
  bool m_finished = false;
};
