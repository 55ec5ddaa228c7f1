#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "PendingFile.h"
#include "common/DosDateTime.h"
#include "platform/Platform.h"

namespace {

// The platform reads the user's locale once; the tests pin it to the plain
// UTF-8 locale before anything runs.
const bool kLocalePinned = [] {
    setenv("LC_ALL", "C.UTF-8", 1);
    return true;
}();

bool Utf8LocaleAvailable() {
    const locale_t locale = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) {
        return false;
    }
    const bool utf8 = std::string(nl_langinfo_l(CODESET, locale)) == "UTF-8";
    freelocale(locale);
    return utf8;
}

class PosixPlatform : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kLocalePinned);
        std::string pattern = ::testing::TempDir() + "untwx-posix-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string Path(const std::string& name) const { return (folder_ / name).string(); }
    std::string Folder() const { return folder_.string() + "/"; }

    // Names in the folder, sorted.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Writes content to a new temporary file and commits it as name.
    bool Commit(const std::string& name, const std::string& content, std::uint32_t attributes = 0x20,
                std::uint32_t dosDateTime = 0) const {
        PendingFile pending(Folder());
        EXPECT_TRUE(pending.Create(name, platform::InvalidFile));
        EXPECT_EQ(pending.Write(content.data(), static_cast<std::uint32_t>(content.size())),
                  static_cast<std::int32_t>(content.size()));
        return pending.Commit(dosDateTime, attributes);
    }

    static void WriteFile(const std::string& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static mode_t Mode(const std::string& path) {
        struct stat status {};
        EXPECT_EQ(lstat(path.c_str(), &status), 0);
        return status.st_mode & 07777;
    }
    static std::time_t ModificationTime(const std::string& path) {
        struct stat status {};
        EXPECT_EQ(stat(path.c_str(), &status), 0);
        return status.st_mtime;
    }

    std::filesystem::path folder_;
};

TEST_F(PosixPlatform, CommitReplacesAnEarlierFileWholeWithTheUsualMode) {
    WriteFile(Path("a.txt"), "old and longer content");
    ASSERT_EQ(chmod(Path("a.txt").c_str(), 0600), 0);
    EXPECT_TRUE(Commit("a.txt", "new"));
    EXPECT_EQ(ReadFile(Path("a.txt")), "new");
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(Mode(Path("a.txt")), 0666u & ~mask);
    EXPECT_EQ(Entries(), std::vector<std::string>{"a.txt"});
}

TEST_F(PosixPlatform, ReadOnlyAttributeClearsAllWriteBitsOthersLeaveModeAlone) {
    const mode_t mask = umask(0022);
    EXPECT_TRUE(Commit("ro.txt", "x", 0x21));
    EXPECT_TRUE(Commit("rw.txt", "x", 0x20 | 0x02 | 0x04));
    umask(mask);
    EXPECT_EQ(Mode(Path("ro.txt")), 0444u);
    EXPECT_EQ(Mode(Path("rw.txt")), 0644u);
}

// The child writes a temporary file and is then ended by the signal, sent
// to the process from a second thread started as the reader starts its own:
// the command's thread takes it, whichever thread the system picks.
void ExpectInterruptRemovesPendingFile(const std::string& folder, int signal) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PendingFile pending(folder);
        if (!pending.Create("a.txt", platform::InvalidFile) || pending.Write("part", 4) != 4) {
            _exit(3);
        }
        platform::StartThread([signal] { kill(getpid(), signal); }).join();
        pause();
        _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), signal);
}

TEST_F(PosixPlatform, InterruptRemovesThePendingFileAndEndsThroughTheSignal) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                             SIGXCPU, SIGRTMIN, SIGRTMAX}) {
        SCOPED_TRACE(signal);
        ExpectInterruptRemovesPendingFile(Folder(), signal);
        EXPECT_TRUE(Entries().empty());
    }
}

TEST_F(PosixPlatform, IsSameFileForTheFileAndItsHardLinksOnly) {
    WriteFile(Path("a.twx"), "archive");
    WriteFile(Path("b.twx"), "archive");
    ASSERT_EQ(link(Path("a.twx").c_str(), Path("hard").c_str()), 0);
    ASSERT_EQ(symlink(Path("a.twx").c_str(), Path("symbolic").c_str()), 0);
    const platform::FileHandle archive = platform::OpenForReading(Path("a.twx"));
    const platform::FolderHandle folder = platform::HoldFolder(Folder());
    EXPECT_TRUE(platform::IsSameFile(archive, folder, "a.twx"));
    EXPECT_TRUE(platform::IsSameFile(archive, folder, "./a.twx"));
    EXPECT_TRUE(platform::IsSameFile(archive, folder, "hard"));
    EXPECT_FALSE(platform::IsSameFile(archive, folder, "symbolic")) << "replacing the link leaves the archive";
    EXPECT_FALSE(platform::IsSameFile(archive, folder, "b.twx"));
    EXPECT_FALSE(platform::IsSameFile(archive, folder, "missing"));
    EXPECT_FALSE(platform::IsSameFile(platform::InvalidFile, folder, "a.twx"));
    platform::ReleaseFolder(folder);
    platform::Close(archive);
}

