// quorvandel-cli: the program's work from a terminal, for batches and scripts.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/MainView.h"
#include "app/MainWindowModel.h"
#include "app/SceneListExport.h"
#include "app/Settings.h"
#include "app/Version.h"
#include "platform/SettingsStore.h"
#include "avi/AviReader.h"
#include "avi/ClipCopier.h"
#include "dv/Datestamp.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "platform/Questions.h"
#include "cli/Terminal.h"
#include "clipsheet/BitmapExport.h"
#ifdef QV_CLI_SHEET
#include "cli/Sheet.h"
#endif

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: quorvandel-cli COMMAND ...\n"
    "\n"
    "commands:\n"
    "  info FILE...                          describe each AVI file on one line\n"
    "  datestamps FILE [--from N] [--count M]\n"
    "                                        print each frame's recording date and time\n"
    "  copy SOURCE --first N --count M DEST [--yes] [--ignore-audio-errors]\n"
    "                                        copy frames N..N+M-1 with their audio into DEST;\n"
    "                                        --yes overwrites an existing DEST without asking\n"
    "  scan [--optical[=0..4]] [--remove-overlaps] [--output PATH] [--skip-undated] [--json]\n"
    "       FILE...                          find the scenes and print the scene list;\n"
    "                                        --optical by picture changes, at a sensitivity\n"
    "                                        from 0 (very high) to 4 (very low)\n"
    "  split FILE... --output PATH [--remove-overlaps] [--delete-sources] [--skip-undated]\n"
    "        [--only N,M,...] [--yes]        find the scenes and write each into a file of its\n"
    "                                        own named PATH'<recording time>; --only writes\n"
    "                                        just the scenes of those numbers (from 1);\n"
    "        [--delete-unwritten]            --delete-sources deletes a source once all its\n"
    "        [--ignore-audio-errors]         scenes are written, and keeps one with scenes\n"
    "                                        left unwritten (--only, --skip-undated) unless\n"
    "                                        --delete-unwritten is given too\n"
    "  list FILE... -o LIST.txt              find the scenes and save the list as a text file\n"
    "  bitmaps FILE... -o BASE.bmp [--output PATH] [--optical[=0..4]] [--only N,M,...]\n"
    "          [--length SECONDS] [--deinterlace none|even|odd] [--crop H,V] [--yes]\n"
    "                                        find the scenes and save each one's middle frame\n"
    "                                        as BASE'<recording time>.bmp: all scenes, those\n"
    "                                        numbered with --only, and of them those within two\n"
    "                                        seconds of --length; --deinterlace keeps one field,\n"
    "                                        --crop cuts H pixels (rounded up to even) at each\n"
    "                                        side and V lines at top and bottom; --yes replaces\n"
    "                                        existing files that are not bitmaps\n"
    "  --version                             print the program's name and version\n"
    "  -h, --help                            print this text\n"
    "\n"
    "--ignore-audio-errors (copy, split) writes audio that cannot be read as silence;\n"
    "without it the copy stops there.\n"
    "\n"
    "exit codes: 0 done, 1 failed, 2 wrong usage; copy, split and bitmaps interrupted by\n"
    "SIGINT, SIGTERM or SIGHUP remove the file being written, delete no source and exit\n"
    "with 128 + the signal's number (130, 143, 129)\n";

int Usage(const std::string& problem) {
    if (!problem.empty()) {
        std::cerr << "quorvandel-cli: " << problem << "\n";
    }
    std::cerr << kUsage;
#ifdef QV_CLI_SHEET
    std::cerr << qv::kSheetUsage;
#endif
    return kExitUsage;
}

// Why fileName cannot be read as an AVI file, or empty when it can.
std::string OpenProblem(const std::string& fileName) {
    qv::File probe;
    if (!probe.OpenRead(fileName, qv::File::Access::Random)) {
        int err = probe.LastError();
        return err == EINVAL ? "not a regular file" : std::strerror(err);
    }
    return {};
}

std::unique_ptr<qv::AviReader> OpenOrReport(const std::string& fileName) {
    std::string problem = OpenProblem(fileName);
    std::unique_ptr<qv::AviReader> reader;
    if (problem.empty()) {
        reader = qv::OpenAviFile(fileName);
        if (!reader) {
            problem = "cannot be opened";
        } else if (reader->StreamCount() == 0) {
            problem = "not an AVI file";
            reader.reset();
        }
    }
    if (!reader) {
        std::cerr << "quorvandel-cli: " << fileName << ": " << problem << "\n";
    }
    return reader;
}

