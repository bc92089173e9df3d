#include "platform/EventSignal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

EventSignal::EventSignal() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

EventSignal::~EventSignal() {
  if (m_fd >= 0) close(m_fd);
}

void EventSignal::Set() {
  if (m_fd < 0) return;
  const std::uint64_t one = 1;
  // The counter only grows, so the descriptor stays readable; a full counter is still set.
  [[maybe_unused]] const ssize_t written = write(m_fd, &one, sizeof one);
}

bool EventSignal::IsSet() const {
  if (m_fd < 0) return false;
  pollfd entry{m_fd, POLLIN, 0};
  return poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
}
