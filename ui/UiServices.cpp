#include "ui/UiServices.h"

#include <atomic>
#include <filesystem>

#include "ui/Dialog.h"
#include "ui/Menu.h"

namespace {

UiServices& Defaults() {
  static UiServices services;
  return services;
}

std::atomic<UiServices*> g_installed{nullptr};

}  // namespace

UiServices& UiServices::Current() {
  UiServices* installed = g_installed.load();
  return installed != nullptr ? *installed : Defaults();
}

UiServices* UiServices::Install(UiServices* services) { return g_installed.exchange(services); }

int UiServices::MessageBox(Window*, const std::string&, const std::string&, UINT type) {
  const bool second = (type & MB_DEFBUTTON2) != 0;
  switch (type & 0xF) {
    case MB_OKCANCEL:
      return second ? IDCANCEL : IDOK;
    case MB_YESNO:
    case MB_YESNOCANCEL:
      return second ? IDNO : IDYES;
    default:
      return IDOK;
  }
}

bool UiServices::FileDialog(Window*, const FileDialogRequest&, std::string*) { return false; }

UINT UiServices::TrackPopupMenu(Menu&, Point, Window*) { return 0; }

void UiServices::ModalStarted(Dialog& dialog) {
  // Nobody can answer a modal dialog without a desktop: it ends as if cancelled.
  dialog.EndDialog(IDCANCEL);
}

void UiServices::SetCursor(CursorShape shape) { m_cursor = shape; }

bool UiServices::OpenHelpFile(const std::string& path, UINT) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

IconImage UiServices::ProgramIcon(const std::string& executablePath) {
  // The desktop's icon theme names most programs' icons after the program.
  const std::string name = std::filesystem::path(executablePath).filename().string();
  return name.empty() ? IconImage{} : IconImage::Theme(name);
}

int UiServices::TextWidth(const Font& font, const std::string& text) {
  // Fixed-pitch estimate: an average character is a little over half the font's height wide.
  const int height = font.IsNull() ? 13 : font.PixelHeight();
  return static_cast<int>(text.size()) * ((height * 6 + 5) / 10);
}

int UiServices::LineHeight(const Font& font) { return (font.IsNull() ? 13 : font.PixelHeight()) + 3; }

Size UiServices::DialogBaseUnits(const Font& font) {
  // The classic base units of an 8-point dialog font, scaled with the point size.
  const int tenths = font.IsNull() ? 80 : font.PointTenths();
  return Size{(6 * tenths + 40) / 80, (13 * tenths + 40) / 80};
}

int AfxMessageBox(const std::string& text, UINT type) { return UiServices::Current().MessageBox(nullptr, text, "PelorinPro", type); }

int MessageBox(Window* owner, const std::string& text, const std::string& caption, UINT type) {
  return UiServices::Current().MessageBox(owner, text, caption, type);
}

void BeginWaitCursor() { UiServices::Current().SetCursor(CursorShape::Wait); }

void EndWaitCursor() { UiServices::Current().SetCursor(CursorShape::Arrow); }
