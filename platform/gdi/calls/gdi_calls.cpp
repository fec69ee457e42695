// The GDI calls: each checks its handle and arguments, then hands the work to the device context
// or metafile behind the handle. Failures answer with the Windows failure value and the last error.
#include "platform/gdi/gdi.h"

#include "platform/gdi/calls/call_support.h"
#include "platform/gdi/context/device_context.h"
#include "platform/gdi/devices/devices.h"
#include "platform/gdi/metafile/emf_playback.h"
#include "platform/gdi/metafile/emf_recorder.h"
#include "platform/gdi/metafile/enh_metafile.h"
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/object_table.h"
#include "platform/kernel/text.h"
#include "platform/spooler/devmode.h"
#include "platform/spooler/printer_registry.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

using platform::gdi::DeviceContext;
using platform::gdi::EnhMetaFile;
using platform::gdi::FindDc;
using platform::gdi::Guarded;
using platform::gdi::OnDc;

// A description of more characters than this is refused (its header would be too large to read back).
constexpr std::size_t kMaxDescriptionUnits = 32767;

std::shared_ptr<EnhMetaFile> FindMetafile(HENHMETAFILE metafile)
{
    std::shared_ptr<EnhMetaFile> found = platform::FindObject<EnhMetaFile>(metafile);
    if (!found)
        SetLastError(ERROR_INVALID_HANDLE);
    return found;
}

// The driver names that make a printer context: none, empty (as the tool passes) or "WINSPOOL".
bool IsPrinterDriver(LPCWSTR driver)
{
    if (!driver || !*driver)
        return true;
    return platform::kernel::EqualFoldingAscii(std::u16string_view(driver), std::u16string_view(u"WINSPOOL"));
}

// The length in units of a metafile description ("application\0picture\0\0"), both zeros ending
// it included; 0 when it is missing its end within the limit.
std::size_t DescriptionUnits(LPCWSTR description)
{
    for (std::size_t i = 1; i < kMaxDescriptionUnits; ++i) {
        if (description[i - 1] == u'\0' && description[i] == u'\0')
            return i + 1;
    }
    return 0;
}

struct PlayAll {
    bool allPlayed = true;
};

int PlayEveryRecord(HDC dc, HANDLETABLE* table, const ENHMETARECORD* record, int objects, LPARAM data)
{
    if (!PlayEnhMetaFileRecord(dc, table, record, static_cast<UINT>(objects)))
        reinterpret_cast<PlayAll*>(data)->allPlayed = false;
    return 1; // a record that cannot be played does not stop the picture
}

} // namespace

HDC CreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR /*output*/, const DEVMODEW* initData)
{
    if (!IsPrinterDriver(driver) || !device) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Guarded<HDC>(nullptr, [&]() -> HDC {
        const std::optional<platform::PrinterDefinition> printer = platform::FindPrinter(std::u16string_view(device));
        if (!printer) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return nullptr;
        }
        // A caller's device mode may name only some fields: it is merged into the printer's
        // default as DocumentPropertiesW merges it, and refused where the spooler refuses it.
        platform::spooler::FullDevMode mode = platform::spooler::DefaultDevMode(*printer);
        if (initData && !platform::spooler::MergeDevMode(*printer, *initData, mode)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        return platform::AddObject<HDC>(std::make_shared<DeviceContext>(
            DeviceContext::Kind::Printer, platform::gdi::MakePrinterDevice(*printer, mode)));
    });
}

BOOL DeleteDC(HDC dc)
{
    const std::shared_ptr<DeviceContext> context = FindDc(dc);
    if (!context)
        return FALSE;
    // The screen's context is given back with ReleaseDC.
    if (context->GetKind() == DeviceContext::Kind::Screen) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return platform::RemoveObject<DeviceContext>(dc) ? TRUE : FALSE;
}

HDC GetDC(HWND window)
{
    if (window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return Guarded<HDC>(nullptr, [] {
        return platform::AddObject<HDC>(
            std::make_shared<DeviceContext>(DeviceContext::Kind::Screen, platform::gdi::MakeScreenDevice()));
    });
}

int ReleaseDC(HWND /*window*/, HDC dc)
{
    const std::shared_ptr<DeviceContext> context = platform::FindObject<DeviceContext>(dc);
    if (!context || context->GetKind() != DeviceContext::Kind::Screen)
        return 0;
    return platform::RemoveObject<DeviceContext>(dc) ? 1 : 0;
}

int GetDeviceCaps(HDC dc, int index)
{
    return OnDc(dc, 0, [&](DeviceContext& context) { return context.Backend().Caps(index); });
}

int StartDocW(HDC dc, const DOCINFOW* docInfo)
{
    return OnDc(dc, SP_ERROR, [&](DeviceContext& context) {
        // 20 bytes is the structure of a 32-bit Windows program, as the tool passes it.
        constexpr int kDocInfo32Bytes = 20;
        if (!docInfo || (docInfo->cbSize != kDocInfo32Bytes && docInfo->cbSize != static_cast<int>(sizeof(DOCINFOW)))) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return SP_ERROR;
        }
        return context.Backend().StartDoc(*docInfo);
    });
}

