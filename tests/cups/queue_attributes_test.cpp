// Reading a queue's IPP attributes into a printer, from attributes built here as a printer would
// send them (no server).
#include "platform/spooler/cups_attributes.h"

#include "platform/kernel/host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

using platform::PaperDefinition;
using platform::PrinterDefinition;
using platform::spooler::ReadQueueAttributes;

namespace {

// A margin the sheet says nothing about.
constexpr int kUnsaid = std::numeric_limits<int>::min();

// One sheet as IPP says it: hundredths of a millimetre.
struct Sheet {
    int width;
    int length;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// An IPP message's bytes, and how far a reader has taken them.
struct WireBytes {
    std::vector<ipp_uchar_t> bytes;
    std::size_t at = 0;
};

class Attributes final {
public:
    Attributes() : ipp_(ippNew()) {}
    ~Attributes() { ippDelete(ipp_); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;

    ipp_t* Get() const { return ipp_; }

    Attributes& MediaCols(const char* name, std::initializer_list<Sheet> sheets)
    {
        std::vector<ipp_t*> values;
        for (const Sheet& sheet : sheets) {
            ipp_t* size = ippNew();
            ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", sheet.width);
            ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", sheet.length);
            ipp_t* col = ippNew();
            ippAddCollection(col, IPP_TAG_ZERO, "media-size", size);
            ippDelete(size);
            for (const auto& [margin, value] : {std::pair{"media-left-margin", sheet.left},
                                                {"media-top-margin", sheet.top},
                                                {"media-right-margin", sheet.right},
                                                {"media-bottom-margin", sheet.bottom}}) {
                if (value != kUnsaid)
                    ippAddInteger(col, IPP_TAG_ZERO, IPP_TAG_INTEGER, margin, value);
            }
            values.push_back(col);
        }
        ippAddCollections(ipp_, IPP_TAG_PRINTER, name, static_cast<int>(values.size()),
                          const_cast<const ipp_t**>(values.data()));
        for (ipp_t* col : values)
            ippDelete(col);
        return *this;
    }

    Attributes& Keywords(const char* name, std::initializer_list<const char*> words)
    {
        std::vector<const char*> values(words);
        ippAddStrings(ipp_, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, name, static_cast<int>(values.size()), nullptr,
                      values.data());
        return *this;
    }

    Attributes& Integers(const char* name, std::initializer_list<int> numbers)
    {
        std::vector<int> values(numbers);
        ippAddIntegers(ipp_, IPP_TAG_PRINTER, IPP_TAG_INTEGER, name, static_cast<int>(values.size()), values.data());
        return *this;
    }

    Attributes& Resolutions(const char* name, std::initializer_list<std::pair<int, int>> dots,
                            ipp_res_t units = IPP_RES_PER_INCH)
    {
        std::vector<int> across, down;
        for (const auto& [x, y] : dots) {
            across.push_back(x);
            down.push_back(y);
        }
        ippAddResolutions(ipp_, IPP_TAG_PRINTER, name, static_cast<int>(across.size()), units, across.data(),
                          down.data());
        return *this;
    }

    Attributes& Range(const char* name, int lower, int upper)
    {
        ippAddRange(ipp_, IPP_TAG_PRINTER, name, lower, upper);
        return *this;
    }

    // The attributes as libcups reads them from a server's answer whose bytes `patch` changed.
    Attributes& AsSent(const std::function<void(std::vector<ipp_uchar_t>&)>& patch)
    {
        WireBytes wire;
        ippSetState(ipp_, IPP_STATE_IDLE);
        ippWriteIO(&wire, Append, 1, nullptr, ipp_);
        patch(wire.bytes);
        ippDelete(ipp_);
        ipp_ = ippNew();
        EXPECT_EQ(ippReadIO(&wire, Take, 1, nullptr, ipp_), IPP_STATE_DATA);
        return *this;
    }

private:
    static ssize_t Append(void* context, ipp_uchar_t* data, size_t length)
    {
        auto& bytes = static_cast<WireBytes*>(context)->bytes;
        bytes.insert(bytes.end(), data, data + length);
        return static_cast<ssize_t>(length);
    }
    static ssize_t Take(void* context, ipp_uchar_t* data, size_t length)
    {
        auto& wire = *static_cast<WireBytes*>(context);
        const std::size_t count = std::min(length, wire.bytes.size() - wire.at);
        std::copy_n(wire.bytes.begin() + static_cast<std::ptrdiff_t>(wire.at), count, data);
        wire.at += count;
        return static_cast<ssize_t>(count);
    }

    ipp_t* ipp_;
};

// The whole printer in a few lines: one per paper ("Letter #1 2159x2794 6350/1020/6350/11680";
// "#drv" for a driver number, 256 and up), then the rest.
std::string Summary(const PrinterDefinition& printer)
{
    std::string text;
    for (const PaperDefinition& paper : printer.Papers()) {
        text += platform::Utf16ToUtf8(paper.name) + " #" + (paper.number >= 256 ? "drv" : std::to_string(paper.number))
            + " " + std::to_string(paper.width) + "x" + std::to_string(paper.length) + " "
            + std::to_string(paper.marginLeft) + "/" + std::to_string(paper.marginTop) + "/"
            + std::to_string(paper.marginRight) + "/" + std::to_string(paper.marginBottom) + "\n";
    }
    text += "default " + platform::Utf16ToUtf8(printer.DefaultPaper().name) + ", dpi";
    for (std::int32_t dpi : printer.Resolutions()) {
        text += ' ';
        text += std::to_string(dpi);
        if (dpi == printer.DefaultResolution())
            text += '*';
    }
    return text + (printer.Color() ? ", color" : ", monochrome") + (printer.Duplex() ? ", two-sided" : "") + ", copies "
        + std::to_string(printer.CopiesMin()) + "-" + std::to_string(printer.CopiesMax());
}

std::int16_t NumberOf(const PrinterDefinition& printer, std::u16string_view name)
{
    for (const PaperDefinition& paper : printer.Papers()) {
        if (paper.name == name)
            return paper.number;
    }
    ADD_FAILURE() << "no such paper";
    return 0;
}

PrinterDefinition Read(const Attributes& attributes, std::string_view name = "Photo")
{
    platform::PrinterDefinitionResult result = ReadQueueAttributes(name, attributes.Get());
    if (!result.printer)
        throw std::runtime_error("the printer was refused: " + result.error);
    return std::move(*result.printer);
}

// An IPP Everywhere photo printer much like the virtual one the queue tests print to.
void DescribePhotoPrinter(Attributes& attributes)
{
    attributes
        .MediaCols("media-col-database",
                   {{21590, 27940, 635, 102, 635, 1168},
                    {10160, 15240, 0, 0, 0, 0},
                    {21000, 29700, 340, 102, 340, 1168},
                    {10477, 24130, 635, 102, 635, 1168},
                    {10000, 15000, 300, 300, 300, 300},
                    {10160, 15240, 300, 300, 300, 300},
                    {21590, 27940, 635, 102, 635, 1168}})
        .MediaCols("media-col-default", {{21590, 27940, 635, 102, 635, 1168}})
        .MediaCols("media-col-ready", {{21590, 27940, 635, 102, 635, 1168}, {12700, 17780, 0, 0, 0, 0}})
        .Keywords("media-ready", {"na_letter_8.5x11in", "iso_a5_148x210mm"})
        .Resolutions("printer-resolution-supported", {{300, 300}, {600, 600}, {1200, 600}})
        .Resolutions("printer-resolution-default", {{600, 600}})
        .Keywords("sides-supported", {"one-sided", "two-sided-long-edge", "two-sided-short-edge"})
        .Keywords("print-color-mode-supported", {"monochrome", "color"})
        .Range("copies-supported", 1, 99);
}

TEST(QueueAttributes, APhotoPrintersSheetsBecomeItsPapersInItsOrder)
{
    Attributes attributes;
    DescribePhotoPrinter(attributes);
    const PrinterDefinition printer = Read(attributes);
    EXPECT_EQ(printer.Name(), u"Photo");
    EXPECT_EQ(printer.Source(), platform::PrinterSource::Cups);
    // Standard sizes keep their device-mode numbers; 4 x 6 is listed borderless first, yet the
    // paper with margins comes first and the borderless one is its " Borderless" twin; a sheet
    // listed twice is one paper; sizes in inches are rounded to tenths of a millimetre. A loaded
    // sheet the database lacks is added; the loaded keywords add nothing beside their collections.
    // Dots are square here: 1200 x 600 is passed over.
    EXPECT_EQ(Summary(printer), R"(Letter #1 2159x2794 6350/1020/6350/11680
4x6 #drv 1016x1524 3000/3000/3000/3000
4x6 Borderless #drv 1016x1524 0/0/0/0
A4 #9 2100x2970 3400/1020/3400/11680
Envelope #10 #20 1048x2413 6350/1020/6350/11680
100 x 150 mm #drv 1000x1500 3000/3000/3000/3000
5x7 #drv 1270x1778 0/0/0/0
default Letter, dpi 300 600*, color, two-sided, copies 1-99)");
    EXPECT_NE(printer.Papers()[1].number, printer.Papers()[2].number);
    EXPECT_TRUE(printer.TakesJpeg());
    EXPECT_FALSE(printer.TakesPng());
}

TEST(QueueAttributes, APapersNumberDoesNotDependOnTheOtherPapers)
{
    Attributes alone;
    alone.MediaCols("media-col-database", {{10000, 15000, 300, 300, 300, 300}, {10160, 15240, 0, 0, 0, 0}});
    Attributes many;
    DescribePhotoPrinter(many);
    const PrinterDefinition one = Read(alone);
    const PrinterDefinition other = Read(many);
    EXPECT_EQ(one.Papers()[0].number, NumberOf(other, u"100 x 150 mm"));
    // Alone, the borderless 4 x 6 is the size's only paper: plainly "4x6", with the number the
    // size has, not its twin's.
    EXPECT_EQ(one.Papers()[1].name, u"4x6");
    EXPECT_EQ(one.Papers()[1].number, NumberOf(other, u"4x6"));
}

TEST(QueueAttributes, ASizeWithoutAStandardNameIsNamedInMillimetres)
{
    Attributes attributes;
    attributes.MediaCols("media-col-database",
                         {{10005, 24130, 300, 300, 300, 300}, {12050, 15000, 300, 300, 300, 300}});
    const PrinterDefinition printer = Read(attributes);
    ASSERT_EQ(printer.Papers().size(), 2u);
    EXPECT_EQ(printer.Papers()[0].name, u"100.05 x 241.3 mm");
    EXPECT_EQ(printer.Papers()[1].name, u"120.5 x 150 mm");
}

TEST(QueueAttributes, WhatADescriptionLacksTakesDefaults)
{
    Attributes nothing;
    EXPECT_EQ(Summary(Read(nothing)), R"(Letter #1 2159x2794 5000/5000/5000/5000
A4 #9 2100x2970 5000/5000/5000/5000
default Letter, dpi 300*, monochrome, copies 1-1)");
}

TEST(QueueAttributes, KeywordsStandInForMissingCollections)
{
    Attributes attributes;
    attributes.Keywords("media-supported", {"na_letter_8.5x11in", "iso_a5_148x210mm", "no-such-size"})
        .Keywords("media-default", {"iso_a5_148x210mm"})
        .Integers("media-left-margin-supported", {0, 300})
        .Integers("media-right-margin-supported", {300, 0})
        .Integers("media-top-margin-supported", {0, 500})
        .Integers("media-bottom-margin-supported", {0, 500})
        .Keywords("media-ready", {"na_letter_8.5x11in", "iso_a6_105x148mm"});
    // Every side can be 0: each size also comes borderless. The widest margin of each side is the
    // paper's. Loaded sheets the list lacks are added, with margins only.
    EXPECT_EQ(Summary(Read(attributes)), R"(Letter #1 2159x2794 3000/5000/3000/5000
Letter Borderless #drv 2159x2794 0/0/0/0
A5 #11 1480x2100 3000/5000/3000/5000
A5 Borderless #drv 1480x2100 0/0/0/0
A6 #70 1050x1480 3000/5000/3000/5000
default A5, dpi 300*, monochrome, copies 1-1)");
}

TEST(QueueAttributes, TheDefaultSheetPicksThePaperWithOrWithoutMargins)
{
    for (const bool borderless : {true, false}) {
        SCOPED_TRACE(borderless);
        Attributes attributes;
        DescribePhotoPrinter(attributes);
        const int margin = borderless ? 0 : 300;
        ippDeleteAttribute(attributes.Get(), ippFindAttribute(attributes.Get(), "media-col-default", IPP_TAG_ZERO));
        attributes.MediaCols("media-col-default", {{10160, 15240, margin, margin, margin, margin}});
        EXPECT_EQ(Read(attributes).DefaultPaper().name, borderless ? u"4x6 Borderless" : u"4x6");
    }
}

TEST(QueueAttributes, ValuesThatMakeNoSenseArePassedOver)
{
    Attributes attributes;
    attributes
        .MediaCols("media-col-database",
                   {
                       {0, 27940, 0, 0, 0, 0},                             // no width
                       {400000, 1000, 0, 0, 0, 0},                         // wider than a device mode holds
                       {21000, 29700, 11000, 0, 11000, 0},                 // margins meet
                       {21000, 29700, -5, 0, 0, 0},                        // a margin below zero
                       {14800, 21000, kUnsaid, kUnsaid, kUnsaid, kUnsaid}, // no margins said: the queue's
                       {21590, 27940, 635, 102, 635, 1168},                // Letter, fine
                       {2000000000, 2000000000, 0, 0, 2000000000, 0}       // far beyond anything
                   })
        .Resolutions("printer-resolution-supported", {{10, 10}, {20000, 20000}, {236, 236}, {236, 236}}, IPP_RES_PER_CM)
        .Resolutions("printer-resolution-default", {{300, 300}})
        .Range("copies-supported", -5, 100000)
        .Keywords("print-color-mode-supported", {"monochrome"});
    ippAddBoolean(attributes.Get(), IPP_TAG_PRINTER, "color-supported", 1);
    // An attribute of the wrong type is as good as none.
    ippAddInteger(attributes.Get(), IPP_TAG_PRINTER, IPP_TAG_INTEGER, "sides-supported", 2);
    // 236 dots per centimetre are 599 per inch, listed once; 10 and 20000 per centimetre are out of
    // range. The colour modes say monochrome: color-supported does not overrule them.
    EXPECT_EQ(Summary(Read(attributes)), R"(A5 #11 1480x2100 5000/5000/5000/5000
Letter #1 2159x2794 6350/1020/6350/11680
default A5, dpi 599*, monochrome, copies 1-32767)");
}

TEST(QueueAttributes, ResolutionsInUnknownUnitsArePassedOver)
{
    Attributes attributes;
    attributes.Resolutions("printer-resolution-supported", {{300, 300}, {600, 600}, {1200, 1200}})
        .AsSent([](std::vector<ipp_uchar_t>& bytes) {
            // A resolution value is 4 bytes across, 4 down and 1 of units: the 600 and the 1200 get
            // units 50 and 0, neither dots per inch nor per centimetre.
            for (const auto& [value, units] :
                 {std::pair<std::array<ipp_uchar_t, 8>, ipp_uchar_t>{{0, 0, 0x02, 0x58, 0, 0, 0x02, 0x58}, 50},
                  {{0, 0, 0x04, 0xB0, 0, 0, 0x04, 0xB0}, 0}}) {
                const auto found = std::search(bytes.begin(), bytes.end(), value.begin(), value.end());
                ASSERT_NE(found, bytes.end());
                found[8] = units;
            }
        });
    EXPECT_EQ(Summary(Read(attributes)), R"(Letter #1 2159x2794 5000/5000/5000/5000
A4 #9 2100x2970 5000/5000/5000/5000
default Letter, dpi 300*, monochrome, copies 1-1)");
}

TEST(QueueAttributes, SheetsTooSmallForTheDefaultPapersMarginsAreLeftOut)
{
    Attributes attributes;
    attributes.MediaCols("media-col-database",
                         {{21000, 29700, 1500, 1500, 1500, 1500},
                          {2000, 5000, 0, 0, 0, 0},
                          {3000, 5000, 0, 0, 0, 0},
                          {3100, 5000, 0, 0, 0, 0}});
    // A custom sheet takes the default paper's 15 mm margins: labels 20 and 30 mm wide could not.
    EXPECT_EQ(Summary(Read(attributes)), R"(A4 #9 2100x2970 15000/15000/15000/15000
31 x 50 mm #drv 310x500 0/0/0/0
default A4, dpi 300*, monochrome, copies 1-1)");
}

TEST(QueueAttributes, AQueueNameThatIsNoPrinterNameIsRefused)
{
    Attributes attributes;
    EXPECT_EQ(ReadQueueAttributes("Bad\xFFName", attributes.Get()).error, "the queue name is not valid UTF-8");
    EXPECT_EQ(ReadQueueAttributes("", attributes.Get()).error, "the printer name is empty");
    EXPECT_TRUE(ReadQueueAttributes(std::string(127, 'q'), attributes.Get()).printer);
    EXPECT_FALSE(ReadQueueAttributes(std::string(128, 'q'), attributes.Get()).printer);
    // No attributes at all reads like an empty description.
    EXPECT_TRUE(ReadQueueAttributes("Bare", nullptr).printer);
}

} // namespace
