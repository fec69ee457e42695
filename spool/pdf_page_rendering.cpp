// The page loop of the document path: each page of the PDF is drawn by the renderer library into a
// page metafile backed by a temporary file, played onto the printer, and its file removed.
#include "driver/log_sink.h"
#include "pipe/text_conversions.h"
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "plugins/pdf/pdf_renderer.h"
#include "printing/emf.h"
#include "spool/document_spool.h"
#include "spool/temp_files.h"

#include <boost/filesystem/operations.hpp>

#include <cstdint>
#include <iomanip>
#include <memory>
#include <new>
#include <sstream>

namespace aio::printing {

namespace {

// What one page takes from the system, given back on every road out of the page in this order:
// the file's bytes, the renderer library, the file.
struct PageSource {
    HANDLE file = INVALID_HANDLE_VALUE;
    HMODULE library = nullptr;
    std::unique_ptr<BYTE[]> bytes;

    PageSource() = default;
    PageSource(const PageSource&) = delete;
    PageSource& operator=(const PageSource&) = delete;
    ~PageSource()
    {
        bytes.reset();
        if (library)
            FreeLibrary(library);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
};

// An entry point of the renderer, or null.
template <typename Proc>
Proc FindEntryPoint(HMODULE library, const char* name)
{
    // Through the generic function type, the one cast between function types that is always clean.
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// A handle as a pointer is written: upper-case hexadecimal digits, at least eight, no prefix.
std::string PointerText(HANDLE handle)
{
    std::ostringstream text;
    text << std::uppercase << std::hex << std::setw(8) << std::setfill('0') << reinterpret_cast<std::uintptr_t>(handle);
    return text.str();
}

// Whether two looks at a file saw the same file with the same content: the same volume and file
// index, the same size, the same time of the last write, and the same change time, which a writer
// who puts the time of the last write back cannot put back.
bool SameFile(const PrintUtilityClient::FileIdentity& a, const PrintUtilityClient::FileIdentity& b)
{
    return a.file.dwVolumeSerialNumber == b.file.dwVolumeSerialNumber && a.file.nFileIndexHigh == b.file.nFileIndexHigh
        && a.file.nFileIndexLow == b.file.nFileIndexLow && a.file.nFileSizeHigh == b.file.nFileSizeHigh
        && a.file.nFileSizeLow == b.file.nFileSizeLow
        && a.file.ftLastWriteTime.dwLowDateTime == b.file.ftLastWriteTime.dwLowDateTime
        && a.file.ftLastWriteTime.dwHighDateTime == b.file.ftLastWriteTime.dwHighDateTime
        && a.change_time == b.change_time;
}

// Removes the file of a page that has been played while more pages follow; only a failure is
// worth a record, since the last page's file is removed and reported after the loop.
void RemovePlayedPageFile(const WidePath& path)
{
    boost::system::error_code failure;
    if (!boost::filesystem::remove(boost::filesystem::path(platform::NativePath(path.Text())), failure))
        QLOG(base::debug) << "In RenderPDFFile, RemoveFile of played page failed: " << NarrowText(path.Text());
}

} // namespace

bool PrintUtilityClient::RenderPDFFile()
{
    WidePath temp_path;
    bool next_available = false;
    bool result = false;
    for (;;) {
        {
            Emf metafile;
            if (GetTempFilePath(temp_path) != 0) {
                QLOG(base::debug) << "In RenderPDFFile, GetTempFilePath failed.";
                // The pages played so far are thrown away with the document: a job missing its
                // later pages must not reach the printer.
                const int aborted = AbortDoc(printer_dc);
                QLOG(base::debug) << "In RenderPDFFile, AbortDoc return: " << aborted;
                return false;
            }
            result = RenderNextPDFPageToMetafile(temp_path.Text(), metafile, next_available);
            if (result)
                metafile.PlayWithRepair(printer_dc);
        }
        if (!result || !next_available)
            break;
        RemovePlayedPageFile(temp_path);
    }

    const std::int32_t removed = RemoveFile(temp_path);
    QLOG(base::debug) << "In RenderPDFFile, RemoveFile ,return: " << removed;
    QLOG(base::debug) << "In RenderPDFFile, RenderNextPDFPageToMetafile result(bool): " << (result ? 1 : 0);
    QLOG(base::debug) << "In RenderPDFFile, RenderNextPDFPageToMetafile next_available(bool): "
                      << (next_available ? 1 : 0);
    RestoreDC(printer_dc, saved_dc_state);
    // A document the printer could not take (its spool folder full, say) is no job, whatever its
    // pages did: the job id must not be answered for it.
    const int ended = EndDoc(printer_dc);
    if (ended <= 0) {
        QLOG(base::debug) << "In RenderPDFFile, EndDoc failed, return: " << ended;
        return false;
    }
    return result;
}

bool PrintUtilityClient::RenderNextPDFPageToMetafile(const std::u16string& temp_path, Emf& metafile,
                                                     bool& next_available)
{
    next_available = false;
    const std::int32_t page_index = current_page + 1;
    const int printer_dpi = GetDeviceCaps(printer_dc, LOGPIXELSX);
    const int page_width = GetDeviceCaps(printer_dc, PHYSICALWIDTH);
    const int page_height = GetDeviceCaps(printer_dc, PHYSICALHEIGHT);

    QLOG(base::debug) << "In RenderNextPDFPageToMetafile, print_data_file: " << NarrowText(print_data_file);
    PageSource source;
    source.file = CreateFileW(print_data_file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source.file == INVALID_HANDLE_VALUE) {
        QLOG(base::debug) << "In RenderNextPDFPageToMetafile, CreateFile pdf_file failed. ";
        return false;
    }
    QLOG(base::debug) << "In RenderNextPDFPageToMetafile, CreateFile pdf_file success with handle: "
                      << PointerText(source.file);

    // The file is read anew for every page: a file replaced or rewritten meanwhile would print the
    // later pages of another document under this job.
    FileIdentity file_information{};
    FILE_BASIC_INFO file_times{};
    if (!GetFileInformationByHandle(source.file, &file_information.file)
        || !GetFileInformationByHandleEx(source.file, FileBasicInfo, &file_times, sizeof file_times)) {
        QLOG(base::debug) << "In RenderNextPDFPageToMetafile, GetFileInformationByHandle failed. ";
        return false;
    }
    file_information.change_time = file_times.ChangeTime.QuadPart;
    if (!first_page_file) {
        first_page_file = file_information;
    } else if (!SameFile(*first_page_file, file_information)) {
        QLOG(base::debug) << "In RenderNextPDFPageToMetafile, print_data_file is not the file of the first page. ";
        return false;
    }

    source.library = LoadLibraryW(u"pdf.dll");
    if (!source.library) {
        QLOG(base::debug) << "In RenderNextPDFPageToMetafile, LoadLibrary pdf.dll failed. ";
        return false;
    }
    QLOG(base::debug) << "In RenderNextPDFPageToMetafile, LoadLibrary pdf.dll success ";

    const auto render_proc = FindEntryPoint<RenderPDFPageToDCProc>(source.library, "RenderPDFPageToDC");
    if (!render_proc) {
        QLOG(base::debug) << "In RenderNextPDFPageToMetafile, RenderPDFPageToDCProc failed. ";
        return false;
    }
    QLOG(base::debug) << "In RenderNextPDFPageToMetafile, RenderPDFPageToDCProc success";

    const auto get_info_proc = FindEntryPoint<GetPDFDocInfoProc>(source.library, "GetPDFDocInfo");
    if (!get_info_proc) {
        QLOG(base::debug) << "In RenderNextPDFPageToMetafile, GetPDFDocInfoProc failed. ";
        return false;
    }
    QLOG(base::debug) << "In RenderNextPDFPageToMetafile, GetPDFDocInfoProc success";

    // The high part is asked for too: the low 32 bits alone would pass a document of 4 GiB and more
    // on cut short. A document the renderer would refuse is refused here, before it is read whole.
    DWORD high_size = 0;
    const DWORD length = GetFileSize(source.file, &high_size);
    if (length == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
        QLOG(base::debug) << "In RenderNextPDFPageToMetafile, GetFileSize failed. ";
        return false;
    }
    const std::uint64_t file_size = std::uint64_t{high_size} << 32 | length;
    if (file_size > static_cast<std::uint64_t>(kMaxPdfDocumentBytes)) {
        QLOG(base::debug) << "In RenderNextPDFPageToMetafile, GetFileSize length too large for pdf.dll: " << file_size;
        return false;
    }
    QLOG(base::debug) << "In RenderNextPDFPageToMetafile, GetFileSize length: " << length;

    source.bytes.reset(new (std::nothrow) BYTE[length]);
    DWORD bytes_read = 0;
    if (!source.bytes || !ReadFile(source.file, source.bytes.get(), length, &bytes_read, nullptr)
        || bytes_read != length) {
        QLOG(base::debug) << "In RenderNextPDFPageToMetafile, ReadFile failed. ";
        return false;
    }

    // An empty file holds no document to hand on.
    std::int32_t total_page_count = 0;
    const int size = static_cast<int>(length);
    if (size == 0 || !get_info_proc(source.bytes.get(), size, &total_page_count, nullptr)) {
        QLOG(base::debug) << "In RenderNextPDFPageToMetafile, get_info_proc of buffer failed. ";
        return false;
    }
    QLOG(base::debug) << "In RenderNextPDFPageToMetafile, get_info_proc, total_page_count: " << total_page_count;

    metafile.StartRecordingToFile(temp_path);
    SetGraphicsMode(metafile.GetRecordingDC(), GM_ADVANCED);
    // The renderer draws in printer dots; the recording holds the page in screen pixels, which the
    // page-to-printer transform turns back into dots on the sheet.
    const auto scale = static_cast<FLOAT>(static_cast<double>(ScreenResolution()) / static_cast<double>(printer_dpi));
    const XFORM recording_scale{scale, 0, 0, scale, 0, 0};
    ModifyWorldTransform(metafile.GetRecordingDC(), &recording_scale, MWT_LEFTMULTIPLY);
    metafile.MarkPageStart(PageSize{0, 0}, ContentArea{0, 0, 0, 0}, 1.0f);

    const bool result = render_proc(source.bytes.get(), size, page_index, metafile.GetRecordingDC(), printer_dpi,
                                    printer_dpi, 0, 0, page_width, page_height, true, false, true, true);
    if (result) {
        current_page = page_index;
        next_available = page_index + 1 < total_page_count;
    }
    metafile.MarkPageEnd();
    metafile.StopRecording();
    return result;
}

} // namespace aio::printing
