// Front end: screens, parameter checks, dispatch to the commands, the report
// of every stop and the exit code of every ending.
#include "UnTWX.h"

#include <new>
#include <optional>

#include "ArchiveReader.h"
#include "Commands.h"
#include "Console.h"
#include "ConsoleLayout.h"
#include "Selection.h"
#include "platform/Platform.h"

namespace {

constexpr char ProductName[] = "Tarnwell Compression  .twx-Archiventpacker";

// The product name, then the edition flush right in the title width.
std::string Title(std::string_view edition)
{
    return PadRight(ProductName, static_cast<std::uint8_t>(layout::TitleWidth - edition.size())).append(edition);
}

std::string TitleLine()
{
    return Title("decompressions Version");
}

std::string EditionTitleLine()
{
    return Title("spezielle Orvald-Kinne-Preis Version");
}

constexpr char AuthorLine[] = "geschrieben von den UNTWX-Entwicklern";

void PrintUsage()
{
    PrintLine(" \"UNTWX -i c:\\name.twx\"                     ...um alle Datein in c:\\name.twx");
    PrintLine("                                               mit detailliert anzuzeigen");
    PrintLine();
    PrintLine(" \"UNTWX -e c:\\name.twx  c:\\docs\\\"           ...um alle Datein in c:\\name.twx");
    PrintLine("                                               nach c:\\docs\\ zu entpacken");
    PrintLine();
}

// One entry of the usage: the call, then its description from column 45
// and the description's second line from column 48.
void PrintUsageEntry(std::string_view call, std::string_view first, std::string_view second)
{
    PrintLine(PadRight(call, 44) + std::string(first));
    if (!second.empty())
        PrintLine(std::string(47, ' ') + std::string(second));
    PrintLine();
}

// "-h": the usage block, then the command words beyond "-i" and "-e".
void PrintHelp()
{
    PrintUsage();
    PrintUsageEntry(" \"UNTWX -x c:\\name.twx  c:\\docs\\ [Name...]\"", "...um alle (oder die genannten) Datein",
                    "mit ihren Ordnern nach c:\\docs\\ zu entpacken");
    PrintUsageEntry(" \"UNTWX -p c:\\name.twx [Name...]\"", "...um den Inhalt der Datein auf die",
                    "Standardausgabe zu schreiben");
    PrintUsageEntry(" \"UNTWX -t c:\\name.twx [d:\\andere.twx...]\"", "...um Archive vollstaendig zu pruefen", "");
    PrintUsageEntry(" \"UNTWX -l c:\\name.twx\"", "...um die Datein fuer Skripte aufzulisten",
                    "(Tabulatoren, UTF-8, ISO-Datum)");
    PrintUsageEntry(" \"UNTWX -h\"  oder  \"UNTWX -v\"", "...diese Hilfe oder die Versionsnummer", "");
}

void PrintHeading(const std::string& title)
{
    PrintLine(title);
    PrintLine(AuthorLine);
    PrintLine();
}

void ShowWelcome()
{
    PrintHeading(TitleLine());
    PrintLine("ein spezielles Dankeschoen an:");
    PrintLine(std::string(30, '^'));
    PrintLine("  - allen, die ihre alten .twx-Archive aufbewahrt haben");
    PrintLine("  - den geduldigen Testern der ersten Versionen");
    PrintLine("  - allen, die Fehler gemeldet statt verschwiegen haben");
    PrintLine("  - den Uebersetzern der Meldungen");
    PrintLine("  - den Freunden sortierter Bloecke und kurzer Codes");
    PrintLine("  - der Kaffeemaschine im zweiten Stock");
    PrintLine();
    PrintLine("und nicht zuletzt...");
    PrintLine("  - allen Anwendern, die so lange gewartet haben");
    PrintLine("  - und allen, die wir hier vergessen haben");
    for (int i = 0; i < 4; ++i)
        PrintLine();
    PrintLine("Fuer die Funktion dieses Programmes uebernehme ich/wir keine Garantie.");
    PrintLine("Es bestehen keine Ansprueche durch Verwendung entstehender Schaeden.");
    PrintLine("Benutzung auf eigene Gefahr !");
    PrintLine();
    PrintLine();
    WaitForEnter();
    PrintLine();
    PrintLine("Benutzen Sie:");
    PrintLine(std::string(13, '^'));
    PrintUsage();
}

bool EndsWithSeparator(const std::string& folder)
{
    const char last = folder.back();
    return last == platform::PathSeparator() || last == '/';
}

int MissingParameters(const std::string& title)
{
    PrintHeading(title);
    PrintLine("nicht genug Parameter");
    ClosingPause();
    return ExitCode::CommandLineError;
}

// A stop of the archive reader: its lines and, but after a wrong signature,
// the closing pause.
int ReportStop(const TArchiveStop& stop)
{
    const TStopText& text = stop.Text();
    if (text.Before != nullptr)
        PrintLine(text.Before);
    PrintLine(stop.Line());
    if (text.Pauses)
        ClosingPause();
    return ExitCode::Stopped;
}

// Reads the archive at path with command(reader): the stop that ended it, if
// one did. With a kept reader (in-process runs over many archives) the
// archive is read with it, else with a reader of its own. An archive that
// cannot be opened is reported on standard error and reads as the read
// error. The archive is closed before this returns.
template <typename Command>
std::optional<TArchiveStop> ReadArchiveAt(const std::string& path, Command&& command, TArchiveReader* kept)
{
    const platform::FileHandle archive = platform::OpenForReading(path);
    if (archive == platform::InvalidFile)
        ReportFailure(path, platform::LastErrorText());
    try {
        if (kept != nullptr) {
            kept->OpenArchive(archive, command);
        } else {
            TArchiveReader reader(archive);
            reader.OpenArchive(command);
        }
    } catch (const TArchiveStop& stop) {
        if (!stop.Reason.empty())
            ReportFailure(path, stop.Reason);
        return stop;
    }
    return std::nullopt;
}

// The NAME arguments from first on, as stored names are written.
TSelection SelectionOf(const std::vector<std::string>& arguments, std::size_t first)
{
    std::vector<std::string> names;
    for (std::size_t i = first; i < arguments.size(); ++i)
        names.push_back(platform::StoredNameOf(arguments[i]));
    return TSelection(std::move(names));
}

// A NAME that chose nothing is reported and makes the exit code 1.
int CheckSelection(const TSelection& selection, const std::vector<std::string>& arguments, std::size_t first, int exitCode)
{
    const std::vector<std::string> unmatched = selection.Unmatched();
    for (std::size_t i = first; i < arguments.size(); ++i) {
        for (const std::string& name : unmatched) {
            if (platform::StoredNameOf(arguments[i]) == name) {
                ReportFailure(arguments[i], "keine passende Datei im Archiv");
                break;
            }
        }
    }
    return unmatched.empty() || exitCode != ExitCode::Success ? exitCode : ExitCode::SomeFilesFailed;
}

// "-t": one line per archive, its name and ": OK" or its stop line.
int CheckArchives(const std::vector<std::string>& arguments, TArchiveReader* kept)
{
    bool sound = true;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::optional<TArchiveStop> stop = ReadArchiveAt(arguments[i], CheckArchive, kept);
        PrintNative(ShownNative(arguments[i]));
        PrintLine(stop ? ": " + stop->Line() : std::string(": OK"));
        sound = sound && !stop;
    }
    ClosingPause();
    return sound ? ExitCode::Success : ExitCode::Stopped;
}

