#include "ui/ImageList.h"

bool ImageList::Create(int cx, int cy, UINT, int initial, int) {
  if (cx <= 0 || cy <= 0) return false;
  std::lock_guard<std::mutex> lock(m_lock);
  m_created = true;
  m_size = Size{cx, cy};
  m_images.clear();
  m_images.reserve(static_cast<std::size_t>(initial > 0 ? initial : 1));
  return true;
}

void ImageList::DeleteImageList() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_created = false;
  m_images.clear();
}

bool ImageList::IsCreated() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_created;
}

int ImageList::Add(const IconImage& icon) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (!m_created || icon.IsNull()) return -1;
  m_images.push_back(icon);
  return static_cast<int>(m_images.size()) - 1;
}

int ImageList::GetImageCount() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return static_cast<int>(m_images.size());
}

IconImage ImageList::GetImage(int index) const {
  std::lock_guard<std::mutex> lock(m_lock);
  if (index < 0 || index >= static_cast<int>(m_images.size())) return {};
  return m_images[static_cast<std::size_t>(index)];
}

Size ImageList::GetImageSize() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_size;
}
