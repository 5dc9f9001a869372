#include "cli/Sheet.h"

#include <QGuiApplication>
#include <QIODevice>
#include <QPageSize>
#include <QPdfWriter>

#include <CLI/CLI.hpp>

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
#include "cli/Options.h"
#include "cli/Terminal.h"
#include "clipsheet/ClipSheetLayout.h"
#include "clipsheet/ClipSheetSettings.h"
#include "platform/File.h"
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

// The PDF's bytes go through the program's own file class, so that a write that
// fails is known, with its reason, before the file takes its final name.
class PdfFile final : public QIODevice {
public:
    bool Create(const std::string& path) {
        if (!file_.CreateNew(path)) {
            error_ = file_.LastError();
            return false;
        }
        return open(QIODevice::WriteOnly);
    }
    bool isSequential() const override { return true; }
    // The first failure's system error, or 0.
    int Error() const { return error_; }
    // Puts the whole file on the disk; false (Error set) when that failed.
    bool Flush() {
        if (error_ == 0 && !file_.Flush()) {
            error_ = file_.LastError();
        }
        return error_ == 0;
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        if (error_ != 0) {
            return -1;
        }
        const int64_t written = file_.WriteAt(end_, data, size);
        if (written != size) {
            error_ = file_.LastError() != 0 ? file_.LastError() : EIO;
            return -1;
        }
        end_ += size;
        return size;
    }

private:
    File file_;
    int64_t end_ = 0;
    int error_ = 0;
};
const char kDocumentName[] = "Quorvandel Clipsheet";
const char kTimecodeProblem[] = "--timecode-offset needs a time MM:SS:FF";

class SheetView : public HeadlessView {
  public:
    std::unique_ptr<Progress> OpenProgress(const std::string& title) override {
        return std::make_unique<TerminalProgress>(title);
    }
};

std::optional<int32_t> Number(const std::string& text, IntRange range) {
    const std::optional<int32_t> v = ParseEditInteger(text);
    return v && range.Holds(*v) ? v : std::nullopt;
}

// The options' texts converted and checked; what is wrong, or an empty text.
struct CheckedOptions {
    int sensitivity = -2;  // -2: no --optical; -1: the stored setting
    std::vector<int> only;
    std::optional<int32_t> picsPerLine, picsPerScene, secsPerPic, fontSize;
};

