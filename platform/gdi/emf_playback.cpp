#include "platform/gdi/emf_playback.h"

#include "platform/gdi/emf_format.h"
#include "platform/kernel/kernel.h"

namespace platform::gdi {
namespace {

using emf::Inside;
using emf::Read;

bool Refuse()
{
    SetLastError(ERROR_INVALID_DATA);
    return false;
}

bool PlayStretchDIBits(DeviceContext& dc, const BYTE* record, DWORD size)
{
    if (size < emf::kStretchFixedBytes)
        return Refuse();
    const DWORD offBmi = Read<DWORD>(record, emf::kStretchOffBmi);
    const DWORD cbBmi = Read<DWORD>(record, emf::kStretchCbBmi);
    const DWORD offBits = Read<DWORD>(record, emf::kStretchOffBits);
    const DWORD cbBits = Read<DWORD>(record, emf::kStretchCbBits);
    if (cbBmi < sizeof(BITMAPINFOHEADER) || !Inside(offBmi, cbBmi, size) || !Inside(offBits, cbBits, size))
        return Refuse();
    // The header is copied out: inside the record it need not be aligned.
    BITMAPINFO info{};
    info.bmiHeader = Read<BITMAPINFOHEADER>(record, offBmi);
    const std::optional<DibLayout> layout = ReadDibLayout(info.bmiHeader);
    if (!layout || layout->bitsSize > cbBits)
        return Refuse();
    StretchCall call;
    call.xDest = Read<LONG>(record, emf::kStretchXDest);
    call.yDest = Read<LONG>(record, emf::kStretchYDest);
    call.xSrc = Read<LONG>(record, emf::kStretchXSrc);
    call.ySrc = Read<LONG>(record, emf::kStretchYSrc);
    call.srcWidth = Read<LONG>(record, emf::kStretchCxSrc);
    call.srcHeight = Read<LONG>(record, emf::kStretchCySrc);
    call.usage = Read<DWORD>(record, emf::kStretchUsage);
    call.rop = Read<DWORD>(record, emf::kStretchRop);
    call.destWidth = Read<LONG>(record, emf::kStretchCxDest);
    call.destHeight = Read<LONG>(record, emf::kStretchCyDest);
    call.bits = record + offBits;
    call.bitmapInfo = &info;
    return dc.StretchDIBits(call) > 0;
}

bool SetRelativeToBase(DeviceContext& dc, const XFORM& xform)
{
    if (!IsFinite(xform))
        return Refuse();
    return dc.SetWorldTransform(ToXform(Then(FromXform(xform), dc.PlaybackBase())));
}

} // namespace

bool PlayRecord(DeviceContext& dc, const ENHMETARECORD& record)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(&record);
    const DWORD size = record.nSize;
    if (size < emf::kRecordPrefixBytes)
        return Refuse();
    switch (record.iType) {
    case EMR_SAVEDC:
        return dc.Save() > 0;
    case EMR_RESTOREDC:
        return size >= emf::kFirstField + sizeof(LONG) && dc.RestoreRelative(Read<LONG>(bytes, emf::kFirstField));
    case EMR_SETWORLDTRANSFORM:
        if (size < emf::kFirstField + emf::kXformBytes)
            return Refuse();
        return SetRelativeToBase(dc, Read<XFORM>(bytes, emf::kFirstField));
    case EMR_MODIFYWORLDTRANSFORM: {
        if (size < emf::kModifyMode + sizeof(DWORD))
            return Refuse();
        const XFORM xform = Read<XFORM>(bytes, emf::kFirstField);
        switch (const DWORD mode = Read<DWORD>(bytes, emf::kModifyMode)) {
        case MWT_IDENTITY:
            return dc.SetWorldTransform(ToXform(dc.PlaybackBase()));
        case MWT_LEFTMULTIPLY:
        case MWT_RIGHTMULTIPLY:
            return dc.ModifyWorldTransform(&xform, mode);
        case MWT_SET:
            return SetRelativeToBase(dc, xform);
        default:
            return Refuse();
        }
    }
    case EMR_GDICOMMENT: {
        if (size < emf::kCommentData)
            return Refuse();
        const DWORD count = Read<DWORD>(bytes, emf::kCommentSize);
        if (!Inside(emf::kCommentData, count, size))
            return Refuse();
        return dc.Comment(count, bytes + emf::kCommentData);
    }
    case EMR_STRETCHDIBITS:
        return PlayStretchDIBits(dc, bytes, size);
    case EMR_SETLAYOUT:
        return size >= emf::kFirstField + sizeof(DWORD)
            && dc.SetLayout(Read<DWORD>(bytes, emf::kFirstField)) != GDI_ERROR;
    default:
        // The header, the end, and records this player does not draw leave the target as it is.
        return true;
    }
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
