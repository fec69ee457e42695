#include "platform/gdi/context/gdi_objects.h"

#include "platform/kernel/kernel.h"

#include <array>
#include <mutex>

namespace platform::gdi {
namespace {

constexpr int kStockCount = SYSTEM_FONT + 1;
constexpr DWORD kKnownPenBits = PS_STYLE_MASK | PS_ENDCAP_MASK | PS_JOIN_MASK | PS_TYPE_MASK;

template <typename T>
std::optional<T> Refuse()
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return std::nullopt;
}

Font SystemFont()
{
    Font font;
    font.logFont.lfHeight = 16;
    font.logFont.lfWeight = FW_NORMAL;
    const char16_t name[] = u"System";
    std::copy(std::begin(name), std::end(name), font.logFont.lfFaceName);
    return font;
}

// The stock objects, made on first use and never deleted.
struct StockObjects {
    std::array<std::shared_ptr<GdiObject>, kStockCount> objects;
    std::shared_ptr<GdiObject> defaultBitmap;
};

StockObjects& Stock()
{
    static StockObjects* stock = [] {
        auto* made = new StockObjects();
        auto add = [&](int index, GdiObject::Data data) {
            auto object = std::make_shared<GdiObject>(std::move(data), index);
            AddGdiObject(object);
            made->objects[static_cast<std::size_t>(index)] = std::move(object);
        };
        add(WHITE_BRUSH, Brush{BS_SOLID, RGB(255, 255, 255), 0});
        add(1, Brush{BS_SOLID, RGB(192, 192, 192), 0}); // LTGRAY_BRUSH
        add(2, Brush{BS_SOLID, RGB(128, 128, 128), 0}); // GRAY_BRUSH
        add(3, Brush{BS_SOLID, RGB(64, 64, 64), 0});    // DKGRAY_BRUSH
        add(BLACK_BRUSH, Brush{BS_SOLID, RGB(0, 0, 0), 0});
        add(NULL_BRUSH, Brush{BS_NULL, 0, 0});
        add(WHITE_PEN, Pen{PS_COSMETIC | PS_SOLID, 1, BS_SOLID, RGB(255, 255, 255), 0, {}});
        add(BLACK_PEN, Pen{PS_COSMETIC | PS_SOLID, 1, BS_SOLID, RGB(0, 0, 0), 0, {}});
        add(NULL_PEN, Pen{PS_COSMETIC | PS_NULL, 1, BS_SOLID, RGB(0, 0, 0), 0, {}});
        add(SYSTEM_FONT, SystemFont());
        // A memory context's first bitmap: one transparent black 32-bit pixel.
        const BITMAPINFOHEADER header = TopDown32Header(1, 1);
        made->defaultBitmap = std::make_shared<GdiObject>(*MakeBitmap(header), kStockCount);
        AddGdiObject(made->defaultBitmap);
        return made;
    }();
    return *stock;
}

} // namespace

HGDIOBJ AddGdiObject(std::shared_ptr<GdiObject> object)
{
    GdiObject& added = *object;
    added.handle_ = AddObject<HGDIOBJ>(std::move(object));
    return added.handle_;
}

std::shared_ptr<GdiObject> FindGdiObject(HGDIOBJ handle)
{
    std::shared_ptr<GdiObject> object = FindObject<GdiObject>(handle);
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

std::shared_ptr<GdiObject> StockObject(int index)
{
    if (index < 0 || index >= kStockCount)
        return nullptr;
    return Stock().objects[static_cast<std::size_t>(index)];
}

std::shared_ptr<GdiObject> DefaultBitmap()
{
    return Stock().defaultBitmap;
}

std::optional<Pen> MakePen(DWORD style, DWORD width, const LOGBRUSH& brush, std::span<const DWORD> entries)
{
    Pen pen{style, width, brush.lbStyle, brush.lbColor, brush.lbHatch, {}};
    const DWORD type = style & PS_TYPE_MASK;
    const DWORD cap = style & PS_ENDCAP_MASK;
    const DWORD join = style & PS_JOIN_MASK;
    const DWORD dash = pen.DashStyle();
    if ((style & ~kKnownPenBits) != 0 || (type != PS_COSMETIC && type != PS_GEOMETRIC)
        || (cap != PS_ENDCAP_ROUND && cap != PS_ENDCAP_SQUARE && cap != PS_ENDCAP_FLAT)
        || (join != PS_JOIN_ROUND && join != PS_JOIN_BEVEL && join != PS_JOIN_MITER)
        || (dash != PS_SOLID && dash != PS_NULL && dash != PS_USERSTYLE))
        return Refuse<Pen>();
    // A cosmetic pen is one pixel wide and solid in colour.
    if (type == PS_COSMETIC && (width != 1 || brush.lbStyle != BS_SOLID))
        return Refuse<Pen>();
    if (brush.lbStyle != BS_SOLID && brush.lbStyle != BS_NULL)
        return Refuse<Pen>();
    if (dash == PS_USERSTYLE) {
        if (entries.empty() || entries.size() > kMaxPenStyleEntries)
            return Refuse<Pen>();
        pen.entries.assign(entries.begin(), entries.end());
    } else if (!entries.empty()) {
        return Refuse<Pen>();
    }
    return pen;
}

std::optional<Brush> MakeBrush(const LOGBRUSH& brush)
{
    if (brush.lbStyle != BS_SOLID && brush.lbStyle != BS_NULL)
        return Refuse<Brush>();
    return Brush{brush.lbStyle, brush.lbColor, brush.lbHatch};
}

std::optional<Bitmap> MakeBitmap(const BITMAPINFOHEADER& header)
{
    const std::optional<DibLayout> layout = ReadDibLayout(header);
    if (!layout || layout->compression != BI_RGB
        || std::int64_t{layout->width} * std::int64_t{layout->height} > kMaxBitmapPixels)
        return Refuse<Bitmap>();
    Bitmap bitmap;
    bitmap.layout = *layout;
    bitmap.bits.assign(layout->bitsSize, 0);
    return bitmap;
}

} // namespace platform::gdi
