#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "common/WindowsNames.h"

namespace {

TEST(IsWindowsDeviceName, RefusesDevicesInAnyCaseWithOrWithoutExtension) {
    for (const char* name : {"CON", "con", "Prn", "aux", "NUL", "nul.txt", "CON.tar.gz", "com1", "COM9.log", "lpt1",
                             "LPT9", "CON ", "NUL.", "aux .txt", "COM1 . .txt"})
        EXPECT_TRUE(IsWindowsDeviceName(name)) << name;
}

TEST(IsWindowsDeviceName, SuperscriptDigitsOfWindows1252NameDevicesToo) {
    EXPECT_TRUE(IsWindowsDeviceName("COM\xB9"));
    EXPECT_TRUE(IsWindowsDeviceName("lpt\xB2.txt"));
    EXPECT_TRUE(IsWindowsDeviceName("LPT\xB3"));
    EXPECT_FALSE(IsWindowsDeviceName("COM\xBC"));  // one quarter
}

TEST(IsWindowsDeviceName, AcceptsNamesThatOnlyResembleDevices) {
    for (const char* name : {"CONSOLE", "CO", "COM", "COM0", "COM10", "LPT", "xCON", " CON", "NULL.txt", "AUX1",
                             "CON_1.txt", "con-fig", ""})
        EXPECT_FALSE(IsWindowsDeviceName(name)) << name;
}

// A name and what is left of it.
using TrimCase = std::pair<const char*, const char*>;

class WithoutTrailingDotsAndBlanksOf : public ::testing::TestWithParam<TrimCase> {};

TEST_P(WithoutTrailingDotsAndBlanksOf, AName)
{
    EXPECT_EQ(WithoutTrailingDotsAndBlanks(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(DropsOnlyTheEnd, WithoutTrailingDotsAndBlanksOf,
    ::testing::Values(TrimCase{"punkt.", "punkt"}, TrimCase{"a . . ", "a"}, TrimCase{" .a.b c", " .a.b c"},
        TrimCase{".. ", ""}, TrimCase{"...", ""}, TrimCase{"x\t", "x\t"}));

TEST(ExtendedLengthPath, PrefixesDrivePaths) {
    EXPECT_EQ(ExtendedLengthPath(u"C:\\out\\a.txt"), u"\\\\?\\C:\\out\\a.txt");
    EXPECT_EQ(ExtendedLengthPath(u"z:\\"), u"\\\\?\\z:\\");
}

TEST(ExtendedLengthPath, NetworkPathsTakeTheUncForm) {
    EXPECT_EQ(ExtendedLengthPath(u"\\\\server\\share\\out\\a.txt"), u"\\\\?\\UNC\\server\\share\\out\\a.txt");
}

TEST(ExtendedLengthPath, LeavesPrefixedDeviceAndOtherPathsAlone) {
    for (const std::u16string path : {u"\\\\?\\C:\\a", u"\\\\?\\UNC\\s\\h", u"\\\\.\\pipe\\x", u"relative\\a", u"C:a",
                                      u"", u"\\\\"})
        EXPECT_EQ(ExtendedLengthPath(path), path);
}

}  // namespace
