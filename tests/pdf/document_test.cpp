// Which bytes open as a document, what the page count says, and the cache of the last document.
#include "plugins/pdf/document.h"
#include "plugins/pdf/renderer.h"
#include "tests/pdf/pdf_test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace pdf_test {
namespace {

const std::string kBlack = "0 0 0 rg 100 100 400 600 re f";

// GetPDFDocInfo's answer for the bytes: the page count, or -1 when it said false. The count is
// preset to a value the renderer must leave alone on failure.
int PageCount(const std::string& bytes, const void* reserved = nullptr)
{
    int count = 777;
    const bool read
        = pdf::ReadDocumentInfo(reinterpret_cast<const BYTE*>(bytes.data()), int(bytes.size()), &count, reserved);
    if (!read) {
        EXPECT_EQ(count, 777);
    }
    return read ? count : -1;
}

TEST(DocumentInfo, CountsThePagesOfReadableDocuments)
{
    EXPECT_EQ(PageCount(HandWrittenPdf({{}, {}, {}})), 3);
    EXPECT_EQ(PageCount(CairoTextPdf(5)), 5);
    // The header may follow up to a kilobyte of other bytes.
    EXPECT_EQ(PageCount(std::string(1023, ' ') + HandWrittenPdf({{}})), 1);
    EXPECT_EQ(PageCount(std::string(1024, ' ') + HandWrittenPdf({{}})), -1);
}

// A document takes as long as its pages times the bytes read for each: one that could not be
// printed before its service stops waiting is refused before its first page, and the note says why.
TEST(DocumentInfo, RefusesDocumentsTooLongToPrintAndSaysWhy)
{
    EXPECT_EQ(PageCount(HandWrittenPdf(std::vector<HandPage>(pdf::kMaxPageCount))), pdf::kMaxPageCount);
    EXPECT_EQ(pdf::PageNote(), "");
    EXPECT_EQ(PageCount(HandWrittenPdf(std::vector<HandPage>(pdf::kMaxPageCount + 1))), -1);
    EXPECT_EQ(pdf::PageNote(), "the document was not opened: its 10001 pages are more than the 10000 it takes");

    // 2000 pages, with a comment that makes the file 18 MB: 36 GB read in all.
    const std::string pages = HandWrittenPdf(std::vector<HandPage>(2000));
    const std::string padded = "%PDF-1.4\n%" + std::string(18'000'000 - pages.size(), 'x') + "\n" + pages;
    EXPECT_EQ(PageCount(padded), -1);
    EXPECT_EQ(pdf::PageNote(),
              "the document was not opened: its 2000 pages of " + std::to_string(padded.size())
                  + " bytes would be read as more than 32 GiB");
}

TEST(DocumentInfo, RefusesBadArgumentsWithoutTouchingTheCount)
{
    const std::string pdf = HandWrittenPdf({{}});
    const auto* data = reinterpret_cast<const BYTE*>(pdf.data());
    int count = 777;
    EXPECT_FALSE(pdf::ReadDocumentInfo(nullptr, int(pdf.size()), &count, nullptr));
    EXPECT_FALSE(pdf::ReadDocumentInfo(data, 0, &count, nullptr));
    EXPECT_FALSE(pdf::ReadDocumentInfo(data, -1, &count, nullptr));
    EXPECT_FALSE(pdf::ReadDocumentInfo(data, int(pdf.size()), nullptr, nullptr));
    EXPECT_EQ(count, 777);
    int reserved = 0;
    EXPECT_EQ(PageCount(pdf, &reserved), -1);
    EXPECT_EQ(PageCount(pdf), 1);
}

TEST(DocumentInfo, RefusesWhatIsNotAReadablePdf)
{
    EXPECT_EQ(PageCount("%PDF-1.7\n"), -1);
    EXPECT_EQ(PageCount("GIF89a not a pdf at all"), -1);
    std::mt19937 random(7);
    std::string noise(64 * 1024, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    EXPECT_EQ(PageCount(noise), -1);
    EXPECT_EQ(PageCount("%PDF-1.4\n" + noise), -1);
    // A document without a page has nothing to print.
    PdfWriter empty;
    empty.Add("<< /Type /Catalog /Pages 2 0 R >>");
    empty.Add("<< /Type /Pages /Kids [] /Count 0 >>");
    EXPECT_EQ(PageCount(empty.Finish(1)), -1);
}

// Every cut of a document answers without crashing; a cut that loses the page tree says false,
// one that keeps it may be repaired. A page that opens must then render or be refused cleanly.
TEST(DocumentInfo, TruncatedDocumentsNeverCrash)
{
    const std::string whole = HandWrittenPdf({{.content = kBlack}, {.content = kBlack}});
    for (std::size_t length = 1; length < whole.size(); length += 7) {
        const std::string cut = whole.substr(0, length);
        const int count = PageCount(cut);
        if (count > 0)
            Render(cut, {.page = count - 1, .width = 60, .height = 80});
    }
    EXPECT_EQ(PageCount(whole.substr(0, whole.find("2 0 obj"))), -1);
}

TEST(DocumentInfo, HugeDeclaredObjectsAreRefusedOrSurvived)
{
    // A page tree that claims more pages than it holds: the count is refused beyond the limit,
    // and a page the tree does not hold is never drawn.
    PdfWriter liar;
    liar.Add("<< /Type /Catalog /Pages 2 0 R >>");
    liar.Add("<< /Type /Pages /Kids [3 0 R] /Count 2147483647 >>");
    liar.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] >>");
    const std::string lying = liar.Finish(1);
    const int count = PageCount(lying);
    EXPECT_TRUE(count == -1 || count == 1) << count;
    bool ok = true;
    Render(lying, {.page = 5, .width = 60, .height = 80}, &ok);
    EXPECT_FALSE(ok);

    // A stream declaring far more bytes than the file holds, and an image of 10^9 × 10^9 pixels,
    // on which poppler aborts: the page fails, the caller lives on and draws the next page.
    PdfWriter huge;
    huge.Add("<< /Type /Catalog /Pages 2 0 R >>");
    huge.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    huge.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] /Contents 4 0 R "
             "/Resources << /XObject << /Im 5 0 R >> >> >>");
    huge.Add("<< /Length 1099511627776 >>\nstream\nq 600 0 0 800 0 0 cm /Im Do Q\nendstream");
    huge.AddStream("/Type /XObject /Subtype /Image /Width 1000000000 /Height 1000000000 /ColorSpace /DeviceRGB "
                   "/BitsPerComponent 8",
                   "abc");
    const std::string hugeDocument = huge.Finish(1);
    ASSERT_EQ(PageCount(hugeDocument), 1);
    Render(hugeDocument, {.width = 60, .height = 80}, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(Render(HandWrittenPdf({{.content = kBlack}}), {.width = 60, .height = 80}).At(30, 40), Rgb(0, 0, 0));
}

