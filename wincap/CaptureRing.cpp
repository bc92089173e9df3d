#include "wincap/CaptureRing.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/if_arp.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kBlockSize = 256 * 1024;        // bytes; a block holds the largest frame
constexpr std::size_t kFallbackBuffer = 2 * 1024 * 1024;  // bytes: the capture library's own ring
constexpr std::uint32_t kVlanTagLength = 4;          // bytes the kernel takes out of a tagged frame
constexpr std::size_t kMacAddresses = 12;            // destination and source address bytes
constexpr unsigned kArphrdMetricom = 23;             // Ethernet-framed, like ARPHRD_ETHER

bool EthernetFramed(unsigned type) {
  return type == ARPHRD_ETHER || type == ARPHRD_LOOPBACK || type == kArphrdMetricom;
}

tpacket_block_desc* Descriptor(std::uint8_t* block) { return reinterpret_cast<tpacket_block_desc*>(block); }

}  // namespace

CaptureRing::~CaptureRing() { Close(); }

void CaptureRing::Close() {
  if (m_map) munmap(m_map, m_mapSize);
  if (m_socket >= 0) close(m_socket);
  m_map = nullptr;
  m_mapSize = 0;
  m_socket = -1;
  m_block = 0;
  m_left = 0;
  m_frame = nullptr;
  m_inBlock = false;
  m_received = 0;
  m_dropped = 0;
}

bool CaptureRing::Fail(std::string* error, const char* what) {
  if (error) *error = std::string(what) + ": " + std::strerror(errno);
  Close();
  return false;
}

