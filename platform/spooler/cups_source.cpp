// The entry of libquillon_cups.so: the CUPS source's three calls.
#include "platform/spooler/cups_source.h"

#include "platform/spooler/cups_queues.h"

extern "C" __attribute__((visibility("default"))) const platform::spooler::CupsSource* QuillonCupsSource()
{
    static const platform::spooler::CupsSource source{
        platform::spooler::FindCupsPrinter, platform::spooler::CupsPrinters, platform::spooler::MakeCupsJobSink};
    return &source;
}
