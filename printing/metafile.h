// The metafile interface of the document path: a page is recorded through a recording device
// context between page marks, closed, and played onto the printer.
#pragma once

#include "platform/gdi/gdi.h"

#include <cstdint>
#include <string>

namespace aio::printing {

// The bounds of a recorded picture in its reference device's units: x, y, width, height.
struct PageBounds {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The rectangle {x, y, x + width, y + height} of bounds (the right and bottom edges included, as
// GDI counts a picture's bounds).
inline RECT RectOf(const PageBounds& bounds)
{
    return RECT{bounds.x, bounds.y, static_cast<LONG>(std::int64_t{bounds.x} + bounds.width),
                static_cast<LONG>(std::int64_t{bounds.y} + bounds.height)};
}

// The page a page-start mark opens: its size, and the area its content covers.
struct PageSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};
struct ContentArea {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

class MetaFile {
public:
    virtual ~MetaFile() = default;

    virtual bool StartRecording() = 0;
    virtual bool LoadFromBytes(const void* data, std::uint32_t size) = 0;
    virtual bool MarkPageStart(const PageSize& page_size, const ContentArea& content_area, float scale_factor) = 0;
    virtual bool MarkPageEnd() = 0;
    virtual bool StopRecording() = 0;
    virtual std::uint32_t GetByteSize() const = 0;
    virtual bool CopyBytes(void* buffer, std::uint32_t size) const = 0;
    virtual bool WriteToFile(const std::u16string& path) const = 0;
    virtual PageBounds GetBounds(std::int32_t page_number) const = 0;
    virtual std::int32_t GetStartedPageCount() const = 0;
    virtual HDC GetRecordingDC() const = 0;
    virtual bool Play(HDC target, const RECT* rect) const = 0;
    virtual bool PlayWithRepair(HDC target) const = 0;
    virtual HENHMETAFILE GetHandle() const = 0;
};

} // namespace aio::printing
