#include "cli/Report.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>

#include "app/MainView.h"
#include "app/MainWindowModel.h"
#include "avi/AviReader.h"
#include "cli/Terminal.h"
#include "clipsheet/TapeMap.h"
#include "dv/PictureDecoder.h"
#include "dv/TapeHealth.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "progress/PictureImages.h"

namespace qv {

const char kReportUsage[] =
    "  report FILE... -o NAME.png|.svg|.html|.json\n"
    "                                        read every frame, as scan --thorough does, and\n"
    "                                        save the tape's damage: a map of each file (PNG,\n"
    "                                        SVG), a page with the map, the scenes and the\n"
    "                                        totals (HTML), or every damaged frame (JSON)\n";

namespace {

constexpr int kExitFailure = 1;
constexpr int kThumbWidth = 96;
constexpr int kThumbHeight = 72;

class ReportView : public HeadlessView {
  public:
    std::unique_ptr<Progress> OpenProgress(const std::string& title) override {
        return std::make_unique<TerminalProgress>(title);
    }
};

std::string Extension(const std::string& name) {
    const size_t dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (char& c : ext) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ext;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    }
    return out;
}

QByteArray Png(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

nlohmann::ordered_json HealthJson(const SceneHealth& h) {
    return {{"damagedFrames", h.damagedFrames},     {"concealedBlocks", h.concealedBlocks},
            {"audioErrors", h.audioErrors},         {"repeatedFrames", h.repeatedFrames},
            {"emptyFrames", h.emptyFrames},         {"longestRun", h.longestRun},
            {"longestRunFirstFrame", h.longestRunFirst},
            {"longestRunTime", FormatFrameTime(h.longestRunFirst)}};
}

std::string Json(const std::vector<TapeMapFile>& files) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const TapeMapFile& f : files) {
        nlohmann::ordered_json scenes = nlohmann::ordered_json::array();
        SceneHealth total;
        for (const Scene* s : f.scenes) {
            nlohmann::ordered_json frames = nlohmann::ordered_json::array();
            for (const FrameDamage& d : s->health.frames) {
                total.Add(d);
                frames.push_back({{"frame", d.frame},
                                  {"concealedBlocks", d.concealedBlocks},
                                  {"audioErrors", d.audioErrors},
                                  {"repeated", (d.flags & FrameDamage::kRepeated) != 0},
                                  {"empty", (d.flags & FrameDamage::kEmpty) != 0},
                                  {"lost", d.LostShare()}});
            }
            nlohmann::ordered_json scene = {{"firstFrame", s->firstFrame},
                                            {"frameCount", s->frameCount},
                                            {"startTime", FormatFrameTime(s->firstFrame)},
                                            {"datestamp", s->datestamp},
                                            {"startMark", SceneStartName(s->start)}};
            scene["health"] = HealthJson(s->health);
            scene["damagedFrames"] = frames;
            scenes.push_back(scene);
        }
        out.push_back({{"sourceFile", f.name},
                       {"frames", f.frames},
                       {"health", HealthJson(total)},
                       {"scenes", scenes}});
    }
    return out.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

// The first picture of scene, small, as a PNG; empty when it cannot be decoded.
QByteArray FirstPicture(const Scene& s, PictureDecoder& decoder,
                        std::unique_ptr<AviReader>& reader) {
    if (!reader || decoder.FileName() != s.sourceFile) {
        decoder.Detach();
        reader = OpenAviFile(s.sourceFile);
    }
    AviStream* stream = reader && reader->StreamCount() > 0 ? reader->Stream(0) : nullptr;
    if (stream == nullptr || !decoder.Attach(s.sourceFile, stream, 0)) {
        return {};
    }
    const QImage image = ImageOf(RenderFrame(decoder, s.firstFrame, kThumbWidth, kThumbHeight, false));
    return image.isNull() ? QByteArray() : Png(image);
}

std::string Html(const std::vector<TapeMapFile>& files) {
    std::string out =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Tape damage</title>\n"
        "<style>body{font-family:DejaVu Sans,sans-serif;margin:16px}"
        "table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:3px 8px;"
        "text-align:left}tr.damaged td{background:#fde8e8}svg{max-width:100%;height:auto}</style></head><body>\n"
        "<h1>Tape damage</h1>\n<div class=\"map\">\n" +
        TapeMapSvg(files) + "</div>\n";
    PictureDecoder decoder;
    std::unique_ptr<AviReader> reader;
    int number = 0;
    for (const TapeMapFile& f : files) {
        SceneHealth total;
        for (const Scene* s : f.scenes) {
            for (const FrameDamage& d : s->health.frames) {
                total.Add(d);
            }
        }
        out += "<h2>" + Escaped(f.name) + "</h2>\n<p class=\"totals\">" +
               std::to_string(f.scenes.size()) + " scenes, " + FormatFrameTime(f.frames) + " (" +
               std::to_string(f.frames) + " frames); " + Escaped(DamageText(total)) + "</p>\n" +
               "<table>\n<tr><th>#</th><th>first picture</th><th>start</th><th>length</th>"
               "<th>begun by</th><th>damage</th></tr>\n";
        for (const Scene* s : f.scenes) {
            ++number;
            const QByteArray png = FirstPicture(*s, decoder, reader);
            const std::string picture =
                png.isEmpty() ? std::string()
                              : "<img width=\"" + std::to_string(kThumbWidth) + "\" height=\"" +
                                    std::to_string(kThumbHeight) + "\" src=\"data:image/png;base64," +
                                    png.toBase64().toStdString() + "\">";
            out += std::string("<tr") + (s->health.Damaged() ? " class=\"damaged\"" : "") +
                   "><td>" + std::to_string(number) + "</td><td>" + picture + "</td><td>" +
                   FormatFrameTime(s->firstFrame) + "</td><td>" + FormatFrameTime(s->frameCount) +
                   "</td><td>" + SceneStartName(s->start) + "</td><td>" +
                   Escaped(DamageText(s->health)) + "</td></tr>\n";
        }
        out += "</table>\n";
    }
    decoder.Detach();
    return out + "</body></html>\n";
}

}  // namespace

