// quorvandel-cli: the program's work from a terminal, for batches and scripts.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "app/MainView.h"
#include "app/MainWindowModel.h"
#include "app/SceneListExport.h"
#include "app/Settings.h"
#include "app/Subtitles.h"
#include "app/Version.h"
#include "avi/AviReader.h"
#include "avi/ClipCopier.h"
#include "avi/Riff.h"
#include "cli/Options.h"
#include "cli/Terminal.h"
#include "clipsheet/BitmapExport.h"
#include "dv/Datestamp.h"
#include "dv/TapeHealth.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "platform/Questions.h"
#include "platform/SettingsStore.h"
#ifdef QV_CLI_SHEET
#include "cli/Report.h"
#include "cli/Sheet.h"
#endif

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Each command's entry in the usage text: its synopsis and what it does.
struct CommandText {
    const char* name;
    const char* entry;
};

const CommandText kCommands[] = {
    {"info", "  info FILE... [--json]                 describe each DV file on one line\n"},
    {"datestamps",
     "  datestamps FILE [--from N] [--count M] [--json]\n"
     "                                        print each frame's recording date and time\n"},
    {"copy",
     "  copy SOURCE --first N --count M DEST [--yes] [--ignore-audio-errors] [--subtitles]\n"
     "                                        copy frames N..N+M-1 with their audio into DEST;\n"
     "                                        --yes overwrites an existing DEST without asking\n"},
    {"scan",
     "  scan [--optical[=0..4]] [--remove-overlaps] [--output PATH] [--skip-undated] [--json]\n"
     "       FILE...                          find the scenes and print the scene list;\n"
     "                                        --optical by picture changes, at a sensitivity\n"
     "                                        from 0 (very high) to 4 (very low)\n"
     "       [--thorough]                     --thorough reads every frame: scenes also at\n"
     "                                        recording starts, timecode breaks and format\n"
     "                                        changes\n"},
    {"split",
     "  split FILE... --output PATH [--remove-overlaps] [--delete-sources] [--skip-undated]\n"
     "        [--only N,M,...] [--yes]        find the scenes and write each into a file of its\n"
     "                                        own named PATH'<recording time>; --only writes\n"
     "                                        just the scenes of those numbers (from 1);\n"
     "        [--delete-unwritten]            --delete-sources deletes a source once all its\n"
     "        [--ignore-audio-errors]         scenes are written, and keeps one with scenes\n"
     "        [--subtitles]                   left unwritten (--only, --skip-undated) unless\n"
     "        [--thorough]                    --delete-unwritten is given too; --thorough\n"
     "                                        scans as scan --thorough does\n"},
    {"list",
     "  list FILE... -o LIST.txt [--remove-overlaps] [--output PATH] [--skip-undated]\n"
     "       [--thorough]                     find the scenes and save the list as a text file;\n"
     "                                        --thorough scans as scan --thorough does and\n"
     "                                        prints each damaged scene's damage\n"},
    {"bitmaps",
     "  bitmaps FILE... -o BASE.bmp [--output PATH] [--optical[=0..4]] [--only N,M,...]\n"
     "          [--length SECONDS] [--deinterlace none|even|odd] [--crop H,V] [--yes]\n"
     "                                        find the scenes and save each one's middle frame\n"
     "                                        as BASE'<recording time>.bmp: all scenes, those\n"
     "                                        numbered with --only, and of them those within two\n"
     "                                        seconds of --length; --deinterlace keeps one field,\n"
     "                                        --crop cuts H pixels (rounded up to even) at each\n"
     "                                        side and V lines at top and bottom; --yes replaces\n"
     "                                        existing files that are not bitmaps\n"},
#ifdef QV_CLI_SHEET
    {"sheet", qv::kSheetUsage},
    {"report", qv::kReportUsage},
#endif
};

