// The Win32 platform layer on real Windows (or Wine) handles. A regular file
// stands in for the volume: CreateFileW, SetFilePointerEx and ReadFile treat
// both alike, and the raw-drive path itself is exercised end to end by
// tarnwick_catalogue_dump.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace tarnwick::platform {
namespace {

constexpr std::size_t kFileSize = 8192 + 100;

unsigned char PatternByte(std::size_t offset) { return static_cast<unsigned char>((offset * 7 + 3) ^ (offset >> 8)); }

// A file of known bytes in the temporary folder, removed afterwards.
class PatternFile : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t folder[MAX_PATH + 1] = {};
        ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
        wchar_t name[MAX_PATH + 1] = {};
        ASSERT_NE(GetTempFileNameW(folder, L"twk", 0, name), 0u);
        path_ = name;
        std::vector<unsigned char> bytes(kFileSize);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = PatternByte(i);
        const HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        ASSERT_EQ(written, bytes.size());
        CloseHandle(file);
    }
    void TearDown() override {
        if (!path_.empty()) DeleteFileW(path_.c_str());
    }
    const char16_t* Path() const { return reinterpret_cast<const char16_t*>(path_.c_str()); }

    std::wstring path_;
};

TEST_F(PatternFile, ReadsFollowOnePositioningWithConsecutiveBytes) {
    const RawHandle volume = OpenVolume(Path());
    ASSERT_NE(volume, InvalidHandle());
    constexpr std::int64_t kStart = 1000;
    ASSERT_TRUE(SetPosition(volume, kStart, 2048));
    std::vector<unsigned char> first(1024), second(1024);
    ASSERT_TRUE(ReadExact(volume, first.data(), 1024));
    ASSERT_TRUE(ReadExact(volume, second.data(), 1024));
    for (std::size_t i = 0; i < 1024; ++i) {
        ASSERT_EQ(first[i], PatternByte(kStart + i)) << i;
        ASSERT_EQ(second[i], PatternByte(kStart + 1024 + i)) << i;
    }
    // Positioning is absolute, not relative to where the reads left off.
    ASSERT_TRUE(SetPosition(volume, 0));
    ASSERT_TRUE(ReadExact(volume, first.data(), 16));
    EXPECT_EQ(first[0], PatternByte(0));
    EXPECT_EQ(first[15], PatternByte(15));
    CloseVolume(volume);
}

TEST_F(PatternFile, ShortAndEmptyReadsAtTheEndAreFailures) {
    const RawHandle volume = OpenVolume(Path());
    ASSERT_NE(volume, InvalidHandle());
    std::vector<unsigned char> buffer(1024, 0xEE);
    ASSERT_TRUE(SetPosition(volume, kFileSize - 100));
    EXPECT_FALSE(ReadExact(volume, buffer.data(), 1024));  // 100 bytes were there
    EXPECT_EQ(buffer[0], PatternByte(kFileSize - 100));
    EXPECT_FALSE(ReadExact(volume, buffer.data(), 1024));  // nothing left at all
    ASSERT_TRUE(SetPosition(volume, kFileSize - 100));
    EXPECT_TRUE(ReadExact(volume, buffer.data(), 100));  // exactly what is left
    EXPECT_FALSE(SetPosition(volume, -512));
    // Reads at an offset alike, wherever the position stands.
    ASSERT_TRUE(SetPosition(volume, 10));
    EXPECT_FALSE(ReadExactAt(volume, kFileSize - 100, buffer.data(), 1024));
    ASSERT_TRUE(ReadExactAt(volume, kFileSize - 100, buffer.data(), 100));
    EXPECT_EQ(buffer[99], PatternByte(kFileSize - 1));
    ASSERT_TRUE(ReadExactAt(volume, 3, buffer.data(), 2));
    EXPECT_EQ(buffer[1], PatternByte(4));
    EXPECT_FALSE(ReadExactAt(volume, -512, buffer.data(), 16));
    CloseVolume(volume);
}

TEST_F(PatternFile, OpensForReadingOnlyWhileOthersReadAndWrite) {
    // Another program has the volume open for writing: sharing must allow it.
    const HANDLE writer = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    const RawHandle volume = OpenVolume(Path());
    ASSERT_NE(volume, InvalidHandle());
    const RawHandle second = OpenVolume(Path());
    ASSERT_NE(second, InvalidHandle());

    // The library's handle cannot write, so nothing can ever reach the volume.
    const unsigned char junk[16] = {};
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(volume, junk, sizeof junk, &written, nullptr));
    EXPECT_EQ(written, 0u);

    // The writer still writes, and the library sees it through the cache.
    const unsigned char marker[4] = {'T', 'W', 'K', '!'};
    ASSERT_TRUE(WriteFile(writer, marker, sizeof marker, &written, nullptr));
    unsigned char seen[4] = {};
    ASSERT_TRUE(SetPosition(volume, 0));
    ASSERT_TRUE(ReadExact(volume, seen, sizeof seen));
    EXPECT_EQ(std::memcmp(seen, marker, sizeof marker), 0);

    CloseVolume(second);
    CloseVolume(volume);
    CloseHandle(writer);
}

