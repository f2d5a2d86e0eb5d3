// The code that opens files through the C library's narrow calls (image
// files, logs) takes UTF-8 paths on Windows too: the program's manifest
// makes UTF-8 the process's code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "firmware/FirmwareImage.h"
#include "platform/TextCodec.h"

using namespace korvane;
namespace fs = std::filesystem;

TEST(RussianPath, ImageFileOpensThroughTheNarrowCalls) {
    EXPECT_EQ(::GetACP(), static_cast<UINT>(CP_UTF8));
    fs::path folder = fs::temp_directory_path() / fs::path(u8"korvane_образы_");
    folder += std::to_wstring(::GetCurrentProcessId());
    fs::create_directories(folder);
    const auto u8 = (folder / fs::path(u8"прошивка №2.bin")).u8string();
    const std::string path(u8.begin(), u8.end());

    std::string bytes(kImageSize, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + (i >> 8));
    bytes[0] = '\r';
    bytes[1] = '\n';
    bytes[2] = '\x1A';  // the end of a text file, for the C library's text mode
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(path, bytes, error)) << error;

    firmware::FirmwareImage image;
    const auto r = image.LoadFile(path);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.bytesRead, kImageSize);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.Bytes().begin(),
                           [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
    fs::remove_all(folder);
}