int StartPage(HDC dc)
{
    return OnDc(dc, SP_ERROR, [](DeviceContext& context) { return context.Backend().StartPage(); });
}

int EndPage(HDC dc)
{
    return OnDc(dc, SP_ERROR, [](DeviceContext& context) { return context.Backend().EndPage(); });
}

int EndDoc(HDC dc)
{
    return OnDc(dc, SP_ERROR, [](DeviceContext& context) { return context.Backend().EndDoc(); });
}

int AbortDoc(HDC dc)
{
    return OnDc(dc, SP_ERROR, [](DeviceContext& context) { return context.Backend().AbortDoc(); });
}

int SaveDC(HDC dc)
{
    return OnDc(dc, 0, [](DeviceContext& context) { return context.Save(); });
}

BOOL RestoreDC(HDC dc, int savedDC)
{
    return OnDc(dc, FALSE, [&](DeviceContext& context) { return context.Restore(savedDC) ? TRUE : FALSE; });
}

int SetGraphicsMode(HDC dc, int mode)
{
    return OnDc(dc, 0, [&](DeviceContext& context) { return context.SetGraphicsMode(mode); });
}

int GetGraphicsMode(HDC dc)
{
    return OnDc(dc, 0, [](DeviceContext& context) { return context.State().graphicsMode; });
}

BOOL GetWorldTransform(HDC dc, LPXFORM xform)
{
    return OnDc(dc, FALSE, [&](DeviceContext& context) {
        if (!xform) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *xform = context.State().world;
        return TRUE;
    });
}

BOOL SetWorldTransform(HDC dc, const XFORM* xform)
{
    return OnDc(dc, FALSE, [&](DeviceContext& context) {
        if (!xform) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return context.SetWorldTransform(*xform) ? TRUE : FALSE;
    });
}

BOOL ModifyWorldTransform(HDC dc, const XFORM* xform, DWORD mode)
{
    return OnDc(dc, FALSE,
                [&](DeviceContext& context) { return context.ModifyWorldTransform(xform, mode) ? TRUE : FALSE; });
}

DWORD SetLayout(HDC dc, DWORD layout)
{
    return OnDc(dc, GDI_ERROR, [&](DeviceContext& context) { return context.SetLayout(layout); });
}

DWORD GetLayout(HDC dc)
{
    return OnDc(dc, GDI_ERROR, [](DeviceContext& context) { return context.State().layout; });
}

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* bitmapInfo, UINT usage, DWORD rop)
{
    const platform::gdi::StretchCall call{xDest,    yDest,     destWidth, destHeight, xSrc,  ySrc,
                                          srcWidth, srcHeight, bits,      bitmapInfo, usage, rop};
    return OnDc(dc, 0, [&](DeviceContext& context) { return context.StretchDIBits(call); });
}

BOOL GdiComment(HDC dc, UINT size, const BYTE* data)
{
    return OnDc(dc, FALSE, [&](DeviceContext& context) { return context.Comment(size, data) ? TRUE : FALSE; });
}

int ExtEscape(HDC dc, int escape, int inputSize, LPCSTR input, int outputSize, LPSTR output)
{
    return OnDc(dc, -1,
                [&](DeviceContext& context) { return context.Escape(escape, inputSize, input, outputSize, output); });
}

