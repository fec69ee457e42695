// An enhanced metafile behind an HENHMETAFILE: its bytes in memory, or its file read record by
// record (so playing a file-backed page of large bitmaps holds one record at a time). Its framing
// (header, every record's size) is checked when it is made, and again as records are read, so
// nothing ever reads outside it.
#pragma once

#include "platform/gdi/gdi.h"
#include "platform/kernel/object_table.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace platform::gdi {

class EnhMetaFile final {
public:
    static constexpr ObjectKind kObjectKind = ObjectKind::EnhMetaFile;

    // A metafile of these bytes (its own length is taken from its header; bytes beyond it are
    // left out). Null with ERROR_INVALID_DATA when the framing is broken.
    static std::shared_ptr<EnhMetaFile> FromBytes(std::vector<BYTE> bytes);
    // The metafile in a file, kept open and read as it is needed. Null with the last error set.
    static std::shared_ptr<EnhMetaFile> Open(const std::string& path);

    ~EnhMetaFile();
    EnhMetaFile(const EnhMetaFile&) = delete;
    EnhMetaFile& operator=(const EnhMetaFile&) = delete;

    // The whole metafile's size in bytes (its header's nBytes).
    std::size_t Size() const { return size_; }
    // The header record (its size is HeaderRecord().size()).
    std::span<const BYTE> HeaderRecord() const { return header_; }
    // The header's fields; those beyond a short header read as 0.
    ENHMETAHEADER Header() const;
    // Copies the whole metafile; false with the last error set when its file cannot be read.
    bool CopyTo(BYTE* out) const;

    // Calls `visit` with each record in order (type, size, fields; 4-byte aligned). True when every
    // record was visited; false when `visit` stopped it, or (last error set) a record could not be read.
    bool ForEachRecord(const std::function<bool(const ENHMETARECORD& record)>& visit) const;

private:
    EnhMetaFile() = default;

    std::vector<BYTE> memory_; // the metafile, when it is held in memory
    int file_ = -1;            // else its open file
    std::size_t size_ = 0;
    std::vector<BYTE> header_;
};

// The length of the well-formed metafile at the start of `bytes` (its header's nBytes), or 0.
// A well-formed metafile starts with its header, and its records (each at least 8 bytes, a
// multiple of 4) tile it up to the EOF record that ends it.
std::size_t WellFormedMetafileLength(std::span<const BYTE> bytes);

} // namespace platform::gdi