const char kUsageTail[] =
    "  --version                             print the program's name and version\n"
    "  -h, --help                            print this text\n"
    "  COMMAND --help                        print the options of COMMAND\n"
    "\n"
    "--ignore-audio-errors (copy, split) writes audio that cannot be read as silence;\n"
    "without it the copy stops there. --subtitles (copy, split) writes beside each\n"
    "output a subtitle file of its name (.srt) showing the recording date and time of\n"
    "every second, as DV players show the camcorder's data code.\n";

const char kExitCodes[] =
    "exit codes: 0 done, 1 failed, 2 wrong usage; copy, split and bitmaps interrupted by\n"
    "SIGINT, SIGTERM or SIGHUP remove the file being written, delete no source and exit\n"
    "with 128 + the signal's number (130, 143, 129)\n";

std::string UsageText() {
    std::string text = "usage: quorvandel-cli COMMAND ...\n\ncommands:\n";
    for (const CommandText& c : kCommands) {
        text += c.entry;
    }
    return text + kUsageTail + "\n" + kExitCodes;
}

// The usage of one command: a header line and its entry of the usage text.
std::string CommandUsageText(const std::string& name) {
    std::string text = "usage: quorvandel-cli " + name + " ...\n\n";
    for (const CommandText& c : kCommands) {
        if (name == c.name) {
            text += c.entry;
        }
    }
    return text;
}

int Usage(const std::string& problem) {
    if (!problem.empty()) {
        std::cerr << "quorvandel-cli: " << problem << "\n";
    }
    std::cerr << UsageText();
    return kExitUsage;
}

int CommandUsage(const std::string& command, const std::string& problem) {
    std::cerr << "quorvandel-cli: " << problem << "\n"
              << CommandUsageText(command) << "\n"
              << "quorvandel-cli " << command << " --help lists its options\n\n"
              << kExitCodes;
    return kExitUsage;
}

