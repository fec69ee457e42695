#include "platform/gdi/metafile/emf_recorder.h"

#include "platform/gdi/metafile/enh_metafile.h"
#include "platform/kernel/file_modes.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <variant>

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

constexpr std::uint64_t kMaxMetafileBytes = 0xFFFFFFFFu;
// The header counts the object table in 16 bits: a recording holds at most this many objects at once.
constexpr std::size_t kMaxObjectIndices = 0xFFFF;

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

bool FitsIn16Bits(const POINTL& point)
{
    return point.x >= std::numeric_limits<std::int16_t>::min() && point.x <= std::numeric_limits<std::int16_t>::max()
        && point.y >= std::numeric_limits<std::int16_t>::min() && point.y <= std::numeric_limits<std::int16_t>::max();
}

} // namespace

std::unique_ptr<EmfRecorder> EmfRecorder::Create(const DeviceBackend& reference, const std::string& path,
                                                 const RECT* frame, std::u16string_view description)
{
    std::unique_ptr<EmfRecorder> recorder(new EmfRecorder(reference));
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

EmfRecorder::EmfRecorder(const DeviceBackend& reference) : caps_(reference)
{}

EmfRecorder::~EmfRecorder()
{
    LiveRecordings& live = Live();
    std::lock_guard lock(live.mutex);
    std::erase(live.recorders, this);
}

int EmfRecorder::Caps(int index) const
{
    return caps_(index);
}

bool EmfRecorder::Paint(const PicturePlacement&)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

template <typename Record>
bool EmfRecorder::Write(const Record& record)
{
    if (closed_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    const std::uint64_t size = emf::Encode(record, fixed_, parts_);
    if (size > kMaxMetafileBytes - emf::kEofBytes - writer_->Size()) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    bool written = true;
    for (std::span<const BYTE> part : parts_)
        written = written && writer_->Append(part);
    if (!written) {
        SetWriteError(writer_->Error());
        return false;
    }
    ++records_;
    return true;
}

template <typename Record, typename Record16>
bool EmfRecorder::WritePoints(const Record& record)
{
    points16_.clear();
    for (std::size_t i = 0; i < record.points.count; ++i) {
        const POINTL point = record.points[i];
        if (!FitsIn16Bits(point))
            return Write(record);
        points16_.push_back(emf::Point16{static_cast<std::int16_t>(point.x), static_cast<std::int16_t>(point.y)});
    }
    return Write(Record16{record.bounds, emf::Counted<emf::Point16>(std::span<const emf::Point16>(points16_))});
}

CallTaken EmfRecorder::Take(const emf::AnyRecord& call, const RECTL& inked)
{
    const bool written = std::visit(
        [this](const auto& record) {
            using Record = std::decay_t<decltype(record)>;
            if constexpr (std::is_same_v<Record, emf::PolylineToRecord>)
                return WritePoints<Record, emf::PolylineTo16Record>(record);
            else if constexpr (std::is_same_v<Record, emf::PolyBezierToRecord>)
                return WritePoints<Record, emf::PolyBezierTo16Record>(record);
            else
                return Write(record);
        },
        call.record);
    if (!written)
        return CallTaken::Refused;
    AddBounds(inked);
    return CallTaken::Kept;
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
        written = Write(emf::ExtCreatePenRecord{.index = index,
                                                .style = pen->style,
                                                .width = pen->width,
                                                .brushStyle = pen->brushStyle,
                                                .color = pen->color,
                                                .hatch = static_cast<DWORD>(pen->hatch),
                                                .entries = emf::Counted<DWORD>(std::span<const DWORD>(pen->entries))});
    } else if (const Brush* brush = object.As<Brush>()) {
        written = Write(
            emf::CreateBrushIndirectRecord{index, brush->style, brush->color, static_cast<DWORD>(brush->hatch)});
    } else if (const Font* font = object.As<Font>()) {
        written = Write(emf::ExtCreateFontIndirectRecord{.index = index, .logFont = font->logFont});
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
        Write(emf::DeleteObjectRecord{known->second});
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

bool EmfRecorder::Select(const GdiObject& object)
{
    if (object.IsStock())
        return Write(emf::SelectObjectRecord{emf::kStockObjectFlag | static_cast<DWORD>(object.StockIndex())});
    const auto known = objects_.find(object.Handle());
    const std::optional<DWORD> index = known != objects_.end() ? known->second : Create(object);
    return index && Write(emf::SelectObjectRecord{*index});
}

std::shared_ptr<EnhMetaFile> EmfRecorder::Close()
{
    if (!Write(emf::EofRecord{}))
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
