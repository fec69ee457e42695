#include "tests/platform/spooler_test_root.h"

#include "platform/kernel/kernel.h"
#include "platform/spooler/spooler.h"

#include <algorithm>
#include <vector>

bool operator==(const POINT& a, const POINT& b)
{
    return a.x == b.x && a.y == b.y;
}

namespace {

constexpr std::size_t kNameUnits = 64;

template <typename T>
std::vector<T> Query(const char16_t* printer, WORD capability, std::size_t entryUnits = 1)
{
    const int count = DeviceCapabilitiesW(printer, nullptr, capability, nullptr, nullptr);
    EXPECT_GT(count, 0);
    // One spare entry past the end, filled with a marker, shows nothing is written beyond count.
    std::vector<T> entries((count + 1) * entryUnits, T{});
    auto* spare = reinterpret_cast<BYTE*>(entries.data() + count * entryUnits);
    const std::size_t spareBytes = entryUnits * sizeof(T);
    std::fill_n(spare, spareBytes, BYTE{0x5A});
    EXPECT_EQ(DeviceCapabilitiesW(printer, nullptr, capability, reinterpret_cast<LPWSTR>(entries.data()), nullptr),
              count);
    EXPECT_EQ(std::count(spare, spare + spareBytes, BYTE{0x5A}), static_cast<std::ptrdiff_t>(spareBytes));
    entries.resize(count * entryUnits);
    return entries;
}

std::vector<std::u16string> PaperNames(const char16_t* printer)
{
    const std::vector<WCHAR> slots = Query<WCHAR>(printer, DC_PAPERNAMES, kNameUnits);
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < slots.size(); i += kNameUnits) {
        const WCHAR* slot = slots.data() + i;
        names.emplace_back(slot, std::find(slot, slot + kNameUnits, u'\0'));
    }
    return names;
}

std::vector<std::pair<LONG, LONG>> PaperSizes(const char16_t* printer)
{
    std::vector<std::pair<LONG, LONG>> sizes;
    for (const POINT& point : Query<POINT>(printer, DC_PAPERSIZE))
        sizes.emplace_back(point.x, point.y);
    return sizes;
}

} // namespace

using SpoolerCapabilitiesTest = SpoolerRootTest;

TEST_F(SpoolerCapabilitiesTest, OfficePapersInDriverOrder)
{
    InstallSamples();
    EXPECT_EQ(DeviceCapabilitiesW(u"Quillon Office", nullptr, DC_PAPERS, nullptr, nullptr), 4);
    EXPECT_EQ(DeviceCapabilitiesW(u"Quillon Office", nullptr, DC_PAPERNAMES, nullptr, nullptr), 4);
    EXPECT_EQ(DeviceCapabilitiesW(u"Quillon Office", nullptr, DC_PAPERSIZE, nullptr, nullptr), 4);
    EXPECT_EQ(Query<WORD>(u"Quillon Office", DC_PAPERS), (std::vector<WORD>{1, 5, 9, 11}));
    EXPECT_EQ(PaperNames(u"Quillon Office"), (std::vector<std::u16string>{u"Letter", u"Legal", u"A4", u"A5"}));
    EXPECT_EQ(PaperSizes(u"Quillon Office"),
              (std::vector<std::pair<LONG, LONG>>{{2159, 2794}, {2159, 3556}, {2100, 2970}, {1480, 2100}}));
}

TEST_F(SpoolerCapabilitiesTest, PhotoPapersInDriverOrder)
{
    InstallSamples();
    EXPECT_EQ(DeviceCapabilitiesW(u"Quillon Photo", nullptr, DC_PAPERS, nullptr, nullptr), 5);
    EXPECT_EQ(Query<WORD>(u"Quillon Photo", DC_PAPERS), (std::vector<WORD>{256, 257, 258, 259, 1}));
    EXPECT_EQ(PaperNames(u"Quillon Photo"),
              (std::vector<std::u16string>{u"4x6", u"4x6 Borderless", u"5x7", u"5x7 Borderless", u"Letter"}));
    EXPECT_EQ(
        PaperSizes(u"Quillon Photo"),
        (std::vector<std::pair<LONG, LONG>>{{1016, 1524}, {1016, 1524}, {1270, 1778}, {1270, 1778}, {2159, 2794}}));
}

TEST_F(SpoolerCapabilitiesTest, APaperNameOfExactly64UnitsFillsItsSlotWithoutAZero)
{
    const std::string longName(64, 'L');
    Install("names.printer",
            "[printer]\nname = Names\nresolution = 300\ndefault-paper = 9\n[paper 9]\nname = " + longName
                + "\nsize = 210 x 297\n[paper 11]\nname = A5\nsize = 148 x 210\n");
    const std::vector<WCHAR> slots = Query<WCHAR>(u"Names", DC_PAPERNAMES, kNameUnits);
    ASSERT_EQ(slots.size(), 2 * kNameUnits);
    EXPECT_EQ(std::u16string(slots.begin(), slots.begin() + kNameUnits), std::u16string(64, u'L'));
    EXPECT_EQ(slots[kNameUnits], u'A');
    EXPECT_EQ(slots[kNameUnits + 2], u'\0');
    EXPECT_EQ(slots[2 * kNameUnits - 1], u'\0');
}