bool ParseCount(const char* text, int* value) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 0 || v > 0x7FFFFFFF) {
        return false;
    }
    *value = static_cast<int>(v);
    return true;
}

// Numbers of at least minimum, separated by commas, appended to numbers.
bool ParseNumbers(const std::string& list, int minimum, std::vector<int>& numbers) {
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        const std::string item =
            list.substr(start, comma == std::string::npos ? comma : comma - start);
        int n = 0;
        if (!ParseCount(item.c_str(), &n) || n < minimum) {
            return false;
        }
        numbers.push_back(n);
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

int Info(const std::vector<std::string>& args) {
    if (args.empty()) {
        return Usage("info needs at least one file");
    }
    int result = 0;
    for (const std::string& name : args) {
        auto reader = OpenOrReport(name);
        if (!reader) {
            result = kExitFailure;
            continue;
        }
        std::cout << reader->Describe() << "\n";
    }
    return result;
}

int Datestamps(const std::vector<std::string>& args) {
    std::string fileName;
    int from = 0;
    int count = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--from" || a == "--count") {
            if (i + 1 >= args.size() || !ParseCount(args[i + 1].c_str(), a == "--from" ? &from : &count)) {
                return Usage(a + " needs a number");
            }
            ++i;
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage("unknown option " + a);
        } else if (fileName.empty()) {
            fileName = a;
        } else {
            return Usage("datestamps takes one file");
        }
    }
    if (fileName.empty()) {
        return Usage("datestamps needs a file");
    }
    auto reader = OpenOrReport(fileName);
    if (!reader) {
        return kExitFailure;
    }
    qv::AviStream* video = reader->Stream(0);
    const int frames = reader->FrameCount();
    const int last = count < 0 ? frames : static_cast<int>(std::min<long long>(frames, 0LL + from + count));
    qv::TerminalQuestions questions;
    qv::RefFileCache cache;
    std::string out;
    for (int f = from; f < last; ++f) {
        qv::Datestamp d = qv::ReadFrameDatestamp(*video, f, cache, nullptr, &questions);
        out += std::to_string(f);
        out += '\t';
        // -1 is a recorded time the platform cannot represent: no date either.
        out += d != 0 && d != -1 ? qv::FormatLocalTime(d, "%Y-%m-%d %H:%M:%S") : "n/a";
        out += '\n';
        if (out.size() > 1 << 16) {
            std::cout << out;
            out.clear();
        }
    }
    std::cout << out << std::flush;
    cache.Close();
    return std::cout ? 0 : kExitFailure;
}

int Copy(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    int first = -1;
    int count = -1;
    bool yes = false;
    bool ignoreAudioErrors = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--first" || a == "--count") {
            if (i + 1 >= args.size() ||
                !ParseCount(args[i + 1].c_str(), a == "--first" ? &first : &count)) {
                return Usage(a + " needs a number");
            }
            ++i;
        } else if (a == "--yes") {
            yes = true;
        } else if (a == "--ignore-audio-errors") {
            ignoreAudioErrors = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage("unknown option " + a);
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2 || first < 0 || count < 1) {
        return Usage("copy needs SOURCE, --first N, --count M (at least 1) and DEST");
    }
    auto reader = OpenOrReport(files[0]);
    if (!reader) {
        return kExitFailure;
    }
    if (static_cast<long long>(first) + count > reader->FrameCount()) {
        std::cerr << "quorvandel-cli: " << files[0] << " has " << reader->FrameCount()
                  << " frames\n";
        return kExitFailure;
    }
    qv::TerminalQuestions questions;
    questions.ignoreAudioErrors = ignoreAudioErrors;
    qv::Scene scene;
    scene.sourceFile = files[0];
    scene.firstFrame = first;
    scene.frameCount = count;
    qv::RefFileCache cache;
    scene.datestamp = qv::ReadFrameDatestamp(*reader->Stream(0), first, cache, nullptr, &questions);
    cache.Close();

    qv::ClipCopier copier(questions);
    copier.sourceReader = std::move(reader);
    copier.yesForAll = yes;
    const size_t bytes = qv::DefaultCopyBufferBytes();
    // Left uninitialised: pages are only taken as frames are read into them.
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(bytes);
    copier.copyBuffer = std::span<uint8_t>(buffer.get(), bytes);
    qv::QuietProgress progress;
    int framesDone = 0;
    return copier.CopyScene(files[1], scene, progress, framesDone, 256) == 0 ? 0 : kExitFailure;
}

