#pragma once
#include <string>

#include "common/WinTypes.h"

// A view of the interface file shared with the firewall engine and every other attached
// console. The file is opened read-write (created when missing, never truncated), grown to
// the mapping size and mapped shared.
//
// "The mapping already existed" means another attachment holds it: every attachment holds a
// shared lock on the file while attached, and an attach that can first take that lock
// exclusively is the creator and zero-fills the block. The decision is serialised by a short
// record lock on the file's first byte, so two attaches racing each other cannot both
// believe they created the block. Both locks belong to the open file, so a second attachment
// in the same process counts like one from another process.
//
// Another process may shrink the file under the view. The view is then given up for zeroed
// memory of this process, so it reads as a block without an engine and no access faults: the
// size is checked before each use (MemCheckView), and a fault on a view that shrank between
// that check and the access is turned into the same swap.
class CRamparointerfaceMem {
 public:
  CRamparointerfaceMem();
  CRamparointerfaceMem(std::string name, std::string file);
  virtual ~CRamparointerfaceMem();
  CRamparointerfaceMem(const CRamparointerfaceMem&) = delete;
  CRamparointerfaceMem& operator=(const CRamparointerfaceMem&) = delete;

  virtual std::string MemSetMemName(const std::string& name);
  virtual std::string MemSetMemNameForce(const std::string& name);
  virtual std::string MemGetMemName() const;
  virtual void MemSetMemFile(const std::string& file);
  virtual std::string MemGetMemFile() const;
  // The view of the whole mapping, or nullptr. Stores 1 in *created when this attach created
  // the block (and zero-filled it), 0 when it joined an existing one.
  virtual void* MemAttach(int* created);
  // Unmaps, drops the locks and closes the file; always returns 1.
  virtual int MemDetach();

  // The system's text for an error number (of errno when code is 0); it becomes the last
  // error text.
  std::string GetErrorMsg(DWORD code);

  void* MemGetView() const { return m_view; }
  int MemIsCreated() const { return m_created; }
  // The console clears this after it has started the engine, so that its later detach leaves
  // the block the engine now uses intact.
  void MemSetCreated(int created) { m_created = created; }
  int MemIsAttached() const { return m_attached; }
  int MemGetLastResult() const { return m_lastResult; }
  // False when the file no longer backs the part of the block that is used; the view then
  // reads as zeros from now on. Also false without a view.
  bool MemCheckView();
  // The view was swapped for zeroed memory because the file shrank under it.
  bool MemIsLost() const;
  const std::string& MemGetLastError() const { return m_lastError; }

 private:
  void* FailAttach(int error);  // sets the error text, undoes the partial attach
  void ForgetView();            // unregisters and unmaps the view

  std::string m_memName;
  std::string m_memFile;
  void* m_view = nullptr;
  int m_viewSlot = -1;     // where the fault handler finds the view
  bool m_mapping = false;  // the shared lock that marks this attachment is held
  int m_created = 0;
  int m_lastResult = 0;
  int m_attached = 0;
  int m_file = -1;  // descriptor of the interface file
  int m_fileOpen = 0;
  std::string m_lastError;
};