bool CaptureRing::Open(int socket, std::size_t bufferBytes, std::uint32_t snapLength, int timeoutMs,
                       std::string* error) {
  Close();
  m_socket = socket;
  m_snapLength = snapLength;
  sockaddr_ll bound{};
  socklen_t boundSize = sizeof bound;
  if (getsockname(m_socket, reinterpret_cast<sockaddr*>(&bound), &boundSize) != 0) return Fail(error, "not a socket");
  if (bound.sll_family != AF_PACKET || bound.sll_ifindex <= 0) {
    errno = EINVAL;
    return Fail(error, "not a packet socket of an interface");
  }
  if (!EthernetFramed(bound.sll_hatype)) {
    if (error) *error = "link layer is not Ethernet";
    Close();
    return false;
  }
  const int ifindex = bound.sll_ifindex;
  m_loopback = bound.sll_hatype == ARPHRD_LOOPBACK;

  int version = TPACKET_V3;
  if (setsockopt(m_socket, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0)
    return Fail(error, "block ring not offered");
  // Room in front of each frame to put an offloaded VLAN tag back.
  unsigned reserve = kVlanTagLength;
  if (setsockopt(m_socket, SOL_PACKET, PACKET_RESERVE, &reserve, sizeof reserve) != 0)
    return Fail(error, "block ring not offered");
  // A ring the kernel will not give (memory limits) must not stop capture: the capture library's
  // own size is tried next.
  for (const std::size_t size : {bufferBytes, kFallbackBuffer}) {
    tpacket_req3 request{};
    request.tp_block_size = kBlockSize;
    request.tp_block_nr = static_cast<unsigned>(std::max<std::size_t>(1, (size + kBlockSize - 1) / kBlockSize));
    request.tp_frame_size = kBlockSize;  // frames vary in size within a block
    request.tp_frame_nr = request.tp_block_nr;
    request.tp_retire_blk_tov = static_cast<unsigned>(timeoutMs);  // a part-filled block waits at most this
    if (setsockopt(m_socket, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0) continue;
    m_blockSize = kBlockSize;
    m_blockCount = request.tp_block_nr;
    m_mapSize = m_blockSize * m_blockCount;
    void* map = mmap(nullptr, m_mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, m_socket, 0);
    if (map != MAP_FAILED) {
      m_map = static_cast<std::uint8_t*>(map);
      break;
    }
    m_mapSize = 0;
    tpacket_req3 none{};  // give the ring back before asking for the smaller one
    setsockopt(m_socket, SOL_PACKET, PACKET_RX_RING, &none, sizeof none);
  }
  if (m_map == nullptr) return Fail(error, "no capture ring");

  sockaddr_ll every{};
  every.sll_family = AF_PACKET;
  every.sll_protocol = htons(ETH_P_ALL);
  every.sll_ifindex = ifindex;
  if (bind(m_socket, reinterpret_cast<sockaddr*>(&every), sizeof every) != 0) return Fail(error, "binding the interface");
  // Promiscuous mode is a wish: without it capture goes on with what the interface receives.
  packet_mreq promiscuous{};
  promiscuous.mr_ifindex = ifindex;
  promiscuous.mr_type = PACKET_MR_PROMISC;
  setsockopt(m_socket, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous, sizeof promiscuous);
  return true;
}

void CaptureRing::ReleaseBlock() {
  __atomic_store_n(&Descriptor(Block(m_block))->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
  m_block = (m_block + 1) % m_blockCount;
  m_inBlock = false;
  m_left = 0;
  m_frame = nullptr;
}

bool CaptureRing::Next(Frame* frame) {
  if (m_map == nullptr) return false;
  // The frame handed out last lies in the current block: it is given back only now.
  if (m_inBlock && m_left == 0) ReleaseBlock();
  for (unsigned looked = 0; looked <= m_blockCount; ++looked) {
    if (!m_inBlock) {
      tpacket_block_desc* block = Descriptor(Block(m_block));
      if ((__atomic_load_n(&block->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) == 0) return false;
      m_inBlock = true;
      m_left = block->hdr.bh1.num_pkts;
      m_frame = m_left != 0 && block->hdr.bh1.offset_to_first_pkt < m_blockSize
                    ? Block(m_block) + block->hdr.bh1.offset_to_first_pkt
                    : nullptr;
    }
    std::uint8_t* const blockEnd = Block(m_block) + m_blockSize;
    while (m_left > 0 && m_frame != nullptr) {
      --m_left;
      std::uint8_t* const at = m_frame;
      if (static_cast<std::size_t>(blockEnd - at) < TPACKET3_HDRLEN) break;
      const auto* header = reinterpret_cast<const tpacket3_hdr*>(at);
      m_frame = header->tp_next_offset != 0 && header->tp_next_offset < static_cast<std::size_t>(blockEnd - at)
                    ? at + header->tp_next_offset
                    : nullptr;
      const auto* link = reinterpret_cast<const sockaddr_ll*>(at + TPACKET_ALIGN(sizeof(tpacket3_hdr)));
      // On the loopback interface every frame passes twice; the incoming copy is the one kept.
      if (m_loopback && link->sll_pkttype == PACKET_OUTGOING) continue;
      // The frame must lie inside its block, whatever the header says.
      if (header->tp_mac > static_cast<std::size_t>(blockEnd - at) ||
          header->tp_snaplen > static_cast<std::size_t>(blockEnd - at) - header->tp_mac)
        continue;
      std::uint8_t* data = at + header->tp_mac;
      std::uint32_t length = header->tp_snaplen;
      if ((header->tp_status & TP_STATUS_VLAN_VALID) != 0 && length >= kMacAddresses &&
          header->tp_mac >= TPACKET3_HDRLEN + kVlanTagLength) {
        const std::uint16_t tpid =
            (header->tp_status & TP_STATUS_VLAN_TPID_VALID) != 0 ? header->hv1.tp_vlan_tpid : ETH_P_8021Q;
        const std::uint16_t tci = static_cast<std::uint16_t>(header->hv1.tp_vlan_tci);
        std::memmove(data - kVlanTagLength, data, kMacAddresses);
        data -= kVlanTagLength;
        const std::uint8_t tag[kVlanTagLength] = {static_cast<std::uint8_t>(tpid >> 8), static_cast<std::uint8_t>(tpid),
                                                  static_cast<std::uint8_t>(tci >> 8), static_cast<std::uint8_t>(tci)};
        std::memcpy(data + kMacAddresses, tag, sizeof tag);
        length += kVlanTagLength;
      }
      frame->data = data;
      frame->length = std::min(length, m_snapLength);
      frame->seconds = header->tp_sec;
      frame->microseconds = header->tp_nsec / 1000;
      return true;
    }
    ReleaseBlock();  // every frame of it was passed over
  }
  return false;
}

int CaptureRing::Wait(int timeoutMs) {
  if (m_socket < 0) return -1;
  pollfd entry{m_socket, POLLIN, 0};
  int ready;
  do {
    ready = poll(&entry, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0 || (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
    int failure = 0;
    socklen_t size = sizeof failure;
    getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &failure, &size);
    return -1;
  }
  return ready > 0 ? 1 : 0;
}

bool CaptureRing::Stats(std::uint32_t* received, std::uint32_t* dropped) {
  if (m_socket < 0) return false;
  // The kernel counts since the last question, offered frames including the dropped ones.
  tpacket_stats_v3 counts{};
  socklen_t size = sizeof counts;
  if (getsockopt(m_socket, SOL_PACKET, PACKET_STATISTICS, &counts, &size) != 0) return false;
  m_received += counts.tp_packets;
  m_dropped += counts.tp_drops;
  if (received) *received = static_cast<std::uint32_t>(m_received);
  if (dropped) *dropped = static_cast<std::uint32_t>(m_dropped);
  return true;
}
