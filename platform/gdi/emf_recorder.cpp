#include "platform/gdi/emf_recorder.h"

#include "platform/gdi/emf_format.h"
#include "platform/gdi/enh_metafile.h"
#include "platform/kernel/file_modes.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace platform::gdi {

// Where the records go: a growing buffer, or a file written through a buffer. The first failure
// sticks: every later write fails too, and the recording cannot be closed into a metafile.
class RecordWriter final {
public:
    // Into memory (file < 0) or into an open file this writer then owns.
    explicit RecordWriter(int file) : file_(file) {}
    ~RecordWriter()
    {
        if (file_ >= 0)
            ::close(file_);
    }
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    bool Append(std::span<const BYTE> bytes)
    {
        if (error_ != 0)
            return false;
        if (file_ < 0) {
            try {
                memory_.insert(memory_.end(), bytes.begin(), bytes.end());
            } catch (const std::bad_alloc&) {
                error_ = ENOMEM;
                return false;
            }
        } else if (buffer_.size() + bytes.size() <= kBufferBytes) {
            buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
        } else if (!Flush() || !WriteAt(bytes, size_)) {
            return false;
        }
        size_ += bytes.size();
        return true;
    }

    // Rewrites bytes already written (the header, once the recording is complete).
    bool Patch(std::uint64_t offset, std::span<const BYTE> bytes)
    {
        if (error_ != 0)
            return false;
        if (file_ < 0) {
            std::copy(bytes.begin(), bytes.end(), memory_.begin() + static_cast<std::ptrdiff_t>(offset));
            return true;
        }
        return Flush() && WriteAt(bytes, offset);
    }

    // Ends the writing: the file is flushed and closed.
    bool Finish()
    {
        if (file_ < 0 || !Flush())
            return error_ == 0;
        if (::close(std::exchange(file_, -1)) != 0 && error_ == 0)
            error_ = errno;
        return error_ == 0;
    }

    std::vector<BYTE> TakeMemory() { return std::move(memory_); }
    std::uint64_t Size() const { return size_; }
    int Error() const { return error_; }

private:
    static constexpr std::size_t kBufferBytes = 256 * 1024;

    bool Flush()
    {
        if (buffer_.empty())
            return error_ == 0;
        const std::uint64_t offset = size_ - buffer_.size();
        const bool written = WriteAt(buffer_, offset);
        buffer_.clear();
        return written;
    }

    bool WriteAt(std::span<const BYTE> bytes, std::uint64_t offset)
    {
        while (!bytes.empty()) {
            const ssize_t count = ::pwrite(file_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0) {
                error_ = count < 0 ? errno : ENOSPC;
                return false;
            }
            bytes = bytes.subspan(static_cast<std::size_t>(count));
            offset += static_cast<std::uint64_t>(count);
        }
        return true;
    }

    int file_;
    std::vector<BYTE> memory_;
    std::vector<BYTE> buffer_;
    std::uint64_t size_ = 0;
    int error_ = 0;
};

