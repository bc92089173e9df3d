#pragma once
#include <memory>

#include "ui/qt/QtWindowView.h"

// Views of the plain controls (labels, group boxes, edits, buttons, combo and list boxes,
// address fields, rich edits) and of generic windows; null for kinds drawn elsewhere.
std::unique_ptr<QtWindowView> MakeControlView(Window& window, QWidget* parent);
