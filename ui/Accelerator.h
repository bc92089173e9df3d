#pragma once
#include <cstdint>

#include "ui/UiTypes.h"

// Modifier flags and virtual key codes of an accelerator table, as the platform numbers them.
constexpr std::uint8_t FSHIFT = 0x04;
constexpr std::uint8_t FCONTROL = 0x08;
constexpr std::uint8_t FALT = 0x10;
constexpr UINT VK_BACK = 0x08;
constexpr UINT VK_INSERT = 0x2D;
constexpr UINT VK_DELETE = 0x2E;
constexpr UINT VK_F1 = 0x70;
constexpr UINT VK_F6 = 0x75;

// The standard commands the accelerators carry.
constexpr UINT ID_EDIT_COPY = 0xE122;
constexpr UINT ID_EDIT_CUT = 0xE123;
constexpr UINT ID_EDIT_PASTE = 0xE125;
constexpr UINT ID_EDIT_UNDO = 0xE12B;
constexpr UINT ID_CONTEXT_HELP = 0xE145;
constexpr UINT ID_HELP = 0xE146;
constexpr UINT ID_NEXT_PANE = 0xE150;
constexpr UINT ID_PREV_PANE = 0xE151;

// One key of a frame's accelerator table: a virtual key (letters as their capitals) with the
// modifiers that must be held, and the command it sends.
struct Accelerator {
  std::uint8_t modifiers = 0;
  UINT key = 0;
  UINT command = 0;
};
