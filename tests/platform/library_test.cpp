// LoadLibraryW, GetProcAddress and FreeLibrary with a module built beside the test.
#include "platform/gdiplus/gdiplus.h"
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "tests/platform/kernel_test_support.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using platform_test::Wide;

// Built as quillon_platform_testmod.so in the test program's own folder.
constexpr const char16_t* kModule = u"quillon_platform_testmod.dll";
const fs::path kModuleFile = "quillon_platform_testmod.so";

int CallAnswer(HMODULE module)
{
    const FARPROC proc = GetProcAddress(module, "QuillonTestModuleAnswer");
    // Through void*, as any caller of an export with a real signature does.
    return proc ? reinterpret_cast<int (*)()>(reinterpret_cast<void*>(proc))() : -1;
}

TEST(Library, BareNameIsFoundBesideTheExecutable)
{
    for (const char16_t* name : {kModule, u"QUILLON_PLATFORM_TESTMOD.DLL", u"quillon_platform_testmod"}) {
        SCOPED_TRACE(fs::path(std::u16string(name)).string());
        const HMODULE module = LoadLibraryW(name);
        ASSERT_NE(module, nullptr) << GetLastError();
        EXPECT_EQ(CallAnswer(module), 42);
        EXPECT_TRUE(FreeLibrary(module));
    }
}

TEST(Library, NameWithAFolderIsLoadedFromThere)
{
    platform_test::PrivateRoot root;
    const fs::path source = fs::path(platform::ExecutableFolder()) / kModuleFile;
    fs::create_directories(root.Path() / "mnt" / "c" / "mods");
    fs::copy_file(source, root.Path() / "copy.so");
    fs::copy_file(source, root.Path() / "mnt" / "c" / "mods" / "drive.so");

    for (const std::u16string& name :
         {Wide((root.Path() / "copy.dll").string()), Wide(root.Path().string()) + u"\\copy.dll",
          std::u16string(u"C:\\mods\\drive.dll")}) {
        const HMODULE module = LoadLibraryW(name.c_str());
        ASSERT_NE(module, nullptr) << fs::path(name).string();
        EXPECT_EQ(CallAnswer(module), 42);
        EXPECT_TRUE(FreeLibrary(module));
    }
    // A folder is searched only when named: the bare name of that copy is not beside the executable.
    EXPECT_EQ(LoadLibraryW(u"copy.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(Library, FailuresAreErrorCodes)
{
    platform_test::PrivateRoot root;
    EXPECT_EQ(LoadLibraryW(u"quillon-no-such-module.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    std::ofstream(root.Path() / "broken.so") << "not a library";
    EXPECT_EQ(LoadLibraryW(Wide((root.Path() / "broken.dll").string()).c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(u""), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    const HMODULE module = LoadLibraryW(kModule);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(module, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(module));

    // Freed, null and made-up modules are refused, not handed to the loader.
    int notAModule = 0;
    for (const HMODULE bad : {module, static_cast<HMODULE>(nullptr), reinterpret_cast<HMODULE>(&notAModule)}) {
        EXPECT_EQ(GetProcAddress(bad, "QuillonTestModuleAnswer"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(FreeLibrary(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

TEST(Library, AModuleMissingALibraryOfItsOwnSaysWhichOnStandardError)
{
    const std::string file = (fs::path(platform::ExecutableFolder()) / "quillon_platform_testmod_needy.so").string();
    testing::internal::CaptureStderr();
    const HMODULE module = LoadLibraryW(u"quillon_platform_testmod_needy.dll");
    const DWORD error = GetLastError();
    const std::string reported = testing::internal::GetCapturedStderr();
    EXPECT_EQ(module, nullptr);
    EXPECT_EQ(error, ERROR_MOD_NOT_FOUND) << "the caller still sees the Windows code alone";
    EXPECT_EQ(reported,
              "LoadLibraryW(\"quillon_platform_testmod_needy.dll\") cannot load " + file
                  + ": libquillon_platform_testdep.so: cannot open shared object file: No such file or "
                    "directory\n");

    // A library that is simply not there is the caller's ordinary failure and says nothing.
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadLibraryW(u"quillon-no-such-module.dll"), nullptr);
    EXPECT_EQ(LoadLibraryW(u"/quillon-no-such-folder/module.dll"), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Library, EachLoadNeedsItsOwnFree)
{
    const HMODULE first = LoadLibraryW(kModule);
    const HMODULE second = LoadLibraryW(kModule);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first, second);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(CallAnswer(second), 42);
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_FALSE(FreeLibrary(second));
}

// A platform library whose drawing library is gone (a damaged installation): every GDI and GDI+
// call fails as the call fails, with the last error a caller can act on, ERROR_MOD_NOT_FOUND.
TEST(Library, WithoutTheDrawingLibraryEveryDrawingCallFailsWithModuleNotFound)
{
    platform_test::PrivateRoot root;
    const fs::path built = platform::ExecutableFolder();
    for (const char* file : {"quillon_platform_drawing_probe", "libquillon_platform.so"})
        fs::copy_file(built / file, root.Path() / file);
    const std::string command = "'" + (root.Path() / "quillon_platform_drawing_probe").string() + "' 2>/dev/null";
    std::string answers;
    if (FILE* probe = popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, probe))
            answers += line;
        pclose(probe);
    }
    const std::string notFound = std::to_string(ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(answers,
              "CreateSolidBrush null " + notFound + "\nCreateCompatibleDC null " + notFound + "\nGdiplusStartup "
                  + std::to_string(Gdiplus::Win32Error) + " " + notFound + "\n");
}

} // namespace
