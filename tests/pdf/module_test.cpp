// The built pdf.so: its two exports, and that freeing it leaves it loaded with what it keeps.
#include "plugins/pdf/pdf_renderer.h"
#include "tests/pdf/pdf_test_support.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace pdf_test {
namespace {

const std::string kModule = QUILLON_BIN_DIR "/pdf.so";

TEST(PdfModule, ExportsTwoEntryPointsAndStaysLoadedWhenFreed)
{
    // Lazy binding: this test needs none of the device-context calls the module imports.
    void* module = dlopen(kModule.c_str(), RTLD_LAZY | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    const auto info = reinterpret_cast<GetPDFDocInfoProc>(dlsym(module, "GetPDFDocInfo"));
    const auto render = reinterpret_cast<RenderPDFPageToDCProc>(dlsym(module, "RenderPDFPageToDC"));
    ASSERT_NE(info, nullptr);
    ASSERT_NE(render, nullptr);
    // The core stays inside the module.
    EXPECT_EQ(dlsym(module, "_ZN3pdf16ReadDocumentInfoEPKhiPiPKv"), nullptr);

    const std::string pdf = HandWrittenPdf({{}, {}});
    const auto* data = reinterpret_cast<const BYTE*>(pdf.data());
    int count = 0;
    EXPECT_TRUE(info(data, int(pdf.size()), &count, nullptr));
    EXPECT_EQ(count, 2);
    EXPECT_FALSE(info(data, int(pdf.size()) / 2, &count, nullptr));
    EXPECT_FALSE(render(data, int(pdf.size()), 0, nullptr, 600, 600, 0, 0, 5100, 6600, true, false, true, true));

    ASSERT_EQ(dlclose(module), 0);
    void* stillLoaded = dlopen(kModule.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    EXPECT_EQ(stillLoaded, module);
    if (stillLoaded) {
        EXPECT_EQ(reinterpret_cast<GetPDFDocInfoProc>(dlsym(stillLoaded, "GetPDFDocInfo")), info);
        dlclose(stillLoaded);
    }
}

} // namespace
} // namespace pdf_test
