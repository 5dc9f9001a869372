#include "cli/Sheet.h"

#include <QGuiApplication>
#include <QPageSize>
#include <QPdfWriter>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "app/MainView.h"
#include "app/MainWindowModel.h"
#include "app/SceneList.h"
#include "app/Settings.h"
#include "cli/Terminal.h"
#include "clipsheet/ClipSheetLayout.h"
#include "clipsheet/ClipSheetSettings.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/SettingsStore.h"

namespace qv {

const char kSheetUsage[] =
    "  sheet FILE... -o SHEET.pdf [--output PATH] [--optical[=0..4]] [--only N,M,...]\n"
    "        [--headline TEXT] [--pics-per-line N] [--pics-per-scene N] [--secs-per-pic N]\n"
    "        [--timecode-offset MM:SS:FF] [--font-size N] [--no-file-names] [--no-timecode]\n"
    "                                        find the scenes and print their clip sheet into\n"
    "                                        a PDF (all scenes, or those numbered with --only);\n"
    "                                        options not given are the stored clip sheet ones\n";

namespace {

constexpr int kExitFailure = 1;
const char kDocumentName[] = "Quorvandel Clipsheet";

class SheetView : public HeadlessView {
  public:
    std::unique_ptr<Progress> OpenProgress(const std::string& title) override {
        return std::make_unique<TerminalProgress>(title);
    }
};

struct SheetOptions {
    std::vector<std::string> files;
    std::string pdf;
    std::string output;
    bool optical = false;
    int sensitivity = -1;  // -1: the stored setting
    std::vector<int> only;
    std::optional<std::string> headline;
    std::optional<int32_t> picsPerLine, picsPerScene, secsPerPic, fontSize;
    std::optional<std::string> timecodeOffset;
    bool noFileNames = false;
    bool noTimecode = false;
};

std::optional<int32_t> Number(const std::string& text, IntRange range) {
    const std::optional<int32_t> v = ParseEditInteger(text);
    return v && range.Holds(*v) ? v : std::nullopt;
}

std::string Parse(const std::vector<std::string>& args, SheetOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        auto value = [&] {
            if (i + 1 >= args.size()) {
                return false;
            }
            v = args[++i];
            return true;
        };
        struct NumberOption {
            const char* name;
            IntRange range;
            std::optional<int32_t>* field;
        };
        const NumberOption numbers[] = {
            {"--pics-per-line", kPicsPerLineRange, &o.picsPerLine},
            {"--pics-per-scene", kPicsPerSceneRange, &o.picsPerScene},
            {"--secs-per-pic", kSecsPerPicRange, &o.secsPerPic},
            {"--font-size", kFontSizeRange, &o.fontSize},
        };
        const NumberOption* number = nullptr;
        for (const NumberOption& n : numbers) {
            if (a == n.name) {
                number = &n;
            }
        }
        if (number != nullptr) {
            if (!value() || !(*number->field = Number(v, number->range))) {
                return a + " needs a number from " + std::to_string(number->range.min) + " to " +
                       std::to_string(number->range.max);
            }
        } else if (a == "-o" || a == "--output" || a == "--headline" || a == "--timecode-offset") {
            if (!value()) {
                return a + " needs a value";
            }
            if (a == "-o") {
                o.pdf = v;
            } else if (a == "--output") {
                o.output = v;
            } else if (a == "--headline") {
                if (v.size() > kMaxHeadlineChars) {
                    return "--headline takes at most " + std::to_string(kMaxHeadlineChars) +
                           " characters";
                }
                o.headline = v;
            } else {
                o.timecodeOffset = v;
            }
        } else if (a == "--only") {
            if (!value()) {
                return "--only needs scene numbers";
            }
            size_t start = 0;
            while (true) {
                const size_t comma = v.find(',', start);
                const std::string item =
                    v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                const std::optional<int32_t> n = Number(item, IntRange{1, 0x7fffffff});
                if (!n) {
                    return "--only needs scene numbers from 1, separated by commas";
                }
                o.only.push_back(*n);
                if (comma == std::string::npos) {
                    break;
                }
                start = comma + 1;
            }
        } else if (a == "--optical") {
            o.optical = true;
        } else if (a.rfind("--optical=", 0) == 0) {
            const std::string level = a.substr(10);
            if (level.size() != 1 || level[0] < '0' || level[0] > '4') {
                return "--optical takes a sensitivity from 0 to 4";
            }
            o.optical = true;
            o.sensitivity = level[0] - '0';
        } else if (a == "--no-file-names") {
            o.noFileNames = true;
        } else if (a == "--no-timecode") {
            o.noTimecode = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return "unknown option " + a;
        } else {
            o.files.push_back(a);
        }
    }
    if (o.files.empty()) {
        return "sheet needs at least one file";
    }
    if (o.pdf.empty()) {
        return "sheet needs -o SHEET.pdf";
    }
    return {};
}

}  // namespace

