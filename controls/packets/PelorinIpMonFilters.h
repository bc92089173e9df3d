#pragma once
#include <string>

#include "controls/packets/DlgPelorinFilters.h"

class MonListIpMon;

// The "Pelorin Filters" dialog as the shell opens it for the packet pane: "Apply" (and OK and
// "Save As", which apply first) saves the filters and makes the pane's capture thread reload
// them, so a running capture matches the next packet against the new set.
class PelorinIpMonFilters : public DlgPelorinFilters {
 public:
  // monitorList may be null: "Apply" then only saves.
  PelorinIpMonFilters(Window* parent, AppProfile* app, MonListIpMon* monitorList, const std::string& registryPath);

  void OnButtonApply() override;

 private:
  MonListIpMon* m_list;
};
