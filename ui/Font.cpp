#include "ui/Font.h"

#include "ui/TextCompare.h"

bool Font::IsFixedPitch() const {
  for (const char* face : {"Courier New", "Courier", "Lucida Console", "Consolas", "Monospace", "DejaVu Sans Mono", "Liberation Mono"}) {
    if (EqualsNoCase(m_face, face)) return true;
  }
  return false;
}
