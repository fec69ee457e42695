// Record-by-record playback of a recorded page onto the printer, repairing some records on the
// way: transforms stay under the printer's own, page marks become pages, odd comments and layout
// records are dropped, and compressed pictures the printer cannot take are decoded first.
#pragma once

#include "platform/gdi/gdi.h"
#include "platform/gdi/metafile/playback_limits.h"

#include <cstdint>

namespace aio::printing {

// What every record is played against: the enumeration's handle table and count, and the target.
struct PlaybackTarget {
    HANDLETABLE* handle_table = nullptr;
    int handle_count = 0;
    HDC dc = nullptr;
};

// One enumerated record and the target it is played against.
struct PlaybackRecord {
    const ENHMETARECORD* record = nullptr;
    const PlaybackTarget* target = nullptr;

    // Plays the record unchanged.
    bool PlayAsIs() const;
};

// What a playback carries from record to record: the printer's own transform, which the page's
// transforms stay under, and what the page may still cost.
struct PlaybackRun {
    XFORM base{};
    platform::gdi::PlaybackLimits limits;
};

// The EnumEnhMetaFile callback of PlayWithRepair; `user_data` points to the PlaybackRun. Every
// record within the limits is played through PlayRecord, and enumeration goes on: a record that
// fails is skipped and the rest of the page still prints. The first record past a limit stops it.
int RecordCallback(HDC dc, HANDLETABLE* handle_table, const ENHMETARECORD* record, int handle_count, LPARAM user_data);

// Plays one record, repaired as its type asks, under the base transform.
bool PlayRecord(const XFORM* base_transform, const PlaybackRecord& record);

// Whether the device takes a compressed image unchanged: it must know the escape, and say yes.
bool DeviceAcceptsImage(HDC dc, int escape, const void* data, std::uint32_t size);

} // namespace aio::printing
