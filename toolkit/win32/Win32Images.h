#pragma once
// Image lists: the shared lamp pixels as icons.
#include "toolkit/LampPixels.h"
#include "toolkit/win32/Win32Base.h"

#include <vector>

namespace tk::win32 {

// A 16 x 16 icon from premultiplied 0xAARRGGBB pixels, top row first.
HICON IconFrom(const std::vector<uint32_t>& pixels);

class Win32ImageList : public ImageList {
  public:
    explicit Win32ImageList(const std::vector<LampImage>& images) {
        for (const LampImage& image : images)
            Icons.push_back(IconFrom(LampPixels(image)));
    }
    ~Win32ImageList() override {
        for (HICON icon : Icons)
            DestroyIcon(icon);
    }
    int Count() const override { return int(Icons.size()); }
    HICON At(int index) const {
        return index >= 0 && index < Count() ? Icons[size_t(index)] : nullptr;
    }
    std::vector<HICON> Icons;
};

inline HICON IconAt(const ImageList& images, int index) {
    return static_cast<const Win32ImageList&>(images).At(index);
}

} // namespace tk::win32
