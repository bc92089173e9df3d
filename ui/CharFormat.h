#pragma once
#include <string>

#include "ui/UiTypes.h"

constexpr DWORD CFM_BOLD = 0x00000001;
constexpr DWORD CFM_ITALIC = 0x00000002;
constexpr DWORD CFM_UNDERLINE = 0x00000004;
constexpr DWORD CFM_FACE = 0x20000000;
constexpr DWORD CFM_COLOR = 0x40000000;
constexpr DWORD CFM_SIZE = 0x80000000;
constexpr DWORD CFE_BOLD = 0x00000001;
constexpr DWORD CFE_ITALIC = 0x00000002;
constexpr DWORD CFE_UNDERLINE = 0x00000004;
constexpr DWORD CFE_AUTOCOLOR = 0x40000000;

// The character format of a run of rich text. dwMask names the fields that a Set call changes;
// dwEffects holds the bold, underline and automatic-colour switches; yHeight is in twips.
struct CharFormat {
  DWORD dwMask = 0;
  DWORD dwEffects = CFE_AUTOCOLOR;
  LONG yHeight = 200;  // twips (1/20 point): 10 points
  COLORREF crTextColor = 0;
  std::string szFaceName;

  bool Bold() const { return (dwEffects & CFE_BOLD) != 0; }
  bool Underline() const { return (dwEffects & CFE_UNDERLINE) != 0; }
  bool AutoColor() const { return (dwEffects & CFE_AUTOCOLOR) != 0; }
  // Applies the fields of other that its mask names.
  void Merge(const CharFormat& other) {
    const DWORD effects = other.dwMask & (CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE);
    dwEffects = (dwEffects & ~effects) | (other.dwEffects & effects);
    if (other.dwMask & CFM_COLOR) {
      dwEffects = (dwEffects & ~CFE_AUTOCOLOR) | (other.dwEffects & CFE_AUTOCOLOR);
      crTextColor = other.crTextColor;
    }
    if (other.dwMask & CFM_SIZE) yHeight = other.yHeight;
    if (other.dwMask & CFM_FACE) szFaceName = other.szFaceName;
  }
  bool SameLook(const CharFormat& other) const {
    return dwEffects == other.dwEffects && yHeight == other.yHeight && (AutoColor() || crTextColor == other.crTextColor) &&
           szFaceName == other.szFaceName;
  }
};
