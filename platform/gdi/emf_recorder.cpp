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
#include <limits>
#include <mutex>
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
constexpr DWORD kEofPaletteOffset = 16;
// The header counts the object table in 16 bits: a recording holds at most this many objects at once.
constexpr std::size_t kMaxObjectIndices = 0xFFFF;

template <typename T>
std::span<const BYTE> BytesOf(const T& value)
{
    return std::span<const BYTE>(reinterpret_cast<const BYTE*>(&value), sizeof value);
}

template <typename T>
std::span<const BYTE> BytesOfAll(std::span<const T> values)
{
    return std::span<const BYTE>(reinterpret_cast<const BYTE*>(values.data()), values.size_bytes());
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

// The recordings under way, each told when an object is deleted.
struct LiveRecordings {
    std::mutex mutex;
    std::vector<EmfRecorder*> recorders;
};

LiveRecordings& Live()
{
    // Never destroyed: a recording may end while static destruction runs.
    static LiveRecordings* live = new LiveRecordings();
    return *live;
}

bool FitsIn16Bits(const POINT& point)
{
    return point.x >= std::numeric_limits<std::int16_t>::min() && point.x <= std::numeric_limits<std::int16_t>::max()
        && point.y >= std::numeric_limits<std::int16_t>::min() && point.y <= std::numeric_limits<std::int16_t>::max();
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
    recorder->usedIndices_.assign(1, true);
    LiveRecordings& live = Live();
    std::lock_guard lock(live.mutex);
    live.recorders.push_back(recorder.get());
    return recorder;
}

EmfRecorder::~EmfRecorder()
{
    LiveRecordings& live = Live();
    std::lock_guard lock(live.mutex);
    std::erase(live.recorders, this);
}

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
    AddBounds(bounds);
    return true;
}

void EmfRecorder::AddBounds(const RECTL& bounds)
{
    if (bounds.right < bounds.left || bounds.bottom < bounds.top)
        return;
    if (!drawn_) {
        bounds_ = bounds;
        drawn_ = true;
    } else {
        bounds_ = RECTL{std::min(bounds_.left, bounds.left), std::min(bounds_.top, bounds.top),
                        std::max(bounds_.right, bounds.right), std::max(bounds_.bottom, bounds.bottom)};
    }
}

bool EmfRecorder::WriteValue(DWORD type, DWORD value)
{
    return Write(type, {BytesOf(value)});
}

std::optional<DWORD> EmfRecorder::Create(const GdiObject& object)
{
    const auto free = std::find(usedIndices_.begin(), usedIndices_.end(), false);
    const auto index = static_cast<DWORD>(free - usedIndices_.begin());
    if (index >= kMaxObjectIndices) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return std::nullopt;
    }
    bool written = false;
    if (const Pen* pen = object.As<Pen>()) {
        // No pattern bitmap: the brush of a pen here is solid or null.
        const DWORD fixed[] = {index,
                               0,
                               0,
                               0,
                               0,
                               pen->style,
                               pen->width,
                               pen->brushStyle,
                               pen->color,
                               static_cast<DWORD>(pen->hatch),
                               static_cast<DWORD>(pen->entries.size())};
        written = Write(EMR_EXTCREATEPEN, {BytesOf(fixed), BytesOfAll(std::span<const DWORD>(pen->entries))});
    } else if (const Brush* brush = object.As<Brush>()) {
        const DWORD fields[] = {index, brush->style, brush->color, static_cast<DWORD>(brush->hatch)};
        written = Write(EMR_CREATEBRUSHINDIRECT, {BytesOf(fields)});
    } else if (const Font* font = object.As<Font>()) {
        static constexpr BYTE zeros[emf::kFontPanoseBytes - sizeof(LOGFONTW)] = {};
        written = Write(EMR_EXTCREATEFONTINDIRECTW, {BytesOf(index), BytesOf(font->logFont), zeros});
    } else {
        // A bitmap is never selected into a recording.
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    if (!written)
        return std::nullopt;
    if (index == usedIndices_.size())
        usedIndices_.push_back(true);
    else
        usedIndices_[index] = true;
    objects_.emplace(object.Handle(), index);
    return index;
}

void EmfRecorder::Forget(HGDIOBJ handle)
{
    const auto known = objects_.find(handle);
    if (known == objects_.end())
        return;
    // A recording that can no longer be written fails as a whole when it is closed.
    if (!closed_)
        WriteValue(EMR_DELETEOBJECT, known->second);
    usedIndices_[known->second] = false;
    objects_.erase(known);
}

void EmfRecorder::ObjectDeleted(HGDIOBJ handle)
{
    LiveRecordings& live = Live();
    std::lock_guard lock(live.mutex);
    for (EmfRecorder* recorder : live.recorders)
        recorder->Forget(handle);
}

bool EmfRecorder::RecordSelectObject(const GdiObject& object)
{
    if (object.IsStock())
        return WriteValue(EMR_SELECTOBJECT, emf::kStockObjectFlag | static_cast<DWORD>(object.StockIndex()));
    const auto known = objects_.find(object.Handle());
    const std::optional<DWORD> index = known != objects_.end() ? known->second : Create(object);
    return index && WriteValue(EMR_SELECTOBJECT, *index);
}

bool EmfRecorder::RecordSetPolyFillMode(int mode)
{
    return WriteValue(EMR_SETPOLYFILLMODE, static_cast<DWORD>(mode));
}

bool EmfRecorder::RecordSetMiterLimit(FLOAT limit)
{
    // A FLOAT, as Windows declares the record.
    return Write(EMR_SETMITERLIMIT, {BytesOf(limit)});
}

bool EmfRecorder::RecordSetTextColor(COLORREF color)
{
    return WriteValue(EMR_SETTEXTCOLOR, color);
}