HDC CreateEnhMetaFileW(HDC reference, LPCWSTR fileName, const RECT* frame, LPCWSTR description)
{
    std::shared_ptr<DeviceContext> referenceContext;
    if (reference && !(referenceContext = FindDc(reference)))
        return nullptr;
    if (fileName && !*fileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    const std::size_t descriptionUnits = description ? DescriptionUnits(description) : 0;
    if (description && descriptionUnits == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Guarded<HDC>(nullptr, [&]() -> HDC {
        // Without a reference context the screen is the reference device.
        const std::unique_ptr<platform::gdi::DeviceBackend> screen
            = referenceContext ? nullptr : platform::gdi::MakeScreenDevice();
        const platform::gdi::DeviceBackend& device = referenceContext ? referenceContext->Backend() : *screen;
        const std::string path = fileName ? platform::NativePath(fileName) : std::string();
        std::unique_ptr<platform::gdi::EmfRecorder> recorder = platform::gdi::EmfRecorder::Create(
            device, path, frame, std::u16string_view(description ? description : u"", descriptionUnits));
        if (!recorder)
            return nullptr;
        return platform::AddObject<HDC>(
            std::make_shared<DeviceContext>(DeviceContext::Kind::Metafile, std::move(recorder)));
    });
}

HENHMETAFILE CloseEnhMetaFile(HDC dc)
{
    const std::shared_ptr<DeviceContext> context = platform::FindObject<DeviceContext>(dc);
    if (!context || context->GetKind() != DeviceContext::Kind::Metafile) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // The recording context ends here, whether or not its metafile can be made.
    platform::RemoveObject<DeviceContext>(dc);
    return Guarded<HENHMETAFILE>(nullptr, [&]() -> HENHMETAFILE {
        // A metafile context stands on the recording made for it in CreateEnhMetaFileW.
        auto& recording = static_cast<platform::gdi::EmfRecorder&>(context->Backend());
        std::shared_ptr<EnhMetaFile> metafile = recording.Close();
        return metafile ? platform::AddObject<HENHMETAFILE>(std::move(metafile)) : nullptr;
    });
}

HENHMETAFILE GetEnhMetaFileW(LPCWSTR fileName)
{
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Guarded<HENHMETAFILE>(nullptr, [&]() -> HENHMETAFILE {
        std::shared_ptr<EnhMetaFile> metafile = EnhMetaFile::Open(platform::NativePath(fileName));
        return metafile ? platform::AddObject<HENHMETAFILE>(std::move(metafile)) : nullptr;
    });
}

HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* data)
{
    if (!data || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Guarded<HENHMETAFILE>(nullptr, [&]() -> HENHMETAFILE {
        std::shared_ptr<EnhMetaFile> metafile = EnhMetaFile::FromBytes(std::vector<BYTE>(data, data + size));
        return metafile ? platform::AddObject<HENHMETAFILE>(std::move(metafile)) : nullptr;
    });
}

UINT GetEnhMetaFileBits(HENHMETAFILE metafile, UINT size, LPBYTE data)
{
    const std::shared_ptr<EnhMetaFile> found = FindMetafile(metafile);
    if (!found)
        return 0;
    const auto whole = static_cast<UINT>(found->Size());
    if (!data)
        return whole;
    if (size < whole) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return found->CopyTo(data) ? whole : 0;
}

UINT GetEnhMetaFileHeader(HENHMETAFILE metafile, UINT size, LPENHMETAHEADER header)
{
    const std::shared_ptr<EnhMetaFile> found = FindMetafile(metafile);
    if (!found)
        return 0;
    const std::span<const BYTE> record = found->HeaderRecord();
    if (!header)
        return static_cast<UINT>(record.size());
    const std::size_t count = std::min<std::size_t>(size, record.size());
    std::memcpy(header, record.data(), count);
    return static_cast<UINT>(count);
}

BOOL DeleteEnhMetaFile(HENHMETAFILE metafile)
{
    if (!platform::RemoveObject<EnhMetaFile>(metafile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL EnumEnhMetaFile(HDC dc, HENHMETAFILE metafile, ENHMFENUMPROC callback, LPVOID data, const RECT* rect)
{
    const std::shared_ptr<EnhMetaFile> found = FindMetafile(metafile);
    if (!found)
        return FALSE;
    std::shared_ptr<DeviceContext> context;
    if (dc && !(context = FindDc(dc)))
        return FALSE;
    // Played onto a context, the picture needs the rectangle it is mapped into.
    if (!callback || (context && !rect)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return Guarded(FALSE, [&]() -> BOOL {
        const ENHMETAHEADER header = found->Header();
        const int objects = std::max<int>(header.nHandles, 1);
        // Entry 0 of the handle table stands for the metafile itself.
        std::vector<HGDIOBJ> table(static_cast<std::size_t>(objects), nullptr);
        table[0] = metafile;
        auto* handles = reinterpret_cast<HANDLETABLE*>(table.data());
        if (context)
            context->BeginPlayback(platform::gdi::FrameToRect(header, *rect));
        const bool whole = found->ForEachRecord([&](const ENHMETARECORD& record) {
            return callback(dc, handles, &record, objects, reinterpret_cast<LPARAM>(data)) != 0;
        });
        if (context)
            context->EndPlayback();
        // The objects the records made and left behind go with the enumeration.
        for (std::size_t i = 1; i < table.size(); ++i) {
            if (table[i])
                DeleteObject(table[i]);
        }
        return whole ? TRUE : FALSE;
    });
}

BOOL PlayEnhMetaFileRecord(HDC dc, LPHANDLETABLE table, const ENHMETARECORD* record, UINT objects)
{
    return OnDc(dc, FALSE, [&](DeviceContext& context) {
        if (!record) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        const std::span<HGDIOBJ> handles(table ? table->objectHandle : nullptr, table ? objects : 0);
        return platform::gdi::PlayRecord(context, handles, *record) ? TRUE : FALSE;
    });
}

BOOL PlayEnhMetaFile(HDC dc, HENHMETAFILE metafile, const RECT* rect)
{
    if (!dc || !rect) {
        SetLastError(!dc ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PlayAll outcome;
    if (!EnumEnhMetaFile(dc, metafile, PlayEveryRecord, &outcome, rect))
        return FALSE;
    return outcome.allPlayed ? TRUE : FALSE;
}
