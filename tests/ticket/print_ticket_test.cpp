#include "tests/support/temp_root.h"
#include "ticket/print_ticket_api.h"
#include "ticket/print_ticket_queries.h"
#include "ticket/ticket_to_devmode.h"

#include "platform/kernel/kernel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

namespace {

using testing_support::TempRoot;

class PrintTicketTest : public ::testing::Test {
protected:
    void SetUp() override { root_.InstallSamplePrinters(QUILLON_SOURCE_DIR); }
    TempRoot root_;
};

TEST(PrintTicketApiTest, BindsOnceFromTheLibraryBesideTheProgram)
{
    ASSERT_NE(aio::g_print_ticket_api.library, nullptr) << "prntvpt.so should be loaded at start-up";
    ASSERT_TRUE(aio::EnsurePrintTicketApi());
    EXPECT_NE(aio::g_print_ticket_api.merge_and_validate, nullptr);

    // A second call must not look the entry points up again: a marker left in the table survives.
    const auto bound = aio::g_print_ticket_api.merge_and_validate;
    aio::g_print_ticket_api.merge_and_validate = nullptr;
    EXPECT_TRUE(aio::EnsurePrintTicketApi());
    EXPECT_EQ(aio::g_print_ticket_api.merge_and_validate, nullptr);
    aio::g_print_ticket_api.merge_and_validate = bound;
}

TEST(ComInitScopeTest, LeavesOnlyTheLevelItEnteredOnASingleThreadedThread)
{
    std::thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        {
            aio::ComInitScope scope;
        }
        // The thread's own apartment is still there…
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        // …and ends with the thread's own CoUninitialize.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    }).join();
}

TEST(ComInitScopeTest, EntersAndLeavesAMultithreadedApartment)
{
    std::thread([] {
        {
            aio::ComInitScope scope;
        }
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
    }).join();
}

TEST(TextStreamTest, RoundTripsEveryByteIncludingZeros)
{
    const std::string text("a\0b\xFF\0", 5);
    IStream* stream = nullptr;
    ASSERT_EQ(aio::CreateTextStream(text, &stream), S_OK);
    aio::ComRelease<IStream> release(stream);

    char first = 0;
    ULONG read = 0;
    ASSERT_EQ(stream->Read(&first, 1, &read), S_OK);
    EXPECT_EQ(first, 'a') << "the stream starts at its first byte";

    std::string back = "old";
    EXPECT_EQ(aio::ReadStreamText(stream, back), S_OK);
    EXPECT_EQ(back, text);

    std::string empty = "old";
    IStream* emptyStream = nullptr;
    ASSERT_EQ(aio::CreateTextStream("", &emptyStream), S_OK);
    aio::ComRelease<IStream> releaseEmpty(emptyStream);
    EXPECT_EQ(aio::ReadStreamText(emptyStream, empty), S_OK);
    EXPECT_EQ(empty, "");
}

TEST(TextStreamTest, ReadStreamTextRefusesAStreamWithoutMemoryBlock)
{
    std::string text = "kept";
    EXPECT_TRUE(FAILED(aio::ReadStreamText(nullptr, text)));
    EXPECT_EQ(text, "kept");
}

TEST_F(PrintTicketTest, CapabilitiesOfAnInstalledPrinter)
{
    std::string document;
    ASSERT_EQ(aio::QueryPrintCapabilities(u"Quillon Office", document), S_OK);
    EXPECT_NE(document.find("PrintCapabilities"), std::string::npos);
    EXPECT_NE(document.find("ISOA4"), std::string::npos);
    EXPECT_EQ(document.find('\0'), std::string::npos);
}

TEST_F(PrintTicketTest, UnknownOrEmptyPrinterFailsWithoutText)
{
    // The provider's own failure comes back unchanged from every query.
    const HRESULT providerFailure = HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME);
    for (const char16_t* name : {u"No Such Printer", u""}) {
        std::string document;
        EXPECT_EQ(aio::QueryPrintCapabilities(name, document), providerFailure);
        EXPECT_EQ(aio::GetDefaultPrintTicket(name, document), providerFailure);
        EXPECT_TRUE(document.empty());
        DEVMODEW* devmode = nullptr;
        EXPECT_EQ(aio::PrintTicketToDevMode(name, "<x/>", &devmode), providerFailure);
        EXPECT_EQ(devmode, nullptr);
    }
}

// A provider that takes any printer name, as one that knows printers the spooler does not.
HRESULT OpenAnyPrinter(PCWSTR, DWORD, HPTPROVIDER* provider)
{
    *provider = reinterpret_cast<HPTPROVIDER>(std::uintptr_t{0x5150});
    return S_OK;
}
HRESULT CloseAnyPrinter(HPTPROVIDER)
{
    return S_OK;
}

TEST_F(PrintTicketTest, APrinterTheSpoolerCannotOpenIsAFailureNotAnEmptyTicket)
{
    ASSERT_TRUE(aio::EnsurePrintTicketApi());
    const aio::PrintTicketApi bound = aio::g_print_ticket_api;
    aio::g_print_ticket_api.open_provider = OpenAnyPrinter;
    aio::g_print_ticket_api.close_provider = CloseAnyPrinter;
    std::string document = "untouched";
    const HRESULT result = aio::GetDefaultPrintTicket(u"Known Only To The Provider", document);
    aio::g_print_ticket_api = bound;
    EXPECT_EQ(result, HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME));
    EXPECT_EQ(document, "untouched");
}

TEST_F(PrintTicketTest, DefaultTicketConvertsBackToTheDefaultDeviceMode)
{
    std::string ticket;
    ASSERT_EQ(aio::GetDefaultPrintTicket(u"Quillon Photo", ticket), S_OK);
    EXPECT_NE(ticket.find("PrintTicket"), std::string::npos);
    EXPECT_NE(ticket.find("NorthAmericaLetter"), std::string::npos);

    DEVMODEW* devmode = nullptr;
    ASSERT_TRUE(SUCCEEDED(aio::PrintTicketToDevMode(u"Quillon Photo", ticket, &devmode)));
    ASSERT_NE(devmode, nullptr);
    EXPECT_EQ(GlobalLock(devmode), nullptr) << "the provider's device mode is a plain pointer";
    EXPECT_TRUE(devmode->dmFields & DM_PAPERSIZE);
    EXPECT_EQ(devmode->dmPaperSize, DMPAPER_LETTER);
    EXPECT_EQ(devmode->dmOrientation, DMORIENT_PORTRAIT);
    aio::g_print_ticket_api.release_memory(devmode);
}

TEST_F(PrintTicketTest, MalformedTicketFails)
{
    for (const char* ticket : {"", "<not-closed", "<html/>"}) {
        DEVMODEW* devmode = nullptr;
        EXPECT_TRUE(FAILED(aio::PrintTicketToDevMode(u"Quillon Office", ticket, &devmode))) << ticket;
    }
}

} // namespace
