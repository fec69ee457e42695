#include "print/paper_sizes.h"

#include "platform/gdi/gdi.h"
#include "platform/kernel/kernel.h"
#include "print/devmode_lock.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cmath>

namespace aio {
namespace {

constexpr std::size_t kPaperNameUnits = 64;
constexpr double kTenthsOfMillimetrePerHundredthOfInch = 2.54;
constexpr double kHundredthsPerInch = 100.0;
// Papers closer than this (squared distance, hundredths of an inch) to the target size are candidates.
constexpr double kCandidateDistanceSquared = 1050.0;
constexpr const char16_t* kCustomPaperName = u"Custom";

// Tenths of a millimetre to hundredths of an inch, truncated toward zero.
std::int32_t HundredthsOfAnInch(std::int32_t tenthsOfMillimetre)
{
    return static_cast<std::int32_t>(tenthsOfMillimetre / kTenthsOfMillimetrePerHundredthOfInch);
}

LPWSTR PrinterName(const std::u16string& printer_name)
{
    return const_cast<LPWSTR>(printer_name.c_str());
}

void SelectPaper(DEVMODEW& devmode, std::int16_t id)
{
    devmode.dmFields &= ~(DM_PAPERLENGTH | DM_PAPERWIDTH);
    devmode.dmFields |= DM_PAPERSIZE;
    devmode.dmPaperSize = id;
}

bool IsUsable(const Gdiplus::RectF& area)
{
    return std::isfinite(area.X) && std::isfinite(area.Y) && std::isfinite(area.Width) && std::isfinite(area.Height)
        && area.Width > 0 && area.Height > 0;
}

} // namespace

void EnumPaperSizes(const std::u16string& printer_name, PaperSizeList& papers)
{
    const int count = DeviceCapabilitiesW(printer_name.c_str(), nullptr, DC_PAPERS, nullptr, nullptr);
    if (count <= 0)
        return;
    const auto n = static_cast<std::size_t>(count);
    std::vector<WCHAR> names(n * kPaperNameUnits);
    std::vector<WORD> numbers(n);
    std::vector<POINT> sizes(n);
    DeviceCapabilitiesW(printer_name.c_str(), nullptr, DC_PAPERNAMES, names.data(), nullptr);
    DeviceCapabilitiesW(printer_name.c_str(), nullptr, DC_PAPERS, reinterpret_cast<LPWSTR>(numbers.data()), nullptr);
    DeviceCapabilitiesW(printer_name.c_str(), nullptr, DC_PAPERSIZE, reinterpret_cast<LPWSTR>(sizes.data()), nullptr);
    for (std::size_t i = 0; i < n; ++i) {
        PaperSizePtr paper = boost::make_shared<PaperSize>();
        paper->id = static_cast<std::int16_t>(numbers[i]);
        // A name that fills its whole slot has no terminating zero.
        const WCHAR* name = &names[i * kPaperNameUnits];
        paper->name.assign(name, std::find(name, name + kPaperNameUnits, u'\0'));
        paper->width = HundredthsOfAnInch(sizes[i].x);
        paper->height = HundredthsOfAnInch(sizes[i].y);
        papers.push_back(std::move(paper));
    }
}

PaperSizePtr FindPaperSize(const std::u16string& printer_name, DEVMODEW* devmode)
{
    const DevModeLock lock(devmode);
    const DEVMODEW* mode = lock.Get();
    if (mode && (mode->dmFields & DM_PAPERSIZE)) {
        PaperSizeList papers;
        EnumPaperSizes(printer_name, papers);
        for (const PaperSizePtr& paper : papers) {
            if (paper->id == mode->dmPaperSize)
                return paper;
        }
    }
    PaperSizePtr custom = boost::make_shared<PaperSize>();
    custom->name = kCustomPaperName;
    if (mode) {
        // Read whatever the DM_PAPERWIDTH and DM_PAPERLENGTH flags say.
        custom->width = HundredthsOfAnInch(mode->dmPaperWidth);
        custom->height = HundredthsOfAnInch(mode->dmPaperLength);
    }
    return custom;
}

std::optional<Gdiplus::RectF> MeasurePrintableArea(const PaperSize& paper, const std::u16string& printer_name,
                                                   DEVMODEW* devmode)
{
    const DevModeLock lock(devmode);
    DEVMODEW* mode = lock.Get();
    if (paper.id >= 0 && mode)
        SelectPaper(*mode, paper.id);
    HDC dc = CreateDCW(nullptr, printer_name.c_str(), nullptr, mode);
    if (!dc)
        return std::nullopt;
    const double dpiX = GetDeviceCaps(dc, LOGPIXELSX);
    const double dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    const double offsetX = GetDeviceCaps(dc, PHYSICALOFFSETX);
    const double offsetY = GetDeviceCaps(dc, PHYSICALOFFSETY);
    const double width = GetDeviceCaps(dc, HORZRES);
    const double height = GetDeviceCaps(dc, VERTRES);
    DeleteDC(dc);
    const Gdiplus::RectF area{static_cast<float>(offsetX * kHundredthsPerInch / dpiX),
                              static_cast<float>(offsetY * kHundredthsPerInch / dpiY),
                              static_cast<float>(width * kHundredthsPerInch / dpiX),
                              static_cast<float>(height * kHundredthsPerInch / dpiY)};
    if (!IsUsable(area))
        return std::nullopt;
    return area;
}

HGLOBAL GetDefaultDevModeHandle(const std::u16string& printer_name)
{
    const LONG size = DocumentPropertiesW(nullptr, nullptr, PrinterName(printer_name), nullptr, nullptr, 0);
    if (size <= 0)
        return nullptr;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(size));
    if (!memory)
        return nullptr;
    auto* devmode = static_cast<DEVMODEW*>(GlobalLock(memory));
    const LONG written = devmode
        ? DocumentPropertiesW(nullptr, nullptr, PrinterName(printer_name), devmode, nullptr, DM_OUT_BUFFER)
        : -1;
    if (devmode)
        GlobalUnlock(memory);
    // A block the printer did not fill holds no device mode: nobody may read it as one.
    if (written < 0) {
        GlobalFree(memory);
        return nullptr;
    }
    return memory;
}

void AutoPaperSelector::Apply(DEVMODEW* devmode)
{
    EnumPaperSizes(printerName_, papers_);
    PaperSizeList candidates;
    for (const PaperSizePtr& paper : papers_) {
        const double dx = static_cast<double>(paper->width) - targetWidth_;
        const double dy = static_cast<double>(paper->height) - targetHeight_;
        if (dx * dx + dy * dy < kCandidateDistanceSquared)
            candidates.push_back(paper);
    }
    // Each candidate is measured on the printer's defaults, never on the job's own device mode.
    HGLOBAL defaults = GetDefaultDevModeHandle(printerName_);
    if (!defaults)
        return;
    for (const PaperSizePtr& candidate : candidates) {
        const std::optional<Gdiplus::RectF> area
            = MeasurePrintableArea(*candidate, printerName_, static_cast<DEVMODEW*>(defaults));
        if (area && area->X <= marginX_ + 1 && area->Y <= marginY_ + 1) {
            const DevModeLock lock(devmode);
            if (candidate->id >= 0 && lock.Get())
                SelectPaper(*lock.Get(), candidate->id);
            break;
        }
    }
    GlobalFree(defaults);
}

} // namespace aio
