// The device behind a metafile recording context: each call the context supports becomes its
// published EMF record, in memory or streamed to a file as it comes (so a page of large bitmaps
// never sits in memory whole); the header is written last, when the recording is closed.
//
// Objects get indices in the metafile's own object table as GDI gives them: the first time an
// object is selected its create record is written under the lowest free index; deleting an
// object a live recording knows writes its delete record there and frees the index. The header's
// nHandles is the size the table reached.
#pragma once

#include "platform/gdi/context/device_context.h"
#include "platform/gdi/context/emf_records.h"
#include "platform/gdi/context/gdi_objects.h"

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::gdi {

class EnhMetaFile;
class RecordWriter;

class EmfRecorder final : public DeviceBackend {
public:
    // A recording whose reference device is `reference`: into memory when `path` is empty, else
    // into that file (created 0600, or emptied when it exists). `frame` (0.01 mm) may be null: the
    // frame then follows what is drawn. Null with the last error set when the file cannot be made.
    static std::unique_ptr<EmfRecorder> Create(const DeviceBackend& reference, const std::string& path,
                                               const RECT* frame, std::u16string_view description);
    ~EmfRecorder() override;

    int Caps(int index) const override;
    // Pictures reach a metafile only as the records of the calls that draw them.
    bool Paint(const PicturePlacement& placement) override;
    // Writes the call's record, and adds what it inks to the picture's bounds: Kept, or Refused
    // (last error set) when the recording can no longer be written.
    CallTaken Take(const emf::AnyRecord& call, const RECTL& inked) override;
    // Writes the selection's record, after the object's create record the first time.
    bool Select(const GdiObject& object) override;

    // An object was deleted: every live recording that knows it writes its delete record.
    static void ObjectDeleted(HGDIOBJ handle);

    // Ends the recording with its EOF record and header; the metafile, or null with the last
    // error set. The recorder takes no records afterwards.
    std::shared_ptr<EnhMetaFile> Close();

private:
    explicit EmfRecorder(const DeviceBackend& reference);

    // Writes a record as its description says; false (last error set) when it cannot be written.
    template <typename Record>
    bool Write(const Record& record);
    // A record of lines or curves in its 16-bit form when every point fits.
    template <typename Record, typename Record16>
    bool WritePoints(const Record& record);
    void AddBounds(const RECTL& bounds);
    // The create record of an object this recording has not seen, under a new index; the index.
    std::optional<DWORD> Create(const GdiObject& object);
    void Forget(HGDIOBJ handle);

    CopiedCaps caps_; // a recording context answers as its reference device
    std::unique_ptr<RecordWriter> writer_;
    std::string path_;
    std::vector<BYTE> description_; // padded to 4 bytes
    std::size_t descriptionUnits_ = 0;
    SIZEL device_ = {};
    SIZEL millimetres_ = {};
    bool hasFrame_ = false;
    RECTL frame_ = {};
    bool drawn_ = false;
    RECTL bounds_ = {0, 0, -1, -1};
    DWORD records_ = 0;
    bool closed_ = false;
    std::map<HGDIOBJ, DWORD> objects_; // the objects this recording has created, by index
    std::vector<bool> usedIndices_;    // index 0 stands for the metafile itself
    std::vector<BYTE> fixed_;          // a record's fixed fields and its parts, kept between records
    std::vector<std::span<const BYTE>> parts_;
    std::vector<emf::Point16> points16_;
};

} // namespace platform::gdi