// The model's view on a terminal: no rows or pictures, progress on stderr.
class CliView : public qv::HeadlessView {
public:
    std::unique_ptr<qv::Progress> OpenProgress(const std::string& title) override {
        return std::make_unique<qv::TerminalProgress>(title);
    }
};

struct SceneOptions {
    std::vector<std::string> files;
    std::string output;
    std::string listFile;
    bool removeOverlaps = false;
    bool skipUndated = false;
    bool json = false;
    bool deleteSources = false;
    bool deleteUnwritten = false;  // also sources with scenes left unwritten
    bool yes = false;
    bool ignoreAudioErrors = false;
    std::vector<int> only;  // scene numbers from 1
    bool optical = false;
    int sensitivity = -1;  // -1: the stored setting
};

// Parses the options of scan, split and list; an empty text on success.
std::string ParseSceneOptions(const std::string& command, const std::vector<std::string>& args,
                              SceneOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                return false;
            }
            out = args[++i];
            return true;
        };
        if (a == "--output" || (command == "list" && a == "-o")) {
            if (!value(a == "-o" ? o.listFile : o.output)) {
                return a + " needs a value";
            }
        } else if (a == "--remove-overlaps") {
            o.removeOverlaps = true;
        } else if (a == "--skip-undated") {
            o.skipUndated = true;
        } else if (a == "--json" && command == "scan") {
            o.json = true;
        } else if (command == "split" && a == "--delete-sources") {
            o.deleteSources = true;
        } else if (command == "split" && a == "--delete-unwritten") {
            o.deleteUnwritten = true;
        } else if (command == "split" && a == "--yes") {
            o.yes = true;
        } else if (command == "split" && a == "--ignore-audio-errors") {
            o.ignoreAudioErrors = true;
        } else if (command == "split" && a == "--only") {
            std::string list;
            if (!value(list)) {
                return "--only needs scene numbers";
            }
            if (!ParseNumbers(list, 1, o.only)) {
                return "--only needs scene numbers from 1, separated by commas";
            }
        } else if (a == "--optical" && command == "scan") {
            o.optical = true;
        } else if (a.rfind("--optical=", 0) == 0 && command == "scan") {
            const std::string level = a.substr(10);
            if (level.size() != 1 || level[0] < '0' || level[0] > '4') {
                return "--optical takes a sensitivity from 0 to 4";
            }
            o.optical = true;
            o.sensitivity = level[0] - '0';
        } else if (a.size() > 1 && a[0] == '-') {
            return "unknown option " + a;
        } else {
            o.files.push_back(a);
        }
    }
    if (o.files.empty()) {
        return command + " needs at least one file";
    }
    if (command == "split" && o.output.empty()) {
        return "split needs --output PATH";
    }
    if (o.deleteUnwritten && !o.deleteSources) {
        return "--delete-unwritten goes with --delete-sources";
    }
    if (command == "list" && o.listFile.empty()) {
        return "list needs -o LIST.txt";
    }
    return {};
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string ScenesJson(const qv::SceneList& scenes) {
    std::string out = "[";
    for (int i = 0; i < scenes.Count(); ++i) {
        const qv::Scene& s = scenes[i];
        out += i == 0 ? "\n" : ",\n";
        out += "  {\"outputName\": " + JsonText(s.outputName) +
               ", \"sourceFile\": " + JsonText(s.sourceFile) +
               ", \"referencedFile\": " + JsonText(s.referencedFile) +
               ", \"nameSuffix\": " + JsonText(s.nameSuffix) +
               ", \"write\": " + std::to_string(s.write) +
               ", \"wholeFile\": " + std::to_string(s.wholeFile) +
               ", \"firstFrame\": " + std::to_string(s.firstFrame) +
               ", \"frameCount\": " + std::to_string(s.frameCount) +
               ", \"datestamp\": " + std::to_string(s.datestamp) + "}";
    }
    return out + (scenes.Count() > 0 ? "\n]\n" : "]\n");
}

