// Bitmaps: made from picture files and device-independent bitmaps, measured, and their pixels
// lent for reading.
#include "platform/gdiplus/gdiplus.h"
#include "platform/gdiplus/image.h"
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::gdiplus {

std::shared_ptr<Image> FindImage(const void* handle)
{
    return FindObject<Image>(handle);
}

} // namespace platform::gdiplus

namespace {

using platform::gdiplus::FindImage;
using platform::gdiplus::Image;

constexpr BYTE kPngFirstByte = 0x89;
constexpr BYTE kJpegFirstByte = 0xFF;

// A picture file larger than this is refused unread.
constexpr std::uint64_t kMaxPictureFileBytes = std::uint64_t{1} << 30;

// Reads a whole regular file; Ok, or the status of the failure with the last error set. The file
// is opened without waiting, so a named pipe or a device in its place is refused, never waited on.
Gdiplus::Status ReadPictureFile(const WCHAR* fileName, std::vector<BYTE>& bytes)
{
    const int file = ::open(platform::NativePath(fileName).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) {
        const int error = errno;
        platform::kernel::SetLastErrorFromErrno(error);
        return error == ENOENT || error == ENOTDIR ? Gdiplus::FileNotFound : Gdiplus::Win32Error;
    }
    struct stat status {};
    Gdiplus::Status result = Gdiplus::Ok;
    if (::fstat(file, &status) != 0) {
        platform::kernel::SetLastErrorFromErrno(errno);
        result = Gdiplus::Win32Error;
    } else if (!S_ISREG(status.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        result = Gdiplus::Win32Error;
    } else if (::fcntl(file, F_SETFL, ::fcntl(file, F_GETFL) & ~O_NONBLOCK) != 0) {
        platform::kernel::SetLastErrorFromErrno(errno);
        result = Gdiplus::Win32Error;
    } else if (static_cast<std::uint64_t>(status.st_size) > kMaxPictureFileBytes) {
        result = Gdiplus::ValueOverflow;
    } else {
        bytes.resize(static_cast<std::size_t>(status.st_size));
        std::size_t done = 0;
        while (result == Gdiplus::Ok && done < bytes.size()) {
            const ssize_t got = ::read(file, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                platform::kernel::SetLastErrorFromErrno(got < 0 ? errno : EIO);
                result = Gdiplus::Win32Error;
            }
            done += got > 0 ? static_cast<std::size_t>(got) : 0;
        }
    }
    ::close(file);
    return result;
}

Gdiplus::Status StatusOf(platform::gdi::PictureFault fault)
{
    switch (fault) {
    case platform::gdi::PictureFault::None:
        return Gdiplus::Ok;
    case platform::gdi::PictureFault::NotAPicture:
        return Gdiplus::UnknownImageFormat;
    case platform::gdi::PictureFault::Damaged:
        return Gdiplus::InvalidParameter;
    case platform::gdi::PictureFault::TooLarge:
        return Gdiplus::ValueOverflow;
    case platform::gdi::PictureFault::OutOfMemory:
        return Gdiplus::OutOfMemory;
    }
    return Gdiplus::GenericError;
}

// The bytes of a compressed picture must be the kind the header names.
bool IsKind(DWORD compression, std::span<const BYTE> bytes)
{
    if (bytes.size() < 2)
        return false;
    return compression == BI_JPEG ? bytes[0] == kJpegFirstByte && bytes[1] == 0xD8 : bytes[0] == kPngFirstByte;
}

} // namespace

namespace Gdiplus::DllExports {

GpStatus GdipCreateBitmapFromGdiDib(const BITMAPINFO* gdiBitmapInfo, void* gdiBitmapData, GpBitmap** bitmap)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    if (!gdiBitmapInfo || !gdiBitmapData || !bitmap)
        return InvalidParameter;
    *bitmap = nullptr;
    const std::optional<platform::gdi::DibLayout> layout = platform::gdi::ReadDibLayout(gdiBitmapInfo->bmiHeader);
    if (!layout)
        return InvalidParameter;
    try {
        const auto* bits = static_cast<const BYTE*>(gdiBitmapData);
        std::shared_ptr<platform::gdi::Picture> picture;
        if (layout->compression == BI_RGB) {
            picture = platform::gdi::Picture::FromDib(*layout, bits, 0, 0, layout->width, layout->height);
        } else {
            const std::span<const BYTE> data(bits, layout->bitsSize);
            if (!IsKind(layout->compression, data))
                return InvalidParameter;
            picture = platform::gdi::Picture::Decode(data);
            if (!picture)
                return InvalidParameter;
        }
        if (!picture)
            return OutOfMemory;
        *bitmap = platform::AddObject<GpBitmap*>(std::make_shared<Image>(std::move(picture)));
        return Ok;
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

GpStatus GdipCreateBitmapFromFile(const WCHAR* filename, GpBitmap** bitmap)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    if (!filename || !bitmap)
        return InvalidParameter;
    *bitmap = nullptr;
    try {
        auto bytes = std::make_shared<std::vector<BYTE>>();
        const Status read = ReadPictureFile(filename, *bytes);
        if (read != Ok)
            return read;
        platform::gdi::PictureFault fault = platform::gdi::PictureFault::None;
        std::shared_ptr<platform::gdi::Picture> picture = platform::gdi::Picture::Open(std::move(bytes), true, fault);
        if (!picture)
            return StatusOf(fault);
        *bitmap = platform::AddObject<GpBitmap*>(std::make_shared<Image>(std::move(picture)));
        return Ok;
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

GpStatus GdipGetImageWidth(GpImage* image, UINT* width)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    const std::shared_ptr<Image> found = FindImage(image);
    if (!found || !width)
        return InvalidParameter;
    *width = static_cast<UINT>(found->Picture().Width());
    return Ok;
}

GpStatus GdipGetImageHeight(GpImage* image, UINT* height)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    const std::shared_ptr<Image> found = FindImage(image);
    if (!found || !height)
        return InvalidParameter;
    *height = static_cast<UINT>(found->Picture().Height());
    return Ok;
}

GpStatus GdipBitmapLockBits(GpBitmap* bitmap, const GpRect* rect, UINT flags, PixelFormat format,
                            BitmapData* lockedBitmapData)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    const std::shared_ptr<Image> found = FindImage(bitmap);
    if (!found || !lockedBitmapData)
        return InvalidParameter;
    const int width = found->Picture().Width();
    const int height = found->Picture().Height();
    const GpRect area = rect ? *rect : GpRect{0, 0, width, height};
    if (area.X < 0 || area.Y < 0 || area.Width <= 0 || area.Height <= 0 || area.Width > width - area.X
        || area.Height > height - area.Y || !(flags & ImageLockModeRead))
        return InvalidParameter;
    if (flags & ImageLockModeWrite)
        return NotImplemented;
    if (format != PixelFormat32bppRGB && format != PixelFormat32bppARGB)
        return NotImplemented;

