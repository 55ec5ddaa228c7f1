// Front end: screens, parameter checks, dispatch to the two commands.
#include "UnTWX.h"

#include <new>

#include "ArchiveReader.h"
#include "Commands.h"
#include "Console.h"
#include "ConsoleLayout.h"
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

// Reads the archive at path with command(reader), with the kept reader if
// there is one; false after a stop, which has been reported. The archive is
// closed before this returns, and a reader of its own with it.
template <typename Command>
bool ReadArchiveAt(const std::string& path, Command&& command, int& exitCode, TArchiveReader* kept)
{
    try {
        if (kept != nullptr) {
            kept->OpenArchive(platform::OpenForReading(path), command);
        } else {
            TArchiveReader reader(platform::OpenForReading(path));
            reader.OpenArchive(command);
        }
    } catch (const TArchiveStop& stop) {
        exitCode = ReportStop(stop);
        return false;
    }
    return true;
}

int MissingParameters(const std::string& title)
{
    PrintHeading(title);
    PrintLine("nicht genug Parameter");
    ClosingPause();
    return ExitCode::CommandLineError;
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

int RunUnTWX(const std::vector<std::string>& arguments, TArchiveReader* kept)
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
        int exitCode = ExitCode::Success;
        if (!ReadArchiveAt(arguments[1], ListArchive, exitCode, kept))
            return exitCode;
        ClosingPause();
        return ExitCode::Success;
    }

    if (command == "-e") {
        if (arguments.size() < 3)
            return MissingParameters(TitleLine());
        std::string folder = arguments[2];
        if (!EndsWithSeparator(folder))
            folder += platform::PathSeparator();
        Print("enpacke das Archiv ");
        PrintNative(arguments[1]);
        Print(" nach ");
        PrintNative(folder);
        PrintLine();
        PrintLine();
        TExtraction extraction(std::move(folder));
        int exitCode = ExitCode::Success;
        if (!ReadArchiveAt(
                arguments[1], [&extraction](TArchiveReader& reader) { extraction.ExtractArchive(reader); }, exitCode,
                kept))
            return exitCode;
        PrintLine();
        PrintLine("-done");
        ClosingPause();
        return extraction.FailedRecords == 0 ? ExitCode::Success : ExitCode::SomeFilesFailed;
    }

    PrintHeading(TitleLine());
    PrintLine("ungueltiger Befehlsparameter, benutzen Sie:");
    PrintLine();
    PrintUsage();
    ClosingPause();
    return ExitCode::CommandLineError;
}
