// The document path: one client per PDF job opens a device context on the job's printer, starts the
// spooler document, sets up the page-to-printer transform, and prints the file's pages one by one,
// each drawn by the PDF renderer into a page metafile and played onto the printer.
#pragma once

#include "platform/gdi/gdi.h"

#include <cstdint>
#include <optional>
#include <string>

namespace aio::printing {

class Emf;

class PrintUtilityClient {
public:
    // What tells a file and its content apart from another: its identity and size, and its times.
    struct FileIdentity {
        BY_HANDLE_FILE_INFORMATION file;
        LONGLONG change_time;
    };

    PrintUtilityClient() = default;
    virtual ~PrintUtilityClient();
    PrintUtilityClient(const PrintUtilityClient&) = delete;
    PrintUtilityClient& operator=(const PrintUtilityClient&) = delete;

    // Prints the PDF file on the printer under the document name. The spooler's job identifier
    // when every page was printed; 0 or less otherwise.
    std::int32_t Spool(const std::u16string& printer_name, const std::u16string& file_path,
                       const std::u16string& document_name, DEVMODEW* devmode);

private:
    // Prints page after page until the last page or the first failure, then ends the document.
    // True when the last page attempted was drawn.
    bool RenderPDFFile();
    // Records the next page into the metafile, backed by the file at temp_path. True when the page
    // was drawn; next_available then says whether the document has a page after it.
    bool RenderNextPDFPageToMetafile(const std::u16string& temp_path, Emf& metafile, bool& next_available);
    // Holds a new printer device context, deleting the one held before.
    void AdoptPrinterDc(HDC dc);

    std::int32_t current_page = -1;
    std::int32_t job_id = -1;
    std::int32_t saved_dc_state = 0;
    std::u16string print_data_file;
    HDC printer_dc = nullptr;
    // What identified print_data_file when the first page read it, and when it last changed: every
    // later page must read the same file, unchanged.
    std::optional<FileIdentity> first_page_file;
};

// The transform that puts a page recorded in screen pixels, its corner at the sheet's corner, onto
// a printer whose device origin lies at the printable area's corner: scaled by printer_dpi /
// screen_dpi and moved back by the physical offsets.
XFORM PageToPrinterTransform(int printer_dpi, int screen_dpi, int offset_x, int offset_y);

// The screen's horizontal resolution; the screen device context taken for it is released again.
int ScreenResolution();

} // namespace aio::printing