// A stop of a command whose standard output is data: its line on standard
// error, exit code 2.
int ReportStopOnError(const TArchiveStop& stop)
{
    platform::WriteText(stop.Line() + "\r\n", platform::Stream::Error);
    ClosingPause();
    return ExitCode::Stopped;
}

// "-l" and "-p": standard output carries the data alone.
template <typename Command>
int WriteDataOf(const std::string& path, Command&& command, TArchiveReader* kept)
{
    if (const std::optional<TArchiveStop> stop = ReadArchiveAt(path, command, kept))
        return ReportStopOnError(*stop);
    ClosingPause();
    return ExitCode::Success;
}

// "-e" and "-x": the start line, the extraction, "-done".
int Extract(const std::vector<std::string>& arguments, bool withFolders, TSelection* selection, TArchiveReader* kept)
{
    std::string folder = arguments[2];
    if (!EndsWithSeparator(folder))
        folder += platform::PathSeparator();
    Print("enpacke das Archiv ");
    PrintNative(ShownNative(arguments[1]));
    Print(" nach ");
    PrintNative(ShownNative(folder));
    PrintLine();
    PrintLine();
    TExtraction extraction(std::move(folder), withFolders, selection);
    if (const std::optional<TArchiveStop> stop =
            ReadArchiveAt(
                arguments[1], [&extraction](TArchiveReader& reader) { extraction.ExtractArchive(reader); }, kept))
        return ReportStop(*stop);
    PrintLine();
    PrintLine("-done");
    ClosingPause();
    return extraction.FailedRecords == 0 ? ExitCode::Success : ExitCode::SomeFilesFailed;
}

