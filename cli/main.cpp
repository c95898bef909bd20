// clipwright-cli: repairs QC-7 camera recordings from the command line.
#include "CheckOutput.h"
#include "CliHost.h"
#include "ClipwrightVersion.h"
#include "ScanOutput.h"
#include "platform/FileOperations.h"
#include "platform/Interruption.h"
#include "repair/OutputNaming.h"
#include "repair/RecordingCheck.h"
#include "repair/RecordingScan.h"
#include "repair/RepairEngine.h"
#include "text/Messages.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace clipwright;

constexpr int kExitAllRepaired = 0;
constexpr int kExitSomeNotRepaired = 1;
constexpr int kExitUsage = 2;

std::string BaseName(const std::string& path) {
    size_t separator = path.rfind('/');
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// "new file", or the words for a repair that took the recording's own name.
std::string Where(const std::string& path, const FixOutcome& outcome, const char* replaced) {
    return outcome.outputPath == path ? replaced : "(new file)";
}

void PrintSummary(const std::string& path, const FixOutcome& outcome, const cli::CliHost& host) {
    if (!outcome.layoutProbed) {
        std::cout << path << ": not repaired\n";
        return;
    }
    const std::string skipped = messages::SkippedSummary(outcome.walk);
    if (const auto& found = outcome.otherRecorder) {
        std::cout << path << ": "
                  << messages::OtherRecorderFindings(found->streams, found->videoFrames, found->audioSeconds);
        const std::string keys =
            found->unknownKeyFrames ? "; " + messages::KeyFramesUnknown(*found->unknownKeyFrames) : "";
        const std::string damage = (skipped.empty() ? "" : " (" + skipped + ")") + keys;
        if (outcome.status == FixStatus::Repaired && found->neededNoRepair)
            std::cout << ", no repair needed\n";
        else if (outcome.status == FixStatus::Repaired && found->copiedBecause != CopyReason::None)
            std::cout << ", written anew as OpenDML " << Where(path, outcome, "(replaced)") << " -> "
                      << outcome.outputPath << damage << "\n";
        else if (outcome.status == FixStatus::Repaired)
            std::cout << ", index rebuilt " << Where(path, outcome, "in place") << " -> "
                      << outcome.outputPath << damage << "\n";
        else if (outcome.status == FixStatus::Partial)
            std::cout << ", stopped early -> " << outcome.outputPath << damage << "\n";
        else
            std::cout << ", not repaired\n";
        return;
    }
    std::cout << path << ": " << LayoutName(outcome.layout) << " layout";
    const bool inPlace = outcome.indexedInPlace;
    const char* verb = inPlace ? "indexed" : "copied";
    const std::string streams = !outcome.reference.empty()
                                    ? "streams as in the reference " + BaseName(outcome.reference) + "; "
                                : outcome.streams ? messages::StreamsFound(*outcome.streams) + "; "
                                                  : "";
    const std::string counts = " (" + streams + std::to_string(outcome.videoChunks) + " video and " +
                               std::to_string(outcome.audioChunks) + " audio chunks " + verb +
                               (skipped.empty() ? "" : "; " + skipped) + ")\n";
    switch (outcome.status) {
    case FixStatus::Repaired:
        std::cout << ", " << (inPlace ? "repaired " : "rebuilt ")
                  << Where(path, outcome, inPlace ? "in place" : "(replaced)") << " -> " << outcome.outputPath
                  << counts;
        return;
    case FixStatus::Partial:
        std::cout << ", stopped early -> " << outcome.outputPath << counts;
        return;
    case FixStatus::Cancelled:
        std::cout << ", not repaired: the image settings were not given\n";
        if (host.SettingsWereMissing() && outcome.streams)
            std::cerr << cli::kProgramName << ": " << path
                      << ": the header of this recording was lost, and neither its video nor its sound says "
                         "its frame rate ("
                      << messages::StreamsFound(*outcome.streams)
                      << "). Run again with --fps N; the repair is then written as a new file.\n";
        else if (host.SettingsWereMissing())
            std::cerr << cli::kProgramName << ": " << path
                      << ": the header of this recording no longer holds its frame size or frame rate, and "
                         "its video does not say them either. Run again with --resolution vga|qvga|qqvga "
                         "and --fps N (the camera's settings); the repair is then written as a new file.\n";
        return;
    case FixStatus::Failed:
    case FixStatus::NotRun:
        break;
    }
    std::cout << ", not repaired\n";
}

// --scan: the recordings found in one larger file, each written into the output folder.
int RunScan(const std::string& path, const std::string& outputFolder,
            const std::optional<ImageSettings>& answer, bool quiet) {
    interruption::InstallHandlers();
    cli::CliHost host(std::cerr, answer);
    host.ShowProgressLine(!quiet && ::isatty(STDERR_FILENO) == 1);
    host.StartJob(path);
    const ScanOutcome outcome =
        RunScanJob({.path = path, .outputFolder = outputFolder, .settings = answer}, &host);
    host.EndProgress();
    if (outcome.read && outcome.items.empty())
        host.Print(messages::NoRecordingFound(path), "");
    size_t written = 0;
    for (const ScanItemOutcome& item : outcome.items) {
        if (!quiet)
            std::cout << cli::ScanSummary(path, item);
        written += item.status == ScanItemStatus::Written ? 1 : 0;
    }
    if (!quiet && outcome.items.size() > 1)
        std::cout << outcome.items.size() << " recordings found, " << written << " written whole\n";
    return outcome.AllWritten() ? kExitAllRepaired : kExitSomeNotRepaired;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Repairs AVI recordings of QC-7 network cameras that were cut off before the camera could\n"
                 "finalise them. By default each repair is written beside the recording as fix_NAME (with\n"
                 "fix_NAME.sub when a NAME.sub companion file exists), and the recording is left untouched.",
                 "clipwright-cli"};
    app.footer(
        "Examples:\n"
        "  clipwright-cli cam01.avi\n"
        "      writes the repair beside the recording as fix_cam01.avi\n"
        "  clipwright-cli --replace cam01.avi cam02.avi\n"
        "      repairs both recordings in their place\n"
        "  clipwright-cli --resolution vga --fps 15 cam03.avi\n"
        "      repairs a recording whose header lost its frame size and frame rate with\n"
        "      these values (without them, the values its own video gives)\n"
        "  clipwright-cli --check --json cam04.avi\n"
        "      says what a repair of it would do, as one JSON line, and writes nothing\n"
        "  clipwright-cli --scan FILE0000.CHK -o found\n"
        "      writes each recording inside FILE0000.CHK, repaired, into the folder found\n"
        "\n"
        "Exit status:\n"
        "  0  every file was repaired\n"
        "  1  any file was not repaired\n"
        "  2  usage error\n"
        "With --check: 0 when every file is healthy or a repair would complete, 1 otherwise.\n"
        "With --scan: 0 when every recording found was written whole, 1 otherwise or when none was found.");
    app.set_version_flag("-V,--version", std::string("clipwright-cli ") + kProgramVersion,
                         "Print the program's version and exit");
    bool quiet = false;
    bool noClobber = false;
    app.add_flag("-q,--quiet", quiet, "Print no progress and no summary lines, only what went wrong");
    std::string outputFolder;
    auto* outputOption =
        app.add_option("-o,--output-dir", outputFolder,
                       "Write each fix_NAME into this folder rather than beside its recording (without "
                       "--replace); the recording is only read, so it may lie on a write-protected card. "
                       "With --scan: "
                       "where each recording found is written")
            ->check(CLI::ExistingDirectory);
    app.add_flag("-n,--no-clobber", noClobber,
                 "Leave a recording whose fix_NAME already exists unrepaired, rather than replace that "
                 "file (without --replace)");
    bool replace = false;
    std::string resolutionName;
    uint32_t framesPerSecond = 0;
    std::vector<std::string> files;
    const std::map<std::string, ResolutionCode> resolutions = {
        {"vga", kResolutionVga}, {"qvga", kResolutionQvga}, {"qqvga", kResolutionQqvga}};

    app.add_flag(
        "--replace", replace,
        "Replace the original file instead of writing fix_NAME beside it (\"Replace original file\")");
    auto* resolutionOption =
        app.add_option(
               "--resolution", resolutionName,
               "Capture resolution, used only when a recording's header lost it, instead of what its "
               "video says: vga (640x480), qvga (320x240) or qqvga (160x112). Such a repair is always "
               "written as a new file.")
            ->check(CLI::IsMember({"vga", "qvga", "qqvga"}));
    auto* fpsOption = app.add_option("--fps", framesPerSecond,
                                     "Frame rate (whole frames per second, 1 to 120), used only when a "
                                     "recording's header lost it: for the camera's recordings instead of "
                                     "what its video says, for other recorders' only when neither their "
                                     "video nor their sound says it")
                          ->check(CLI::Range(1u, layout::kHighestFrameRate));
    resolutionOption->needs(fpsOption);
    std::string referencePath;
    auto* referenceOption =
        app.add_option("--reference", referencePath,
                       "A healthy recording of the same device: for a recording whose header was lost, its "
                       "stream headers are written with the lengths and index of the data found, when they "
                       "fit what the chunks hold (same codec, frame size and sound); written as a new file")
            ->check(CLI::ExistingFile);
    bool check = false;
    bool json = false;
    auto* checkOption = app.add_flag("--check", check,
                                     "Only look: print each file's layout, streams, chunks, where its data "
                                     "ends and what a repair would do in each mode; write nothing");
    app.add_flag("--json", json, "With --check: one JSON object a line for each file")->needs(checkOption);
    for (CLI::Option* repairOption : {app.get_option("--replace"), resolutionOption, fpsOption,
                                      app.get_option("--no-clobber"), referenceOption})
        checkOption->excludes(repairOption);
    app.get_option("--no-clobber")->excludes(app.get_option("--replace"));
    outputOption->excludes(app.get_option("--replace"));
    bool scan = false;
    auto* scanOption = app.add_flag("--scan", scan,
                                    "Search one FILE that may hold recordings among other bytes (a disk "
                                    "check's FILE0000.CHK, a card's image) and write each recording found "
                                    "into --output-dir as FILE-at-OFFSET.avi, repaired; FILE is only read");
    scanOption->excludes(app.get_option("--replace"));
    scanOption->excludes(app.get_option("--no-clobber"));
    app.add_option("FILE", files, "Recordings to repair")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? 0 : kExitUsage;
    }

    std::optional<ImageSettings> answer;
    if (!resolutionName.empty())
        answer = ImageSettings{resolutions.at(resolutionName), framesPerSecond};
    else if (framesPerSecond != 0) // the frame size then comes from the video
        answer = ImageSettings{kResolutionUnknown, framesPerSecond};

    if (scan) {
        if (files.size() != 1) {
            std::cerr << cli::kProgramName << ": --scan takes exactly one FILE\n";
            return kExitUsage;
        }
        if (!check && outputFolder.empty()) {
            std::cerr << cli::kProgramName
                      << ": --scan needs --output-dir DIR, the folder the recordings "
                         "found are written into\n";
            return kExitUsage;
        }
        if (!check)
            return RunScan(files.front(), outputFolder, answer, quiet);
        const ScanCheck report = CheckScan(files.front(), outputFolder, answer);
        std::cout << (json ? cli::ScanCheckJson(report) : cli::ScanCheckText(report)) << std::flush;
        return cli::PassesScanCheck(report) ? kExitAllRepaired : kExitSomeNotRepaired;
    }

    if (check) {
        int exitStatus = kExitAllRepaired;
        for (const std::string& path : files) {
            const CheckReport report = CheckRecording(path, outputFolder);
            std::cout << (json ? cli::CheckJson(report) + "\n" : cli::CheckText(report)) << std::flush;
            if (!cli::PassesCheck(report))
                exitStatus = kExitSomeNotRepaired;
        }
        return exitStatus;
    }

    // Ctrl-C or a hang-up in the middle of a replace puts the recording back before the tool ends.
    interruption::InstallHandlers();
    cli::CliHost host(std::cerr, answer);
    // Progress only for a person watching: never into a pipe or a file.
    host.ShowProgressLine(!quiet && ::isatty(STDERR_FILENO) == 1);
    RepairEngine fixer;
    fixer.SetHost(&host);
    uint32_t repaired = 0;
    for (const std::string& path : files) {
        host.StartJob(path);
        FixRequest request;
        request.path = path;
        request.fileName = BaseName(path);
        request.mode = replace ? OutputMode::ReplaceOriginal : OutputMode::NewFile;
        request.settings = answer;
        request.outputFolder = outputFolder;
        request.referencePath = referencePath;
        if (noClobber) {
            const std::string fixName = MakeOutputNames(path, request.fileName, outputFolder).fixName;
            if (FileExists(fixName)) {
                host.Print(fixName + " already exists and --no-clobber keeps it; not repaired", path);
                continue;
            }
        }
        fixer.RunFixJob(request);
        host.EndProgress();
        if (!quiet)
            PrintSummary(path, fixer.LastOutcome(), host);
        if (fixer.LastOutcome().status == FixStatus::Repaired)
            ++repaired;
    }
    const size_t notRepaired = files.size() - repaired;
    if (!quiet && files.size() > 1)
        std::cout << repaired << " repaired, " << notRepaired << " not repaired\n";
    return notRepaired == 0 ? kExitAllRepaired : kExitSomeNotRepaired;
}