TEST(DocumentInfo, EncryptedDocumentsOpenOnlyWithoutAPassword)
{
    const std::string plain = HandWrittenPdf({{.content = kBlack}, {.content = kBlack}});
    const std::string open = Encrypted(plain, "");
    ASSERT_NE(open.find("/Encrypt"), std::string::npos);
    EXPECT_EQ(PageCount(open), 2);
    const Raster page = Render(open, {.page = 1, .width = 60, .height = 80});
    EXPECT_EQ(page.At(30, 40), Rgb(0, 0, 0));

    EXPECT_EQ(PageCount(Encrypted(plain, "secret")), -1);
    bool ok = true;
    Render(Encrypted(plain, "secret"), {.width = 60, .height = 80}, &ok);
    EXPECT_FALSE(ok);
}

TEST(DocumentCache, ReusesADocumentOnlyForEqualBytes)
{
    pdf::DocumentCache cache;
    const std::string first = HandWrittenPdf({{}, {}});
    const std::shared_ptr<pdf::Document> opened = cache.Open(Bytes(first));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->PageCount(), 2);

    // The same bytes in another buffer: the document held.
    const std::string again = first;
    EXPECT_EQ(cache.Open(Bytes(again)), opened);

    // Same length, other bytes (the second page turned landscape): parsed anew.
    std::string changed = first;
    changed.replace(changed.rfind("0 0 600 800"), 11, "0 0 800 600");
    ASSERT_EQ(changed.size(), first.size());
    const std::shared_ptr<pdf::Document> other = cache.Open(Bytes(changed));
    ASSERT_TRUE(other);
    EXPECT_NE(other, opened);
    EXPECT_EQ(other->LoadPage(1)->Width(), 800);
    EXPECT_EQ(opened->LoadPage(1)->Width(), 600);
    EXPECT_EQ(cache.Open(Bytes(changed)), other);

    // Bytes that do not open drop what was held.
    EXPECT_FALSE(cache.Open(Bytes(std::string("not a pdf"))));
    EXPECT_NE(cache.Open(Bytes(changed)), other);
}

// A readable one-page document of exactly `size` bytes, padded by a stream nothing refers to.
std::string PaddedPdf(std::size_t size)
{
    std::size_t padding = size;
    for (;;) {
        PdfWriter writer;
        writer.Add("<< /Type /Catalog /Pages 2 0 R >>");
        writer.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
        writer.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] >>");
        writer.AddStream("", std::string(padding, 'x'));
        std::string document = writer.Finish(1);
        if (document.size() == size)
            return document;
        padding = padding + size - document.size();
    }
}

TEST(DocumentCache, KeepsNoCopyOfDocumentsAboveItsBound)
{
    pdf::DocumentCache cache;
    const std::string large = PaddedPdf(pdf::kMaxCachedBytes + 1);
    const std::shared_ptr<pdf::Document> first = cache.Open(Bytes(large));
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->HoldsBytes(Bytes(large)));
    EXPECT_NE(cache.Open(Bytes(large)), first);

    const std::string largest = PaddedPdf(pdf::kMaxCachedBytes);
    const std::shared_ptr<pdf::Document> held = cache.Open(Bytes(largest));
    ASSERT_TRUE(held);
    EXPECT_EQ(cache.Open(Bytes(largest)), held);
}

} // namespace
} // namespace pdf_test