TEST(PlatformWin32, FailedOpenGivesTheInvalidValueAndClosesQuietly) {
    const RawHandle volume = OpenVolume(u"C:\\no such folder\\no such volume");
    EXPECT_EQ(volume, InvalidHandle());
    EXPECT_EQ(volume, INVALID_HANDLE_VALUE);
    CloseVolume(volume);
    CloseVolume(nullptr);
    unsigned char byte = 0;
    EXPECT_FALSE(SetPosition(volume, 0));
    EXPECT_FALSE(ReadExact(volume, &byte, 1));
}

TEST(PlatformWin32, DriveTypeOfTheRawRootPath) {
    // The load asks with "\\.\X:\"; a letter no drive uses is not fixed.
    const DWORD used = GetLogicalDrives();
    char16_t unused = 0;
    for (char16_t letter = u'Z'; letter >= u'D'; --letter) {
        if ((used & (1u << (letter - u'A'))) == 0) {
            unused = letter;
            break;
        }
    }
    ASSERT_NE(unused, 0) << "every drive letter is in use";
    const char16_t path[] = {u'\\', u'\\', u'.', u'\\', unused, u':', u'\\', 0};
    EXPECT_NE(DriveTypeOf(path), kDriveFixed);
    if ((used & (1u << 2)) != 0 && GetDriveTypeW(L"C:\\") == DRIVE_FIXED) {
        EXPECT_EQ(DriveTypeOf(u"\\\\.\\C:\\"), kDriveFixed);
    }
}

TEST(PlatformWin32, CounterFrequencyTrimAndZeroedPages) {
    EXPECT_GT(PerformanceFrequency(), 0);
    const std::int64_t before = PerformanceCounter();
    TrimWorkingSet();  // must neither fail nor take memory away from under us
    EXPECT_GE(PerformanceCounter(), before);

    constexpr std::size_t kBytes = (3u << 20) + 5;
    auto* pages = static_cast<unsigned char*>(AllocateZeroedPages(kBytes));
    ASSERT_NE(pages, nullptr);
    std::size_t nonZero = 0;
    for (std::size_t i = 0; i < kBytes; ++i) nonZero += pages[i] != 0;
    EXPECT_EQ(nonZero, 0u);
    pages[0] = 1;
    pages[kBytes - 1] = 2;
    TrimWorkingSet();
    EXPECT_EQ(pages[0], 1);
    EXPECT_EQ(pages[kBytes - 1], 2);
    FreePages(pages, kBytes);
    FreePages(nullptr, 0);
}

std::vector<std::u16string> captured;
void Capture(const char16_t* text) { captured.emplace_back(text); }

TEST(PlatformWin32, DebugSinkTakesTheTextUntilRemoved) {
    captured.clear();
    SetDebugSink(Capture);
    DebugOutput(u"[Tarnwick.dll] - 1.00 ms\n");
    SetDebugSink(nullptr);
    DebugOutput(u"to the debug channel, not the sink");
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0], u"[Tarnwick.dll] - 1.00 ms\n");
}

TEST(EntryPointHook, EmptyStringOnTheFourNotificationsAndTrueAlways) {
    captured.clear();
    SetDebugSink(Capture);
    for (const DWORD reason : {DWORD{DLL_PROCESS_DETACH}, DWORD{DLL_PROCESS_ATTACH}, DWORD{DLL_THREAD_ATTACH},
                               DWORD{DLL_THREAD_DETACH}}) {
        EXPECT_EQ(DllMain(nullptr, reason, nullptr), TRUE) << reason;
    }
    const std::size_t afterKnown = captured.size();
    for (const DWORD reason : {DWORD{4}, DWORD{5}, DWORD{0xFFFFFFFF}}) {
        EXPECT_EQ(DllMain(nullptr, reason, nullptr), TRUE) << reason;
    }
    SetDebugSink(nullptr);
    ASSERT_EQ(afterKnown, 4u);
    EXPECT_EQ(captured.size(), 4u);
    for (const std::u16string& text : captured) EXPECT_EQ(text, u"");
}

}  // namespace
}  // namespace tarnwick::platform
