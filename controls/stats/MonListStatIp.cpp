#include "controls/stats/MonListStatIp.h"

#include <memory>

namespace {

// Column n shows the n-th counter of the IP statistics record.
constexpr StatColumn kColumns[] = {
    {"Type", 0, 25},         {"Frwd", 1, 25},         {"Ttl", 2, 25},          {"In Receive", 3, 25},
    {"Hdr Err", 4, 25},      {"Addr Err", 5, 25},     {"Frwd Dgrams", 6, 25},  {"Unkn Prot", 7, 25},
    {"In Discards", 8, 25},  {"Delivers", 9, 25},     {"Requests", 10, 25},    {"Rte Discards", 11, 25},
    {"Out Discards", 12, 25}, {"No Rte", 13, 25},     {"Reas T/o", 14, 25},    {"Reas Rqds", 15, 25},
    {"Reas Ok", 16, 25},     {"Reas Fail", 17, 25},   {"Frag Ok", 18, 25},     {"Frag Fail", 19, 25},
    {"Frag Create", 20, 25}, {"If", 21, 25},          {"Addr", 22, 25},        {"Rte", 23, 25}};

}  // namespace

MonListStatIp::MonListStatIp(AppProfile* app, std::string caption) : MonListStatBase(app, std::move(caption)) {}

MonListStatIp::~MonListStatIp() { ProcessClose(); }

LONG MonListStatIp::MonListCreate(Window* parent, UINT id, const Rect& rect) {
  return CreatePane(parent, id, rect, "ScanStatsIp", kColumns);
}

std::unique_ptr<PelorinCThreadStatBase> MonListStatIp::NewWorker() {
  return std::make_unique<MonListStatIpCWinThread>(this);
}

MonListStatIpCWinThread* MonListStatIp::GetStatsThread() const {
  return static_cast<MonListStatIpCWinThread*>(GetStatThread());
}
