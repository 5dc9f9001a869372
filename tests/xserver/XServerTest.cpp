// The real program in a real X server, as a user meets it: Xvfb with a window
// manager (window decorations, focus, placement), the program started with its
// inputs in the settings file, "Scan Datestamps" and "WriteScenes" pressed with
// the keyboard through xdotool, the outputs checked with ffprobe, and
// screenshots of the screen taken with ffmpeg. With QV_SCREENSHOT_DIR set the
// screenshots are kept there (that is how docs/screenshots is made).
//
// Skipped, saying why, where Xvfb, the window manager, xdotool or ffmpeg is
// missing or no X server starts.

#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/AviFixture.h"
#include "support/DvPictures.h"
#include "support/Ffmpeg.h"
#include "support/Tapes.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using qvtest::Quote;

std::string Shell(const std::string& command) {
    return qvtest::RunShell(command).output;
}

// Polls until ready() or the time is up.
bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
    for (const auto end = std::chrono::steady_clock::now() + limit; !ready();
         std::this_thread::sleep_for(50ms)) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
    }
    return true;
}

// Starts a shell command line (which does its own output redirections) with the
// test's environment: its pid, or -1.
pid_t Start(const std::string& command) {
    std::string line = "exec " + command + " </dev/null";
    char sh[] = "sh", c[] = "-c";
    char* argv[] = {sh, c, line.data(), nullptr};
    pid_t pid = -1;
    return posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

// A tape of recordings {frames, start, colour}, each frame a real DV board of
// the recording's colour and grey that moves 8 pixels a frame.
void MakeTape(const std::string& path,
              const std::vector<std::tuple<int, qvtest::DvTime, qvtest::Rgb>>& recordings) {
    const qvtest::FixtureOptions options;
    std::vector<qvtest::FixtureFrame> frames;
    for (const auto& [count, start, colour] : recordings) {
        auto recording = qvtest::MakeFrames(options, count, start);
        for (int f = 0; f < count; ++f) {
            recording[f].video = qvtest::EncodeDvPicture(true, [&, c = colour](int x, int y) {
                return ((x + f * 8) / 90 + y / 96) % 2 == 0 ? c : qvtest::Rgb{60, 60, 60};
            });
            qvtest::SetDvTime(recording[f].video, qvtest::Plus(start, f / 25));
            frames.push_back(recording[f]);
        }
    }
    ASSERT_TRUE(qvtest::WriteFixtureAvi(path, options, frames)) << path;
}

class XServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string missing = Shell(
            "for t in Xvfb openbox xdotool xwininfo ffmpeg ffprobe; do command -v $t >/dev/null "
            "|| printf '%s ' $t; done");
        if (!missing.empty()) {
            GTEST_SKIP() << "not installed: " << missing << "(scripts/setup.sh installs them)";
        }
        // Xvfb picks a free display and writes its number when it is ready.
        const std::string number = dir_.Path("display"), log = dir_.Path("xvfb.log");
        started_.push_back(
            Start("Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp -noreset 3>" +
                  Quote(number) + " >" + Quote(log) + " 2>&1"));
        WaitFor([&] { return qvtest::ReadFileText(number).find('\n') != std::string::npos; }, 5s);
        std::istringstream(qvtest::ReadFileText(number)) >> display_;
        if (display_.empty()) {
            GTEST_SKIP() << "no X server could be started: " << qvtest::ReadFileText(log).substr(0, 300);
        }
        display_ = ":" + display_;
        ::setenv("DISPLAY", display_.c_str(), 1);
        started_.push_back(Start("openbox >" + Quote(dir_.Path("openbox.log")) + " 2>&1"));
        // The window manager is up when it answers for the desktops.
        ASSERT_TRUE(
            WaitFor([&] { return !Shell("xdotool get_num_desktops 2>/dev/null").empty(); }, 5s))
            << "the window manager did not start";
    }

    // What the test started stopped by their pids, the last first.
    void TearDown() override {
        for (auto pid = started_.rbegin(); pid != started_.rend(); ++pid) {
            if (*pid > 0) {
                ::kill(*pid, SIGTERM);
                ::waitpid(*pid, nullptr, 0);
            }
        }
    }

    // The id of the visible window whose whole title is title, waiting for it.
    std::string Window(const std::string& title, std::chrono::milliseconds limit = 10s) {
        std::string id;
        WaitFor([&] { return static_cast<bool>(std::istringstream(Find(title)) >> id); }, limit);
        return id;
    }
    std::string Find(const std::string& title) {
        return Shell("xdotool search --onlyvisible --name " + Quote("^" + title + "$") +
                     " 2>/dev/null");
    }
    bool Gone(const std::string& title, std::chrono::milliseconds limit) {
        return WaitFor([&] { return Find(title).empty(); }, limit);
    }
    // Keys typed into the window that has the focus.
    void Keys(const std::string& keys) { Shell("xdotool key --delay 40 " + keys); }

    // A PNG of the screen where window id is with the window manager's frame (its
    // parent) and what is in front of it, named name: kept in QV_SCREENSHOT_DIR when set.
    void Screenshot(const std::string& name, const std::string& id) {
        const char* keep = std::getenv("QV_SCREENSHOT_DIR");
        const std::string png =
            (keep != nullptr ? std::string(keep) : dir_.Dir().string()) + "/" + name + ".png";
        Shell("set -- $(xwininfo -id $(xwininfo -tree -id " + id +
              " | awk '/Parent window id/ {print $4}') | awk -F: '/Absolute upper-left [XY]|Width|"
              "Height/ {print $2}'); ffmpeg -loglevel error -y -f x11grab -video_size ${3}x$4 -i " +
              display_ + "+$1,$2 -draw_mouse 0 -frames:v 1 " + Quote(png) + " </dev/null");
        EXPECT_TRUE(std::filesystem::exists(png)) << png;
    }

    qvtest::TempDir dir_;
    std::vector<pid_t> started_;  // Xvfb, the window manager, the program
    std::string display_;
};

