// Every dialog template of the program drawn by Qt (offscreen, on a 1920 x 1080 screen, at the
// scale QT_SCALE_FACTOR gives): visible sibling controls do not overlap (group boxes enclose
// others), every control lies inside its dialog, closed combo boxes are an edit's height, the
// dialog fits on the screen, and a resizable one grows its lists and panes and keeps its edge
// controls at their edges. Each dialog is saved under build-test/screenshots/.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QScreen>
#include <filesystem>

#include "app/AboutDialog.h"
#include "app/DlgBlockLogPages.h"
#include "app/DlgBlockStatistics.h"
#include "app/DlgIpRamparoProperties.h"
#include "app/DlgRamparoProcesses.h"
#include "app/DlgRamparoStart.h"
#include "app/DlgRuleLog.h"
#include "controls/firewall/DlgPelorinFirewallIp.h"
#include "controls/framework/DlgPelorinDirSelect.h"
#include "controls/framework/DlgPelorinLogSelect.h"
#include "controls/framework/DlgPelorinScanProperties.h"
#include "controls/inspect/DlgPelorinIpView.h"
#include "controls/link/DlgIpMon.h"
#include "controls/link/DlgIpMonSetLink.h"
#include "controls/packets/DlgPacketLogExport.h"
#include "controls/packets/DlgPelorinFilters.h"
#include "controls/trace/DlgPelorinTrace.h"
#include "ui/qt/QtUiSession.h"
#include "wincap/DlgPelorinAdapters.h"
#include "wincap/DlgPelorinFind.h"
#include "wincap/DlgPelorinLogPages.h"
#include "../uiqt/QtTestSupport.h"

// Fontconfig keeps the fonts it looked up until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

// A screen of 1920 x 1080 device pixels for the offscreen platform.
class ScreenEnvironment : public qt_test::QtEnvironment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || qgetenv("QT_QPA_PLATFORM") == "offscreen") {
      const std::string path = std::filesystem::temp_directory_path() / "pelorin-dialogs-screen.json";
      QFile file(QString::fromStdString(path));
      if (file.open(QIODevice::WriteOnly))
        file.write(R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
      qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + QByteArray::fromStdString(path));
    }
    QtEnvironment::SetUp();
  }
};

[[maybe_unused]] ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new ScreenEnvironment);

struct Named {
  const char* name;
  DialogTemplate dialogTemplate;
};

std::vector<Named> EveryTemplate() {
  return {{"about", AboutDialog::MakeTemplate()},
          {"block-log-pages", DlgBlockLogPages::MakeTemplate()},
          {"block-statistics", DlgBlockStatistics::MakeTemplate()},
          {"firewall-engine-properties", DlgIpRamparoProperties::MakeTemplate()},
          {"firewall-processes", DlgRamparoProcesses::MakeTemplate()},
          {"firewall-start", DlgRamparoStart::MakeTemplate()},
          {"rule-log", DlgRuleLog::MakeTemplate()},
          {"firewall-rules", DlgPelorinFirewallIp::MakeTemplate()},
          {"folder-select", DlgPelorinDirSelect::MakeTemplate()},
          {"log-properties", DlgPelorinLogSelect::MakeTemplate()},
          {"scan-properties", DlgPelorinScanProperties::MakeTemplate()},
          {"packet-view", DlgPelorinIpView::MakeTemplate()},
          {"link-monitor", DlgIpMon::MakeTemplate()},
          {"set-link", DlgIpMonSetLink::MakeTemplate()},
          {"packet-log-export", DlgPacketLogExport::MakeTemplate()},
          {"filters", DlgPelorinFilters::MakeTemplate()},
          {"route", DlgPelorinTrace::MakeTemplate()},
          {"adapters", DlgPelorinAdapters::MakeTemplate()},
          {"find", DlgPelorinFind::MakeTemplate()},
          {"log-pages", DlgPelorinLogPages::MakeTemplate()}};
}

struct Control {
  Window* window;
  QWidget* widget;
};

std::vector<Control> VisibleControls(const Dialog& dialog) {
  std::vector<Control> controls;
  for (Window* child : dialog.Children()) {
    QWidget* widget = QtUiSession::WidgetOf(child);
    if (widget != nullptr && widget->isVisibleTo(widget->parentWidget())) controls.push_back(Control{child, widget});
  }
  return controls;
}

std::string Describe(const Control& control) {
  const QRect r = control.widget->geometry();
  return "control " + std::to_string(control.window->GetDlgCtrlID()) + " \"" + control.window->GetWindowText() + "\" at " +
         std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" + std::to_string(r.height());
}

