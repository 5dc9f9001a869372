#include "cli/Terminal.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "platform/Platform.h"

namespace qv {

namespace {

// Written only by the handler, which does nothing else: async-signal-safe.
volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void OnInterrupt(int signo) {
    if (interruptSignal == 0) {
        interruptSignal = signo;
    }
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool IsFailureMessage(const std::string& text) {
    return text.find("error") != std::string::npos || text.find("can't") != std::string::npos ||
           text.find("Can't") != std::string::npos || text.find("not ") != std::string::npos ||
           text.find("too long") != std::string::npos || text.find("changed") != std::string::npos;
}

}  // namespace

void CatchInterrupts() {
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(signo, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;  // started with it ignored (nohup, a background job): keep it so
        }
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        // No SA_RESTART: a question waiting on the terminal ends with the signal. File
        // reads and writes go on after EINTR by themselves.
        action.sa_flags = 0;
        ::sigaction(signo, &action, nullptr);
    }
}

int InterruptSignal() {
    return interruptSignal;
}

std::string TerminalQuestions::Prompt(const char* choices) {
    std::cerr << choices << std::flush;
    std::string reply;
    std::getline(std::cin, reply);
    return reply;
}

Answer TerminalQuestions::Ask(const std::string& text, Buttons buttons, const std::string&) {
    // Lines after the first (a file and its reason, a list of files) are indented.
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        shown += text[i] == '\n' || text[i] == '\r' ? std::string("\n  ") : std::string(1, text[i]);
    }
    for (size_t blank; (blank = shown.find("\n  \n")) != std::string::npos;) {
        shown.erase(blank + 1, 2);  // an empty line stays empty
    }
    std::cerr << "\rquorvandel-cli: " << shown;
    if (InterruptSignal() != 0) {
        // The interrupt has answered already: stop, and change nothing more.
        const bool abort = StartsWith(text, "do you want to abort?");
        std::cerr << (abort ? " (yes, interrupted)\n" : " (interrupted)\n");
        switch (buttons) {
            case Buttons::Ok: return Answer::Ok;
            case Buttons::OkCancel: return Answer::Cancel;
            case Buttons::YesYesForAllAbort: return Answer::Abort;
            default: return abort ? Answer::Yes : Answer::No;
        }
    }
    const bool interactive = ::isatty(STDIN_FILENO) != 0;
    switch (buttons) {
        case Buttons::Ok:
            std::cerr << "\n";
            if (IsFailureMessage(text)) {
                ++errors;
            }
            return Answer::Ok;
        case Buttons::OkCancel:
            if (StartsWith(text, "Please Note: 'optical'")) {
                std::cerr << " (ok, --optical)\n";
                return Answer::Ok;
            }
            // A file that cannot be read: the batch goes on with the next one.
            std::cerr << " (skipped)\n";
            ++errors;
            return Answer::Ok;
        case Buttons::YesYesForAllAbort:
            if (yes) {
                std::cerr << " (yes, --yes)\n";
                return Answer::YesForAll;
            }
            if (interactive) {
                std::string reply = Prompt(" [y]es, yes for [a]ll, [N]o: ");
                if (reply == "y" || reply == "yes") {
                    return Answer::Yes;
                }
                if (reply == "a" || reply == "all") {
                    return Answer::YesForAll;
                }
            } else {
                std::cerr << " (no terminal to ask: not overwritten; --yes overwrites)\n";
            }
            return Answer::Abort;
        default:
            if (StartsWith(text, "There are overlapping scenes")) {
                std::cerr << (removeOverlaps ? " (yes, --remove-overlaps)\n"
                                             : " (no; --remove-overlaps removes them)\n");
                return removeOverlaps ? Answer::Yes : Answer::No;
            }
            if (StartsWith(text, "These source files hold frames")) {
                // --yes answers the deletion of sources, never that of unwritten frames.
                if (deleteUnwritten) {
                    std::cerr << " (yes, --delete-unwritten)\n";
                    return Answer::Yes;
                }
                if (!interactive) {
                    std::cerr << " (no: these files are kept; --delete-unwritten deletes them)\n";
                    return Answer::No;
                }
            }
            if (StartsWith(text, "there was an error reading the audio stream")) {
                if (ignoreAudioErrors) {
                    std::cerr << " (yes, --ignore-audio-errors)\n";
                    return Answer::Yes;
                }
                if (!interactive) {
                    std::cerr << " (no; --ignore-audio-errors writes silence instead)\n";
                    return Answer::No;
                }
            }
            if ((StartsWith(text, "To save diskspace") ||
                 StartsWith(text, "Replace this file, which is not a bitmap")) &&
                yes) {
                std::cerr << " (yes, --yes)\n";
                return Answer::Yes;
            }
            if (interactive && Prompt(" [y/N]: ") == "y") {
                return Answer::Yes;
            }
            if (!interactive) {
                std::cerr << " (no)\n";
            }
            return Answer::No;
    }
}

TerminalProgress::TerminalProgress(std::string title)
    : title_(std::move(title)), interactive_(::isatty(STDERR_FILENO) != 0) {
    startTick_ = TickCount();
}

TerminalProgress::~TerminalProgress() {
    if (interactive_ && shown_) {
        std::cerr << "\n";
    }
}

void TerminalProgress::SetRange(int low, int high) {
    low_ = low;
    high_ = high > low ? high : low + 1;
}

void TerminalProgress::SetText(const std::string& text) {
    text_ = text;
    Show(false);
}

int TerminalProgress::SetPosition(int position, const std::string&, AviStream*, int) {
    const int previous = position_;
    if (position >= 0) {
        position_ = position;
        Show(false);
    }
    return previous;
}

void TerminalProgress::Show(bool force) {
    const uint32_t now = TickCount();
    const int percent = static_cast<int>(100LL * (position_ - low_) / (high_ - low_));
    if (!interactive_) {
        // A log gets the commands' own lines only: a percentage written once would
        // stand there stale, and the scans know no end to count towards.
        return;
    }
    if (!force && now - lastShownTick_ < 200 && percent == lastShownPercent_) {
        return;
    }
    lastShownTick_ = now;
    lastShownPercent_ = percent;
    const int width = 30;
    const int filled = std::max(0, std::min(width, percent * width / 100));
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(width, ' ');
    char left[64] = "";
    const uint32_t elapsed = now - startTick_;
    if (percent > 0 && percent < 100 && elapsed > 2000) {
        const auto seconds = static_cast<unsigned>(static_cast<uint64_t>(elapsed) *
                                                   static_cast<uint64_t>(100 - percent) /
                                                   static_cast<uint64_t>(percent) / 1000);
        std::snprintf(left, sizeof left, " (%u:%02u left)", seconds / 60, seconds % 60);
    }
    std::string line = title_ + " [" + bar + "] " + std::to_string(percent) + "%" + left + " " + text_;
    if (line.size() > 120) {
        line.resize(120);
    }
    std::cerr << "\r" << line << "\x1b[K" << std::flush;
    shown_ = true;
}

}  // namespace qv