namespace {

// The capabilities a recording context answers as its reference device does.
constexpr int kReferenceCaps[]
    = {TECHNOLOGY, HORZSIZE,   VERTSIZE,   HORZRES,       VERTRES,        BITSPIXEL,       PLANES,         NUMCOLORS,
       RASTERCAPS, LOGPIXELSX, LOGPIXELSY, PHYSICALWIDTH, PHYSICALHEIGHT, PHYSICALOFFSETX, PHYSICALOFFSETY};

constexpr std::uint64_t kMaxMetafileBytes = 0xFFFFFFFFu;
constexpr DWORD kHandleTableSize = 1; // entry 0 stands for the metafile itself: no objects are recorded
constexpr DWORD kEofPaletteOffset = 16;

template <typename T>
std::span<const BYTE> BytesOf(const T& value)
{
    return std::span<const BYTE>(reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void SetWriteError(int error)
{
    if (error == ENOSPC || error == EDQUOT)
        SetLastError(ERROR_DISK_FULL);
    else if (error == ENOMEM)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    else
        platform::kernel::SetLastErrorFromErrno(error);
}

} // namespace

std::unique_ptr<EmfRecorder> EmfRecorder::Create(const DeviceBackend& reference, const std::string& path,
                                                 const RECT* frame, std::u16string_view description)
{
    std::unique_ptr<EmfRecorder> recorder(new EmfRecorder());
    for (int index : kReferenceCaps)
        recorder->caps_.emplace_back(index, reference.Caps(index));
    recorder->device_ = SIZEL{reference.Caps(HORZRES), reference.Caps(VERTRES)};
    recorder->millimetres_ = SIZEL{reference.Caps(HORZSIZE), reference.Caps(VERTSIZE)};
    if (frame) {
        recorder->hasFrame_ = true;
        recorder->frame_ = RECTL{frame->left, frame->top, frame->right, frame->bottom};
    }
    for (char16_t unit : description)
        emf::Append(recorder->description_, unit);
    recorder->descriptionUnits_ = description.size();
    recorder->description_.resize((recorder->description_.size() + 3) / 4 * 4);

    int file = -1;
    if (!path.empty()) {
        // A page recording holds what is being printed: it is private to its owner.
        file = platform::OpenOwnFile(path, O_WRONLY | O_CREAT | O_TRUNC);
        if (file < 0) {
            platform::kernel::SetLastErrorFromErrno(errno);
            return nullptr;
        }
    }
    recorder->path_ = path;
    recorder->writer_ = std::make_unique<RecordWriter>(file);
    // The header is written last; until then its place is kept.
    const std::vector<BYTE> placeholder(emf::kHeaderBytes + recorder->description_.size(), 0);
    if (!recorder->writer_->Append(placeholder)) {
        SetWriteError(recorder->writer_->Error());
        return nullptr;
    }
    recorder->records_ = 1;
    return recorder;
}

EmfRecorder::~EmfRecorder() = default;

int EmfRecorder::Caps(int index) const
{
    for (const auto& [known, value] : caps_) {
        if (known == index)
            return value;
    }
    return 0;
}

bool EmfRecorder::Paint(const PicturePlacement&)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

bool EmfRecorder::Write(DWORD type, std::initializer_list<std::span<const BYTE>> parts)
{
    if (closed_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    std::uint64_t size = emf::kRecordPrefixBytes;
    for (std::span<const BYTE> part : parts)
        size += part.size();
    const std::uint64_t padding = (4 - size % 4) % 4;
    size += padding;
    if (size > kMaxMetafileBytes - emf::kEofBytes - writer_->Size()) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    const DWORD prefix[2] = {type, static_cast<DWORD>(size)};
    static constexpr BYTE zeros[4] = {};
    bool written = writer_->Append(BytesOf(prefix));
    for (std::span<const BYTE> part : parts)
        written = written && writer_->Append(part);
    written = written && writer_->Append(std::span<const BYTE>(zeros, static_cast<std::size_t>(padding)));
    if (!written) {
        SetWriteError(writer_->Error());
        return false;
    }
    ++records_;
    return true;
}

bool EmfRecorder::RecordSaveDC()
{
    return Write(EMR_SAVEDC, {});
}

bool EmfRecorder::RecordRestoreDC(int relative)
{
    const LONG value = relative;
    return Write(EMR_RESTOREDC, {BytesOf(value)});
}

bool EmfRecorder::RecordSetWorldTransform(const XFORM& xform)
{
    return Write(EMR_SETWORLDTRANSFORM, {BytesOf(xform)});
}

bool EmfRecorder::RecordModifyWorldTransform(const XFORM& xform, DWORD mode)
{
    return Write(EMR_MODIFYWORLDTRANSFORM, {BytesOf(xform), BytesOf(mode)});
}

bool EmfRecorder::RecordSetLayout(DWORD layout)
{
    return Write(EMR_SETLAYOUT, {BytesOf(layout)});
}

bool EmfRecorder::RecordComment(std::span<const BYTE> data)
{
    const auto size = static_cast<DWORD>(data.size());
    return Write(EMR_GDICOMMENT, {BytesOf(size), data});
}

bool EmfRecorder::RecordStretchDIBits(const StretchCall& call, const DibLayout& layout, const RECTL& bounds)
{
    BITMAPINFOHEADER header = call.bitmapInfo->bmiHeader;
    header.biSize = sizeof header; // only the basic header travels: it says all the bits need
    struct Fixed {
        RECTL bounds;
        LONG xDest, yDest, xSrc, ySrc, cxSrc, cySrc;
        DWORD offBmi, cbBmi, offBits, cbBits, usage, rop;
        LONG cxDest, cyDest;
    };
    static_assert(sizeof(Fixed) == emf::kStretchFixedBytes - emf::kRecordPrefixBytes);
    if (layout.bitsSize > kMaxMetafileBytes) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    const Fixed fixed{bounds,
                      call.xDest,
                      call.yDest,
                      call.xSrc,
                      call.ySrc,
                      call.srcWidth,
                      call.srcHeight,
                      static_cast<DWORD>(emf::kStretchFixedBytes),
                      static_cast<DWORD>(sizeof header),
                      static_cast<DWORD>(emf::kStretchFixedBytes + sizeof header),
                      static_cast<DWORD>(layout.bitsSize),
                      call.usage,
                      call.rop,
                      call.destWidth,
                      call.destHeight};
    const std::span<const BYTE> bits(static_cast<const BYTE*>(call.bits), layout.bitsSize);
    if (!Write(EMR_STRETCHDIBITS, {BytesOf(fixed), BytesOf(header), bits}))
        return false;
    if (!drawn_) {
        bounds_ = bounds;
        drawn_ = true;
    } else {
        bounds_ = RECTL{std::min(bounds_.left, bounds.left), std::min(bounds_.top, bounds.top),
                        std::max(bounds_.right, bounds.right), std::max(bounds_.bottom, bounds.bottom)};
    }
    return true;
}

std::shared_ptr<EnhMetaFile> EmfRecorder::Close()
{
    const DWORD eof[3] = {0, kEofPaletteOffset, static_cast<DWORD>(emf::kEofBytes)};
    if (!Write(EMR_EOF, {BytesOf(eof)}))
        return nullptr;
    closed_ = true;

    ENHMETAHEADER header{};
    header.iType = EMR_HEADER;
    header.nSize = static_cast<DWORD>(emf::kHeaderBytes + description_.size());
    header.rclBounds = drawn_ ? bounds_ : RECTL{0, 0, -1, -1};
    header.rclFrame = hasFrame_ ? frame_
        : drawn_                ? emf::FrameOfBounds(bounds_, device_, millimetres_)
                                : RECTL{0, 0, -1, -1};
    header.dSignature = ENHMETA_SIGNATURE;
    header.nVersion = emf::kVersion;
    header.nBytes = static_cast<DWORD>(writer_->Size());
    header.nRecords = records_;
    header.nHandles = kHandleTableSize;
    if (descriptionUnits_ > 0) {
        header.nDescription = static_cast<DWORD>(descriptionUnits_);
        header.offDescription = static_cast<DWORD>(emf::kHeaderBytes);
    }
    header.szlDevice = device_;
    header.szlMillimeters = millimetres_;
    header.szlMicrometers = SIZEL{millimetres_.cx * 1000, millimetres_.cy * 1000};

    std::vector<BYTE> bytes(BytesOf(header).begin(), BytesOf(header).end());
    bytes.insert(bytes.end(), description_.begin(), description_.end());
    if (!writer_->Patch(0, bytes) || !writer_->Finish()) {
        SetWriteError(writer_->Error());
        return nullptr;
    }
    if (path_.empty())
        return EnhMetaFile::FromBytes(writer_->TakeMemory());
    return EnhMetaFile::Open(path_);
}

} // namespace platform::gdi
