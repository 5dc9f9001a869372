// The real program in a real X server, as a user meets it: Xvfb with a window
// manager (window decorations, focus, placement), the program started with its
// inputs in the settings file, "Scan Datestamps" and "WriteScenes" pressed with
// the keyboard through xdotool, the outputs checked with ffprobe, and
// screenshots of the screen taken with ffmpeg. With QV_SCREENSHOT_DIR set the
// screenshots are kept there (that is how docs/screenshots is made).
//
// Skipped, saying why, where Xvfb, the window manager, xdotool or ffmpeg is
// missing or no X server starts.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/AviFixture.h"
#include "support/DvPictures.h"
#include "support/Ffmpeg.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 900;

using qvtest::Quote;

std::string Shell(const std::string& command) { return qvtest::RunShell(command).output; }

// Polls until ready() or the time is up.
bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// A program this test started, with the test's environment; stopped (by its own
// pid) when it goes.
class Child {
  public:
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            if (!Wait(2s)) {
                ::kill(pid_, SIGKILL);
                Wait(2s);
            }
        }
    }
    // Starts args[0] from the PATH, output to log; keepFd stays open in it.
    bool Start(std::vector<std::string> args, const std::string& log, int keepFd = -1) {
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (keepFd >= 0) {
            posix_spawn_file_actions_adddup2(&actions, keepFd, keepFd);  // clears close-on-exec
        }
        const bool started = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        pid_ = started ? pid_ : -1;
        return started;
    }
    // Whether it ended within limit; its exit code then (128 + signal when killed).
    bool Wait(std::chrono::milliseconds limit, int* code = nullptr) {
        int status = 0;
        const bool ended =
            WaitFor([&] { return pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
        if (ended && pid_ > 0 && code != nullptr) {
            *code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        pid_ = ended ? -1 : pid_;
        return ended;
    }

  private:
    pid_t pid_ = -1;
};

// A tape of recordings, each frame a real DV picture in the colour of its recording.
struct Recording {
    int frames;
    qvtest::DvTime start;
    qvtest::Rgb colour;
};

void MakeTape(const std::string& path, const std::vector<Recording>& recordings) {
    qvtest::FixtureOptions options;
    std::vector<qvtest::FixtureFrame> frames;
    for (const Recording& r : recordings) {
        const qvtest::Rgb half{static_cast<uint8_t>(r.colour.r / 2),
                               static_cast<uint8_t>(r.colour.g / 2),
                               static_cast<uint8_t>(r.colour.b / 2)};
        auto recording = qvtest::MakeFrames(options, r.frames, r.start);
        for (size_t f = 0; f < recording.size(); ++f) {
            const int shift = static_cast<int>(f) * 8;
            recording[f].video = qvtest::EncodeDvPicture(true, [&](int x, int y) {
                return ((x + shift) / 90 + y / 96) % 2 == 0 ? r.colour : half;
            });
            qvtest::DvTime t = r.start;
            t.second += static_cast<int>(f) / 25;
            qvtest::SetDvTime(recording[f].video, t);
            frames.push_back(recording[f]);
        }
    }
    ASSERT_TRUE(qvtest::WriteFixtureAvi(path, options, frames)) << path;
}

class XServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "openbox", "xdotool", "ffmpeg", "ffprobe"}) {
            if (Shell(std::string("command -v ") + tool).empty()) {
                GTEST_SKIP() << tool << " is not installed (scripts/setup.sh installs it)";
            }
        }
        // Xvfb picks a free display and writes its number to the pipe when ready.
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        const bool started =
            xvfb_.Start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                         std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24",
                         "-nolisten", "tcp", "-noreset"},
                        dir_.Path("xvfb.log"), fds[1]);
        ::close(fds[1]);
        std::string number;
        pollfd ready{fds[0], POLLIN, 0};
        for (char c = 0; started && ::poll(&ready, 1, 5000) == 1 && ::read(fds[0], &c, 1) == 1 &&
                         c != '\n';) {
            number += c;
        }
        ::close(fds[0]);
        if (number.empty()) {
            GTEST_SKIP() << "no X server could be started: " << Shell("head -c 300 " + Quote(dir_.Path("xvfb.log")));
        }
        display_ = ":" + number;
        ::setenv("DISPLAY", display_.c_str(), 1);
        ASSERT_TRUE(wm_.Start({"openbox"}, dir_.Path("openbox.log")));
        // The window manager is up when it answers for the desktops.
        ASSERT_TRUE(WaitFor([&] { return !Shell("xdotool get_num_desktops 2>/dev/null").empty(); }, 5s))
            << "the window manager did not start";
    }

    // The id of the visible window whose whole title is title, waiting for it.
    std::string Window(const std::string& title, std::chrono::milliseconds limit = 10s) {
        std::string id;
        WaitFor([&] { return static_cast<bool>(std::istringstream(Find(title)) >> id); }, limit);
        return id;
    }
    std::string Find(const std::string& title) {
        return Shell("xdotool search --onlyvisible --name " + Quote("^" + title + "$") + " 2>/dev/null");
    }
    bool Gone(const std::string& title, std::chrono::milliseconds limit) {
        return WaitFor([&] { return Find(title).empty(); }, limit);
    }
    // Keys typed into the window that has the focus.
    void Keys(const std::string& keys) { Shell("xdotool key --delay 40 " + keys); }

    // A PNG of window id with the window manager's frame, named name: kept in
    // QV_SCREENSHOT_DIR when set. (xwininfo gives the client area's place on the
    // screen; xdotool would count a reparenting window manager's frame in twice.)
    void Screenshot(const std::string& name, const std::string& id) {
        int x = 0, y = 0, width = 0, height = 0, left = 0, right = 0, top = 0, bottom = 0;
        std::istringstream(Shell("xwininfo -id " + id +
                                 " | awk -F: '/Absolute upper-left [XY]|Width|Height/ {print $2}'")) >>
            x >> y >> width >> height;
        const std::string extents = Shell("xprop -id " + id + " _NET_FRAME_EXTENTS");
        ASSERT_EQ(std::sscanf(extents.c_str() + extents.find('=') + 1, " %d , %d , %d , %d", &left,
                              &right, &top, &bottom), 4)
            << "no frame: " << extents;
        EXPECT_GT(top, 0) << "no title bar";
        x = std::max(0, x - left);
        y = std::max(0, y - top);
        width = std::min(width + left + right, kScreenWidth - x);
        height = std::min(height + top + bottom, kScreenHeight - y);
        const char* keep = std::getenv("QV_SCREENSHOT_DIR");
        const std::string png =
            (keep != nullptr ? std::string(keep) : dir_.Dir().string()) + "/" + name + ".png";
        Shell("ffmpeg -loglevel error -y -f x11grab -video_size " + std::to_string(width) + "x" +
              std::to_string(height) + " -i " + display_ + "+" + std::to_string(x) + "," +
              std::to_string(y) + " -draw_mouse 0 -frames:v 1 " + Quote(png) + " </dev/null");
        EXPECT_TRUE(std::filesystem::exists(png)) << png;
    }

    qvtest::TempDir dir_;
    Child xvfb_;
    Child wm_;
    std::string display_;
};

