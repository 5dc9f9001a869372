// quorvandel-cli: the program's work from a terminal, for batches and scripts.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "avi/AviReader.h"
#include "avi/ClipCopier.h"
#include "dv/Datestamp.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "platform/Questions.h"

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
    "  copy SOURCE --first N --count M DEST [--yes]\n"
    "                                        copy frames N..N+M-1 with their audio into DEST;\n"
    "                                        --yes overwrites an existing DEST without asking\n";

int Usage(const std::string& problem) {
    if (!problem.empty()) {
        std::cerr << "quorvandel-cli: " << problem << "\n";
    }
    std::cerr << kUsage;
    return kExitUsage;
}

// Messages go to stderr. Questions are asked on the terminal when there is one;
// without one, the answer is the one that stops or changes nothing.
class TerminalQuestions : public qv::Questions {
public:
    qv::Answer Ask(const std::string& text, qv::Buttons buttons, const std::string&) override {
        std::string oneLine = text;
        for (char& c : oneLine) {
            if (c == '\r' || c == '\n') {
                c = ' ';
            }
        }
        std::cerr << "quorvandel-cli: " << oneLine;
        const bool interactive = ::isatty(STDIN_FILENO) != 0;
        switch (buttons) {
            case qv::Buttons::Ok:
                std::cerr << "\n";
                return qv::Answer::Ok;
            case qv::Buttons::OkCancel:
                std::cerr << "\n";
                return qv::Answer::Cancel;
            case qv::Buttons::YesYesForAllAbort:
                if (interactive) {
                    std::string reply = Prompt(" [y]es, yes for [a]ll, [N]o: ");
                    if (reply == "y" || reply == "yes") {
                        return qv::Answer::Yes;
                    }
                    if (reply == "a" || reply == "all") {
                        return qv::Answer::YesForAll;
                    }
                } else {
                    std::cerr << " (no terminal to ask: not overwritten; --yes overwrites)\n";
                }
                return qv::Answer::Abort;
            default:
                if (interactive && Prompt(" [y/N]: ") == "y") {
                    return qv::Answer::Yes;
                }
                if (!interactive) {
                    std::cerr << " (no)\n";
                }
                return qv::Answer::No;
        }
    }

private:
    static std::string Prompt(const char* choices) {
        std::cerr << choices << std::flush;
        std::string reply;
        std::getline(std::cin, reply);
        return reply;
    }
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
    TerminalQuestions questions;
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
    TerminalQuestions questions;
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
    // Batches of 32 MiB keep reads and writes sequential; larger buffers only cost
    // page faults and cache misses.
    const size_t bytes = std::min<uint64_t>(qv::PhysicalMemory() / 4, uint64_t{32} << 20);
    // Left uninitialised: pages are only taken as frames are read into them.
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(bytes);
    copier.copyBuffer = std::span<uint8_t>(buffer.get(), bytes);
    qv::SilentProgress progress;
    int framesDone = 0;
    return copier.CopyScene(files[1], scene, progress, framesDone, 256) == 0 ? 0 : kExitFailure;
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
    if (command == "copy") {
        return Copy(args);
    }
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    return Usage("unknown command " + command);
}