TEST_F(SpoolerCapabilitiesTest, UnknownEmptyOrNullPrinterAnswersMinusOne)
{
    InstallSamples();
    for (LPCWSTR name : {LPCWSTR{u"Nobody"}, LPCWSTR{u""}, LPCWSTR{nullptr}}) {
        for (WORD capability : {DC_PAPERS, DC_PAPERNAMES, DC_PAPERSIZE, DC_COPIES}) {
            SetLastError(0);
            EXPECT_EQ(DeviceCapabilitiesW(name, nullptr, capability, nullptr, nullptr), -1);
            EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
        }
    }
}

TEST_F(SpoolerCapabilitiesTest, PrinterFeatures)
{
    InstallSamples();
    auto office
        = [](WORD capability) { return DeviceCapabilitiesW(u"Quillon Office", nullptr, capability, nullptr, nullptr); };
    auto photo
        = [](WORD capability) { return DeviceCapabilitiesW(u"Quillon Photo", nullptr, capability, nullptr, nullptr); };
    EXPECT_EQ(office(DC_DUPLEX), 1);
    EXPECT_EQ(photo(DC_DUPLEX), 0);
    EXPECT_EQ(office(DC_COPIES), 999);
    EXPECT_EQ(photo(DC_COPIES), 99);
    EXPECT_EQ(office(DC_COLORDEVICE), 1);
    EXPECT_EQ(office(DC_ORIENTATION), 90);
    EXPECT_EQ(office(DC_COLLATE), 1);
    EXPECT_EQ(office(DC_SIZE), 220);
    EXPECT_EQ(office(DC_VERSION), DM_SPECVERSION);
    EXPECT_EQ(office(DC_EXTRA) + 220,
              DocumentPropertiesW(nullptr, nullptr, const_cast<LPWSTR>(u"Quillon Office"), nullptr, nullptr, 0));
    EXPECT_EQ(photo(DC_FIELDS) & DM_DUPLEX, 0);
    EXPECT_EQ(office(DC_FIELDS) & DM_DUPLEX, static_cast<int>(DM_DUPLEX));

    // Width in the low word, length in the high word.
    EXPECT_EQ(office(DC_MINEXTENT), (2100 << 16) | 1480);
    EXPECT_EQ(office(DC_MAXEXTENT), (3556 << 16) | 2159);
    EXPECT_EQ(photo(DC_MINEXTENT), (1524 << 16) | 1016);

    const std::vector<LONG> resolutions = Query<LONG>(u"Quillon Photo", DC_ENUMRESOLUTIONS, 2);
    EXPECT_EQ(resolutions, (std::vector<LONG>{300, 300}));

    SetLastError(0);
    EXPECT_EQ(office(999), -1);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

TEST_F(SpoolerCapabilitiesTest, FieldsMatchTheDefaultDeviceMode)
{
    InstallSamples();
    std::vector<BYTE> bytes(
        DocumentPropertiesW(nullptr, nullptr, const_cast<LPWSTR>(u"Quillon Photo"), nullptr, nullptr, 0));
    auto* mode = reinterpret_cast<DEVMODEW*>(bytes.data());
    ASSERT_EQ(DocumentPropertiesW(nullptr, nullptr, const_cast<LPWSTR>(u"Quillon Photo"), mode, nullptr, DM_OUT_BUFFER),
              IDOK);
    EXPECT_EQ(static_cast<DWORD>(DeviceCapabilitiesW(u"Quillon Photo", nullptr, DC_FIELDS, nullptr, nullptr)),
              mode->dmFields);
}

// A caller sizes its buffers by the count and fills them with the lists after it; the printer file
// gaining 40 papers and a resolution between the calls changes none of the answers.
TEST_F(SpoolerCapabilitiesTest, ACountAndTheListsAfterItAgreeWhenThePrinterChangesBetweenThem)
{
    Install("grows.printer", MinimalPrinter("Grows"));
    const int count = DeviceCapabilitiesW(u"Grows", nullptr, DC_PAPERS, nullptr, nullptr);
    ASSERT_EQ(count, 1);
    std::string grown = MinimalPrinter("Grows");
    grown.replace(grown.find("resolution = 300"), 16, "resolution = 300 600");
    for (int number = 256; number < 296; ++number)
        grown += "[paper " + std::to_string(number) + "]\nname = Extra\nsize = 100 x 100\n";
    Install("grows.printer", grown);

    // One spare slot past the count, marked: nothing is written there.
    std::vector<WORD> numbers(count + 1, 0x5A5A);
    EXPECT_EQ(DeviceCapabilitiesW(u"Grows", nullptr, DC_PAPERS, reinterpret_cast<LPWSTR>(numbers.data()), nullptr), 1);
    EXPECT_EQ(numbers, (std::vector<WORD>{9, 0x5A5A}));
    EXPECT_EQ(PaperNames(u"Grows"), std::vector<std::u16string>{u"A4"});
    EXPECT_EQ(PaperSizes(u"Grows"), (std::vector<std::pair<LONG, LONG>>{{2100, 2970}}));
    EXPECT_EQ(Query<LONG>(u"Grows", DC_ENUMRESOLUTIONS, 2), (std::vector<LONG>{300, 300}));

    // Another machine root is another machine: its printer of that name is read for itself.
    const testing_support::TempRoot other;
    std::filesystem::create_directories(platform::PrinterFolder());
    Install("grows.printer", grown);
    EXPECT_EQ(Query<WORD>(u"Grows", DC_PAPERS).size(), 41u);
}