std::string Check(const SheetOptions& o, CheckedOptions& c) {
    struct NumberOption {
        const char* name;
        IntRange range;
        const std::optional<std::string>* text;
        std::optional<int32_t>* field;
    };
    const NumberOption numbers[] = {
        {"--pics-per-line", kPicsPerLineRange, &o.picsPerLine, &c.picsPerLine},
        {"--pics-per-scene", kPicsPerSceneRange, &o.picsPerScene, &c.picsPerScene},
        {"--secs-per-pic", kSecsPerPicRange, &o.secsPerPic, &c.secsPerPic},
        {"--font-size", kFontSizeRange, &o.fontSize, &c.fontSize},
    };
    for (const NumberOption& n : numbers) {
        if (*n.text && !(*n.field = Number(**n.text, n.range))) {
            return std::string(n.name) + " needs a number from " + std::to_string(n.range.min) +
                   " to " + std::to_string(n.range.max);
        }
    }
    // The rate is the scanned files', known later; a time that no rate reads is
    // refused before the scan.
    if (o.timecodeOffset && !ParseTimecode(*o.timecodeOffset, 30.0f)) {
        return kTimecodeProblem;
    }
    if (o.headline && CharacterCount(*o.headline) > kMaxHeadlineChars) {
        return "--headline takes at most " + std::to_string(kMaxHeadlineChars) + " characters";
    }
    if (o.only) {
        const std::string& v = *o.only;
        size_t start = 0;
        while (true) {
            const size_t comma = v.find(',', start);
            const std::string item =
                v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            const std::optional<int32_t> n = Number(item, IntRange{1, 0x7fffffff});
            if (!n) {
                return "--only needs scene numbers from 1, separated by commas";
            }
            c.only.push_back(*n);
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
        }
    }
    if (!o.optical.empty()) {
        const std::optional<int> sensitivity = OpticalSensitivity(o.optical);
        if (!sensitivity) {
            return "--optical takes a sensitivity from 0 to 4";
        }
        c.sensitivity = *sensitivity;
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

void AddSheetOptions(CLI::App& command, SheetOptions& o) {
    command.add_option("FILE", o.files);
    command.add_option("-o", o.pdf, "the PDF file to print into; required")
        ->type_name("SHEET.pdf");
    command.add_option("--output", o.output, "the base of the scenes' output names")
        ->type_name("PATH");
    AddOpticalOption(command, o.optical);
    command.add_option("--only", o.only, "just the scenes of those numbers (from 1)")
        ->type_name("N,M,...");
    command.add_option("--headline", o.headline, "the headline above the pictures")
        ->type_name("TEXT");
    command.add_option("--pics-per-line", o.picsPerLine, "pictures in one line")->type_name("N");
    command
        .add_option("--pics-per-scene", o.picsPerScene, "the least number of pictures of a scene")
        ->type_name("N");
    command.add_option("--secs-per-pic", o.secsPerPic, "seconds of a scene per picture")
        ->type_name("N");
    command
        .add_option("--timecode-offset", o.timecodeOffset,
                    "a non-zero time starts a running time: the first scene begins at it, "
                    "each later one where the one before ends; 0 shows the frames' places "
                    "in their source files")
        ->type_name("MM:SS:FF");
    command.add_option("--font-size", o.fontSize, "the size of the texts")->type_name("N");
    command.add_flag("--no-file-names", o.noFileNames, "show no file names");
    command.add_flag("--no-timecode", o.noTimecode, "show no timecodes");
}

int SheetCommand(const SheetOptions& o, const std::function<int(const std::string&)>& usage) {
    CheckedOptions c;
    if (const std::string problem = Check(o, c); !problem.empty()) {
        return usage(problem);
    }
    for (const std::string& f : o.files) {
        if (!FileExists(f)) {
            std::cerr << "quorvandel-cli: " << f << ": " << std::strerror(errno) << "\n";
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
        // A file of no kind that is read was refused with a message.
        if (!model.AddInput(f) && !FileKindRefusal(f).empty()) {
            return kExitFailure;
        }
    }
    if (!o.output.empty()) {
        model.outputPath = o.output;
    }
    const SettingsStore store(SettingsStore::DefaultPath());
    Settings stored;
    LoadSettings(stored, store);
    model.settings.codec = stored.codec;
    bool scanned = false;
    if (c.sensitivity >= -1) {
        model.settings.optSensitivity = c.sensitivity >= 0 ? c.sensitivity : stored.optSensitivity;
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
        scenes[i].write = c.only.empty() ? 1 : 0;
    }
    for (int n : c.only) {
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
            return usage(kTimecodeProblem);
        }
        settings.timecodeOffset = *offset;
    }
    if (o.headline) settings.headline = *o.headline;
    if (c.picsPerLine) settings.picsPerLine = *c.picsPerLine;
    if (c.picsPerScene) settings.picsPerScene = *c.picsPerScene;
    if (c.secsPerPic) settings.secsPerPic = *c.secsPerPic;
    if (c.fontSize) settings.fontSize = *c.fontSize;
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

    // Written beside its final name and renamed into place when complete and on the disk.
    const std::string temporary = o.pdf + ".part";
    RemoveFile(temporary);  // a leftover of a run that was killed
    PdfFile pdf;
    if (!pdf.Create(temporary)) {
        std::cerr << "quorvandel-cli: " << o.pdf << ": can't write the file\n"
                  << temporary << ": " << SystemErrorText(pdf.Error()) << "\n";
        return kExitFailure;
    }
    int pages = 0;
    std::string readFailure;
    {
        QPdfWriter writer(&pdf);
        writer.setTitle(QString::fromLatin1(kDocumentName));
        writer.setCreator(QString::fromLatin1(kDocumentName));
        writer.setPageSize(QPageSize(QPageSize::A4));
        ClipSheetLayout window(nullptr, model.settings.codec);
        window.settings = settings;
        pages = PrintSheet(writer, window, scenes, model.settings.codec, &readFailure);
    }
    const bool flushed = pages > 0 && pdf.Flush();
    pdf.close();
    if (InterruptSignal() != 0) {
        RemoveFile(temporary);
        return kExitFailure;  // main turns it into the signal's code
    }
    if (!readFailure.empty()) {
        RemoveFile(temporary);
        std::cerr << "quorvandel-cli: " << readFailure << "\nno sheet is printed\n";
        return kExitFailure;
    }
    if (pages < 0 || (pages > 0 && !flushed)) {
        RemoveFile(temporary);
        std::cerr << "quorvandel-cli: " << o.pdf << ": can't write the file\n";
        if (pdf.Error() != 0) {
            std::cerr << temporary << ": " << SystemErrorText(pdf.Error()) << "\n";
        }
        return kExitFailure;
    }
    if (pages == 0) {
        RemoveFile(temporary);
        std::cerr << "quorvandel-cli: nothing to print: no scene to show and no headline\n";
        return kExitFailure;
    }
    if (!ReplaceFile(temporary, o.pdf)) {
        const int error = errno;
        // A rename that was made stays: only the folder's flush failed then.
        RemoveFile(temporary);
        std::cerr << "quorvandel-cli: " << o.pdf << ": can't write the file\n"
                  << o.pdf << ": " << SystemErrorText(error) << "\n";
        return kExitFailure;
    }
    std::cout << o.pdf << ": " << pages << (pages == 1 ? " page\n" : " pages\n");
    return 0;
}

}  // namespace qv
