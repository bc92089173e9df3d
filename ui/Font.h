#pragma once
#include <string>

// A font by face and size, as a window or a list uses it. An empty face is "no font": the
// window then draws with the toolkit's default.
class Font {
 public:
  Font() = default;
  Font(std::string face, int pointTenths, bool bold = false) : m_face(std::move(face)), m_pointTenths(pointTenths), m_bold(bold) {}

  // Size in tenths of a point, as the platform's point-font call takes it (100 = 10 points).
  bool CreatePointFont(int pointTenths, const std::string& face) {
    if (face.empty() || pointTenths <= 0) return false;
    m_face = face;
    m_pointTenths = pointTenths;
    return true;
  }
  void DeleteObject() { *this = Font(); }
  bool IsNull() const { return m_face.empty(); }

  const std::string& Face() const { return m_face; }
  int PointTenths() const { return m_pointTenths; }
  bool Bold() const { return m_bold; }
  void SetBold(bool bold) { m_bold = bold; }
  // Nominal height in pixels at 96 dots per inch.
  int PixelHeight() const { return (m_pointTenths * 96 + 360) / 720; }
  // Faces such as "Courier New" that draw every character with the same advance.
  bool IsFixedPitch() const;

  bool operator==(const Font&) const = default;

 private:
  std::string m_face;
  int m_pointTenths = 0;  // tenths of a point
  bool m_bold = false;
};