    std::lock_guard lock(found->mutex);
    if (found->locked)
        return WrongState;
    const std::size_t rowBytes = static_cast<std::size_t>(area.Width) * 4;
    BYTE* out = nullptr;
    std::size_t stride = rowBytes;
    if (flags & ImageLockModeUserInputBuf) {
        if (!lockedBitmapData->Scan0 || lockedBitmapData->Stride < 0
            || static_cast<std::size_t>(lockedBitmapData->Stride) < rowBytes)
            return InvalidParameter;
        out = static_cast<BYTE*>(lockedBitmapData->Scan0);
        stride = static_cast<std::size_t>(lockedBitmapData->Stride);
    } else {
        try {
            found->lockBuffer.assign(rowBytes * static_cast<std::size_t>(area.Height), 0);
        } catch (const std::bad_alloc&) {
            return OutOfMemory;
        }
        out = found->lockBuffer.data();
    }
    if (!found->Picture().ReadPixels(area.X, area.Y, area.Width, area.Height, format == PixelFormat32bppRGB, out,
                                     stride)) {
        std::vector<BYTE>().swap(found->lockBuffer);
        return OutOfMemory;
    }
    found->locked = true;
    lockedBitmapData->Width = static_cast<UINT>(area.Width);
    lockedBitmapData->Height = static_cast<UINT>(area.Height);
    lockedBitmapData->Stride = static_cast<INT>(stride);
    lockedBitmapData->PixelFormat = format;
    lockedBitmapData->Scan0 = out;
    lockedBitmapData->Reserved = 0;
    return Ok;
}

GpStatus GdipBitmapUnlockBits(GpBitmap* bitmap, BitmapData* lockedBitmapData)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    const std::shared_ptr<Image> found = FindImage(bitmap);
    if (!found || !lockedBitmapData)
        return InvalidParameter;
    std::lock_guard lock(found->mutex);
    if (!found->locked)
        return WrongState;
    found->locked = false;
    std::vector<BYTE>().swap(found->lockBuffer);
    return Ok;
}

GpStatus GdipDisposeImage(GpImage* image)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    return platform::RemoveObject<Image>(image) ? Ok : InvalidParameter;
}

} // namespace Gdiplus::DllExports
