#pragma once
#include <optional>
#include <array>
#include <string>

#include "common/LinkAddresses6.h"
#include "common/MonListMonItemDataIp.h"
#include "common/ShowPacketReceivePackIp.h"
#include "ui/UiTypes.h"

class AppProfile;
class MonListIpMon;
class PacketLogFile;
class PacketLogLock;
class Window;

// Which window a packet pane command opens.
enum class PacketWindowKind {
  PacketView,       // "Examine Full Packet"
  Feed,             // "Feed"
  Compare,          // "Compare"
  CompareAdd,       // "Compare Add": the selected packet goes to the open compare window
  LinkMonitor,      // "Ip Connections Link Monitor"
  Route,            // "Trace"
  FirewallAddress,  // "Block/Allow" (modal)
};

// Everything a packet pane command hands the window it opens. The pane fills it from the
// selected row and its own state; the window classes build themselves from it.
struct PacketWindowRequest {
  PacketWindowKind kind = PacketWindowKind::PacketView;

  // Given to every packet window (view, feed, compare): the pane as parent and opening list, the
  // application, the registry path, the capture thread's log file object with the lock every
  // read of it must hold, and the navigation flag (1 when capture is stopped, so "Next Packet"
  // and "Previous Packet" may walk the rows).
  MonListIpMon* list = nullptr;
  AppProfile* app = nullptr;
  std::string registryPath;
  PacketLogFile* logFile = nullptr;
  PacketLogLock* logLock = nullptr;
  int navigation = 0;

  // The selected row (-1 = none) and what it carries.
  int row = -1;
  _ShowPacketReceivePackIp item{};  // row number, record position, type code
  std::string sizeText;             // its "Size" column
  std::string status;               // its "Status" column

  // CompareAdd: the compare window that takes the packet.
  Window* compare = nullptr;

  // LinkMonitor: the conversation of the row (addresses in network byte order, ports in host
  // order, each zero when its column is empty), the window title and the point of the last click.
  _MonListMonItemDataIp link{};
  // The addresses of an IPv6 row (the link record's address fields are then 0).
  std::optional<LinkAddresses6> link6;
  std::string title;
  Point clickPoint;

  // Route: 0 from the context menu, 1 from the Scan menu; the address to trace when one was
  // clicked ("From" or "To" column), else empty.
  int traceFlag = 0;
  std::string traceTarget;

  // FirewallAddress: the first 24 bytes of a connections row record, zero but for its address
  // field (offset 4), which is all the address dialog reads.
  _MonListMonItemDataIp address{};
  // The address of an IPv6 row, which the record cannot hold: the rule editor is given it instead.
  std::optional<std::array<std::uint8_t, 16>> address6;
};
