// The device behind a metafile recording context: each call the context supports becomes its
// published EMF record, in memory or streamed to a file as it comes (so a page of large bitmaps
// never sits in memory whole); the header is written last, when the recording is closed.
//
// Objects get indices in the metafile's own object table as GDI gives them: the first time an
// object is selected its create record is written under the lowest free index; deleting an
// object a live recording knows writes its delete record there and frees the index. The header's
// nHandles is the size the table reached.
#pragma once

#include "platform/gdi/device_context.h"
#include "platform/gdi/dib.h"
#include "platform/gdi/gdi_objects.h"

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
    // Pictures reach a metafile only as the StretchDIBits records of their callers.
    bool Paint(const PicturePlacement& placement) override;
    EmfRecorder* Recorder() override { return this; }

    // Each writes its record; false (last error set) when the recording can no longer be written.
    bool RecordSaveDC();
    bool RecordRestoreDC(int relative);
    bool RecordSetWorldTransform(const XFORM& xform);
    bool RecordModifyWorldTransform(const XFORM& xform, DWORD mode);
    bool RecordSetLayout(DWORD layout);
    bool RecordComment(std::span<const BYTE> data);
    // The bitmap's header and its bits as the layout describes them; `bounds` is the drawn extent
    // in device units (inclusive), added to the picture's bounds.
    bool RecordStretchDIBits(const StretchCall& call, const DibLayout& layout, const RECTL& bounds);

    // The vector calls, in the order of the table in emf_format.h. `bounds` arguments are the
    // record's own bounds field; what a call draws is added to the picture's bounds by AddBounds.
    bool RecordSelectObject(const GdiObject& object);
    bool RecordSetPolyFillMode(int mode);
    bool RecordSetMiterLimit(FLOAT limit);
    bool RecordSetTextColor(COLORREF color);
    bool RecordSetBkMode(int mode);
    bool RecordSetTextAlign(UINT align);
    bool RecordBeginPath();
    bool RecordEndPath();
    bool RecordAbortPath();
    bool RecordCloseFigure();
    bool RecordMoveTo(POINT point);
    bool RecordLineTo(POINT point);
    // EMR_POLYLINETO or EMR_POLYBEZIERTO, in their 16-bit forms when every point fits.
    bool RecordPolyTo(DWORD type, std::span<const POINT> points, const RECTL& bounds);
    // EMR_FILLPATH, EMR_STROKEPATH or EMR_STROKEANDFILLPATH.
    bool RecordPaintPath(DWORD type, const RECTL& bounds);
    bool RecordSelectClipPath(int mode);
    // The call's text and the advances it was laid out with.
    bool RecordExtTextOut(const TextCall& call, std::span<const INT> advances, int graphicsMode, const RECTL& bounds);
    // The source rectangle travels as `rows`: top-down 32-bit rows of its width and height.
    bool RecordAlphaBlend(const BlendCall& call, std::span<const BYTE> rows, const RECTL& bounds);

    // Adds a drawn extent (inclusive device pixels; nothing when empty) to the picture's bounds.
    void AddBounds(const RECTL& bounds);

    // An object was deleted: every live recording that knows it writes its delete record.
    static void ObjectDeleted(HGDIOBJ handle);

    // Ends the recording with its EOF record and header; the metafile, or null with the last
    // error set. The recorder takes no records afterwards.
    std::shared_ptr<EnhMetaFile> Close();

private:
    EmfRecorder() = default;

    bool Write(DWORD type, std::initializer_list<std::span<const BYTE>> parts);
    bool WriteValue(DWORD type, DWORD value);
    // The create record of an object this recording has not seen, under a new index; the index.
    std::optional<DWORD> Create(const GdiObject& object);
    void Forget(HGDIOBJ handle);

    std::vector<std::pair<int, int>> caps_;
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
    std::vector<BYTE> scratch_;        // the points of a record, kept between records
};

} // namespace platform::gdi
