#include "printing/emf.h"

#include "platform/kernel/kernel.h"

namespace aio::printing {

Emf::~Emf()
{
    // A recording never stopped is discarded with its object; its metafile never existed.
    AdoptRecording(nullptr);
    Adopt(nullptr);
}

void Emf::Adopt(HENHMETAFILE metafile)
{
    if (metafile_ && metafile_ != metafile)
        DeleteEnhMetaFile(metafile_);
    metafile_ = metafile;
}

void Emf::AdoptRecording(HDC dc)
{
    if (recordingDc_ && recordingDc_ != dc)
        DeleteDC(recordingDc_);
    recordingDc_ = dc;
}

bool Emf::StartRecording()
{
    AdoptRecording(CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr));
    return recordingDc_ != nullptr;
}

bool Emf::StartRecordingToFile(const std::u16string& path)
{
    AdoptRecording(CreateEnhMetaFileW(nullptr, path.c_str(), nullptr, nullptr));
    return recordingDc_ != nullptr;
}

bool Emf::LoadFromBytes(const void* data, std::uint32_t size)
{
    Adopt(SetEnhMetaFileBits(size, static_cast<const BYTE*>(data)));
    return metafile_ != nullptr;
}

bool Emf::LoadFromFile(const std::u16string& path)
{
    Adopt(GetEnhMetaFileW(path.c_str()));
    return metafile_ != nullptr;
}

bool Emf::WritePageMark(std::uint32_t kind)
{
    const std::uint32_t mark[2] = {PageMarkSignature, kind};
    return GdiComment(recordingDc_, sizeof mark, reinterpret_cast<const BYTE*>(mark)) != FALSE;
}

bool Emf::MarkPageStart(const PageSize&, const ContentArea&, float)
{
    if (!recordingDc_)
        return false;
    // Counted before the mark is written: a page whose mark failed was still started.
    ++startedPageCount_;
    return WritePageMark(PageMarkStart);
}

bool Emf::MarkPageEnd()
{
    if (!recordingDc_)
        return false;
    return WritePageMark(PageMarkEnd);
}

bool Emf::StopRecording()
{
    // CloseEnhMetaFile ends the recording context whatever it returns.
    HENHMETAFILE metafile = CloseEnhMetaFile(recordingDc_);
    recordingDc_ = nullptr;
    Adopt(metafile);
    return metafile_ != nullptr;
}

std::uint32_t Emf::GetByteSize() const
{
    return GetEnhMetaFileBits(metafile_, 0, nullptr);
}

bool Emf::CopyBytes(void* buffer, std::uint32_t size) const
{
    return size != 0 && GetEnhMetaFileBits(metafile_, size, static_cast<BYTE*>(buffer)) == size;
}

bool Emf::ReadAllBytes(std::vector<BYTE>& bytes) const
{
    const std::uint32_t size = GetByteSize();
    if (size == 0)
        return false;
    bytes.resize(size);
    return CopyBytes(bytes.data(), size);
}

bool Emf::WriteToFile(const std::u16string& path) const
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::vector<BYTE> bytes;
    bool result = ReadAllBytes(bytes);
    if (result) {
        DWORD written = 0;
        result = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE
            && written == bytes.size();
    }
    CloseHandle(file);
    return result;
}

PageBounds Emf::GetBounds(std::int32_t) const
{
    ENHMETAHEADER header{};
    if (GetEnhMetaFileHeader(metafile_, sizeof header, &header) != sizeof header)
        return PageBounds{};
    const RECTL& bounds = header.rclBounds;
    // {0, 0, -1, -1} is GDI's bounds of a picture in which nothing was drawn.
    if (bounds.left == 0 && bounds.top == 0 && bounds.right == -1 && bounds.bottom == -1)
        return PageBounds{};
    return PageBounds{bounds.left, bounds.top, static_cast<std::int32_t>(std::int64_t{bounds.right} - bounds.left),
                      static_cast<std::int32_t>(std::int64_t{bounds.bottom} - bounds.top)};
}

bool Emf::Play(HDC target, const RECT* rect) const
{
    RECT bounds{};
    if (!rect) {
        const PageBounds page = GetBounds(1);
        bounds = RectOf(page);
        rect = &bounds;
    }
    return PlayEnhMetaFile(target, metafile_, rect) != FALSE;
}

} // namespace aio::printing