int SheetCommand(const std::vector<std::string>& args, int (*usage)(const std::string&)) {
    SheetOptions o;
    if (const std::string problem = Parse(args, o); !problem.empty()) {
        return usage(problem);
    }
    for (const std::string& f : o.files) {
        if (!FileExists(f)) {
            std::cerr << "quorvandel-cli: " << f << ": No such file or directory\n";
            return kExitFailure;
        }
        if (SameFile(f, o.pdf)) {
            std::cerr << "quorvandel-cli: " << o.pdf << " is an input file; it is not written\n";
            return kExitFailure;
        }
    }

    // Scan and name as scan does.
    TerminalQuestions questions;
    SheetView view;
    MainWindowModel model(questions, view, nullptr);
    for (const std::string& f : o.files) {
        model.AddInput(f);
    }
    if (!o.output.empty()) {
        model.outputPath = o.output;
    }
    const SettingsStore store(SettingsStore::DefaultPath());
    Settings stored;
    LoadSettings(stored, store);
    model.settings.codec = stored.codec;
    bool scanned = false;
    if (o.optical) {
        model.settings.optSensitivity = o.sensitivity >= 0 ? o.sensitivity : stored.optSensitivity;
        scanned = model.ScanOptical(true);
    } else {
        scanned = model.ScanDatestamps(true);
        model.RemoveOverlaps();
    }
    if (!scanned || questions.errors != 0) {
        std::cerr << "quorvandel-cli: not every file could be scanned; no sheet is printed\n";
        return kExitFailure;
    }

    SceneList& scenes = model.scenes;
    for (int i = 0; i < scenes.Count(); ++i) {
        scenes[i].write = o.only.empty() ? 1 : 0;
    }
    for (int n : o.only) {
        if (n > scenes.Count()) {
            std::cerr << "quorvandel-cli: there is no scene " << n << "\n";
            return kExitFailure;
        }
        scenes[n - 1].write = 1;
    }

    ClipSheetSettings settings = LoadClipSheetSettings(store);
    if (o.timecodeOffset) {
        // Read at the rate of the scanned files.
        const std::optional<int32_t> offset = ParseTimecode(*o.timecodeOffset, framesPerSecond);
        if (!offset) {
            return usage("--timecode-offset needs a time MM:SS:FF");
        }
        settings.timecodeOffset = *offset;
    }
    if (o.headline) settings.headline = *o.headline;
    if (o.picsPerLine) settings.picsPerLine = *o.picsPerLine;
    if (o.picsPerScene) settings.picsPerScene = *o.picsPerScene;
    if (o.secsPerPic) settings.secsPerPic = *o.secsPerPic;
    if (o.fontSize) settings.fontSize = *o.fontSize;
    if (o.noFileNames) settings.showFileNames = 0;
    if (o.noTimecode) settings.showTimecode = 0;

    // Qt draws without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int argc = 1;
    char name[] = "quorvandel-cli";
    char* argv[] = {name, nullptr};
    QGuiApplication application(argc, argv);

    // Written beside its final name and renamed into place when complete.
    const std::string temporary = o.pdf + ".part";
    int pages = 0;
    {
        QPdfWriter writer(QString::fromLocal8Bit(temporary.c_str()));
        writer.setTitle(QString::fromLatin1(kDocumentName));
        writer.setCreator(QString::fromLatin1(kDocumentName));
        writer.setPageSize(QPageSize(QPageSize::A4));
        ClipSheetLayout window(nullptr, model.settings.codec);
        window.settings = settings;
        pages = PrintSheet(writer, window, scenes, model.settings.codec);
    }
    if (pages < 0) {
        RemoveFile(temporary);
        std::cerr << "quorvandel-cli: " << o.pdf << ": can't write the file\n";
        return kExitFailure;
    }
    if (pages == 0) {
        RemoveFile(temporary);
        std::cerr << "quorvandel-cli: nothing to print: no scene to show and no headline\n";
        return kExitFailure;
    }
    if (!ReplaceFile(temporary, o.pdf)) {
        std::cerr << "quorvandel-cli: " << o.pdf << ": " << std::strerror(errno) << "\n";
        RemoveFile(temporary);
        return kExitFailure;
    }
    std::cout << o.pdf << ": " << pages << (pages == 1 ? " page\n" : " pages\n");
    return 0;
}

}  // namespace qv