// A command's help: its usage entry, its options, the exit codes.
class CommandFormatter : public CLI::Formatter {
public:
    CommandFormatter() {
        column_width(40);
        label("Usage", "usage");
    }
    std::string make_description(const CLI::App*) const override { return {}; }
    std::string make_usage(const CLI::App* app, std::string) const override {
        return CommandUsageText(app->get_name());
    }
    std::string make_positionals(const CLI::App*) const override { return {}; }
    // --optical{...}: the value a flag takes when given without one is not shown.
    std::string make_option_name(const CLI::Option* opt, bool positional) const override {
        std::string name = CLI::Formatter::make_option_name(opt, positional);
        if (const size_t brace = name.find('{'); brace != std::string::npos) {
            name.erase(brace, name.find('}', brace) + 1 - brace);
        }
        return name;
    }
    // --optical[=0..4]: an optional value is written onto the name.
    std::string make_option_opts(const CLI::Option* opt) const override {
        const std::string text = opt->get_option_text();
        return text.rfind("[=", 0) == 0 ? text : CLI::Formatter::make_option_opts(opt);
    }
    std::string make_footer(const CLI::App*) const override { return kExitCodes; }
};

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
        std::string refusal;
        int error = 0;
        reader = qv::OpenAviFile(fileName, &refusal, &error);
        if (!reader) {
            problem = error != 0          ? qv::SystemErrorText(error)
                      : refusal.empty() ? "cannot be opened"
                                        : refusal;
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

// JSON output: an array with one object a line, as scan --json has always written
// it ("key": value, ", " between members). Texts that are not UTF-8 (a file name
// may be any bytes) get U+FFFD for each bad byte.
std::string JsonValue(const nlohmann::ordered_json& value) {
    if (value.is_object()) {
        std::string out = "{";
        for (auto it = value.begin(); it != value.end(); ++it) {
            out += (it == value.begin() ? "" : ", ") + JsonValue(it.key()) + ": " +
                   JsonValue(it.value());
        }
        return out + "}";
    }
    if (value.is_array()) {
        std::string out = "[";
        for (size_t i = 0; i < value.size(); ++i) {
            out += (i == 0 ? "" : ", ") + JsonValue(value[i]);
        }
        return out + "]";
    }
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Writes an array one element a line: "[", then each element, then "]".
class JsonLines {
public:
    explicit JsonLines(std::string& out) : out_(out) { out_ += "["; }
    void Add(const nlohmann::ordered_json& element) {
        out_ += (count_++ == 0 ? "\n  " : ",\n  ") + JsonValue(element);
    }
    void End() { out_ += count_ > 0 ? "\n]\n" : "]\n"; }

private:
    std::string& out_;
    size_t count_ = 0;
};

// A recording time in the JSON output: seconds since 1970 UTC, 0 for none.
int64_t JsonDatestamp(qv::Datestamp d) { return d == -1 ? 0 : d; }

std::string ScenesJson(const qv::SceneList& scenes) {
    std::string out;
    JsonLines lines(out);
    for (int i = 0; i < scenes.Count(); ++i) {
        const qv::Scene& s = scenes[i];
        lines.Add({{"outputName", s.outputName},
                   {"sourceFile", s.sourceFile},
                   {"referencedFile", s.referencedFile},
                   {"nameSuffix", s.nameSuffix},
                   {"write", s.write},
                   {"wholeFile", s.wholeFile},
                   {"firstFrame", s.firstFrame},
                   {"frameCount", s.frameCount},
                   {"datestamp", s.datestamp},
                   {"startMark", qv::SceneStartName(s.start)}});
        if (s.health.counted) {
            // Only the thorough scan reads every frame, so only it tells the damage.
            const qv::SceneHealth& h = s.health;
            out.pop_back();  // the object's closing brace: the damage goes inside
            out += ", \"health\": " +
                   JsonValue({{"damagedFrames", h.damagedFrames},
                              {"concealedBlocks", h.concealedBlocks},
                              {"audioErrors", h.audioErrors},
                              {"repeatedFrames", h.repeatedFrames},
                              {"emptyFrames", h.emptyFrames},
                              {"longestRun", h.longestRun},
                              {"longestRunFirstFrame", h.longestRunFirst},
                              {"longestRunTime", qv::FormatFrameTime(h.longestRunFirst)}}) +
                   "}";
        }
    }
    lines.End();
    return out;
}

// What info tells of a file, with the names scan --json gives the same things.
nlohmann::ordered_json FileJson(const std::string& name, qv::AviReader& reader) {
    nlohmann::ordered_json streams = nlohmann::ordered_json::array();
    for (int i = 0; i < reader.StreamCount(); ++i) {
        qv::AviStream* s = reader.Stream(i);
        if (s == nullptr) {
            continue;
        }
        nlohmann::ordered_json stream = {{"type", qv::FourCCText(s->Type())}};
        if (const auto v = s->GetVideoFormat()) {
            stream["width"] = v->width;
            stream["height"] = v->height;
        }
        if (const auto a = s->GetAudioFormat()) {
            stream["bitsPerSample"] = a->bitsPerSample;
            stream["samplesPerSecond"] = a->samplesPerSec;
            stream["channels"] = a->channels;
        }
        streams.push_back(stream);
    }
    return {{"sourceFile", name},
            {"type", reader.Kind()},
            {"frameCount", reader.FrameCount()},
            {"framesPerSecond", reader.FramesPerSecond()},
            {"streams", streams},
            {"indexRebuilt", reader.IndexRebuilt() ? 1 : 0},
            {"endsWithPartialFrame", reader.EndsWithPartialFrame() ? 1 : 0}};
}

int Info(const std::vector<std::string>& args, bool json) {
    if (args.empty()) {
        return CommandUsage("info", "info needs at least one file");
    }
    int result = 0;
    std::string out;
    JsonLines lines(out);
    for (const std::string& name : args) {
        auto reader = OpenOrReport(name);
        if (!reader) {
            result = kExitFailure;
            continue;
        }
        if (json) {
            lines.Add(FileJson(name, *reader));
        } else {
            std::cout << reader->Describe() << "\n";
        }
    }
    if (json) {
        lines.End();
        std::cout << out << std::flush;
    }
    return std::cout ? result : kExitFailure;
}

struct DatestampsOptions {
    std::vector<std::string> files;
    std::optional<std::string> from, count;
    bool json = false;
};

int Datestamps(const DatestampsOptions& o) {
    int from = 0;
    int count = -1;
    for (const auto& [name, text, value] :
         {std::tuple{"--from", &o.from, &from}, std::tuple{"--count", &o.count, &count}}) {
        if (*text && !ParseCount((*text)->c_str(), value)) {
            return CommandUsage("datestamps", std::string(name) + " needs a number");
        }
    }
    if (o.files.size() > 1) {
        return CommandUsage("datestamps", "datestamps takes one file");
    }
    if (o.files.empty()) {
        return CommandUsage("datestamps", "datestamps needs a file");
    }
    const std::string& fileName = o.files[0];
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
    std::optional<JsonLines> lines;
    if (o.json) {
        lines.emplace(out);
    }
    for (int f = from; f < last; ++f) {
        int error = 0;
        qv::Datestamp d = qv::ReadFrameDatestamp(*video, f, cache, nullptr, &questions, &error);
        if (error != 0) {
            // What was read so far is printed; an unreadable frame is no "n/a".
            std::cout << out << std::flush;
            std::cerr << "quorvandel-cli: " << fileName << ": frame " << f << ": "
                      << qv::SystemErrorText(error) << "\n";
            return kExitFailure;
        }
        if (lines) {
            lines->Add({{"frame", f}, {"datestamp", JsonDatestamp(d)}});
        } else {
            out += std::to_string(f);
            out += '\t';
            // -1 is a recorded time the platform cannot represent: no date either.
            out += d != 0 && d != -1 ? qv::FormatLocalTime(d, "%Y-%m-%d %H:%M:%S") : "n/a";
            out += '\n';
        }
        if (out.size() > 1 << 16) {
            std::cout << out;
            out.clear();
        }
    }
    if (lines) {
        lines->End();
    }
    std::cout << out << std::flush;
    cache.Close();
    return std::cout ? 0 : kExitFailure;
}

struct CopyOptions {
    std::vector<std::string> files;
    std::optional<std::string> first, count;
    bool yes = false;
    bool ignoreAudioErrors = false;
    bool subtitles = false;
};

// Writes the subtitle file beside each of the videos that exists; false, after
// saying so, when one could not be written.
bool WriteSubtitles(const std::vector<std::string>& videos) {
    bool ok = true;
    for (const std::string& video : videos) {
        if (qv::InterruptSignal() != 0) {
            return false;
        }
        if (qv::FileExists(video) && !qv::WriteDatecodeSubtitles(video)) {
            std::cerr << "quorvandel-cli: " << qv::SubtitlePathOf(video)
                      << ": can't write the subtitles\n";
            ok = false;
        }
    }
    return ok;
}

int Copy(const CopyOptions& o) {
    int first = -1;
    int count = -1;
    for (const auto& [name, text, value] :
         {std::tuple{"--first", &o.first, &first}, std::tuple{"--count", &o.count, &count}}) {
        if (*text && !ParseCount((*text)->c_str(), value)) {
            return CommandUsage("copy", std::string(name) + " needs a number");
        }
    }
    const std::vector<std::string>& files = o.files;
    const bool ignoreAudioErrors = o.ignoreAudioErrors;
    const bool yes = o.yes;
    if (files.size() != 2 || first < 0 || count < 1) {
        return CommandUsage("copy",
                            "copy needs SOURCE, --first N, --count M (at least 1) and DEST");
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
    int error = 0;
    scene.datestamp =
        qv::ReadFrameDatestamp(*reader->Stream(0), first, cache, nullptr, &questions, &error);
    cache.Close();
    if (error != 0) {
        std::cerr << "quorvandel-cli: " << files[0] << ": " << qv::SystemErrorText(error) << "\n";
        return kExitFailure;
    }

    qv::ClipCopier copier(questions);
    copier.sourceReader = std::move(reader);
    copier.yesForAll = yes;
    const size_t bytes = qv::DefaultCopyBufferBytes();
    // Left uninitialised: pages are only taken as frames are read into them.
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(bytes);
    copier.copyBuffer = std::span<uint8_t>(buffer.get(), bytes);
    qv::QuietProgress progress;
    int framesDone = 0;
    if (copier.CopyScene(files[1], scene, progress, framesDone, 256) != 0) {
        return kExitFailure;
    }
    // Written whole, but without its date: said already, and not a success.
    const bool subtitled = !o.subtitles || WriteSubtitles({files[1]});
    return copier.timeErrors == 0 && subtitled ? 0 : kExitFailure;
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
    bool subtitles = false;
    std::vector<int> only;  // scene numbers from 1
    bool optical = false;
    bool thorough = false;  // every frame read; splits as the stored settings choose
    int sensitivity = -1;  // -1: the stored setting
    std::string opticalText;  // --optical's value as given; empty when not given
    std::optional<std::string> onlyText;
};

// Adds --only N,M,... to command.
void AddOnlyOption(CLI::App& command, std::optional<std::string>& text, const char* what) {
    command.add_option("--only", text, what)->option_text("N,M,...");
}

// Checks and converts the texts of the options of scan, split, list and bitmaps;
// an empty text on success.
std::string CheckSceneOptions(const std::string& command, SceneOptions& o) {
    if (o.onlyText && !ParseNumbers(*o.onlyText, 1, o.only)) {
        return "--only needs scene numbers from 1, separated by commas";
    }
    if (!o.opticalText.empty()) {
        const std::optional<int> sensitivity = qv::OpticalSensitivity(o.opticalText);
        if (!sensitivity) {
            return "--optical takes a sensitivity from 0 to 4";
        }
        o.optical = true;
        o.sensitivity = *sensitivity;
    }
    if (o.thorough && o.optical) {
        return "--thorough and --optical are two different scans: give one";
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

// Scans the files into model; false when the scan did not cover every file.
bool ScanInto(qv::MainWindowModel& model, qv::TerminalQuestions& questions,
              const SceneOptions& o) {
    for (const std::string& f : o.files) {
        if (!qv::FileExists(f)) {
            std::cerr << "quorvandel-cli: " << f << ": " << std::strerror(errno) << "\n";
            return false;
        }
        // A file of no kind that is read was refused with a message: nothing is done.
        if (!model.AddInput(f) && !qv::FileKindRefusal(f).empty()) {
            return false;
        }
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
    if (o.thorough) {
        qv::SettingsStore store(qv::SettingsStore::DefaultPath());
        qv::Settings stored;
        qv::LoadSettings(stored, store);
        model.settings.splitRecordingStarts = stored.splitRecordingStarts;
        model.settings.splitTimecodeBreaks = stored.splitTimecodeBreaks;
        model.settings.splitFormatChanges = stored.splitFormatChanges;
    }
    const bool ok = o.thorough ? model.ScanThoroughly(true) : model.ScanDatestamps(true);
    model.RemoveOverlaps();
    return ok && questions.errors == 0;
}

std::string Joined(const std::vector<std::string>& files) {
    std::string text;
    for (const std::string& f : files) {
        text += (text.empty() ? "" : ", ") + f;
    }
    return text.empty() ? "none" : text;
}

// One line at the end of a split: what was written where, what was deleted and kept.
void PrintRunSummary(const qv::MainWindowModel& model) {
    const qv::MainWindowModel::RunReport& r = model.lastRun;
    std::string folder = qv::SplitPath(model.outputPath).folder;
    std::cout << r.written << " of " << r.marked << " scenes written ("
              << r.bytes << " bytes) to " << (folder.empty() ? "./" : folder)
              << "; sources deleted: " << Joined(r.deleted) << "; kept: " << Joined(r.kept)
              << "\n";
}

int Scenes(const std::string& command, SceneOptions& o) {
    if (const std::string problem = CheckSceneOptions(command, o); !problem.empty()) {
        return CommandUsage(command, problem);
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
        // The list file keeps its columns; the thorough scan's damage goes to the terminal.
        for (int i = 0; i < model.scenes.Count(); ++i) {
            const qv::Scene& s = model.scenes[i];
            if (s.health.Damaged()) {
                std::cout << "scene " << i + 1 << " (" << s.sourceFile << " at "
                          << qv::FormatFrameTime(s.firstFrame) << "): " << qv::DamageText(s.health)
                          << "\n";
            }
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
    // The names the run is to write, taken before it.
    std::vector<std::string> subtitled;
    for (const qv::Scene& s : model.scenes) {
        if (o.subtitles && s.write != 0) {
            subtitled.push_back(s.outputName);
        }
    }
    model.rescanAfterWrite = false;  // its messages would come after the run's last
    const bool written = model.WriteRun(o.deleteSources);
    const bool subtitles = WriteSubtitles(subtitled);
    PrintRunSummary(model);
    return written && subtitles && questions.errors == 0 ? 0 : kExitFailure;
}

struct BitmapsOptions {
    SceneOptions scene;
    std::string base;
    std::optional<std::string> length, deinterlace, crop;
    bool yes = false;
};

// bitmaps: the middle frame of every chosen scene as a .bmp file.
int Bitmaps(BitmapsOptions& b) {
    SceneOptions& o = b.scene;
    std::string& base = b.base;
    qv::BitmapExportSettings settings;
    settings.selectedOnly = 0;
    auto usage = [](const std::string& problem) { return CommandUsage("bitmaps", problem); };
    if (b.length) {
        if (!ParseCount(b.length->c_str(), &settings.lengthSeconds)) {
            return usage("--length needs a number of seconds");
        }
        settings.useLength = 1;
    }
    if (b.deinterlace) {
        const std::string& v = *b.deinterlace;
        if (v != "none" && v != "even" && v != "odd") {
            return usage("--deinterlace takes none, even or odd");
        }
        settings.deinterlace = v == "none" ? 0 : v == "even" ? 1 : 2;
    }
    if (b.crop) {
        std::vector<int> numbers;
        if (!ParseNumbers(*b.crop, 0, numbers) || numbers.size() != 2) {
            return usage("--crop needs two numbers H,V");
        }
        settings.cropH = numbers[0];
        settings.cropV = numbers[1];
    }
    if (std::string problem = CheckSceneOptions("bitmaps", o); !problem.empty()) {
        return usage(problem);
    }
    if (base.empty() || qv::FileNameOf(base).empty()) {
        return usage("bitmaps needs -o BASE.bmp");
    }
    // As the window takes the name: the files are bitmaps, named so.
    base = qv::BitmapBasePath(base);
    o.yes = b.yes;
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

// A command of the program: its options, and its help as CommandFormatter writes it.
CLI::App* AddCommand(CLI::App& app, const char* name) {
    CLI::App* command = app.add_subcommand(name);
    command->option_defaults()->group("options");
    command->set_help_flag("-h,--help", "print this command's options");
    command->formatter(std::make_shared<CommandFormatter>());
    return command;
}

// The text of a problem CLI11 found in the command line.
std::string ParseProblem(const CLI::ParseError& e) {
    const std::string what = e.what();
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
        // "--only: 1 required TEXT missing"
        if (const size_t colon = what.find(':'); colon != std::string::npos) {
            return what.substr(0, colon) + " needs a value";
        }
    }
    return what;
}

// An option a command does not take, left over by CLI11; empty when there is none.
std::string UnknownOption(const CLI::App& command) {
    const std::vector<std::string> left = command.remaining();
    return left.empty() ? std::string() : "unknown option " + left.front();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage("");
    }
    const std::string first = argv[1];
    if (first == "help") {
        std::cout << "quorvandel-cli " << qv::kProgramVersion << "\n\n" << UsageText();
        return 0;
    }

    CLI::App app("", "quorvandel-cli");
    app.set_help_flag();
    app.allow_extras();  // unknown options and commands are reported as before
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.require_subcommand(0, 1);
    bool help = false;
    bool version = false;
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);

    std::vector<std::string> infoFiles;
    CLI::App* info = AddCommand(app, "info");
    bool infoJson = false;
    info->add_option("FILE", infoFiles);
    info->add_flag("--json", infoJson, "describe the files as JSON");

    DatestampsOptions datestamps;
    CLI::App* datestampsCommand = AddCommand(app, "datestamps");
    datestampsCommand->add_option("FILE", datestamps.files);
    datestampsCommand->add_option("--from", datestamps.from, "the first frame (from 0)")
        ->type_name("N");
    datestampsCommand->add_option("--count", datestamps.count, "at most M frames")
        ->type_name("M");
    datestampsCommand->add_flag("--json", datestamps.json, "print the frames as JSON");

    CopyOptions copy;
    CLI::App* copyCommand = AddCommand(app, "copy");
    copyCommand->add_option("SOURCE DEST", copy.files);
    copyCommand->add_option("--first", copy.first, "the first frame to copy (from 0); required")
        ->type_name("N");
    copyCommand->add_option("--count", copy.count, "how many frames (at least 1); required")
        ->type_name("M");
    copyCommand->add_flag("--yes", copy.yes, "overwrite an existing DEST without asking");
    copyCommand->add_flag("--ignore-audio-errors", copy.ignoreAudioErrors,
                          "write audio that cannot be read as silence");
    copyCommand->add_flag("--subtitles", copy.subtitles,
                          "write DEST's recording times beside it as subtitles (.srt)");

    // scan, split and list share their scan options.
    SceneOptions scan, split, list;
    CLI::App* scanCommand = AddCommand(app, "scan");
    CLI::App* splitCommand = AddCommand(app, "split");
    CLI::App* listCommand = AddCommand(app, "list");
    for (auto [command, o] : {std::pair{scanCommand, &scan}, std::pair{splitCommand, &split},
                              std::pair{listCommand, &list}}) {
        command->add_option("FILE", o->files);
        if (command == scanCommand) {
            qv::AddOpticalOption(*command, o->opticalText);
        }
        {
            command->add_flag("--thorough", o->thorough,
                              "read every frame: scenes also at recording starts, timecode "
                              "breaks and format changes");
        }
        command->add_flag("--remove-overlaps", o->removeOverlaps,
                          "drop scenes captured twice (in two files)");
        command->add_option("--output", o->output,
                            command == splitCommand ? "the base of the output names; required"
                                                    : "the base of the output names")
            ->type_name("PATH");
        command->add_flag("--skip-undated", o->skipUndated,
                          "mark undated scenes as not to be written");
    }
    scanCommand->add_flag("--json", scan.json, "print the scene list as JSON");
    listCommand->add_option("-o", list.listFile, "the text file to save the list in; required")
        ->type_name("LIST.txt");
    AddOnlyOption(*splitCommand, split.onlyText, "write just the scenes of those numbers (from 1)");
    splitCommand->add_flag("--delete-sources", split.deleteSources,
                           "delete each source once all its scenes are written");
    splitCommand->add_flag("--delete-unwritten", split.deleteUnwritten,
                           "delete too sources with scenes left unwritten");
    splitCommand->add_flag("--yes", split.yes,
                           "overwrite and delete without asking");
    splitCommand->add_flag("--ignore-audio-errors", split.ignoreAudioErrors,
                           "write audio that cannot be read as silence");
    splitCommand->add_flag("--subtitles", split.subtitles,
                           "write each output's recording times beside it as subtitles (.srt)");

    BitmapsOptions bitmaps;
    CLI::App* bitmapsCommand = AddCommand(app, "bitmaps");
    bitmapsCommand->add_option("FILE", bitmaps.scene.files);
    bitmapsCommand->add_option("-o", bitmaps.base,
                               "the base of the bitmaps' names; required")
        ->type_name("BASE.bmp");
    bitmapsCommand->add_option("--output", bitmaps.scene.output,
                               "the base of the scenes' output names")
        ->type_name("PATH");
    qv::AddOpticalOption(*bitmapsCommand, bitmaps.scene.opticalText);
    AddOnlyOption(*bitmapsCommand, bitmaps.scene.onlyText,
                  "just the scenes of those numbers (from 1)");
    bitmapsCommand->add_option("--length", bitmaps.length,
                               "just the scenes within 2 s of this length")
        ->type_name("SECONDS");
    bitmapsCommand->add_option("--deinterlace", bitmaps.deinterlace,
                               "keep both fields, the even or the odd one")
        ->type_name("none|even|odd");
    bitmapsCommand->add_option("--crop", bitmaps.crop,
                               "cut H pixels at each side, V lines at top and bottom")
        ->type_name("H,V");
    bitmapsCommand->add_flag("--yes", bitmaps.yes, "replace files that are not bitmaps");

#ifdef QV_CLI_SHEET
    qv::SheetOptions sheet;
    CLI::App* sheetCommand = AddCommand(app, "sheet");
    qv::AddSheetOptions(*sheetCommand, sheet);
    qv::ReportOptions report;
    CLI::App* reportCommand = AddCommand(app, "report");
    qv::AddReportOptions(*reportCommand, report);
#endif

    // The command CLI11 went into, or null.
    auto chosen = [&app]() -> CLI::App* {
        const std::vector<CLI::App*> commands = app.get_subcommands();
        return commands.empty() ? nullptr : commands.front();
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        CLI::App* command = chosen();
        std::cout << (command != nullptr ? command->help() : UsageText());
        return 0;
    } catch (const CLI::ParseError& e) {
        CLI::App* command = chosen();
        return command != nullptr ? CommandUsage(command->get_name(), ParseProblem(e))
                                  : Usage(ParseProblem(e));
    }
    CLI::App* command = chosen();
    if (command == nullptr) {
        const std::vector<std::string> left = app.remaining();
        if (!left.empty() && version) {
            return Usage("--version takes no arguments");
        }
        if (!left.empty()) {
            return Usage((left.front()[0] == '-' ? "unknown option " : "unknown command ") +
                         left.front());
        }
        if (help && !version) {
            std::cout << "quorvandel-cli " << qv::kProgramVersion << "\n\n" << UsageText();
            return 0;
        }
        if (version && !help) {
            std::cout << "quorvandel-cli (" << qv::kProgramName << ") " << qv::kProgramVersion
                      << "\n";
            return 0;
        }
        return Usage("--version and --help go alone");
    }
    const std::string name = command->get_name();
    if (help) {
        std::cout << command->help();
        return 0;
    }
    if (version) {
        return CommandUsage(name, "--version goes alone");
    }
    if (const std::string problem = UnknownOption(*command); !problem.empty()) {
        return CommandUsage(name, problem);
    }
    if (command == info) {
        return Info(infoFiles, infoJson);
    }
    if (command == datestampsCommand) {
        return Datestamps(datestamps);
    }
    if (command == scanCommand) {
        return Scenes("scan", scan);
    }
    if (command == listCommand) {
        return Scenes("list", list);
    }
    // These write files: an interrupt ends them cleanly (see CatchInterrupts).
    qv::CatchInterrupts();
    int result = 0;
#ifdef QV_CLI_SHEET
    if (command == reportCommand) {
        return qv::ReportCommand(report, CommandUsage);
    }
    if (command == sheetCommand) {
        result = qv::SheetCommand(
            sheet, [](const std::string& problem) { return CommandUsage("sheet", problem); });
    } else
#endif
    {
        result = command == copyCommand      ? Copy(copy)
                 : command == bitmapsCommand ? Bitmaps(bitmaps)
                                             : Scenes("split", split);
    }
    if (const int signo = qv::InterruptSignal(); signo != 0) {
        std::cerr << "quorvandel-cli: interrupted by " << strsignal(signo) << "\n";
        return 128 + signo;
    }
    return result;
}
