#pragma once
#include <memory>

#include "ui/Splitter.h"
#include "ui/qt/QtWindowView.h"

// A splitter bar drawn as the style's splitter handle, above the windows it lies between; a drag
// with the left button reports each new place of the bar to the splitter.
std::unique_ptr<QtWindowView> MakeSplitterView(Splitter& splitter, QWidget* parent);
