#include "platform/IpHelper.h"

// Only these calls exist here; the library's other entry points (address, route, interface and
// neighbour tables, change notifications) are absent and GetProcAddress answers null for them.
LibraryExportTable IpHelperExports() {
  return {
      MakeExport("GetTcpTable", &GetTcpTable),
      MakeExport("GetUdpTable", &GetUdpTable),
      MakeExport("AllocateAndGetTcpExTableFromStack", &AllocateAndGetTcpExTableFromStack),
      MakeExport("AllocateAndGetUdpExTableFromStack", &AllocateAndGetUdpExTableFromStack),
      MakeExport("GetExtendedTcpTable", &GetExtendedTcpTable),
      MakeExport("GetExtendedUdpTable", &GetExtendedUdpTable),
      MakeExport("SetTcpEntry", &SetTcpEntry),
      MakeExport("SetTcpEntry6", &SetTcpEntry6),
      MakeExport("GetTcpStatistics", &GetTcpStatistics),
      MakeExport("GetUdpStatistics", &GetUdpStatistics),
      MakeExport("GetIcmpStatistics", &GetIcmpStatistics),
      MakeExport("GetIpStatistics", &GetIpStatistics),
      MakeExport("GetIpStatisticsEx", &GetIpStatisticsEx),
      MakeExport("GetIcmpStatisticsEx", &GetIcmpStatisticsEx),
      MakeExport("GetUdpStatisticsEx", &GetUdpStatisticsEx),
  };
}