// Scans the files into model; false when the scan did not cover every file.
bool ScanInto(qv::MainWindowModel& model, qv::TerminalQuestions& questions,
              const SceneOptions& o) {
    for (const std::string& f : o.files) {
        if (!qv::FileExists(f)) {
            std::cerr << "quorvandel-cli: " << f << ": No such file or directory\n";
            return false;
        }
        model.AddInput(f);
    }
    if (!o.output.empty()) {
        model.outputPath = o.output;
    }
    model.settings.skipNoDatestamp = o.skipUndated ? 1 : 0;
    questions.removeOverlaps = o.removeOverlaps;
    questions.yes = o.yes;
    questions.deleteUnwritten = o.deleteUnwritten;
    questions.ignoreAudioErrors = o.ignoreAudioErrors;
    if (o.optical) {
        if (o.sensitivity < 0) {
            qv::SettingsStore store(qv::SettingsStore::DefaultPath());
            qv::LoadSettings(model.settings, store);
        } else {
            model.settings.optSensitivity = o.sensitivity;
        }
        return model.ScanOptical(true) && questions.errors == 0;
    }
    const bool ok = model.ScanDatestamps(true);
    model.RemoveOverlaps();
    return ok && questions.errors == 0;
}

int Scenes(const std::string& command, const std::vector<std::string>& args) {
    SceneOptions o;
    std::string problem = ParseSceneOptions(command, args, o);
    if (!problem.empty()) {
        return Usage(problem);
    }
    qv::TerminalQuestions questions;
    CliView view;
    qv::MainWindowModel model(questions, view, nullptr);
    const bool scanned = ScanInto(model, questions, o);
    if (qv::InterruptSignal() != 0) {
        return kExitFailure;  // main turns it into the signal's code
    }
    if (command == "scan") {
        std::cout << (o.json ? ScenesJson(model.scenes) : qv::SceneListText(model.scenes))
                  << std::flush;
        return scanned && std::cout ? 0 : kExitFailure;
    }
    if (command == "list") {
        bool openFailed = false;
        if (!qv::WriteSceneListFile(o.listFile, model.scenes, &openFailed)) {
            std::cerr << "quorvandel-cli: " << o.listFile << ": "
                      << (openFailed ? "can't open the file for writing" : "can't write the file")
                      << "\n";
            return kExitFailure;
        }
        return scanned ? 0 : kExitFailure;
    }
    if (!scanned) {
        std::cerr << "quorvandel-cli: not every file could be scanned; nothing is written\n";
        return kExitFailure;
    }
    if (!o.only.empty()) {
        for (int i = 0; i < model.scenes.Count(); ++i) {
            model.scenes[i].write = 0;
        }
        for (int n : o.only) {
            if (n > model.scenes.Count()) {
                std::cerr << "quorvandel-cli: there is no scene " << n << "\n";
                return kExitFailure;
            }
            model.scenes[n - 1].write = 1;
        }
    }
    model.settings.deleteSourceFiles = o.deleteSources ? 1 : 0;
    model.copier.yesForAll = false;
    const bool written = model.WriteRun(o.deleteSources);
    return written && questions.errors == 0 ? 0 : kExitFailure;
}

