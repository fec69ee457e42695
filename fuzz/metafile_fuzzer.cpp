// An enhanced metafile: the input is a metafile's bytes (a page the PDF renderer recorded, as the
// tool reads it back). They are loaded with SetEnhMetaFileBits, enumerated, played onto a printer's
// device context record by record, and played again through the tool's playback with repair,
// whose page marks start and end pages of a real job; the job is then thrown away. The sample
// font is registered, so that text records naming it are drawn.
#include "fuzz/fuzz_support.h"
#include "platform/gdi/gdi.h"
#include "printing/emf.h"

namespace {

int CountRecord(HDC, HANDLETABLE*, const ENHMETARECORD*, int, LPARAM data)
{
    ++*reinterpret_cast<int*>(data);
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::UsePrivateRoot();
    fuzz::SilenceConsole();
    fuzz::RegisterSampleFont();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    HENHMETAFILE metafile = SetEnhMetaFileBits(static_cast<UINT>(size), data);
    if (!metafile)
        return 0;
    ENHMETAHEADER header{};
    GetEnhMetaFileHeader(metafile, sizeof header, &header);
    int records = 0;
    EnumEnhMetaFile(nullptr, metafile, CountRecord, &records, nullptr);

    fuzz::PrintAndThrowAway(u"Quillon Office", [&](HDC printer) {
        StartPage(printer);
        const RECT bounds{0, 0, GetDeviceCaps(printer, HORZRES), GetDeviceCaps(printer, VERTRES)};
        PlayEnhMetaFile(printer, metafile, &bounds);
        EndPage(printer);

        aio::printing::Emf page;
        if (page.LoadFromBytes(data, static_cast<std::uint32_t>(size)))
            page.PlayWithRepair(printer);
    });
    DeleteEnhMetaFile(metafile);
    return 0;
}
