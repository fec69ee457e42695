// Stream reading with a size limit, and whole writes.
#include "plugins/prntvpt/stream_io.h"

#include <algorithm>

namespace prntvpt {
namespace {

constexpr ULONG kChunkBytes = 64 * 1024;

} // namespace

// Reads from the stream's position to its end, up to the limit.
StreamRead ReadWholeStream(IStream& stream, std::size_t limit, std::string& out)
{
    out.clear();
    char chunk[kChunkBytes];
    for (;;) {
        ULONG got = 0;
        if (FAILED(stream.Read(chunk, kChunkBytes, &got))) {
            return StreamRead::Failed;
        }
        if (got == 0) {
            return StreamRead::Ok;
        }
        if (got > kChunkBytes || out.size() + got > limit) {
            return StreamRead::TooLarge;
        }
        out.append(chunk, got);
    }
}

// Writes all of the bytes at the stream's current position.
HRESULT WriteWholeStream(IStream& stream, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 0x40000000u));
        ULONG written = 0;
        const HRESULT result = stream.Write(bytes.data(), piece, &written);
        if (FAILED(result)) {
            return result;
        }
        if (written == 0 || written > piece) {
            return STG_E_MEDIUMFULL;
        }
        bytes.remove_prefix(written);
    }
    return S_OK;
}

} // namespace prntvpt
