#include "platform/gdi/metafile/emf_playback.h"

#include "platform/gdi/context/emf_records.h"
#include "platform/kernel/kernel.h"

namespace platform::gdi {
namespace emf {

bool Refuse()
{
    SetLastError(ERROR_INVALID_DATA);
    return false;
}

bool SetRelativeToBase(DeviceContext& dc, const XFORM& xform)
{
    if (!IsFinite(xform))
        return Refuse();
    return dc.SetWorldTransform(ToXform(Then(FromXform(xform), dc.PlaybackBase())));
}

bool PlaceObject(std::span<HGDIOBJ> table, DWORD index, GdiObject::Data data)
{
    if (index == 0 || index >= table.size())
        return Refuse();
    if (table[index])
        ::DeleteObject(table[index]);
    table[index] = AddGdiObject(std::make_shared<GdiObject>(std::move(data)));
    return true;
}

} // namespace emf

bool PlayRecord(DeviceContext& dc, std::span<HGDIOBJ> table, const ENHMETARECORD& record)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(&record);
    const DWORD size = record.nSize;
    if (size < emf::kRecordPrefixBytes)
        return emf::Refuse();
    emf::Player player{dc, table};
    bool played = true;
    // The header and records this player does not draw leave the target as it is.
    emf::Records::Dispatch(
        record.iType,
        [&]<typename Record>() {
            Record described{};
            return emf::Decode(bytes, size, described) ? described.Play(player) : emf::Refuse();
        },
        played);
    return played;
}

Affine FrameToRect(const ENHMETAHEADER& header, const RECT& rect)
{
    const RECTL& bounds = header.rclBounds;
    const RECTL& frame = header.rclFrame;
    double left = bounds.left, top = bounds.top, right = bounds.right, bottom = bounds.bottom;
    const bool ownFrame = bounds.right >= bounds.left && bounds.bottom >= bounds.top
        && emf::SameRect(frame, emf::FrameOfBounds(bounds, header.szlDevice, header.szlMillimeters));
    if (!ownFrame && header.szlMillimeters.cx > 0 && header.szlMillimeters.cy > 0) {
        const double perX = static_cast<double>(header.szlDevice.cx) / (100.0 * header.szlMillimeters.cx);
        const double perY = static_cast<double>(header.szlDevice.cy) / (100.0 * header.szlMillimeters.cy);
        left = frame.left * perX;
        top = frame.top * perY;
        right = frame.right * perX;
        bottom = frame.bottom * perY;
    }
    const double scaleX = right > left ? (static_cast<double>(rect.right) - rect.left) / (right - left) : 1.0;
    const double scaleY = bottom > top ? (static_cast<double>(rect.bottom) - rect.top) / (bottom - top) : 1.0;
    return Affine{scaleX, 0, 0, scaleY, rect.left - left * scaleX, rect.top - top * scaleY};
}

} // namespace platform::gdi
