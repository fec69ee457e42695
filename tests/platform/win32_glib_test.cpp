// The Windows names first, then glib's headers (the order of a plug-in that includes the platform
// before gdk-pixbuf or poppler-glib); win32_glib_first.cpp has the other order.
#include "platform/win32.h"

#include <glib.h>

#include <gtest/gtest.h>

BOOL TrueAfterGlib();
BOOL FalseAfterGlib();
gboolean GlibTrueAfterGlib();

namespace {

TEST(Win32GlibTest, TruthValuesAgreeInEitherIncludeOrder)
{
    EXPECT_EQ(TRUE, 1);
    EXPECT_EQ(FALSE, 0);
    EXPECT_EQ(TrueAfterGlib(), 1);
    EXPECT_EQ(FalseAfterGlib(), 0);
    EXPECT_EQ(GlibTrueAfterGlib(), 1);
    const BOOL fromWindows = TRUE;
    const gboolean fromGlib = TRUE;
    EXPECT_EQ(fromWindows, fromGlib);
}

} // namespace