bool EmfRecorder::RecordSetBkMode(int mode)
{
    return WriteValue(EMR_SETBKMODE, static_cast<DWORD>(mode));
}

bool EmfRecorder::RecordSetTextAlign(UINT align)
{
    return WriteValue(EMR_SETTEXTALIGN, align);
}

bool EmfRecorder::RecordBeginPath()
{
    return Write(EMR_BEGINPATH, {});
}

bool EmfRecorder::RecordEndPath()
{
    return Write(EMR_ENDPATH, {});
}

bool EmfRecorder::RecordAbortPath()
{
    return Write(EMR_ABORTPATH, {});
}

bool EmfRecorder::RecordCloseFigure()
{
    return Write(EMR_CLOSEFIGURE, {});
}

bool EmfRecorder::RecordMoveTo(POINT point)
{
    const POINTL at{point.x, point.y};
    return Write(EMR_MOVETOEX, {BytesOf(at)});
}

bool EmfRecorder::RecordLineTo(POINT point)
{
    const POINTL at{point.x, point.y};
    return Write(EMR_LINETO, {BytesOf(at)});
}

bool EmfRecorder::RecordPolyTo(DWORD type, std::span<const POINT> points, const RECTL& bounds)
{
    const bool small = std::all_of(points.begin(), points.end(), FitsIn16Bits);
    scratch_.clear();
    for (const POINT& point : points) {
        if (small) {
            emf::Append(scratch_, static_cast<std::int16_t>(point.x));
            emf::Append(scratch_, static_cast<std::int16_t>(point.y));
        } else {
            emf::Append(scratch_, static_cast<std::int32_t>(point.x));
            emf::Append(scratch_, static_cast<std::int32_t>(point.y));
        }
    }
    if (small)
        type = type == EMR_POLYBEZIERTO ? EMR_POLYBEZIERTO16 : EMR_POLYLINETO16;
    const auto count = static_cast<DWORD>(points.size());
    return Write(type, {BytesOf(bounds), BytesOf(count), scratch_});
}

bool EmfRecorder::RecordPaintPath(DWORD type, const RECTL& bounds)
{
    return Write(type, {BytesOf(bounds)});
}

bool EmfRecorder::RecordSelectClipPath(int mode)
{
    return WriteValue(EMR_SELECTCLIPPATH, static_cast<DWORD>(mode));
}

bool EmfRecorder::RecordExtTextOut(const TextCall& call, std::span<const INT> advances, int graphicsMode,
                                   const RECTL& bounds)
{
    struct Fixed {
        RECTL bounds;
        DWORD graphicsMode;
        FLOAT scaleX, scaleY;
        POINTL reference;
        DWORD count, offString, options;
        RECTL rectangle;
        DWORD offDx;
    };
    static_assert(sizeof(Fixed) == emf::kTextFixedBytes - emf::kRecordPrefixBytes);
    const std::size_t stringBytes = call.text.size() * sizeof(WCHAR);
    const std::size_t padding = (4 - stringBytes % 4) % 4;
    // In the compatible mode a reader scales page units (the reference device's pixels) to 0.01 mm.
    const bool compatible = graphicsMode == GM_COMPATIBLE;
    const Fixed fixed{bounds,
                      static_cast<DWORD>(graphicsMode),
                      compatible && device_.cx > 0 ? 100.0f * millimetres_.cx / device_.cx : 0.0f,
                      compatible && device_.cy > 0 ? 100.0f * millimetres_.cy / device_.cy : 0.0f,
                      POINTL{call.x, call.y},
                      static_cast<DWORD>(call.text.size()),
                      static_cast<DWORD>(emf::kTextFixedBytes),
                      call.options,
                      call.rect ? RECTL{call.rect->left, call.rect->top, call.rect->right, call.rect->bottom}
                                : RECTL{0, 0, -1, -1},
                      static_cast<DWORD>(emf::kTextFixedBytes + stringBytes + padding)};
    static constexpr BYTE zeros[4] = {};
    return Write(EMR_EXTTEXTOUTW,
                 {BytesOf(fixed), BytesOfAll(call.text), std::span<const BYTE>(zeros, padding), BytesOfAll(advances)});
}

bool EmfRecorder::RecordAlphaBlend(const BlendCall& call, std::span<const BYTE> rows, const RECTL& bounds)
{
    struct Fixed {
        RECTL bounds;
        LONG xDest, yDest, cxDest, cyDest;
        BLENDFUNCTION blend;
        LONG xSrc, ySrc;
        XFORM xformSrc;
        COLORREF bkColorSrc;
        DWORD usageSrc, offBmiSrc, cbBmiSrc, offBitsSrc, cbBitsSrc;
        LONG cxSrc, cySrc;
    };
    static_assert(sizeof(Fixed) == emf::kBlendFixedBytes - emf::kRecordPrefixBytes);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = call.srcWidth;
    header.biHeight = -call.srcHeight;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(rows.size());
    const Fixed fixed{bounds,
                      call.xDest,
                      call.yDest,
                      call.destWidth,
                      call.destHeight,
                      call.blend,
                      0,
                      0,
                      XFORM{1, 0, 0, 1, 0, 0},
                      0,
                      DIB_RGB_COLORS,
                      static_cast<DWORD>(emf::kBlendFixedBytes),
                      static_cast<DWORD>(sizeof header),
                      static_cast<DWORD>(emf::kBlendFixedBytes + sizeof header),
                      static_cast<DWORD>(rows.size()),
                      call.srcWidth,
                      call.srcHeight};
    return Write(EMR_ALPHABLEND, {BytesOf(fixed), BytesOf(header), rows});
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
    header.nHandles = static_cast<WORD>(usedIndices_.size());
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
