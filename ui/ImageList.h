#pragma once
#include <mutex>
#include <vector>

#include "ui/IconImage.h"
#include "ui/UiTypes.h"

constexpr UINT ILC_MASK = 0x0001;
constexpr UINT ILC_COLOR32 = 0x0020;

// A list of icons of one size that list rows refer to by index. Thread-safe: a worker may add
// icons while the user-interface thread draws them.
class ImageList {
 public:
  bool Create(int cx, int cy, UINT flags, int initial, int grow);
  void DeleteImageList();
  bool IsCreated() const;
  int Add(const IconImage& icon);  // the new index, or -1
  int GetImageCount() const;
  IconImage GetImage(int index) const;
  Size GetImageSize() const;

 private:
  mutable std::mutex m_lock;
  bool m_created = false;
  Size m_size;
  std::vector<IconImage> m_images;
};
