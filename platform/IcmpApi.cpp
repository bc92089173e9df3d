#include "platform/IcmpApi.h"

LibraryExportTable IcmpExports() {
  return {
      MakeExport("IcmpCreateFile", &IcmpCreateFile),
      MakeExport("IcmpCloseHandle", &IcmpCloseHandle),
      MakeExport("IcmpSendEcho", &IcmpSendEcho),
      MakeExport("IcmpCancelEcho", &IcmpCancelEcho),
  };
}
