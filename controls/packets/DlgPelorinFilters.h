#pragma once
#include <string>

#include "common/WinTypes.h"
#include "controls/packets/PacketFilterSet.h"
#include "controls/packets/PacketFilterStore.h"
#include "platform/AppProfile.h"
#include "platform/CriticalSection.h"
#include "ui/Dialog.h"

// The modeless "Pelorin Filters" dialog: edits the packet filter set, reads and writes it in the
// registry key "Filters" and exchanges it with ".flt" files. It creates and shows its window as
// it is constructed and lives until OK or Cancel, when it asks its owner (the parent given) to
// destroy it with WM_PELORIN_CLOSE_WINDOW.
//
// "Apply" does nothing here: a derived class pushes the saved filters to a running capture by
// overriding OnButtonApply (OK applies before it closes, "Save As" before it writes the file).
//
// The registry and file operations return S_OK, E_UNEXPECTED (no registry key or no file name),
// E_FAIL (the file cannot be opened or written) or E_FILTERS_INVALID (content beyond the filter
// set's limits); LastErrorText says what went wrong in words fit for a message box.
class DlgPelorinFilters : public Dialog {
 public:
  static constexpr int kMaxListEntries = static_cast<int>(PacketFilterSet::kMaxEntries);
  static constexpr int kSizeFieldLimit = 10;  // characters: minimum, maximum, either-end port
  static constexpr int kPortFieldLimit = 10;  // characters: the four port entry fields
  static constexpr int kTextFieldLimit = static_cast<int>(PacketFilterSet::kMaxText);
  static constexpr int kEntryLimit = 255;  // characters taken from an entry field by "Add"
  static constexpr UINT kHelpCommand = 3;  // the help file's contents

  // Filters in the application profile's section "Filters".
  explicit DlgPelorinFilters(Window* parent);
  // Filters below the monitor's registry path (its key + "\Filters"); with an empty path, in the
  // profile's section "Filters" of app (or of the default profile when app is null). monitorList
  // is the packet monitor pane whose capture a derived Apply updates; it may be null.
  DlgPelorinFilters(Window* parent, AppProfile* app, Window* monitorList, const std::string& registryPath);
  ~DlgPelorinFilters() override;

  static DialogTemplate MakeTemplate();

  // Registry -> controls. Nothing changes when the key cannot be read or holds damaged filters.
  HRESULT GetFilters();
  // Controls -> registry: the key is cleared and written in one step.
  HRESULT SaveFilters();
  // Writes the empty filter set to the registry.
  HRESULT DeleteFilters();
  // Controls -> file (replacing it), then the registry once more.
  HRESULT SaveFiltersFile(const std::string& path);
  // File -> controls; the registry and the capture change only when the user applies.
  HRESULT LoadFiltersFile(const std::string& path);
  // The file dialog's chosen path with ".flt" added to its file name when the name lacks it.
  // E_UNEXPECTED (and fileName untouched) when nothing was chosen.
  HRESULT MakeFilterFileName(const std::string& chosen, std::string* fileName) const;

  // The controls as a filter set, and a filter set shown in the controls (each list replaced).
  PacketFilterSet ControlsToSet() const;
  void SetToControls(const PacketFilterSet& set);

  const std::string& LastErrorText() const { return m_lastError; }
  Window* GetMonitorList() const { return m_monitorList; }
  AppProfile* GetApp() const { return m_app; }
  const std::string& GetRegistryPath() const { return m_registryPath; }

  bool OnInitDialog() override;

  void OnButtonSimbadd();
  void OnButtonSimbdel();
  void OnButtonSimnbadd();
  void OnButtonSimnbdel();
  void OnButtonSpmbadd();
  void OnButtonSpmbdel();
  void OnButtonSpmnbadd();
  void OnButtonSpmnbdel();
  void OnButtonDimbadd();
  void OnButtonDimbdel();
  void OnButtonDimnbadd();
  void OnButtonDimnbdel();
  void OnButtonDpmbadd();
  void OnButtonDpmbdel();
  void OnButtonDpmnbadd();
  void OnButtonDpmnbdel();
  void OnButtonResetall();
  void OnButtonRefresh();  // "Re-Load"
  void OnButtonSaveas();
  void OnButtonLoadfilters();
  virtual void OnButtonApply() {}
  void OnOK() override;
  void OnCancel() override;
  bool OnHelpInfo() override;

 protected:
  // Serialises the apply steps of a derived class.
  CriticalSection& ApplyLock() { return m_applyLock; }
  // Shows LastErrorText in a message box when code is a failure.
  void ReportFailure(HRESULT code, const std::string& caption);

 private:
  void MapHandlers();
  PacketFilterStore Store() const;
  HRESULT Fail(HRESULT code, const std::string& text);
  void AddEntry(FilterList which);
  void DelEntry(FilterList which);
  // Hides the window and asks the owner to destroy it.
  void Close(int result);

  AppProfile* m_app = nullptr;
  Window* m_monitorList = nullptr;
  std::string m_registryPath;
  std::string m_lastError;
  CriticalSection m_applyLock;
};
