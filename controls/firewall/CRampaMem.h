#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "controls/firewall/CRamparointerfaceMem.h"

class CRampaThreadAppFrame;

// The console's request slot in the block shared with the firewall engine: one request at a
// time, placed by the console and answered by the engine raising the reply flag (and filling
// the payload where a reply has data).
class CRampaMem : public CRamparointerfaceMem {
 public:
  CRampaMem();
  CRampaMem(std::string name, std::string file);
  // owner: the application or frame object. It stays in this process: a block this object
  // creates receives 0 at its owner field, never an address of ours.
  CRampaMem(void* owner, std::string name, std::string file);
  ~CRampaMem() override;

  using CRamparointerfaceMem::MemAttach;
  // Attaches; a block created here gets the owner field, the second value and the mapping
  // name. The frame argument is not used. Returns the view (the channel view) or nullptr.
  virtual void* MemAttach(CRampaThreadAppFrame* frame = nullptr);
  // A creator wipes the used part of the block before it lets go of it.
  int MemDetach() override;

  // 1 when the reply is ready (or there is no view), 0 after 50 waits of the given time.
  virtual int MemMsgWaitForReturn(std::uint32_t milliseconds);
  // 1 when the request was placed. wait 0: one attempt; otherwise up to 20 attempts 200 ms apart.
  virtual int SendEngineMessage(std::int32_t code, std::uint32_t wparam, std::int32_t lparam, int wait);
  // The payload (8192 bytes, valid until the next request) when the reply came, else nullptr.
  virtual std::uint8_t* SendEngineMessageWithReturn(std::int32_t code, std::uint32_t wparam, std::int32_t lparam,
                                                    int wait);

  // While the flag is raised every wait of a request ends at once, unanswered: a console that
  // gives up a long sequence of requests is not held by the one under way.
  void SetAbortFlag(const std::atomic<bool>* abort) { m_abort = abort; }

  // A 32-bit field of the block (engine present, filtering, the console lock ...); 0 without a
  // view or when the file no longer backs it.
  std::uint32_t MemField(std::size_t offset);

  void* MemGetChannelView() const { return m_channelView; }
  void* MemGetOwner() const { return m_owner; }

 private:
  bool TryPlace(std::int32_t code, std::uint32_t wparam, std::int32_t lparam);
  bool Aborted() const { return m_abort && m_abort->load(); }

  void* m_owner = nullptr;
  std::uint32_t m_second = 0;
  void* m_channelView = nullptr;
  const std::atomic<bool>* m_abort = nullptr;
};
