#include "ui/MouseHook.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace {

struct HookTable {
  std::mutex lock;
  std::vector<std::pair<HHOOK, MouseHook::Proc>> hooks;
  HHOOK next = 1;
};

HookTable& Hooks() {
  static HookTable table;
  return table;
}

}  // namespace

HHOOK MouseHook::Install(Proc proc) {
  HookTable& table = Hooks();
  std::lock_guard<std::mutex> lock(table.lock);
  const HHOOK hook = table.next++;
  table.hooks.emplace_back(hook, std::move(proc));
  return hook;
}

bool MouseHook::Remove(HHOOK hook) {
  HookTable& table = Hooks();
  std::lock_guard<std::mutex> lock(table.lock);
  const auto before = table.hooks.size();
  table.hooks.erase(std::remove_if(table.hooks.begin(), table.hooks.end(), [hook](const auto& entry) { return entry.first == hook; }),
                    table.hooks.end());
  return table.hooks.size() != before;
}

int MouseHook::Count() {
  HookTable& table = Hooks();
  std::lock_guard<std::mutex> lock(table.lock);
  return static_cast<int>(table.hooks.size());
}

void MouseHook::Dispatch(const MouseHookEvent& event) {
  std::vector<std::pair<HHOOK, Proc>> hooks;
  {
    HookTable& table = Hooks();
    std::lock_guard<std::mutex> lock(table.lock);
    hooks = table.hooks;
  }
  // A hook may remove itself (or another) while it runs: each is checked again before its turn.
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
    bool present;
    {
      HookTable& table = Hooks();
      std::lock_guard<std::mutex> lock(table.lock);
      present = std::any_of(table.hooks.begin(), table.hooks.end(), [&](const auto& entry) { return entry.first == it->first; });
    }
    if (present) it->second(event);
  }
}
