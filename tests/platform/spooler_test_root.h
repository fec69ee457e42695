// A private machine root for spooler tests: QUILLON_ROOT points at a fresh temporary folder for the
// length of one test, with the sample printers of the repository installed when asked.
#pragma once

#include "platform/kernel/host.h"
#include "platform/spooler/printer_registry.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

class SpoolerRootTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(platform::PrinterFolder()); }

    void InstallSamples() { m_root.InstallSamplePrinters(QUILLON_SOURCE_DIR); }

    void Install(const std::string& fileName, const std::string& text)
    {
        std::ofstream(std::filesystem::path(platform::PrinterFolder()) / fileName, std::ios::binary) << text;
    }

    testing_support::TempRoot m_root;
};

// A small valid definition to build faulty variants from.
inline std::string MinimalPrinter(const std::string& name)
{
    return "[printer]\nname = " + name
        + "\nresolution = 300\ndefault-paper = 9\n\n"
          "[paper 9]\nname = A4\nsize = 210 x 297\nmargins = 5\n";
}
