// The picture path: one picture printed as one page, centred in the printable area, turned a
// quarter when picture and sheet disagree in orientation, filling the area or shrunk to fit.
#include "print/image_printing.h"

#include "driver/function_tracer.h"
#include "driver/log_sink.h"
#include "platform/gdi/gdi.h"
#include "print/devmode_lock.h"
#include "print/paper_sizes.h"
#include "print/print_impl.h"

#include <cmath>
#include <utility>

namespace aio {
namespace {

// The DOCINFOW of the 32-bit program the tool is.
constexpr int kDocInfoSize = 20;
constexpr Gdiplus::REAL kQuarterTurnCounterClockwise = -90.0f;

// Runs a release when the scope ends, on every road out of it, unless it already ran.
template <typename Release>
class ReleaseAtEnd final {
public:
    explicit ReleaseAtEnd(Release release) : release_(std::move(release)) {}
    ~ReleaseAtEnd() { Now(); }
    ReleaseAtEnd(const ReleaseAtEnd&) = delete;
    ReleaseAtEnd& operator=(const ReleaseAtEnd&) = delete;

    void Now()
    {
        if (!done_) {
            done_ = true;
            release_();
        }
    }

private:
    Release release_;
    bool done_ = false;
};

} // namespace

void FitRects(Gdiplus::RectF& source, Gdiplus::RectF& destination, bool shrink_to_fit)
{
    const double sourceRatio = static_cast<double>(source.Width) / source.Height;
    const double destinationRatio = static_cast<double>(destination.Width) / destination.Height;
    if (destinationRatio == sourceRatio || std::isnan(sourceRatio) || std::isnan(destinationRatio))
        return;
    const bool narrower = destinationRatio < sourceRatio;
    if (shrink_to_fit && narrower) {
        const auto e = static_cast<float>(static_cast<double>(destination.Width) * source.Height / source.Width);
        destination.Y += (destination.Height - e) * 0.5f;
        destination.Height = e;
    } else if (shrink_to_fit) {
        const auto e = static_cast<float>(static_cast<double>(destination.Height) * source.Width / source.Height);
        destination.X += (destination.Width - e) * 0.5f;
        destination.Width = e;
    } else if (narrower) {
        const auto e = static_cast<float>(
            source.Width - static_cast<double>(destination.Width) * source.Height / destination.Height);
        source.X = e * 0.5f;
        source.Width = source.Width - e;
    } else {
        const auto e = static_cast<float>(source.Height
                                          - static_cast<double>(destination.Height) * source.Width / destination.Width);
        source.Y = e * 0.5f;
        source.Height = source.Height - e;
    }
}

bool PrintImpl::PrintImageImpl(const std::u16string& document_name, std::int32_t& job_id,
                               const std::u16string& printer_name, const std::u16string& file_path, DEVMODEW* devmode,
                               bool paper_size_auto, bool shrink_to_fit)
{
    using namespace Gdiplus;
    using namespace Gdiplus::DllExports;
    FunctionTracer tracer("aio::PrintImpl::PrintImageImpl");

    // Everything below is released in the reverse order of its making: the printer handle, the
    // device context, the device-mode lock, the picture, and GDI+ itself last.
    ULONG_PTR gdiplusToken = 0;
    const GdiplusStartupInput startupInput;
    const bool started = GdiplusStartup(&gdiplusToken, &startupInput, nullptr) == Ok;
    ReleaseAtEnd shutDown([&] {
        if (started)
            GdiplusShutdown(gdiplusToken);
    });

    GpBitmap* picture = nullptr;
    const Status loaded = GdipCreateBitmapFromFile(file_path.c_str(), &picture);
    ReleaseAtEnd disposePicture([&] {
        if (picture)
            GdipDisposeImage(picture);
    });
    if (loaded != Ok)
        return false;

    const DevModeLock lock(devmode);
    DEVMODEW* mode = lock.Get();
    if (!mode)
        return false;
    if (paper_size_auto) {
        AutoPaperSelector selector(printer_name);
        selector.Apply(mode);
    }

    HDC dc = CreateDCW(nullptr, printer_name.c_str(), nullptr, mode);
    if (!dc)
        return false;
    ReleaseAtEnd deleteDc([&] { DeleteDC(dc); });

    const DOCINFOW docInfo{kDocInfoSize, document_name.c_str(), nullptr, nullptr, 0};
    const int job = StartDocW(dc, &docInfo);
    if (job <= 0)
        return false;
    // The job id is answered only for a job the printer took whole. A page that could not be
    // started, drawn or ended, or a document that could not be ended, leaves the id as it was, as
    // every failure before the job started does: the job itself is gone. A job left without EndDoc
    // is discarded when its device context is deleted.
    const int pageStarted = StartPage(dc);
    if (pageStarted <= 0) {
        QLOG(base::debug) << "In PrintImageImpl, StartPage failed, return: " << pageStarted;
        return false;
    }

    HANDLE printer = nullptr;
    OpenPrinterW(const_cast<LPWSTR>(printer_name.c_str()), &printer, nullptr);
    ReleaseAtEnd closePrinter([&] {
        if (printer)
            ClosePrinter(printer);
    });
    GpGraphics* graphics = nullptr;
    GdipCreateFromHDC2(dc, printer, &graphics);
    ReleaseAtEnd deleteGraphics([&] { GdipDeleteGraphics(graphics); });

    PaperSizePtr paper = FindPaperSize(printer_name, mode);
    float sheetWidth = static_cast<float>(paper->width);
    float sheetHeight = static_cast<float>(paper->height);
    if (mode->dmOrientation == DMORIENT_LANDSCAPE)
        std::swap(sheetWidth, sheetHeight);

    const std::optional<RectF> area = MeasurePrintableArea(*paper, printer_name, mode);
    if (!area) {
        // Without a printable area there is nowhere to put the picture.
        QLOG(base::debug) << "In PrintImageImpl, MeasurePrintableArea failed.";
        paper.reset();
        deleteGraphics.Now();
        AbortDoc(dc);
        return false;
    }

    GdipTranslateWorldTransform(graphics, area->Width * 0.5f, area->Height * 0.5f, MatrixOrderPrepend);
    UINT pixelWidth = 0;
    UINT pixelHeight = 0;
    GdipGetImageWidth(picture, &pixelWidth);
    GdipGetImageHeight(picture, &pixelHeight);
    const bool sheetLandscape = sheetWidth > sheetHeight;
    const bool pictureLandscape = pixelWidth > pixelHeight;
    float boxWidth = area->Width;
    float boxHeight = area->Height;
    if (sheetLandscape != pictureLandscape) {
        // The picture's top edge comes to lie along the left edge of the printable area.
        GdipRotateWorldTransform(graphics, kQuarterTurnCounterClockwise, MatrixOrderPrepend);
        std::swap(boxWidth, boxHeight);
    }
    RectF destination{-boxWidth * 0.5f, -boxHeight * 0.5f, boxWidth, boxHeight};
    RectF source{0.0f, 0.0f, static_cast<float>(pixelWidth), static_cast<float>(pixelHeight)};
    FitRects(source, destination, shrink_to_fit);
    const Status drawn
        = GdipDrawImageRectRect(graphics, picture, destination.X, destination.Y, destination.Width, destination.Height,
                                source.X, source.Y, source.Width, source.Height, UnitPixel, nullptr, nullptr, nullptr);
    GdipFlush(graphics, FlushIntentionFlush);
    paper.reset();
    deleteGraphics.Now();
    if (drawn != Ok) {
        // A picture refused while it is drawn would print a blank sheet.
        QLOG(base::debug) << "In PrintImageImpl, GdipDrawImageRectRect failed, status: " << static_cast<int>(drawn);
        AbortDoc(dc);
        return false;
    }

    const int pageEnded = EndPage(dc);
    if (pageEnded <= 0) {
        QLOG(base::debug) << "In PrintImageImpl, EndPage failed, return: " << pageEnded;
        return false;
    }
    const int documentEnded = EndDoc(dc);
    if (documentEnded <= 0) {
        QLOG(base::debug) << "In PrintImageImpl, EndDoc failed, return: " << documentEnded;
        return false;
    }
    job_id = job;
    return true;
}

} // namespace aio