// bitmaps: the middle frame of every chosen scene as a .bmp file.
int Bitmaps(const std::vector<std::string>& args) {
    SceneOptions o;
    std::string base;
    qv::BitmapExportSettings settings;
    settings.selectedOnly = 0;
    bool yes = false;
    std::vector<std::string> sceneArgs;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "-o" || a == "--length" || a == "--deinterlace" || a == "--crop") {
            if (!hasValue) {
                return Usage(a + " needs a value");
            }
            const std::string& v = args[++i];
            std::vector<int> numbers;
            if (a == "-o") {
                base = v;
            } else if (a == "--length") {
                if (!ParseCount(v.c_str(), &settings.lengthSeconds)) {
                    return Usage("--length needs a number of seconds");
                }
                settings.useLength = 1;
            } else if (a == "--deinterlace") {
                if (v != "none" && v != "even" && v != "odd") {
                    return Usage("--deinterlace takes none, even or odd");
                }
                settings.deinterlace = v == "none" ? 0 : v == "even" ? 1 : 2;
            } else if (!ParseNumbers(v, 0, numbers) || numbers.size() != 2) {
                return Usage("--crop needs two numbers H,V");
            } else {
                settings.cropH = numbers[0];
                settings.cropV = numbers[1];
            }
        } else if (a == "--only") {
            if (!hasValue || !ParseNumbers(args[++i], 1, o.only)) {
                return Usage("--only needs scene numbers from 1, separated by commas");
            }
        } else if (a == "--yes") {
            yes = true;
        } else if (a == "--output" || a == "--optical" || a.rfind("--optical=", 0) == 0 ||
                   a.empty() || a[0] != '-' || a == "-") {
            sceneArgs.push_back(a);
            if (a == "--output" && hasValue) {
                sceneArgs.push_back(args[++i]);
            }
        } else {
            return Usage("unknown option " + a);
        }
    }
    // scan's options: files, --output and --optical.
    if (std::string problem = ParseSceneOptions("scan", sceneArgs, o); !problem.empty()) {
        return Usage(problem == "scan needs at least one file" ? "bitmaps needs at least one file"
                                                               : problem);
    }
    if (base.empty() || qv::FileNameOf(base).empty()) {
        return Usage("bitmaps needs -o BASE.bmp");
    }
    // As the save dialog's default extension does.
    if (qv::SplitPath(base).extension.empty()) {
        base += ".bmp";
    }
    o.yes = yes;
    qv::TerminalQuestions questions;
    CliView view;
    qv::MainWindowModel model(questions, view, nullptr);
    const bool scanned = ScanInto(model, questions, o);
    if (qv::InterruptSignal() != 0) {
        return kExitFailure;  // main turns it into the signal's code
    }
    if (!scanned) {
        std::cerr << "quorvandel-cli: not every file could be scanned; nothing is saved\n";
        return kExitFailure;
    }
    std::vector<int> rows;
    if (!o.only.empty()) {
        settings.selectedOnly = 1;
        for (int n : o.only) {
            if (n > model.scenes.Count()) {
                std::cerr << "quorvandel-cli: there is no scene " << n << "\n";
                return kExitFailure;
            }
            rows.push_back(n - 1);
        }
    }
    qv::BitmapExport exporter(questions, nullptr);
    exporter.codecSetting = model.settings.codec;
    exporter.inputFiles = model.Inputs();
    exporter.onSaved = [](const std::string& path) { std::cout << path << std::endl; };
    const qv::BitmapExportResult r = exporter.SaveBitmaps(
        settings, model.scenes, rows,
        [&base](const std::string&, const std::string&) { return std::optional<std::string>(base); },
        [] { return std::make_unique<qv::TerminalProgress>("Saving Bitmaps"); });
    for (const std::string& path : r.failed) {
        std::cerr << "quorvandel-cli: " << path << ": not saved\n";
    }
    if (r.withoutPicture > 0) {
        std::cerr << "quorvandel-cli: " << r.withoutPicture
                  << " chosen scene(s) gave no picture (source or frame cannot be decoded)\n";
    }
    const bool done = r.chosen > 0 && !r.cancelled && r.failed.empty() && r.withoutPicture == 0;
    return done && std::cout ? 0 : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage("");
    }
    const std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "info") {
        return Info(args);
    }
    if (command == "datestamps") {
        return Datestamps(args);
    }
    if (command == "copy" || command == "split" || command == "bitmaps") {
        // These write files: an interrupt ends them cleanly (see CatchInterrupts).
        qv::CatchInterrupts();
        const int result = command == "copy"      ? Copy(args)
                           : command == "bitmaps" ? Bitmaps(args)
                                                  : Scenes(command, args);
        if (const int signo = qv::InterruptSignal(); signo != 0) {
            std::cerr << "quorvandel-cli: interrupted by " << strsignal(signo) << "\n";
            return 128 + signo;
        }
        return result;
    }
    if (command == "scan" || command == "list") {
        return Scenes(command, args);
    }
#ifdef QV_CLI_SHEET
    if (command == "sheet") {
        return qv::SheetCommand(args, Usage);
    }
#endif
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << "quorvandel-cli " << qv::kProgramVersion << "\n\n" << kUsage;
#ifdef QV_CLI_SHEET
        std::cout << qv::kSheetUsage;
#endif
        return 0;
    }
    if (command == "--version") {
        if (!args.empty()) {
            return Usage("--version takes no arguments");
        }
        std::cout << "quorvandel-cli (" << qv::kProgramName << ") " << qv::kProgramVersion << "\n";
        return 0;
    }
    return Usage("unknown command " + command);
}
