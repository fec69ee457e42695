// Opening and closing providers, bad handles and pointers, and memory release.
#include "provider_test_support.h"

namespace prntvpt_test {
namespace {

using ProviderApi = ProviderTest;

TEST_F(ProviderApi, OpensInstalledPrintersOnlyAtVersionOne)
{
    HPTPROVIDER provider = nullptr;
    EXPECT_EQ(api_.open(u"Quillon Office", 1, &provider), S_OK);
    EXPECT_NE(provider, nullptr);
    EXPECT_EQ(api_.close(provider), S_OK);
    EXPECT_EQ(api_.close(provider), E_HANDLE); // closed already

    for (const char16_t* name : {u"No Such Printer", u"", u"quillon office"}) {
        provider = reinterpret_cast<HPTPROVIDER>(1);
        EXPECT_TRUE(FAILED(api_.open(name, 1, &provider)));
        EXPECT_EQ(provider, nullptr);
    }
    EXPECT_TRUE(FAILED(api_.open(nullptr, 1, &provider)));
    EXPECT_TRUE(FAILED(api_.open(u"Quillon Office", 2, &provider)));
    EXPECT_TRUE(FAILED(api_.open(u"Quillon Office", 1, nullptr)));
}

TEST_F(ProviderApi, GarbageHandlesAreRefused)
{
    auto garbage = reinterpret_cast<HPTPROVIDER>(static_cast<std::uintptr_t>(0xdeadbeef));
    EXPECT_EQ(api_.close(garbage), E_HANDLE);
    EXPECT_EQ(api_.close(nullptr), E_HANDLE);

    IStream* stream = TextStream("");
    BSTR error = nullptr;
    EXPECT_EQ(api_.capabilities(garbage, nullptr, stream, &error), E_HANDLE);
    SysFreeString(error);
    ULONG size = 0;
    PDEVMODEW devMode = nullptr;
    EXPECT_EQ(api_.toDevMode(garbage, stream, kUserDefaultDevmode, kPTJobScope, &size, &devMode, nullptr), E_HANDLE);
    EXPECT_EQ(devMode, nullptr);
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    EXPECT_EQ(api_.toTicket(garbage, sizeof mode, &mode, kPTJobScope, stream), E_HANDLE);
    EXPECT_EQ(api_.merge(garbage, stream, stream, kPTJobScope, stream, nullptr), E_HANDLE);
    stream->Release();
}

TEST_F(ProviderApi, ReleaseMemoryTakesOnlyWhatTheProviderGave)
{
    EXPECT_EQ(api_.release(nullptr), S_OK);
    int notOurs = 0;
    EXPECT_EQ(api_.release(&notOurs), E_INVALIDARG);

    HPTPROVIDER provider = Open(u"Quillon Office");
    IStream* ticket = TextStream(MakeTicket(""));
    ULONG size = 0;
    PDEVMODEW devMode = nullptr;
    ASSERT_EQ(api_.toDevMode(provider, ticket, kPrinterDefaultDevmode, kPTJobScope, &size, &devMode, nullptr), S_OK);
    ticket->Release();
    ASSERT_NE(devMode, nullptr);
    EXPECT_EQ(api_.release(devMode), S_OK);
    EXPECT_EQ(api_.release(devMode), E_INVALIDARG); // a second release is caught, not a double free
}

TEST_F(ProviderApi, BadScopesAndPointers)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    IStream* ticket = TextStream(MakeTicket(""));
    ULONG size = 0;
    PDEVMODEW devMode = nullptr;
    // 3 is the one value outside the three scopes that the enumeration can hold in C++.
    const auto badScope = static_cast<EPrintTicketScope>(3);
    EXPECT_EQ(api_.toDevMode(provider, ticket, kUserDefaultDevmode, badScope, &size, &devMode, nullptr), E_INVALIDARG);
    EXPECT_EQ(api_.merge(provider, ticket, ticket, badScope, ticket, nullptr), E_INVALIDARG);
    EXPECT_EQ(api_.toDevMode(provider, nullptr, kUserDefaultDevmode, kPTJobScope, &size, &devMode, nullptr), E_POINTER);
    EXPECT_EQ(api_.toDevMode(provider, ticket, kUserDefaultDevmode, kPTJobScope, nullptr, &devMode, nullptr),
              E_POINTER);
    EXPECT_EQ(api_.capabilities(provider, nullptr, nullptr, nullptr), E_POINTER);
    ticket->Release();
}

} // namespace
} // namespace prntvpt_test
