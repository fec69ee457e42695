// The GDI objects behind HPEN, HBRUSH, HFONT and HBITMAP, all of one kind in the object table so
// that SelectObject can take any of them. An object never changes once made (a bitmap's pixels
// excepted: its maker writes them). A device context shares what it has selected, so deleting an
// object that is still selected leaves the context drawing with it until it selects another.
#pragma once

#include "platform/gdi/gdi.h"
#include "platform/gdi/pictures/dib.h"
#include "platform/kernel/object_table.h"

#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace platform::gdi {

// A pen may have at most this many dash entries (PS_USERSTYLE), as on Windows.
constexpr std::size_t kMaxPenStyleEntries = 16;
// A DIB section holds at most this many pixels (1 GiB of 32-bit pixels).
constexpr std::int64_t kMaxBitmapPixels = std::int64_t{1} << 28;

struct Pen {
    DWORD style = PS_SOLID; // type | dash style | end cap | join
    DWORD width = 1;
    UINT brushStyle = BS_SOLID;
    COLORREF color = 0;
    ULONG_PTR hatch = 0;
    std::vector<DWORD> entries; // PS_USERSTYLE dash entries

    bool Geometric() const { return (style & PS_TYPE_MASK) == PS_GEOMETRIC; }
    DWORD DashStyle() const { return style & PS_STYLE_MASK; }
    // Whether a stroke with this pen leaves ink.
    bool Draws() const { return DashStyle() != PS_NULL && brushStyle != BS_NULL; }
};

struct Brush {
    UINT style = BS_SOLID;
    COLORREF color = 0;
    ULONG_PTR hatch = 0;

    bool Draws() const { return style != BS_NULL; }
};

struct Font {
    LOGFONTW logFont{};
};

// A device-independent bitmap whose pixels live here (CreateDIBSection).
struct Bitmap {
    DibLayout layout;
    std::vector<BYTE> bits;
};

class GdiObject final {
public:
    static constexpr ObjectKind kObjectKind = ObjectKind::GdiObject;
    static constexpr int kNotStock = -1;

    using Data = std::variant<Pen, Brush, Font, Bitmap>;

    explicit GdiObject(Data data, int stockIndex = kNotStock) : data_(std::move(data)), stockIndex_(stockIndex) {}
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    template <typename T>
    const T* As() const
    {
        return std::get_if<T>(&data_);
    }
    const Data& Get() const { return data_; }
    // The bitmap's pixels, for the one who made it to write.
    Bitmap* MutableBitmap() { return std::get_if<Bitmap>(&data_); }

    // The handle of the object: also what a metafile recording knows it by, since a handle value
    // is never given to another object.
    HGDIOBJ Handle() const { return handle_; }
    // The GetStockObject index of a stock object, else kNotStock.
    int StockIndex() const { return stockIndex_; }
    bool IsStock() const { return stockIndex_ != kNotStock; }

private:
    friend HGDIOBJ AddGdiObject(std::shared_ptr<GdiObject> object);

    Data data_;
    int stockIndex_;
    HGDIOBJ handle_ = nullptr;
};

// Puts an object in the process's object table; its handle.
HGDIOBJ AddGdiObject(std::shared_ptr<GdiObject> object);
// The object of a live handle, or null with ERROR_INVALID_HANDLE.
std::shared_ptr<GdiObject> FindGdiObject(HGDIOBJ handle);
// A stock object (WHITE_BRUSH ... NULL_PEN, SYSTEM_FONT), made once; null for another index.
std::shared_ptr<GdiObject> StockObject(int index);
// The 1 x 1 bitmap a memory device context holds until another is selected.
std::shared_ptr<GdiObject> DefaultBitmap();

// The objects of the creating calls and of their metafile records, checked as Windows checks them;
// nothing with ERROR_INVALID_PARAMETER when the description is refused.
std::optional<Pen> MakePen(DWORD style, DWORD width, const LOGBRUSH& brush, std::span<const DWORD> entries);
std::optional<Brush> MakeBrush(const LOGBRUSH& brush);
// A bitmap of this header (24 or 32 bits, BI_RGB), its pixels zero.
std::optional<Bitmap> MakeBitmap(const BITMAPINFOHEADER& header);

} // namespace platform::gdi
