// A private machine root for spooler tests: QUILLON_ROOT points at a fresh temporary folder for the
// length of one test, with the sample printers of the repository installed when asked.
#pragma once

#include "platform/kernel/host.h"
#include "platform/spooler/printer_registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class SpoolerRootTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillon-spooler-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        ASSERT_EQ(setenv("QUILLON_ROOT", m_root.c_str(), 1), 0);
        std::filesystem::create_directories(platform::PrinterFolder());
    }

    void TearDown() override
    {
        unsetenv("QUILLON_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }

    void InstallSamples()
    {
        for (const char* file : {"quillon-office.printer", "quillon-photo.printer"})
            std::filesystem::copy_file(std::filesystem::path(QUILLON_PRINTERS_DIR) / file,
                                       std::filesystem::path(platform::PrinterFolder()) / file);
    }

    void Install(const std::string& fileName, const std::string& text)
    {
        std::ofstream(std::filesystem::path(platform::PrinterFolder()) / fileName, std::ios::binary) << text;
    }

    std::string m_root;
};

// A small valid definition to build faulty variants from.
inline std::string MinimalPrinter(const std::string& name)
{
    return "[printer]\nname = " + name + "\nresolution = 300\ndefault-paper = 9\n\n"
           "[paper 9]\nname = A4\nsize = 210 x 297\nmargins = 5\n";
}