// The command words beyond "-i" and "-e"; nullopt for one that is none.
std::optional<int> RunOtherCommand(const std::vector<std::string>& arguments, TArchiveReader* kept)
{
    const std::string& command = arguments[0];
    if (command == "-h" || command == "--help" || command == "-?" || command == "/?") {
        PrintHelp();
        ClosingPause();
        return ExitCode::Success;
    }
    if (command == "-v" || command == "--version") {
        PrintLine("UNTWX " UNTWX_VERSION);
        ClosingPause();
        return ExitCode::Success;
    }
    const std::size_t needed = command == "-x" ? 3 : 2;
    if (command != "-t" && command != "-l" && command != "-p" && command != "-x")
        return std::nullopt;
    if (arguments.size() < needed)
        return MissingParameters(TitleLine());
    if (command == "-t")
        return CheckArchives(arguments, kept);
    if (command == "-l")
        return WriteDataOf(arguments[1], ListForScripts, kept);
    TSelection selection = SelectionOf(arguments, needed);
    const int exitCode = command == "-p" ? WriteDataOf(
                                               arguments[1],
                                               [&selection](TArchiveReader& reader) { WriteContents(reader, selection); },
                                               kept)
                                         : Extract(arguments, true, &selection, kept);
    return CheckSelection(selection, arguments, needed, exitCode);
}


}  // namespace

int OutOfMemoryStop()
{
    // The stages have given their memory back on the way here, so the line
    // can be written.
    try {
        PrintLine("Nicht genug Arbeitsspeicher - Programm wird beendet...");
    } catch (const std::bad_alloc&) {
        // Not even the line fits; the exit code still tells.
    }
    ClosingPause();
    return ExitCode::OutOfMemory;
}

namespace {

int Dispatch(const std::vector<std::string>& arguments, TArchiveReader* kept)
{
    if (arguments.empty()) {
        ShowWelcome();
        ClosingPause();
        return ExitCode::Success;
    }

    const std::string& command = arguments[0];
    if (command == "-i") {
        if (arguments.size() < 2)
            return MissingParameters(EditionTitleLine());
        if (const std::optional<TArchiveStop> stop = ReadArchiveAt(arguments[1], ListArchive, kept))
            return ReportStop(*stop);
        ClosingPause();
        return ExitCode::Success;
    }

    if (command == "-e") {
        if (arguments.size() < 3)
            return MissingParameters(TitleLine());
        return Extract(arguments, false, nullptr, kept);
    }

    if (const std::optional<int> exitCode = RunOtherCommand(arguments, kept))
        return *exitCode;

    PrintHeading(TitleLine());
    PrintLine("ungueltiger Befehlsparameter, benutzen Sie:");
    PrintLine();
    PrintUsage();
    ClosingPause();
    return ExitCode::CommandLineError;
}

}  // namespace

int RunUnTWX(const std::vector<std::string>& arguments, TArchiveReader* kept)
{
    int exitCode = Dispatch(arguments, kept);
    // Output lost to a full disk or an I/O error (not a reader gone away).
    if (platform::OutputFailed()) {
        platform::WriteText("Standardausgabe konnte nicht geschrieben werden\r\n", platform::Stream::Error);
        if (exitCode == ExitCode::Success)
            exitCode = ExitCode::SomeFilesFailed;
    }
    return exitCode;
}
