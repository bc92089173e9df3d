#include "RamparoNftTable.h"

#include <nftables/libnftables.h>

#include <cstdlib>
#include <cstring>

RamparoNftTable::RamparoNftTable() : m_ctx(nft_ctx_new(NFT_CTX_DEFAULT)) {
  if (!m_ctx) return;
  nft_ctx_buffer_output(m_ctx);
  nft_ctx_buffer_error(m_ctx);
}

RamparoNftTable::~RamparoNftTable() {
  if (m_ctx) nft_ctx_free(m_ctx);
}

bool RamparoNftTable::Run(const std::string& batch, std::string* error) {
  if (!m_ctx) {
    if (error) *error = "libnftables could not be started";
    return false;
  }
  const bool done = nft_run_cmd_from_buffer(m_ctx, batch.c_str()) == 0;
  if (!done && error) *error = nft_ctx_get_error_buffer(m_ctx);
  return done;
}

bool RamparoNftTable::IsOwned() {
  return Run("list table inet ramparo") && std::strstr(nft_ctx_get_output_buffer(m_ctx), "\tflags owner") != nullptr;
}

bool RamparoNftTable::Counters(std::map<std::string, std::uint64_t>* packets) {
  if (!m_ctx) return false;
  const unsigned int flags = nft_ctx_output_get_flags(m_ctx);
  nft_ctx_output_set_flags(m_ctx, flags | NFT_CTX_OUTPUT_JSON);
  const bool done = Run("list counters table inet ramparo");
  nft_ctx_output_set_flags(m_ctx, flags);
  if (!done) return false;
  *packets = ParseCounters(nft_ctx_get_output_buffer(m_ctx));
  return true;
}

std::map<std::string, std::uint64_t> RamparoNftTable::ParseCounters(const std::string& json) {
  // Each counter object of the listing reads {"counter": {..., "name": "N", ..., "packets": P, ...}};
  // the names are the engine's own (letters, digits, '_'), so no escapes need reading.
  std::map<std::string, std::uint64_t> counters;
  const std::string object = "{\"counter\": {";
  for (std::size_t at = json.find(object); at != std::string::npos; at = json.find(object, at + 1)) {
    const std::size_t close = json.find('}', at + object.size());
    const std::string body = json.substr(at, close == std::string::npos ? std::string::npos : close - at);
    const std::size_t name = body.find("\"name\": \"");
    const std::size_t packets = body.find("\"packets\": ");
    if (name == std::string::npos || packets == std::string::npos) continue;
    const std::size_t nameStart = name + 9;
    const std::size_t nameEnd = body.find('"', nameStart);
    if (nameEnd == std::string::npos) continue;
    counters[body.substr(nameStart, nameEnd - nameStart)] = std::strtoull(body.c_str() + packets + 11, nullptr, 10);
  }
  return counters;
}
