// The platform's one object table: handles know their kind, are refused when deleted, made up or
// of another kind, and are never handed out twice, however many objects a process opens.
#include "platform/kernel/kernel.h"
#include "platform/kernel/object_table.h"
#include "platform/spooler/spooler.h"
#include "tests/platform/kernel_test_support.h"
#include "tests/platform/spooler_test_root.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace {

using platform::ObjectKind;
using platform::ObjectTable;

LPWSTR Name(const char16_t* text)
{
    return const_cast<LPWSTR>(text);
}

TEST(ObjectTableTest, HandlesKnowTheirKindAndDieOnce)
{
    ObjectTable table;
    auto object = std::make_shared<int>(7);
    const std::uintptr_t value = table.Add(ObjectKind::DeviceContext, object);
    EXPECT_NE(value, 0u);

    EXPECT_EQ(table.Find(value, ObjectKind::DeviceContext), object);
    EXPECT_EQ(table.Find(value, ObjectKind::EnhMetaFile), nullptr);
    // Removing it as another kind leaves it in place.
    EXPECT_EQ(table.Remove(value, ObjectKind::Printer), nullptr);
    EXPECT_EQ(table.Find(value, ObjectKind::DeviceContext), object);

    for (std::uintptr_t garbage :
         {std::uintptr_t{0}, value + 1, value + 4, ~std::uintptr_t{0}, reinterpret_cast<std::uintptr_t>(object.get())})
        EXPECT_EQ(table.Find(garbage, ObjectKind::DeviceContext), nullptr) << garbage;

    EXPECT_EQ(table.Remove(value, ObjectKind::DeviceContext), object);
    EXPECT_EQ(table.Find(value, ObjectKind::DeviceContext), nullptr);
    EXPECT_EQ(table.Remove(value, ObjectKind::DeviceContext), nullptr);
}

// A long-running process opens and closes millions of objects while it keeps a few open: no new
// handle may ever equal a live one or an old one (a counter that runs into tag bits, or wraps in
// 32 bits, would hand a caller another object).
TEST(ObjectTableTest, ValuesStayUniqueOverMillionsOfOpens)
{
    ObjectTable table;
    auto kept = std::make_shared<int>(1);
    const std::uintptr_t keptValue = table.Add(ObjectKind::Printer, kept);
    std::uintptr_t previous = keptValue;
    constexpr int kOpens = (1 << 21) + 16;
    for (int i = 0; i < kOpens; ++i) {
        const std::uintptr_t value = table.Add(ObjectKind::Printer, std::make_shared<int>(2));
        ASSERT_GT(value, previous) << "open " << i;
        previous = value;
        table.Remove(value, ObjectKind::Printer);
    }
    EXPECT_EQ(table.Find(keptValue, ObjectKind::Printer), kept);
    EXPECT_EQ(table.Count(ObjectKind::Printer), 1u);
}

using ObjectHandleTest = SpoolerRootTest;

// Printer and file handles share the one table: each call refuses the other's handles.
TEST_F(ObjectHandleTest, PrinterAndFileHandlesAreNotInterchangeable)
{
    InstallSamples();
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(Name(u"Quillon Office"), &printer, nullptr));
    const std::u16string path = platform_test::Wide((m_root.Path() / "f").string());
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_NE(file, printer);

    SetLastError(0);
    EXPECT_FALSE(CloseHandle(printer));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ClosePrinter(file));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(DocumentPropertiesW(nullptr, file, nullptr, nullptr, nullptr, 0), -1);

    // Both still work after the refusals.
    EXPECT_GT(DocumentPropertiesW(nullptr, printer, nullptr, nullptr, nullptr, 0), 0);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "x", 1, &written, nullptr));
    EXPECT_TRUE(ClosePrinter(printer));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(ClosePrinter(printer));
    EXPECT_FALSE(CloseHandle(file));
}

} // namespace