void AddReportOptions(CLI::App& command, ReportOptions& o) {
    command.add_option("FILE", o.files);
    command.add_option("-o", o.out, "the file to save the report in; required")
        ->type_name("NAME.png|.svg|.html|.json");
}

int ReportCommand(const ReportOptions& o, int (*usage)(const std::string&, const std::string&)) {
    const std::string ext = Extension(o.out);
    if (o.files.empty()) {
        return usage("report", "report needs at least one file");
    }
    if (o.out.empty() || (ext != "png" && ext != "svg" && ext != "html" && ext != "json")) {
        return usage("report", "report needs -o NAME.png, .svg, .html or .json");
    }
    for (const std::string& f : o.files) {
        if (!FileExists(f)) {
            std::cerr << "quorvandel-cli: " << f << ": " << std::strerror(errno) << "\n";
            return kExitFailure;
        }
        if (SameFile(f, o.out)) {
            std::cerr << "quorvandel-cli: " << o.out << " is an input file; it is not written\n";
            return kExitFailure;
        }
    }
    TerminalQuestions questions;
    ReportView view;
    MainWindowModel model(questions, view, nullptr);
    for (const std::string& f : o.files) {
        if (!model.AddInput(f) && !FileKindRefusal(f).empty()) {
            return kExitFailure;
        }
    }
    if (!model.ScanThoroughly(true) || questions.errors != 0) {
        std::cerr << "quorvandel-cli: not every file could be scanned; no report is saved\n";
        return kExitFailure;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");  // Qt draws without a display
    }
    int argc = 1;
    char name[] = "quorvandel-cli";
    char* argv[] = {name, nullptr};
    QGuiApplication application(argc, argv);

    const std::vector<TapeMapFile> files = TapeMapFiles(model.scenes);
    std::string bytes;
    if (ext == "png") {
        const QByteArray png = Png(TapeMapImage(files));
        bytes.assign(png.constData(), static_cast<size_t>(png.size()));
    } else if (ext == "svg") {
        bytes = TapeMapSvg(files);
    } else if (ext == "html") {
        bytes = Html(files);
    } else {
        bytes = Json(files);
    }
    // Written beside its final name, flushed, and renamed into place when complete.
    const std::string temporary = o.out + ".part";
    RemoveFile(temporary);  // a leftover of a run that was killed
    File file;
    int error = 0;
    bool written = file.CreateNew(temporary) &&
                   file.WriteAt(0, bytes.data(), static_cast<int64_t>(bytes.size())) ==
                       static_cast<int64_t>(bytes.size()) &&
                   file.Flush();
    if (!written) {
        error = file.LastError();
    }
    file.Close();
    int timeError = 0;
    if (!PutInPlace(written, temporary, o.out, 0, &error, &timeError)) {
        std::cerr << "quorvandel-cli: " << o.out << ": can't write the file\n"
                  << o.out << ": " << SystemErrorText(error) << "\n";
        return kExitFailure;
    }
    int damaged = 0;
    for (const Scene& s : model.scenes) {
        damaged += s.health.Damaged() ? 1 : 0;
    }
    std::cout << o.out << ": " << model.scenes.Count() << " scenes, " << damaged << " damaged\n";
    return 0;
}

}  // namespace qv
