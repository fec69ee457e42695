// Reading a queue's IPP attributes into a printer, from attributes built here as a printer would
// send them (no server).
#include "platform/spooler/cups_attributes.h"

#include <gtest/gtest.h>

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
            const std::pair<const char*, int> margins[] = {{"media-left-margin", sheet.left},
                                                           {"media-top-margin", sheet.top},
                                                           {"media-right-margin", sheet.right},
                                                           {"media-bottom-margin", sheet.bottom}};
            for (const auto& [margin, value] : margins) {
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

private:
    ipp_t* ipp_;
};

struct ExpectedPaper {
    std::int16_t number; // 0: any driver number (256 and up)
    std::u16string name;
    std::int32_t width;
    std::int32_t length;
    std::int32_t left, top, right, bottom; // micrometres
};

void ExpectPapers(const PrinterDefinition& printer, const std::vector<ExpectedPaper>& expected)
{
    const std::vector<PaperDefinition>& papers = printer.Papers();
    ASSERT_EQ(papers.size(), expected.size());
    for (std::size_t i = 0; i < papers.size(); ++i) {
        SCOPED_TRACE(i);
        if (expected[i].number == 0)
            EXPECT_GE(papers[i].number, 256);
        else
            EXPECT_EQ(papers[i].number, expected[i].number);
        EXPECT_EQ(papers[i].name, expected[i].name);
        EXPECT_EQ(papers[i].width, expected[i].width);
        EXPECT_EQ(papers[i].length, expected[i].length);
        EXPECT_EQ(papers[i].marginLeft, expected[i].left);
        EXPECT_EQ(papers[i].marginTop, expected[i].top);
        EXPECT_EQ(papers[i].marginRight, expected[i].right);
        EXPECT_EQ(papers[i].marginBottom, expected[i].bottom);
    }
}

const PaperDefinition* Named(const PrinterDefinition& printer, std::u16string_view name)
{
    for (const PaperDefinition& paper : printer.Papers()) {
        if (paper.name == name)
            return &paper;
    }
    ADD_FAILURE() << "no such paper";
    return &printer.Papers().front();
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
    ExpectPapers(printer,
                 {
                     {1, u"Letter", 2159, 2794, 6350, 1020, 6350, 11680},
                     {0, u"4x6", 1016, 1524, 3000, 3000, 3000, 3000},
                     {0, u"4x6 Borderless", 1016, 1524, 0, 0, 0, 0},
                     {9, u"A4", 2100, 2970, 3400, 1020, 3400, 11680},
                     {20, u"Envelope #10", 1048, 2413, 6350, 1020, 6350, 11680},
                     {0, u"100 x 150 mm", 1000, 1500, 3000, 3000, 3000, 3000},
                     {0, u"5x7", 1270, 1778, 0, 0, 0, 0},
                 });
    EXPECT_NE(printer.Papers()[1].number, printer.Papers()[2].number);
    EXPECT_EQ(printer.DefaultPaper().name, u"Letter");
    // Dots are square here: 1200 x 600 is passed over.
    EXPECT_EQ(printer.Resolutions(), (std::vector<std::int32_t>{300, 600}));
    EXPECT_EQ(printer.DefaultResolution(), 600);
    EXPECT_TRUE(printer.Color());
    EXPECT_TRUE(printer.Duplex());
    EXPECT_EQ(printer.CopiesMin(), 1);
    EXPECT_EQ(printer.CopiesMax(), 99);
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
    EXPECT_EQ(one.Papers()[0].number, Named(other, u"100 x 150 mm")->number);
    // Alone, the borderless 4 x 6 is the size's only paper: plainly "4x6", with the number the
    // size has, not its twin's.
    EXPECT_EQ(one.Papers()[1].name, u"4x6");
    EXPECT_EQ(one.Papers()[1].number, Named(other, u"4x6")->number);
}

TEST(QueueAttributes, WhatADescriptionLacksTakesDefaults)
{
    Attributes nothing;
    const PrinterDefinition printer = Read(nothing);
    ExpectPapers(printer,
                 {
                     {1, u"Letter", 2159, 2794, 5000, 5000, 5000, 5000},
                     {9, u"A4", 2100, 2970, 5000, 5000, 5000, 5000},
                 });
    EXPECT_EQ(printer.DefaultPaper().number, 1);
    EXPECT_EQ(printer.Resolutions(), (std::vector<std::int32_t>{300}));
    EXPECT_FALSE(printer.Color());
    EXPECT_FALSE(printer.Duplex());
    EXPECT_EQ(printer.CopiesMin(), 1);
    EXPECT_EQ(printer.CopiesMax(), 1);
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
    const PrinterDefinition printer = Read(attributes);
    // Every side can be 0: each size also comes borderless. The widest margin of each side is the
    // paper's. Loaded sheets the list lacks are added, with margins only.
    ExpectPapers(printer,
                 {
                     {1, u"Letter", 2159, 2794, 3000, 5000, 3000, 5000},
                     {0, u"Letter Borderless", 2159, 2794, 0, 0, 0, 0},
                     {11, u"A5", 1480, 2100, 3000, 5000, 3000, 5000},
                     {0, u"A5 Borderless", 1480, 2100, 0, 0, 0, 0},
                     {70, u"A6", 1050, 1480, 3000, 5000, 3000, 5000},
                 });
    EXPECT_EQ(printer.DefaultPaper().number, 11);
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
    const PrinterDefinition printer = Read(attributes);
    ExpectPapers(printer,
                 {
                     {11, u"A5", 1480, 2100, 5000, 5000, 5000, 5000},
                     {1, u"Letter", 2159, 2794, 6350, 1020, 6350, 11680},
                 });
    // 236 dots per centimetre are 599 per inch, listed once; 10 and 20000 per centimetre are out of
    // range.
    EXPECT_EQ(printer.Resolutions(), (std::vector<std::int32_t>{599}));
    EXPECT_EQ(printer.DefaultResolution(), 599);
    EXPECT_EQ(printer.CopiesMin(), 1);
    EXPECT_EQ(printer.CopiesMax(), 32767);
    // The colour modes say monochrome; color-supported does not overrule them.
    EXPECT_FALSE(printer.Color());
    EXPECT_FALSE(printer.Duplex());
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
    ExpectPapers(Read(attributes),
                 {
                     {9, u"A4", 2100, 2970, 15000, 15000, 15000, 15000},
                     {0, u"31 x 50 mm", 310, 500, 0, 0, 0, 0},
                 });
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