TEST_F(PosixPlatform, WrittenBytesReadBackThroughOpenForReading) {
    ASSERT_TRUE(Commit("data", "0123456789"));
    const platform::FileHandle in = platform::OpenForReading(Path("data"));
    ASSERT_NE(in, platform::InvalidFile);
    char buffer[16] = {};
    EXPECT_EQ(platform::Read(in, buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(platform::Read(in, buffer, 16), 6);
    EXPECT_EQ(std::string(buffer, 6), "456789");
    EXPECT_EQ(platform::Read(in, buffer, 16), 0);
    platform::Close(in);
}

TEST_F(PosixPlatform, InvalidHandleFailsReadsAndWrites) {
    EXPECT_EQ(platform::OpenForReading(Path("missing.twx")), platform::InvalidFile);
    char buffer[4];
    EXPECT_EQ(platform::Read(platform::InvalidFile, buffer, 4), -1);
    EXPECT_EQ(platform::Write(platform::InvalidFile, "abcd", 4), -1);
    EXPECT_EQ(platform::Write(platform::InvalidFile, "", 0), -1);
    platform::SetLastWriteTime(platform::InvalidFile, EncodeDosDateTime({2001, 2, 3, 4, 5, 6}));
    platform::Close(platform::InvalidFile);
}

class PosixPlatformInUtc : public PosixPlatform {
protected:
    void SetUp() override {
        PosixPlatform::SetUp();
        const char* zone = getenv("TZ");
        savedZone_ = zone != nullptr ? std::optional<std::string>(zone) : std::nullopt;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (savedZone_) {
            setenv("TZ", savedZone_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
        PosixPlatform::TearDown();
    }
    std::optional<std::string> savedZone_;
};

TEST_F(PosixPlatformInUtc, SetLastWriteTimeAppliesDosStampAsLocalTime) {
    ASSERT_TRUE(Commit("a.txt", "", 0x21, EncodeDosDateTime({2001, 2, 3, 4, 5, 6})));
    EXPECT_EQ(ModificationTime(Path("a.txt")), 981173106);
}

TEST_F(PosixPlatformInUtc, SetLastWriteTimeAcceptsLeapDayAndLastSecond) {
    ASSERT_TRUE(Commit("a.txt", "", 0x20, EncodeDosDateTime({2000, 2, 29, 23, 59, 58})));
    EXPECT_EQ(ModificationTime(Path("a.txt")), 951868798);
}

TEST_F(PosixPlatformInUtc, SetLastWriteTimeIgnoresInvalidStamps) {
    const platform::FolderHandle folder = platform::HoldFolder(Folder());
    bool taken = false;
    const platform::FileHandle file = platform::CreatePendingFile(folder, "pending", taken);
    ASSERT_NE(file, platform::InvalidFile);
    const timespec known[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(futimens(static_cast<int>(file), known), 0);
    const std::uint32_t invalid[] = {
        EncodeDosDateTime({2001, 0, 3, 4, 5, 6}), EncodeDosDateTime({2001, 13, 3, 4, 5, 6}),
        EncodeDosDateTime({2001, 2, 0, 4, 5, 6}),
        EncodeDosDateTime({2001, 2, 29, 4, 5, 6}), EncodeDosDateTime({2001, 6, 31, 4, 5, 6}),
        EncodeDosDateTime({2001, 2, 3, 24, 5, 6}),
        EncodeDosDateTime({2001, 2, 3, 4, 60, 6}), EncodeDosDateTime({2001, 2, 3, 4, 5, 60}),
    };
    for (const std::uint32_t stamp : invalid) {
        platform::SetLastWriteTime(file, stamp);
    }
    ASSERT_TRUE(platform::CloseWritten(file));
    ASSERT_TRUE(platform::RenamePendingFile(folder, "a.txt"));
    platform::ReleaseFolder(folder);
    EXPECT_EQ(ModificationTime(Path("a.txt")), 1000000000);
}

TEST(PosixArguments, DropProgramNameAndEmptyStrings) {
    char program[] = "untwx", command[] = "-i", empty[] = "", path[] = "a b.twx";
    char* argv[] = {program, command, empty, path, nullptr};
    EXPECT_EQ(platform::Arguments(4, argv), (std::vector<std::string>{"-i", "a b.twx"}));
}

// Replaces descriptor `target` by one end of a pipe while it lives.
class RedirectedDescriptor {
public:
    explicit RedirectedDescriptor(int target) : target_(target) {
        std::fflush(nullptr);
        EXPECT_EQ(pipe(ends_), 0);
        saved_ = dup(target_);
        dup2(target_ == 0 ? ends_[0] : ends_[1], target_);
    }
    ~RedirectedDescriptor() {
        dup2(saved_, target_);
        close(saved_);
        close(ends_[0]);
        if (ends_[1] >= 0) {
            close(ends_[1]);
        }
    }
    int readEnd() const { return ends_[0]; }
    int writeEnd() const { return ends_[1]; }
    void closeWriteEnd() {
        close(ends_[1]);
        ends_[1] = -1;
    }

private:
    int target_;
    int saved_ = -1;
    int ends_[2] = {-1, -1};
};

std::string Drain(int descriptor) {
    std::string text;
    char buffer[256];
    const int flags = fcntl(descriptor, F_GETFL);
    fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
    ssize_t got;
    while ((got = read(descriptor, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    fcntl(descriptor, F_SETFL, flags);
    return text;
}

TEST(PosixConsole, ReadInputLineLeavesFollowingLinesUnread) {
    RedirectedDescriptor input(0);
    const std::string lines = "first\nsecond\n";
    ASSERT_EQ(write(input.writeEnd(), lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    platform::ReadInputLine();
    EXPECT_EQ(Drain(input.readEnd()), "second\n");
}

TEST(PosixConsole, ReadInputLineReturnsAtEndOfInput) {
    RedirectedDescriptor input(0);
    ASSERT_EQ(write(input.writeEnd(), "no newline", 10), 10);
    input.closeWriteEnd();
    platform::ReadInputLine();  // would block for ever if the end went unnoticed
    EXPECT_EQ(Drain(input.readEnd()), "");
}

TEST(PosixConsole, WriteTextConvertsToUtf8InUtf8Locale) {
    if (!Utf8LocaleAvailable()) {
        GTEST_SKIP() << "C.UTF-8 locale not installed";
    }
    platform::StartUp();
    RedirectedDescriptor output(1);
    platform::WriteText("ung\xFCltig \xE4\r\n");
    platform::WriteNative("\xE4");
    EXPECT_EQ(Drain(output.readEnd()), "ung\xC3\xBCltig \xC3\xA4\r\n\xE4");
}

TEST(PosixNames, StoredNamesBecomeUtf8InUtf8Locale) {
    if (!Utf8LocaleAvailable()) {
        GTEST_SKIP() << "C.UTF-8 locale not installed";
    }
    platform::StartUp();
    EXPECT_EQ(platform::NativeFileName("B\xE4r\x80.txt"), "B\xC3\xA4r\xE2\x82\xAC.txt");
    EXPECT_EQ(platform::PathSeparator(), '/');
    EXPECT_FALSE(platform::IsReservedFileName("CON"));
}

TEST(PosixDates, FormatsWithTheLocaleFormatsAndFourDigitYears) {
    if (!Utf8LocaleAvailable()) {
        GTEST_SKIP() << "C.UTF-8 locale not installed";
    }
    platform::StartUp();
    // The locale's date format has a two-digit year.
    ASSERT_NE(std::string(nl_langinfo(D_FMT)).find("%y"), std::string::npos);
    EXPECT_EQ(platform::FormatDate(2024, 3, 5), "03/05/2024");
    EXPECT_EQ(platform::FormatDate(1999, 12, 31), "12/31/1999");
    EXPECT_EQ(platform::FormatDate(2107, 12, 31), "12/31/2107");
    EXPECT_EQ(platform::FormatTime(13, 5, 9), "13:05:09");
    EXPECT_EQ(platform::FormatTime(0, 0, 1), "00:00:01");
}

TEST(PosixProcessors, UsableProcessorsFollowTheAffinity) {
    cpu_set_t original;
    ASSERT_EQ(sched_getaffinity(0, sizeof original, &original), 0);
    EXPECT_EQ(platform::UsableProcessors(), static_cast<unsigned>(CPU_COUNT(&original)));

    int first = 0;
    while (!CPU_ISSET(first, &original)) {
        ++first;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const unsigned restricted = platform::UsableProcessors();
    ASSERT_EQ(sched_setaffinity(0, sizeof original, &original), 0);
    EXPECT_EQ(restricted, 1u);
}

}  // namespace
