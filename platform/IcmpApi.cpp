#include "platform/IcmpApi.h"

LibraryExportTable IcmpExports() {
  return {
      MakeExport("IcmpCreateFile", &IcmpCreateFile),
      MakeExport("IcmpCloseHandle", &IcmpCloseHandle),
      MakeExport("IcmpSendEcho", &IcmpSendEcho),
      MakeExport("IcmpCancelEcho", &IcmpCancelEcho),
      MakeExport("Icmp6CreateFile", &Icmp6CreateFile),
      MakeExport("Icmp6SendEcho2", &Icmp6SendEcho2),
      MakeExport("Icmp6ParseReplies", &Icmp6ParseReplies),
  };
}
