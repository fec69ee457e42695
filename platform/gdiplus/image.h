// The object behind a GpImage or GpBitmap handle: a decoded picture (the same kind of picture the
// device contexts draw, so drawing it onto a printer goes through DeviceContext::DrawPicture) and
// the lock on its pixels, if one is held.
#pragma once

#include "platform/gdi/pictures/picture.h"
#include "platform/gdiplus/gdiplus.h"
#include "platform/kernel/object_table.h"

#include <memory>
#include <mutex>
#include <vector>

namespace platform::gdiplus {

class Image final {
public:
    static constexpr ObjectKind kObjectKind = ObjectKind::GdiplusImage;

    explicit Image(std::shared_ptr<gdi::Picture> picture) : picture_(std::move(picture)) {}

    const gdi::Picture& Picture() const { return *picture_; }

    // The lock on the pixels: the buffer GDI+ lent (empty when the caller gave its own).
    std::mutex mutex;
    bool locked = false;
    std::vector<BYTE> lockBuffer;

private:
    std::shared_ptr<gdi::Picture> picture_;
};

// The image of a handle, or null.
std::shared_ptr<Image> FindImage(const void* handle);

// True while GDI+ is started: between a GdiplusStartup and its matching GdiplusShutdown.
bool IsStarted();

} // namespace platform::gdiplus