TEST_F(XServerTest, ScanAndWriteByKeyboardInTheRealProgram) {
    // Two tapes: two recordings on the first, one on the second.
    const std::string tape1 = dir_.Path("tape1.avi"), tape2 = dir_.Path("tape2.avi");
    MakeTape(tape1, {{40, {2004, 7, 14, 10, 20, 30}, {200, 60, 40}},
                     {30, {2004, 7, 14, 15, 2, 0}, {40, 150, 70}}});
    MakeTape(tape2, {{35, {2004, 7, 15, 9, 45, 12}, {50, 80, 200}}});
    std::filesystem::create_directory(dir_.Path("scenes"));
    const std::string settings = dir_.Path("quorvandel.reg");
    std::ofstream(settings, std::ios::binary)
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]\r\n"
           "\"ran\"=dword:00000002\r\n\"Files\"=dword:00000002\r\n"
        << "\"output\"=\"" << dir_.Path("scenes/holiday.avi") << "\"\r\n\"input0\"=\"" << tape2
        << "\"\r\n\"input1\"=\"" << tape1 << "\"\r\n";

    const std::string log = dir_.Path("program.log");
    const std::string program = "env QUORVANDEL_SETTINGS=" + Quote(settings) +
                                " TZ=UTC QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 " +
                                Quote(QV_PROGRAM_PATH) + " >>" + Quote(log) + " 2>&1";
    started_.push_back(Start(program));
    const std::string main = Window("Quorvandel\\+");
    ASSERT_FALSE(main.empty()) << "the main window did not appear";
    Shell("xdotool windowactivate --sync " + main);
    // The pointer out of the pictures, at the screen's bottom right (Xvfb draws it).
    Shell("xdotool mousemove 1279 899");

    // The focus starts in the input list: four tabs reach "Scan Datestamps".
    Keys("Tab Tab Tab Tab space");
    ASSERT_TRUE(Gone("Scanning\\.\\.\\.", 20s));
    std::this_thread::sleep_for(500ms);  // the picture strip of the first scene
    Screenshot("main-window", main);
    // Eleven more (past "Scan Thoroughly") reach "WriteScenes".
    Keys("Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab space");
    ASSERT_FALSE(Window("Quorvandel", 30s).empty()) << "no message after the write run";
    Screenshot("progress-dialog", Window("writing clips\\.\\.\\."));
    Keys("Return");  // OK of "completed successfully!"
    ASSERT_TRUE(Gone("writing clips\\.\\.\\.", 10s));

    // The button after "WriteScenes" is "Options...".
    Keys("Tab space");
    const std::string options = Window("Options");
    ASSERT_FALSE(options.empty()) << "no options dialog";
    Screenshot("options-dialog", options);
    Keys("Escape");
    ASSERT_TRUE(Gone("Options", 5s));

    // Moved and made larger, the window is where and as large as it was the next time.
    Shell("xdotool windowactivate --sync " + main + " windowsize --sync " + main +
          " 1000 720 windowmove --sync " + main + " 60 40");
    const std::string placed = Shell("xdotool getwindowgeometry " + main + " | tail -n +2");
    Keys("Escape");  // closes the main window and ends the program
    int status = -1;
    ASSERT_TRUE(WaitFor([&] { return ::waitpid(started_.back(), &status, WNOHANG) > 0; }, 10s))
        << "the program did not end";
    started_.back() = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "what the program printed:\n"
                                                               << qvtest::ReadFileText(log);
    started_.push_back(Start(program));
    const std::string again = Window("Quorvandel\\+");
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(Shell("xdotool getwindowgeometry " + again + " | tail -n +2"), placed);
    Screenshot("main-window-again", again);  // the tear-down ends this run

    // The three scenes as their own files, their frames counted by ffprobe; the tapes kept.
    for (const auto& [name, frames] : {std::pair{"holiday'20040714 10.20.30.avi", 40},
                                       {"holiday'20040714 15.02.00.avi", 30},
                                       {"holiday'20040715 09.45.12.avi", 35}}) {
        const auto streams = qvtest::Probe(dir_.Path(std::string("scenes/") + name));
        ASSERT_FALSE(streams.empty()) << name;
        EXPECT_EQ(qvtest::Field(streams[0], "nb_read_packets"), std::to_string(frames)) << name;
    }
    EXPECT_TRUE(std::filesystem::exists(tape1) && std::filesystem::exists(tape2));
}

}  // namespace