// Every visible control inside the dialog, no two overlapping unless one is a group box.
void ExpectLaidOut(const Dialog& dialog, const std::string& name) {
  const QWidget* box = QtUiSession::WidgetOf(&dialog);
  const std::vector<Control> controls = VisibleControls(dialog);
  for (std::size_t i = 0; i < controls.size(); ++i) {
    EXPECT_TRUE(box->rect().contains(controls[i].widget->geometry())) << name << ": " << Describe(controls[i]) << " leaves the dialog";
    for (std::size_t j = i + 1; j < controls.size(); ++j) {
      if (controls[i].window->Kind() == WindowKind::GroupBox || controls[j].window->Kind() == WindowKind::GroupBox) continue;
      EXPECT_FALSE(controls[i].widget->geometry().intersects(controls[j].widget->geometry()))
          << name << ": " << Describe(controls[i]) << " overlaps " << Describe(controls[j]);
    }
  }
}

// How far the controls reach: the right and bottom edges of all of them.
QPoint Reach(const Dialog& dialog) {
  QPoint reach;
  for (const Control& control : VisibleControls(dialog)) {
    reach.setX(std::max(reach.x(), control.widget->geometry().right()));
    reach.setY(std::max(reach.y(), control.widget->geometry().bottom()));
  }
  return reach;
}

int GrowingArea(const Dialog& dialog) {
  int area = 0;
  for (const Control& control : VisibleControls(dialog))
    if (control.window->Kind() == WindowKind::ListControl || control.window->Kind() == WindowKind::RichEdit)
      area = std::max(area, control.widget->width() * control.widget->height());
  return area;
}

void Save(QWidget* widget, const std::string& name) {
  const std::string path = qt_test::ScreenshotPath(PELORIN_SCREENSHOT_DIR, "dialog-" + name + ".png");
  EXPECT_TRUE(widget->grab().save(QString::fromStdString(path), "PNG")) << path;
}

TEST(DialogGeometry, EveryTemplateFitsItsScreenAndItsControlsNeitherOverlapNorLeaveIt) {
  std::filesystem::create_directories(PELORIN_SCREENSHOT_DIR);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  int resizable = 0;
  for (Named& named : EveryTemplate()) {
    const std::string name = named.name;
    Dialog dialog(named.dialogTemplate);
    ASSERT_TRUE(dialog.CreateModeless(nullptr)) << name;
    auto* box = qobject_cast<QDialog*>(QtUiSession::WidgetOf(&dialog));
    ASSERT_NE(box, nullptr);
    qt_test::RunEvents(20);
    // The title bar comes on top of the client area.
    EXPECT_LE(box->height() + 40, screen.height()) << name;
    EXPECT_LE(box->width() + 16, screen.width()) << name;
    EXPECT_TRUE(screen.contains(box->geometry())) << name;
    ExpectLaidOut(dialog, name);
    const int editHeight = dialog.MapDialogRect(Rect{0, 0, 0, 12}).bottom;
    for (Window* child : dialog.Children()) {
      if (child->Kind() != WindowKind::ComboBox) continue;
      auto* combo = qobject_cast<QComboBox*>(QtUiSession::WidgetOf(child));
      ASSERT_NE(combo, nullptr);
      EXPECT_LE(combo->height(), editHeight) << name;
      // The list the template drops below it shows a handful of entries at once.
      EXPECT_GE(combo->maxVisibleItems(), 4) << name;
    }
    Save(box, name);

    if (dialog.IsResizable()) {
      ++resizable;
      // Grown, its lists and panes take the room and the controls at the edges stay there.
      const QPoint reach = Reach(dialog);
      const QSize before = box->size();
      const int area = GrowingArea(dialog);
      box->resize(before + QSize(240, 160));
      qt_test::RunEvents(20);
      ExpectLaidOut(dialog, name + " grown");
      EXPECT_EQ(Reach(dialog), reach + QPoint(240, 160)) << name;
      EXPECT_GT(GrowingArea(dialog), area) << name;
      Save(box, name + "-grown");
      // Never smaller than it was drawn.
      box->resize(before - QSize(100, 100));
      qt_test::RunEvents(20);
      EXPECT_EQ(box->size(), before) << name;
    } else {
      // A dialog with nothing to grow keeps its size: no empty band along its edges.
      const QSize before = box->size();
      box->resize(before + QSize(100, 100));
      qt_test::RunEvents(20);
      EXPECT_EQ(box->size(), before) << name;
    }
    dialog.DestroyWindow();
  }
  // The rule log, the route window, the find, adapters, log page and firewall lists.
  EXPECT_GE(resizable, 8);
}

}  // namespace