TEST_F(XServerTest, ScanAndWriteByKeyboardInTheRealProgram) {
    // Two tapes: two recordings on the first, one on the second.
    const std::string tape1 = dir_.Path("tape1.avi");
    const std::string tape2 = dir_.Path("tape2.avi");
    MakeTape(tape1, {{40, {2004, 7, 14, 10, 20, 30}, {200, 60, 40}},
                     {30, {2004, 7, 14, 15, 2, 0}, {40, 150, 70}}});
    MakeTape(tape2, {{35, {2004, 7, 15, 9, 45, 12}, {50, 80, 200}}});
    std::filesystem::create_directory(dir_.Path("scenes"));
    const std::string output = dir_.Path("scenes/holiday.avi");
    const std::string settings = dir_.Path("quorvandel.reg");
    std::ofstream(settings, std::ios::binary)
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]\r\n"
           "\"ran\"=dword:00000002\r\n\"Files\"=dword:00000002\r\n"
        << "\"output\"=\"" << output << "\"\r\n\"input0\"=\"" << tape2 << "\"\r\n\"input1\"=\""
        << tape1 << "\"\r\n";

    for (auto [name, value] : {std::pair{"QUORVANDEL_SETTINGS", settings.c_str()}, {"TZ", "UTC"},
                               {"QT_QPA_PLATFORM", "xcb"}, {"LC_ALL", "C.UTF-8"}}) {
        ::setenv(name, value, 1);
    }
    Child program;
    ASSERT_TRUE(program.Start({QV_PROGRAM_PATH}, dir_.Path("program.log")));
    const std::string main = Window("Quorvandel\\+");
    ASSERT_FALSE(main.empty()) << "the main window did not appear";
    Shell("xdotool windowactivate --sync " + main);
    // The pointer out of the pictures (Xvfb draws it into the screen).
    Shell("xdotool mousemove " + std::to_string(kScreenWidth - 1) + " " +
          std::to_string(kScreenHeight - 1));

    // The focus starts in the input list: four tabs reach "Scan Datestamps".
    Keys("Tab Tab Tab Tab space");
    ASSERT_TRUE(Gone("Scanning\\.\\.\\.", 20s));
    std::this_thread::sleep_for(500ms);  // the picture strip of the first scene
    Screenshot("main-window", main);
    // Ten more reach "WriteScenes".
    Keys("Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab space");
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

    Shell("xdotool windowactivate --sync " + main);
    Keys("Escape");  // closes the main window and ends the program
    int code = -1;
    EXPECT_TRUE(program.Wait(10s, &code)) << "the program did not end";
    EXPECT_EQ(code, 0) << "what the program printed:\n" << Shell("cat " + Quote(dir_.Path("program.log")));

    // The three scenes as their own files, read by ffprobe; the tapes kept.
    for (const auto& [name, frames] : {std::pair{"holiday'20040714 10.20.30.avi", 40},
                                       {"holiday'20040714 15.02.00.avi", 30},
                                       {"holiday'20040715 09.45.12.avi", 35}}) {
        const auto streams = qvtest::Probe(dir_.Path(std::string("scenes/") + name));
        ASSERT_FALSE(streams.empty()) << name;
        EXPECT_EQ(qvtest::Field(streams[0], "codec_name"), "dvvideo") << name;
        EXPECT_EQ(qvtest::Field(streams[0], "nb_read_packets"), std::to_string(frames)) << name;
    }
    EXPECT_TRUE(std::filesystem::exists(tape1) && std::filesystem::exists(tape2));
}

}  // namespace
