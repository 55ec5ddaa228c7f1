// The operating-system services the program uses. Only the files in this
// folder know which system they run on; everything else calls these.
//
// Text is std::string throughout, in one of two kinds:
// - archive text: stored names and the program's messages, Windows-1252;
// - native text: arguments, paths and NativeFileName results, as the system
//   names files. On Win32 that is UTF-8, turned into UTF-16 only inside the
//   Win32 layer, right at the wide call; it holds any UTF-16 name without
//   loss, and no byte of a multi-byte character is ever a '\\', '/', '"' or
//   blank. On POSIX it is the file system's bytes as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace platform {

using FileHandle = std::intptr_t;
inline constexpr FileHandle InvalidFile = -1;

// Once at program start: console set-up and the user's regional formats.
// Standard input, output and error that are closed are opened on the null
// device, so no file the program opens takes their place; a reader that
// goes away (a broken pipe) does not end the process.
void StartUp();

// The program's arguments after its own name, none of them empty; native text.
std::vector<std::string> Arguments(int argc, char** argv);

// Console. WriteText takes archive text, WriteNative native text. Both
// write at once, unbuffered; failures are ignored (OutputFailed tells of
// them). A Win32 console gets characters (so any console code page shows
// them); redirected output gets archive text as stored and native text in
// the ANSI code page. POSIX turns archive text into UTF-8 in a UTF-8 locale,
// wherever it goes. Stream::Error is standard error: the reasons of
// failures, and the messages of commands whose standard output is data.
enum class Stream : std::uint8_t { Output, Error };
void WriteText(std::string_view text, Stream stream = Stream::Output);
void WriteNative(std::string_view text, Stream stream = Stream::Output);
// Bytes to standard output exactly as given: file contents, UTF-8 text.
void WriteData(std::string_view data);
// True once a write to standard output has failed for a reason other than
// its reader going away: a full disk, an I/O error.
bool OutputFailed();
// Reads and discards one line of standard input; end of input ends it too.
void ReadInputLine();
void Pause(std::uint32_t milliseconds);
// True when standard output (input) is a terminal, a console a person reads
// (types into), rather than a file, a pipe or the null device.
bool OutputIsConsole();
bool InputIsConsole();
// True when console text goes out unconverted to a terminal of unknown 8-bit
// character set, which may take the bytes 0x80 to 0x9F for control characters.
bool ConsoleIsEightBit();
[[noreturn]] void EndProcess(int exitCode);

// Files, named by native text of any length. Read and Write return the
// number of bytes moved, 0 at end of file, -1 on failure (a write to
// InvalidFile fails).
FileHandle OpenForReading(const std::string& path);  // others may read, not write
std::int32_t Read(FileHandle file, void* buffer, std::uint32_t count);
void Close(FileHandle file);
std::int32_t Write(FileHandle file, const void* data, std::uint32_t count);
// Last-write time from an MS-DOS date (upper 16 bits) and time (lower 16 bits)
// in local time, by the time-zone rule in force on that date (summer or
// winter time); an invalid value or a failure leaves the time as it is.
void SetLastWriteTime(FileHandle file, std::uint32_t dosDateTime);

// The target folder of an extraction, resolved once and held while it runs:
// the calls below name files relative to what its path named when it was
// held, so renaming or replacing that path later changes nothing (POSIX: a
// directory descriptor; Win32: a handle that shares no deletion, so the
// folder cannot be renamed or removed meanwhile).
using FolderHandle = std::intptr_t;
inline constexpr FolderHandle InvalidFolder = -1;
// Creates folder (ending with a separator) and its missing parents, then
// holds it; InvalidFolder when it is no folder afterwards.
FolderHandle HoldFolder(const std::string& folder);
// The folder name (one component, native text) inside a held folder, made
// when missing and held in turn; never through a link: InvalidFolder when
// name is a link, a file or cannot be made.
FolderHandle HoldSubfolder(FolderHandle parent, const std::string& name);
void ReleaseFolder(FolderHandle folder);
// The system's message for the last call that failed (native text).
std::string LastErrorText();

// The pending file: an extracted file being written under a temporary name.
// It is process-wide, one at a time, and an interrupt or termination of the
// process removes it.
//
// A temporary file name unlikely to exist, another one at every call.
std::string TemporaryName();
// Creates name in folder, exclusively and never through a link, and makes it
// the pending file. InvalidFile when that failed; nameTaken then tells
// whether something of that name exists.
FileHandle CreatePendingFile(FolderHandle folder, const std::string& name, bool& nameTaken);
// Gives the open file the Win32 attribute bits, as far as the system has
// them (POSIX: read-only clears every write bit); a failure is ignored.
void SetAttributes(FileHandle file, std::uint32_t attributes);
// Closes a written file; false when the system reports that writing failed
// (a full disk or a quota may show only here).
bool CloseWritten(FileHandle file);
// What name in folder is, a link taken as itself.
enum class NameKind { Missing, File, ReadOnlyFile, Folder, Other };
NameKind KindOfName(FolderHandle folder, const std::string& name);
// True when name in folder is the very file open as file (not merely a link
// to it): a file written there would replace it.
bool IsSameFile(FileHandle file, FolderHandle folder, const std::string& name);
// Renames the closed pending file to name in its folder, replacing a file or
// link of that name; nothing is pending afterwards when it succeeded.
bool RenamePendingFile(FolderHandle folder, const std::string& name);
// Removes the closed pending file; nothing is pending afterwards.
void RemovePendingFile(FolderHandle folder);

// A thread that never runs the interrupt clean-up: it starts with every
// signal the clean-up handles blocked (POSIX: blocked in the creating thread
// around the creation, then restored), so those signals reach the command's
// thread.
std::thread StartThread(std::function<void()> body);

// Processors this process may run on (its affinity), at least 1.
unsigned UsableProcessors();

// The value of an environment variable, empty when it is not set.
std::string EnvironmentValue(const char* name);

// Memory: a hint that area is read at random positions over and over, so
// the system may back it with large pages. Nothing happens where it can't.
void AdviseRandomAccess(void* area, std::size_t bytes);

// Path handling.
char PathSeparator();
// A stored file name (archive text) as native text, the name the file is
// created under; Win32 drops trailing dots and blanks, as its ordinary calls do.
std::string NativeFileName(std::string_view storedName);
// Native text (a typed name) as a stored name is written: Windows-1252.
std::string StoredNameOf(std::string_view native);
// True where the system gives the stored name a meaning of its own (Win32:
// devices, and names of dots and blanks alone, which mean the folder itself).
bool IsReservedFileName(std::string_view name);

// Date and time in the user's regional short date and long time formats,
// as text in the archive code page. Arguments are a valid date and time.
std::string FormatDate(int year, int month, int day);
std::string FormatTime(int hour, int minute, int second);

}  // namespace platform
