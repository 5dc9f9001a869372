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

// A command's output; status (optional) receives its exit code, -1 when it did not exit.
std::string Shell(const std::string& command, int* status = nullptr) {
    const qvtest::ShellResult r = qvtest::RunShell(command);
    if (status != nullptr) {
        *status = WIFEXITED(r.status) ? WEXITSTATUS(r.status) : -1;
    }
    return r.output;
}

bool Found(const std::string& program) {
    int status = -1;
    Shell("command -v " + Quote(program) + " >/dev/null 2>&1", &status);
    return status == 0;
}

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

// A program this test started; stopped (by its own pid) when it goes.
class Child {
  public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { Stop(); }

    // Starts args[0] from the PATH with the environment plus setting ("NAME=value",
    // replacing a variable of that name); output to log. keepFd stays open in it.
    bool Start(const std::vector<std::string>& args, const std::vector<std::string>& setting,
               const std::string& log, int keepFd = -1) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const std::string& s : setting) {
                replaced =
                    replaced || entry.compare(0, s.find('=') + 1, s, 0, s.find('=') + 1) == 0;
            }
            if (!replaced) {
                env.push_back(entry);
            }
        }
        env.insert(env.end(), setting.begin(), setting.end());
        std::vector<std::string> argsCopy = args;
        std::vector<char*> argv, envp;
        for (std::string& a : argsCopy) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        for (std::string& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (keepFd >= 0) {
            posix_spawn_file_actions_adddup2(&actions, keepFd, keepFd);  // clears close-on-exec
        }
        const bool started =
            posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
        posix_spawn_file_actions_destroy(&actions);
        if (!started) {
            pid_ = -1;
        }
        return started;
    }

    // Whether it ended within limit; its exit code then (128 + signal when killed).
    bool Wait(std::chrono::milliseconds limit, int* code = nullptr) {
        int status = 0;
        const bool ended =
            WaitFor([&] { return pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
        if (ended && pid_ > 0) {
            pid_ = -1;
            if (code != nullptr) {
                *code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        return ended;
    }

    void Stop() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        if (!Wait(2s)) {
            ::kill(pid_, SIGKILL);
            Wait(2s);
        }
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
        auto recording = qvtest::MakeFrames(options, r.frames, r.start);
        for (size_t f = 0; f < recording.size(); ++f) {
            const int shift = static_cast<int>(f) * 8;
            auto picture = qvtest::EncodeDvPicture(true, [&](int x, int y) {
                const bool band = ((x + shift) / 90 + y / 96) % 2 == 0;
                return band ? r.colour
                            : qvtest::Rgb{static_cast<uint8_t>(r.colour.r / 2),
                                          static_cast<uint8_t>(r.colour.g / 2),
                                          static_cast<uint8_t>(r.colour.b / 2)};
            });
            qvtest::DvTime t = r.start;
            t.second += static_cast<int>(f) / 25;
            qvtest::SetDvTime(picture, t);
            recording[f].video = picture;
            frames.push_back(recording[f]);
        }
    }
    ASSERT_TRUE(qvtest::WriteFixtureAvi(path, options, frames)) << path;
}

class XServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "openbox", "xdotool", "ffmpeg", "ffprobe"}) {
            if (!Found(tool)) {
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
                        {}, dir_.Path("xvfb.log"), fds[1]);
        ::close(fds[1]);
        std::string number;
        pollfd ready{fds[0], POLLIN, 0};
        while (started && ::poll(&ready, 1, 5000) == 1) {
            char c = 0;
            if (::read(fds[0], &c, 1) != 1 || c == '\n') {
                break;
            }
            number += c;
        }
        ::close(fds[0]);
        if (number.empty()) {
            const std::vector<uint8_t> log = qvtest::ReadFileBytes(dir_.Path("xvfb.log"));
            GTEST_SKIP() << "no X server could be started: "
                         << std::string(log.begin(),
                                        log.begin() + std::min<size_t>(log.size(), 300));
        }
        display_ = ":" + number;
        ASSERT_TRUE(wm_.Start({"openbox"}, {"DISPLAY=" + display_}, dir_.Path("openbox.log")));
        // The window manager is up when it answers for the desktops.
        ASSERT_TRUE(WaitFor([&] { return !X("xdotool get_num_desktops 2>/dev/null").empty(); }, 5s))
            << "the window manager did not start";
    }

    // A command run with DISPLAY set to the test's X server; its output.
    std::string X(const std::string& command, int* status = nullptr) {
        return Shell("DISPLAY=" + display_ + " " + command, status);
    }
    // The id of the visible window whose whole title is title, waiting for it.
    std::string Window(const std::string& title, std::chrono::milliseconds limit = 10s) {
        std::string id;
        WaitFor(
            [&] {
                std::istringstream ids(X("xdotool search --onlyvisible --name " +
                                         Quote("^" + title + "$") + " 2>/dev/null"));
                return static_cast<bool>(ids >> id);
            },
            limit);
        return id;
    }
    bool Gone(const std::string& title, std::chrono::milliseconds limit) {
        return WaitFor(
            [&] {
                return X("xdotool search --onlyvisible --name " + Quote("^" + title + "$") +
                         " 2>/dev/null")
                    .empty();
            },
            limit);
    }
    // Keys typed into the window that has the focus.
    void Keys(const std::string& keys) { X("xdotool key --delay 40 " + keys); }

    struct Box {
        int x = 0, y = 0, width = 0, height = 0;
    };
    // Where a window's client area lies on the screen (xwininfo's absolute corner;
    // xdotool counts a reparenting window manager's frame in twice).
    Box Geometry(const std::string& id) {
        Box b;
        std::istringstream lines(X("xwininfo -id " + id));
        std::string line;
        while (std::getline(lines, line)) {
            const auto colon = line.find(':');
            if (colon == std::string::npos) {
                continue;
            }
            const std::string key = line.substr(line.find_first_not_of(' '), colon);
            const int value = std::atoi(line.c_str() + colon + 1);
            if (key.find("Absolute upper-left X") == 0) {
                b.x = value;
            } else if (key.find("Absolute upper-left Y") == 0) {
                b.y = value;
            } else if (key.find("Width") == 0) {
                b.width = value;
            } else if (key.find("Height") == 0) {
                b.height = value;
            }
        }
        return b;
    }
    // A grab of the whole screen as a PPM file; false when there is none.
    bool Grab(const std::string& ppm) {
        X("ffmpeg -loglevel error -y -f x11grab -video_size " + std::to_string(kScreenWidth) + "x" +
          std::to_string(kScreenHeight) + " -i " + display_ +
          " -draw_mouse 0 -frames:v 1 -f image2 -vcodec ppm " + Quote(ppm) + " </dev/null");
        return std::filesystem::exists(ppm);
    }
    // The window manager's frame around window id: left, top, and what it adds to
    // the width and height.
    Box Frame(const std::string& id) {
        int left = 0, right = 0, top = 0, bottom = 0;
        const std::string extents = X("xprop -id " + id + " _NET_FRAME_EXTENTS");
        const auto eq = extents.find('=');
        if (eq == std::string::npos || std::sscanf(extents.c_str() + eq + 1, " %d , %d , %d , %d",
                                                   &left, &right, &top, &bottom) != 4) {
            ADD_FAILURE() << "no frame: " << extents;
        }
        return {left, top, left + right, top + bottom};
    }
    // A PNG of window id with its frame, named name: kept in QV_SCREENSHOT_DIR when
    // set. Its size.
    Box Screenshot(const std::string& name, const std::string& id) {
        const std::string ppm = dir_.Path(name + ".ppm");
        if (!Grab(ppm)) {
            ADD_FAILURE() << "no screenshot: " << name;
            return {};
        }
        const Box client = Geometry(id);
        const Box frame = Frame(id);
        Box b{client.x - frame.x, client.y - frame.y, client.width + frame.width,
              client.height + frame.height};
        b.x = std::max(0, b.x);
        b.y = std::max(0, b.y);
        b.width = std::min(b.width, kScreenWidth - b.x);
        b.height = std::min(b.height, kScreenHeight - b.y);
        const char* keep = std::getenv("QV_SCREENSHOT_DIR");
        const std::string png =
            (keep != nullptr ? std::string(keep) : dir_.Dir().string()) + "/" + name + ".png";
        Shell("ffmpeg -loglevel error -y -i " + Quote(ppm) +
              " -vf crop=" + std::to_string(b.width) + ":" + std::to_string(b.height) + ":" +
              std::to_string(b.x) + ":" + std::to_string(b.y) + " " + Quote(png) + " </dev/null");
        EXPECT_TRUE(std::filesystem::exists(png)) << png;
        return b;
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
    {
        std::ofstream reg(settings, std::ios::binary);
        reg << "Windows Registry Editor Version 5.00\r\n\r\n"
               "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]\r\n"
               "\"ran\"=dword:00000002\r\n"
               "\"output\"=\""
            << output
            << "\"\r\n"
               "\"Files\"=dword:00000002\r\n"
               "\"input0\"=\""
            << tape2
            << "\"\r\n"
               "\"input1\"=\""
            << tape1 << "\"\r\n";
    }

    Child program;
    ASSERT_TRUE(program.Start({QV_PROGRAM_PATH},
                              {"DISPLAY=" + display_, "QUORVANDEL_SETTINGS=" + settings, "TZ=UTC",
                               "QT_QPA_PLATFORM=xcb", "LC_ALL=C.UTF-8"},
                              dir_.Path("program.log")));
    const std::string main = Window("Quorvandel\\+");
    ASSERT_FALSE(main.empty()) << "the main window did not appear";
    X("xdotool windowactivate --sync " + main);
    EXPECT_GT(Frame(main).y, 0) << "no title bar";
    // The pointer out of the pictures (Xvfb draws it into the screen).
    X("xdotool mousemove " + std::to_string(kScreenWidth - 1) + " " +
      std::to_string(kScreenHeight - 1));

    // The focus starts in the input list: four tabs reach "Scan Datestamps".
    Keys("Tab Tab Tab Tab space");
    ASSERT_TRUE(Gone("Scanning\\.\\.\\.", 20s));
    std::this_thread::sleep_for(500ms);  // the picture strip of the first scene
    const Box shot = Screenshot("main-window", main);
    // Ten more reach "WriteScenes".
    Keys("Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab space");
    const std::string report = Window("Quorvandel", 30s);
    ASSERT_FALSE(report.empty()) << "no message after the write run";
    const Box progress = Screenshot("progress-dialog", Window("writing clips\\.\\.\\."));
    Keys("Return");  // OK of "completed successfully!"
    ASSERT_TRUE(Gone("writing clips\\.\\.\\.", 10s));

    // The button after "WriteScenes" is "Options...".
    Keys("Tab space");
    const std::string options = Window("Options");
    ASSERT_FALSE(options.empty()) << "no options dialog";
    Screenshot("options-dialog", options);
    Keys("Escape");
    ASSERT_TRUE(Gone("Options", 5s));

    // The window manager may resize the main window: larger, and smaller than its
    // template down to a minimum.
    const Box initial = Geometry(main);
    X("xdotool windowsize --sync " + main + " 1100 800");
    EXPECT_TRUE(WaitFor([&] { return Geometry(main).width == 1100; }, 3s));
    EXPECT_EQ(Geometry(main).height, 800);
    X("xdotool windowsize " + main + " 200 200");
    EXPECT_TRUE(WaitFor([&] { return Geometry(main).width < initial.width; }, 3s));
    const Box least = Geometry(main);
    EXPECT_GT(least.width, 200);
    EXPECT_LT(least.height, initial.height);
    EXPECT_GT(least.height, 200);
    X("xdotool windowactivate --sync " + main);

    Keys("Escape");  // closes the main window and ends the program
    int code = -1;
    EXPECT_TRUE(program.Wait(10s, &code)) << "the program did not end";
    EXPECT_EQ(code, 0) << "what the program printed:\n" << [&] {
        const std::vector<uint8_t> log = qvtest::ReadFileBytes(dir_.Path("program.log"));
        return std::string(log.begin(), log.end());
    }();

    // The three scenes as their own files, read by ffprobe.
    const struct {
        const char* name;
        int frames;
    } expected[] = {{"holiday'20040714 10.20.30.avi", 40},
                    {"holiday'20040714 15.02.00.avi", 30},
                    {"holiday'20040715 09.45.12.avi", 35}};
    for (const auto& e : expected) {
        const std::string path = dir_.Path(std::string("scenes/") + e.name);
        int status = -1;
        const std::string probe = Shell(
            "ffprobe -v error -count_packets -show_entries stream=codec_name,nb_read_packets "
            "-of compact=p=0 " +
                Quote(path) + " </dev/null",
            &status);
        EXPECT_EQ(status, 0) << path;
        EXPECT_NE(probe.find("codec_name=dvvideo|nb_read_packets=" + std::to_string(e.frames)),
                  std::string::npos)
            << path << ": " << probe;
    }
    EXPECT_TRUE(std::filesystem::exists(tape1) && std::filesystem::exists(tape2));

    // The screenshots hold the windows with their frames.
    EXPECT_GT(shot.height, 586);
    EXPECT_GT(progress.width, 0);
}

}  // namespace
