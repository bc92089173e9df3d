#pragma once
// Takes CAP_NET_RAW out of the calling thread's effective set for the object's life, as a window
// without capabilities runs; threads started meanwhile are born without it. The permitted set
// keeps it, so it comes back at the end; programs root starts still get it.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

class RawCapabilityScope {
 public:
  RawCapabilityScope() { m_lowered = SetEffective(false); }
  ~RawCapabilityScope() {
    if (m_lowered) SetEffective(true);
  }
  RawCapabilityScope(const RawCapabilityScope&) = delete;
  RawCapabilityScope& operator=(const RawCapabilityScope&) = delete;
  bool Lowered() const { return m_lowered; }

 private:
  static bool SetEffective(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    const unsigned word = CAP_TO_INDEX(CAP_NET_RAW);
    if (on)
      data[word].effective |= CAP_TO_MASK(CAP_NET_RAW);
    else
      data[word].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
    return syscall(SYS_capset, &header, data) == 0;
  }
  bool m_lowered = false;
};
