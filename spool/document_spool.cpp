#include "spool/document_spool.h"

#include "driver/function_tracer.h"
#include "driver/log_sink.h"
#include "print/print_impl.h"

namespace aio {

bool PrintImpl::PrintDocImpl(std::int32_t& job_id, const std::u16string& printer_name, const std::u16string& file_path,
                             const std::u16string& document_name, DEVMODEW* devmode)
{
    FunctionTracer tracer("aio::PrintImpl::PrintDocImpl");
    {
        printing::PrintUtilityClient client;
        job_id = client.Spool(printer_name, file_path, document_name, devmode);
    }
    return job_id > 0;
}

namespace printing {

PrintUtilityClient::~PrintUtilityClient()
{
    AdoptPrinterDc(nullptr);
}

void PrintUtilityClient::AdoptPrinterDc(HDC dc)
{
    if (printer_dc && printer_dc != dc)
        DeleteDC(printer_dc);
    printer_dc = dc;
}

XFORM PageToPrinterTransform(int printer_dpi, int screen_dpi, int offset_x, int offset_y)
{
    const auto scale = static_cast<FLOAT>(static_cast<double>(printer_dpi) / static_cast<double>(screen_dpi));
    return XFORM{scale, 0, 0, scale, static_cast<FLOAT>(-offset_x), static_cast<FLOAT>(-offset_y)};
}

int ScreenResolution()
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    // Every screen context taken must be given back, or it stays with the process.
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi;
}

std::int32_t PrintUtilityClient::Spool(const std::u16string& printer_name, const std::u16string& file_path,
                                       const std::u16string& document_name, DEVMODEW* devmode)
{
    FunctionTracer tracer("aio::printing::PrintUtilityClient::Spool");
    current_page = -1;
    first_page_file.reset();

    HDC dc = CreateDCW(u"", printer_name.c_str(), nullptr, devmode);
    if (!dc) {
        QLOG(base::debug) << "In PrintFile, spool, CreatDC failed.";
        return -1;
    }

    // The structure as a 32-bit Windows program passes it.
    constexpr int kDocInfoSize = 20;
    DOCINFOW doc_info{};
    doc_info.cbSize = kDocInfoSize;
    doc_info.lpszDocName = document_name.c_str();
    job_id = StartDocW(dc, &doc_info);
    if (job_id < 0) {
        QLOG(base::debug) << "In PrintFile, spool, StartDoc failed.";
        DeleteDC(dc);
        return job_id;
    }
    AdoptPrinterDc(dc);

    const int printer_dpi = GetDeviceCaps(printer_dc, LOGPIXELSX);
    const int offset_x = GetDeviceCaps(printer_dc, PHYSICALOFFSETX);
    const int offset_y = GetDeviceCaps(printer_dc, PHYSICALOFFSETY);
    saved_dc_state = SaveDC(printer_dc);
    SetGraphicsMode(printer_dc, GM_ADVANCED);
    const XFORM page_to_printer = PageToPrinterTransform(printer_dpi, ScreenResolution(), offset_x, offset_y);
    ModifyWorldTransform(printer_dc, &page_to_printer, MWT_LEFTMULTIPLY);

    print_data_file = file_path;
    if (RenderPDFFile())
        return job_id;
    QLOG(base::debug) << "In PrintFile, spool, RenderPDFFile failed.";
    return -1;
}

} // namespace printing
} // namespace aio
