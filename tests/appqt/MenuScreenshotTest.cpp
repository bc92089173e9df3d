// Each menu of the frame and both pane context menus opened in the program drawn by Qt
// offscreen, grabbed as PNGs under the build folder; their items, checks and enabled states are
// the frame's. The About box shows the program icon.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "app/AboutDialog.h"
#include "ui/HelpFile.h"
#include "app/CPelorinProApp.h"
#include "app/MainMenu.h"
#include "ui/qt/QtMenus.h"
#include "ui/qt/QtUiSession.h"
#include "../uiqt/QtTestSupport.h"

namespace {

int g_argc = 1;
char g_name[] = "Test_appqt";
char* g_argv[] = {g_name, nullptr};

struct ShownItem {
  bool enabled = false;
  bool checked = false;
};
using ShownMenu = std::map<std::string, ShownItem>;  // by text without the mnemonic mark

// A grabbed image that is not one flat colour.
bool HasContent(const QImage& image) {
  if (image.isNull() || image.width() < 20 || image.height() < 20) return false;
  const QRgb first = image.pixel(0, 0);
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2)
      if (image.pixel(x, y) != first) return true;
  return false;
}

// Opens the menu, grabs it into name.png and notes its items.
ShownMenu OpenAndGrab(QMenu* menu, const std::string& name, std::set<std::string>* badImages) {
  menu->popup(QPoint(10, 10));
  QCoreApplication::processEvents();
  const std::string path = qt_test::ScreenshotPath(PELORIN_SCREENSHOT_DIR, "menu-" + name + ".png");
  const QImage image = menu->grab().toImage();
  if (!HasContent(image) || !image.save(QString::fromStdString(path), "PNG")) badImages->insert(name);
  ShownMenu shown;
  for (QAction* action : menu->actions()) {
    if (action->isSeparator()) continue;
    shown[action->text().remove('&').toStdString()] = ShownItem{action->isEnabled(), action->isChecked()};
  }
  menu->hide();
  return shown;
}

TEST(MenuScreenshots, EveryMenuOpensWithItsItemsAndTheAboutBoxShowsTheIcon) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  char pattern[] = "/tmp/pelorin-menus-XXXXXX";
  const std::string folder = std::string(mkdtemp(pattern)) + "/";
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  setenv("PELORIN_REGISTRY", (folder + "registry.reg").c_str(), 1);
  AppProfile profile(CPelorinProApp::kCompanyKey, CPelorinProApp::kProfileName);
  profile.WriteProfileString("", "Layout", "18");
  profile.WriteProfileInt("", "AdapterCurr", 0);
  profile.WriteProfileString("", "AdapterCurrName", "lo");
  std::filesystem::create_directories(PELORIN_SCREENSHOT_DIR);

  std::map<std::string, ShownMenu> menus;
  std::set<std::string> badImages;
  bool aboutIcon = false;
  std::string aboutText;
  bool timedOut = false;
  CPelorinProApp program;
  std::unique_ptr<QTimer> driver;
  const auto begin = std::chrono::steady_clock::now();
  const int result = RunApplication(g_argc, g_argv, [&]() -> FrameWindow* {
    CMainFrame* frame = program.InitInstance();
    if (frame == nullptr) return nullptr;
    driver = std::make_unique<QTimer>();
    QObject::connect(driver.get(), &QTimer::timeout, [&, frame] {
      auto* window = qobject_cast<QMainWindow*>(QtUiSession::WidgetOf(frame));
      timedOut = std::chrono::steady_clock::now() - begin > std::chrono::seconds(20);
      if (!timedOut && (window == nullptr || frame->Connections() == nullptr || frame->Packets() == nullptr)) return;
      driver->stop();
      if (!timedOut) {
        for (QAction* action : window->menuBar()->actions())
          if (QMenu* menu = action->menu())
            menus[action->text().remove('&').toStdString()] = OpenAndGrab(menu, action->text().remove('&').toStdString(), &badImages);
        const auto context = [&](std::unique_ptr<Menu> model, const std::string& name) {
          model->UpdateItems(frame);
          QMenu menu(window);
          FillQMenu(&menu, *model, frame->GetSafeHwnd());
          menus[name] = OpenAndGrab(&menu, name, &badImages);
        };
        context(BuildConnectionsContextMenu(), "134");
        context(BuildPacketsContextMenu(), "135");

        AboutDialog about(frame);
        about.CreateModeless(frame);
        QCoreApplication::processEvents();
        const auto* label = qobject_cast<QLabel*>(QtUiSession::WidgetOf(about.GetDlgItem(AboutDialog::kProgramIcon)));
        aboutIcon = label != nullptr && !label->pixmap().isNull();
        aboutText = about.GetDlgItemText(AboutDialog::kContactText);
        if (QWidget* box = QtUiSession::WidgetOf(&about)) box->grab().save(QString::fromStdString(qt_test::ScreenshotPath(PELORIN_SCREENSHOT_DIR, "about.png")), "PNG");
        about.DestroyWindow();
      }
      frame->PostMessage(WM_CLOSE);
    });
    driver->start(10);
    return frame;
  });
  driver.reset();
  std::filesystem::current_path(previous);
  unsetenv("PELORIN_REGISTRY");
  std::filesystem::remove_all(folder);

  EXPECT_EQ(result, 0);
  ASSERT_FALSE(timedOut);
  EXPECT_TRUE(badImages.empty()) << *badImages.begin();
  ASSERT_EQ(menus.size(), 7u);
  const auto item = [&](const std::string& menu, const std::string& text) {
    const auto& shown = menus[menu];
    const auto it = shown.find(text);
    EXPECT_NE(it, shown.end()) << menu << " has no \"" << text << "\"";
    return it != shown.end() ? it->second : ShownItem{};
  };
  EXPECT_TRUE(item("File", "Create/Select Session Log...").enabled);  // not scanning
  EXPECT_FALSE(item("File", "Set Defaul Firewall Rules").enabled);    // no engine here
  EXPECT_TRUE(item("View", "< Pelorin Ip Monitor >").checked);
  EXPECT_FALSE(item("View", "< Ip Statistics Monitor >").checked);
  EXPECT_TRUE(item("Scan", "Start Scanning").enabled);
  EXPECT_FALSE(item("Ramparo", "Attach...").enabled);
  EXPECT_TRUE(item("Help", "Help Topics").enabled);
  EXPECT_TRUE(item("Help", "About Pelorin...").enabled);
  EXPECT_TRUE(item("134", "Connections Link Monitor").enabled);
  EXPECT_FALSE(item("135", "Compare Add").enabled);
  EXPECT_EQ(menus["135"].size(), 10u);
  EXPECT_TRUE(aboutIcon);
  EXPECT_NE(aboutText.find(HelpFilePath()), std::string::npos) << aboutText;  // where the manual is
}

}  // namespace
