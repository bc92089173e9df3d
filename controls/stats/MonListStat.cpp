#include "controls/stats/MonListStat.h"

#include <memory>

namespace {

// Inserted in this order; "Est.Connects" is inserted last but shown second (sub-item 1).
constexpr StatColumn kColumns[] = {
    {"Type", 0, 25},       {"Connects", 2, 25},     {"Receive", 3, 50},    {"Send", 4, 50},
    {"ReSend", 5, 25},     {"Err", 6, 15},          {"Out Rsts", 7, 15},   {"Active Op.", 8, 15},
    {"Passive Op.", 9, 15}, {"Failed Op.", 10, 15}, {"Est.Connects", 1, 15}};

}  // namespace

MonListStat::MonListStat(AppProfile* app, std::string caption) : MonListStatBase(app, std::move(caption)) {}

MonListStat::~MonListStat() { ProcessClose(); }

LONG MonListStat::MonListCreate(Window* parent, UINT id, const Rect& rect) {
  return CreatePane(parent, id, rect, "ScanStats", kColumns);
}

std::unique_ptr<PelorinCThreadStatBase> MonListStat::NewWorker() {
  return std::make_unique<MonListStatCWinThread>(this);
}

MonListStatCWinThread* MonListStat::GetStatsThread() const {
  return static_cast<MonListStatCWinThread*>(GetStatThread());
}
