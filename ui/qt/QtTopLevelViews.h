#pragma once
#include <memory>

#include "ui/Dialog.h"
#include "ui/FrameWindow.h"
#include "ui/StatusBar.h"
#include "ui/qt/QtWindowView.h"

class QMainWindow;

// The frame as a QMainWindow: menu bar, status bar and a client widget for the panes.
std::unique_ptr<QtWindowView> MakeFrameView(FrameWindow& frame);
// A dialog as a QDialog laid out from its template, over its owner's window.
std::unique_ptr<QtWindowView> MakeDialogView(Dialog& dialog, QWidget* owner);
// The frame's status bar (QMainWindow::statusBar) with one label per pane.
std::unique_ptr<QtWindowView> MakeStatusBarView(StatusBar& bar, QMainWindow* frame);
