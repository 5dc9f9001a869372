// The settings store (a .reg text file standing in for the registry key) and the
// main window's and options' values kept in it.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"
#include "support/AviFixture.h"
#include "support/Faults.h"
#include "support/TimeZone.h"

namespace {

using qv::kClipListKey;
using qv::kMainKey;
using qv::SettingsStore;
using qv::SettingsValues;

using namespace qvtest;
using Names = std::vector<std::string>;

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]\r\n";

// A store at s.reg in a folder of its own.
class SettingsFile : public ::testing::Test {
protected:
    qvtest::TempDir dir;
    const std::string path = dir.Path("s.reg");
    SettingsStore store{path};

    // Stores these texts in the main key in one rewrite.
    using Texts = std::initializer_list<std::pair<const char*, std::string>>;
    static bool Store(SettingsStore& into, Texts texts) {
        return into.Edit([&](SettingsValues& v) {
            for (const auto& [name, text] : texts) {
                v.WriteText(kMainKey, name, text);
            }
        });
    }
};
class SettingsOptions : public SettingsFile {};
class SettingsMainWindow : public SettingsFile {};

TEST(SettingsReadRules, TextGoesThroughA512ByteBufferAndIntegersNeedADword) {
    SettingsValues v;
    std::string utf8;  // bytes count, not characters
    for (int i = 0; i < 255; ++i) {
        utf8 += "\xC3\xA9";
    }
    v.WriteText(kMainKey, "fits", utf8 + "a");
    v.WriteText(kMainKey, "too long", utf8 + "ab");
    v.WriteText(kMainKey, "empty", "");
    v.WriteDword(kMainKey, "all ones", 0xFFFFFFFFu);
    auto text = [&v](const char* name) { return v.ReadText(kMainKey, name, "d"); };
    EXPECT_EQ(std::tuple(text("fits"), text("too long"), text("empty"), text("all ones")),
              std::tuple(utf8 + "a", "d", "d", "-1"));
    EXPECT_EQ(v.ReadText(kMainKey, "missing"), "");
    EXPECT_EQ(std::pair(v.ReadInt(kMainKey, "all ones", 9), v.ReadInt(kMainKey, "fits", 9)),
              std::pair(-1, 9));
    EXPECT_EQ(v.ReadText(kClipListKey, "fits", "d"), "d");  // keys are separate
}

TEST_F(SettingsFile, IsRegTextByteForByteThatReadsBackAsWritten) {
    ASSERT_TRUE(store.Edit([](SettingsValues& v) {
        v.WriteText(kMainKey, "output", "C:\\a \"b\".avi");
        v.WriteDword(kMainKey, "big", 0xDEADBEEF);
        v.WriteText(kMainKey, "note", "a\nb");  // a line break needs the hex form
        v.WriteText(kClipListKey, "Headline", "x");
    }));
    EXPECT_EQ(ReadFileText(store.Path()),
              kHeader + "\"output\"=\"C:\\\\a \\\"b\\\".avi\"\r\n\"big\"=dword:deadbeef\r\n"
                        "\"note\"=hex(1):61,00,0a,00,62,00,00,00\r\n\r\n"
                        "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel\\ClipList]\r\n"
                        "\"Headline\"=\"x\"\r\n\r\n");

    // Awkward texts survive the file.
    const std::string other = dir.Path("t.reg");
    const std::vector<std::string> texts = {
        "\\\\server\\share\\",  // ends in backslashes
        "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]",
        "\xFF\xFE not UTF-8 \x80 \";\"=\"",
        // A line break cannot stand in a quoted string; nor may it smuggle a value in.
        "a\nb\"\r\n\"ran\"=dword:00000000\r\n[x]",
        std::string(300, '\n') + "long enough to wrap",
    };
    ASSERT_TRUE(SettingsStore(other).Edit([&](SettingsValues& v) {
        for (size_t i = 0; i < texts.size(); ++i) {
            v.WriteText(kMainKey, "t" + std::to_string(i), texts[i]);
        }
        v.WriteText(kMainKey, "name with \"quotes\" and \\ = ]", "n");
    }));
    SettingsValues values = SettingsStore(other).Load();
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(values.ReadText(kMainKey, "t" + std::to_string(i)), texts[i]) << i;
    }
    EXPECT_EQ(values.ReadText(kMainKey, "name with \"quotes\" and \\ = ]"), "n");
    EXPECT_EQ(values.ValuesOf(kMainKey).size(), texts.size() + 1);
}

TEST_F(SettingsFile, ReadsRegTextWrittenElsewhere) {
    WriteText(path,
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n"
              "\"stray\"=\"before any key\"\n"
              "; a comment\n"
              "[HKEY_CURRENT_USER\\Software\\Other]\n"
              "\"Codec\"=\"not ours\"\n"
              "[hkey_current_user\\software\\quorvandel\\quorvandel]\n"
              "  \"output\" = \"/v/x.avi\"  \n"
              "\"Files\"=dword:3\n"
              "garbage line\n"
              "\"unterminated\"=\"abc\n"
              "\"binary\"=hex:01,02\n"
              "\"deleted\"=-\n"
              "\"wrapped\"=hex(1):41,00,\\\n"
              "  42,00,e9,00,ac,20,3d,d8,00,de,00,00\n"
              "\"OUTPUT\"=\"/v/y.avi\"\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\QuorvandelOld]\n"
              "\"Codec\"=\"sibling\"\n"
              "[-HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]\n"
              "\"Codec\"=\"deletion\"\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel\\cliplist]\r\n"
              "\"PicsPerLine\"=\"6\"\r\n");
    testing::internal::CaptureStderr();
    SettingsValues v = store.Load();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(v.ValuesOf(kMainKey).size(), 3u);
    // A rewrite keeps what was understood, in our own form; the later line wins.
    ASSERT_TRUE(store.WriteDword(kMainKey, "ran", 2));
    EXPECT_EQ(ReadFileText(path),
              kHeader + "\"output\"=\"/v/y.avi\"\r\n\"Files\"=dword:00000003\r\n"
                        "\"wrapped\"=\"AB\xE9\xE2\x82\xAC\xF0\x9F\x98\x80\"\r\n"
                        "\"ran\"=dword:00000002\r\n\r\n"
                        "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel\\cliplist]\r\n"
                        "\"PicsPerLine\"=\"6\"\r\n\r\n");

    WriteText(path, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]\r\n"
                    "\"ran\"=dword:00000002\r\n");
    EXPECT_EQ(store.ReadInt(kMainKey, "ran", 0), 2);
    WriteText(path, " \r\n");  // an empty file is an empty store, not a damaged one
    EXPECT_EQ(store.ReadInt(kMainKey, "ran", 0), 0);

    // The format's limits: a dword has at most 8 hex digits; a logical line of up to
    // 256 KiB is read, a longer one is skipped.
    const std::string fits(256 * 1024 - 9, 'x');
    WriteText(path, kHeader + "\"eight\"=dword:7fffffff\r\n\"nine\"=dword:000000001\r\n"
                              "\"long\"=\"" + fits + "\"\r\n\"longer\"=\"" + fits + "\"\r\n");
    v = store.Load();
    EXPECT_EQ(v.ReadInt(kMainKey, "eight", 0), 0x7fffffff);
    EXPECT_TRUE(v.Find(kMainKey, "nine") == nullptr && v.Find(kMainKey, "longer") == nullptr);
    ASSERT_NE(v.Find(kMainKey, "long"), nullptr);
    EXPECT_EQ(v.Find(kMainKey, "long")->text, fits);
}

// One value line at a time between two good ones: a line of the format is read as
// what it says, any other is skipped, and the lines around it are read all the same.
TEST_F(SettingsFile, EachValueLineIsReadAsItSaysOrSkipped) {
    using Type = qv::SettingsValue::Type;
    const struct {
        const char* line;
        bool read;
        Type type = Type::Text;
        std::string text = {};
        uint32_t dword = 0;
    } lines[] = {
        {"\"v\"=\"plain\"", true, Type::Text, "plain"},
        {"\"v\"=\"a \\\"quote\\\" and \\\\ one\"", true, Type::Text, "a \"quote\" and \\ one"},
        {"\"v\"=\"\\n stays\"", true, Type::Text, "\\n stays"},
        {"\"v\"=\"\"", true, Type::Text, ""},
        {"\"v\" = \"spaced\" ", true, Type::Text, "spaced"},
        {"\"v\"=\"closed\" trailing", false},
        {"\"v\"=\"open", false},
        {"\"\"=\"no name\"", false},
        {"\"v\"", false},
        {"\"v\" \"x\"", false},
        {"v=\"unquoted name\"", false},
        {"\"v\"=dword:0", true, Type::Dword, {}, 0},
        {"\"v\"=DWORD:ffFF0010", true, Type::Dword, {}, 0xFFFF0010u},
        {"\"v\"=dword:12345678", true, Type::Dword, {}, 0x12345678u},
        {"\"v\"=dword:", false},
        {"\"v\"=dword:1g", false},
        {"\"v\"=dword:-1", false},
        {"\"v\"=dword: 1", false},
        {"\"v\"=dword:123456789", false},
        {"\"v\"=hex(1):41,00,42,00,00,00", true, Type::Text, "AB"},
        {"\"v\"=HEX(1):4a, 00 ,4B,00", true, Type::Text, "JK"},
        {"\"v\"=hex(1):41,00,00,00,42,00", true, Type::Text, "A"},
        {"\"v\"=hex(1):e9,00,ac,20,3d,d8,00,de", true, Type::Text, "\xE9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"\"v\"=hex(1):3d,d8,41,00", true, Type::Text, "\xEF\xBF\xBD" "A"},
        {"\"v\"=hex(1):00,dc", true, Type::Text, "\xEF\xBF\xBD"},
        {"\"v\"=hex(1):", true, Type::Text, ""},
        {"\"v\"=hex(1):41,,00", false},
        {"\"v\"=hex(1):41,0g", false},
        {"\"v\"=hex(1):141,00", false},
        {"\"v\"=hex:41,00", false},
        {"\"v\"=hex(2):41,00", false},
        {"\"v\"=-", false},
        {"\"v\"=42", false},
    };
    for (const auto& l : lines) {
        SCOPED_TRACE(l.line);
        WriteText(path, kHeader + "\"before\"=dword:00000001\r\n" + l.line +
                            "\r\n\"after\"=\"2\"\r\n");
        testing::internal::CaptureStderr();
        const SettingsValues v = store.Load();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(v.ReadInt(kMainKey, "before", 0), 1);
        ASSERT_NE(v.Find(kMainKey, "after"), nullptr);
        EXPECT_EQ(v.Find(kMainKey, "after")->text, "2");
        const qv::SettingsValue* value = v.Find(kMainKey, "v");
        ASSERT_EQ(value != nullptr, l.read);
        if (value == nullptr) {
            continue;
        }
        EXPECT_EQ(value->type, l.type);
        if (l.type == Type::Text) {
            EXPECT_EQ(value->text, l.text);
        } else {
            EXPECT_EQ(value->dword, l.dword);
        }
    }
}

TEST_F(SettingsFile, ChangesAreWrittenOnceAndOnlyWhenSomethingChanged) {
    SettingsStore nested(dir.Path("sub/folders/s.reg"));
    qv::WriteFaults faults;  // counts writes, fails none
    ScopedFaults installed(&faults);
    EXPECT_EQ(nested.ReadText(kMainKey, "x", "d"), "d");
    EXPECT_FALSE(nested.DeleteValue(kMainKey, "x"));
    EXPECT_TRUE(nested.Edit([](SettingsValues&) {}));
    EXPECT_FALSE(std::filesystem::exists(nested.Path()));
    ASSERT_TRUE(nested.Edit([](SettingsValues& v) {
        v.WriteText(kMainKey, "input3", "/v/3");
        v.WriteDword(kMainKey, "Files", 50);
    }));
    EXPECT_EQ(faults.writes, 1);
    ASSERT_TRUE(nested.WriteDword(kMainKey, "Files", 50));
    ASSERT_TRUE(nested.WriteText(kMainKey, "INPUT3", "/v/3"));  // names ignore letter case
    EXPECT_EQ(faults.writes, 1);
    EXPECT_TRUE(nested.DeleteValue(kMainKey, "iNpUt3"));
    EXPECT_FALSE(nested.DeleteValue(kMainKey, "input3"));
}

// Each edit opens and closes its files: none stay open, descriptor 0 (which a program
// started without standard input gets first) neither.
TEST_F(SettingsFile, EditsLeaveNoFilesOpen) {
    const int saved = ::dup(0);
    ::close(0);
    const size_t before = FolderEntries("/proc/self/fd").size();
    bool written = true;
    for (uint32_t i = 0; i < 3; ++i) {
        written = store.WriteDword(kMainKey, "n", i) && written;
    }
    const size_t after = FolderEntries("/proc/self/fd").size();
    ::dup2(saved, 0);
    ::close(saved);
    EXPECT_TRUE(written);
    EXPECT_EQ(after, before);
}

// A failed rewrite leaves the old file and no temporary files.
TEST_F(SettingsFile, NeverWritesWhatItWouldNotReadBack) {
    ASSERT_TRUE(store.WriteText(kMainKey, "keep", "me"));
    const std::string before = ReadFileText(store.Path());
    for (qvtest::NamedFaults f : qvtest::EachSaveFault()) {
        ScopedFaults installed(&f.faults);
        EXPECT_FALSE(store.WriteText(kMainKey, "new", "value")) << f.name;
        EXPECT_EQ(ReadFileText(store.Path()), before) << f.name;
        EXPECT_EQ(FolderEntries(dir.Dir()), Names{"s.reg"}) << f.name;
    }
    EXPECT_FALSE(store.WriteText(kMainKey, "big", std::string(qv::kMaxSettingsTextBytes + 1, 'x')));
    EXPECT_FALSE(store.WriteText(kMainKey, "", "no name"));
    EXPECT_FALSE(store.WriteText(kMainKey, "line\nbreak", "x"));
    EXPECT_FALSE(store.WriteText("ClipList\\", "x", "bad key"));
    // Together more than the reader accepts: nothing of it is stored.
    EXPECT_FALSE(store.Edit([](SettingsValues& v) {
        for (int i = 0; i < 40; ++i) {
            v.WriteText(kMainKey, "v" + std::to_string(i), std::string(qv::kMaxSettingsTextBytes, 'x'));
        }
    }));
    EXPECT_EQ(ReadFileText(store.Path()), before);
    // A zero byte ends the text, as in a C string.
    ASSERT_TRUE(store.WriteText(kMainKey, "z", std::string("ab\0cd", 5)));
    EXPECT_EQ(store.ReadText(kMainKey, "z"), "ab");
}

TEST_F(SettingsFile, ALinkedFileIsRewrittenWhereItPoints) {
    std::filesystem::create_directory(dir.Dir() / "dotfiles");
    WriteText(dir.Path("dotfiles/q.reg"), "");
    std::filesystem::create_symlink("dotfiles/q.reg", dir.Dir() / "s.reg");
    ASSERT_TRUE(store.WriteDword(kMainKey, "ran", 2));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Dir() / "s.reg"));
    EXPECT_EQ(ReadFileText(dir.Path("dotfiles/q.reg")), kHeader + "\"ran\"=dword:00000002\r\n\r\n");
    EXPECT_EQ(FolderEntries(dir.Dir() / "dotfiles"), Names{"q.reg"});
}

TEST(SettingsDamagedFile, GivesDefaultsWarnsOnceAndKeepsTheBytes) {
    const std::string header = kHeader + "\"Codec\"=\"mine\"\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : header) {
        utf16 += std::string{c, '\0'};
    }
    std::string huge = header;
    while (huge.size() <= static_cast<size_t>(qv::kMaxSettingsFileBytes)) {
        huge += "; padding padding padding padding padding padding padding padding\r\n";
    }
    for (const std::string& bytes :
         {std::string("this is not\nwhat we wrote\n\"Codec\"=\"x\"\n"), std::string("\x01\x02\xfe"),
          utf16, header + std::string(512, '\0') + "\"ran\"=dword:00000002\r\n", huge}) {
        SCOPED_TRACE(bytes.substr(0, 8));
        qvtest::TempDir dir;
        const std::string path = dir.Path("s.reg");
        WriteText(path, bytes);
        SettingsStore store(path);
        testing::internal::CaptureStderr();
        EXPECT_EQ(store.ReadText(kMainKey, "Codec", "default"), "default");
        EXPECT_EQ(SettingsStore(path).Load().ValuesOf(kMainKey).size(), 0u);
        const std::string warning = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(warning.begin(), warning.end(), '\n'), 1) << warning;
        EXPECT_NE(warning.find(path), std::string::npos) << warning;
        EXPECT_TRUE(store.Edit([](SettingsValues&) {}));  // changes nothing: left alone
        EXPECT_EQ(ReadFileText(path), bytes);
        qv::WriteFaults noRename{.failRename = true};  // the bytes cannot be set aside: no write
        qv::SetWriteFaults(&noRename);
        EXPECT_FALSE(store.WriteText(kMainKey, "output", "/new.avi"));
        qv::SetWriteFaults(nullptr);
        EXPECT_EQ(ReadFileText(path), bytes);
        // A save moves the damaged bytes aside before writing a valid file.
        ASSERT_TRUE(store.WriteText(kMainKey, "output", "/new.avi"));
        EXPECT_EQ(std::pair(ReadFileText(path + ".bad"), store.Load().ValuesOf(kMainKey).size()),
                  std::pair(bytes, size_t{1}));
        EXPECT_EQ(FolderEntries(dir.Dir()), (Names{"s.reg", "s.reg.bad"}));
    }
}

TEST(SettingsPath, FollowsTheEnvironment) {
    ScopedEnv home("HOME", "/home/tester");
    const char* const inHome = "/home/tester/.config/quorvandel/quorvandel.reg";
    const struct {
        const char* settings;  // QUORVANDEL_SETTINGS; null: not set
        const char* xdg;       // XDG_CONFIG_HOME
        const char* path;
    } rows[] = {
        {"/elsewhere/my.reg", "/cfg", "/elsewhere/my.reg"},
        {nullptr, "/cfg/", "/cfg/quorvandel/quorvandel.reg"},
        {nullptr, nullptr, inHome},
        {nullptr, "relative/cfg", inHome},  // not absolute: ignored
        {"", "", inHome},
    };
    for (const auto& row : rows) {
        ScopedEnv over("QUORVANDEL_SETTINGS", row.settings);
        ScopedEnv xdg("XDG_CONFIG_HOME", row.xdg);
        EXPECT_EQ(SettingsStore::DefaultPath(), row.path) << row.xdg;
    }
    EXPECT_EQ(qv::DefaultOutputPath(), "/home/tester/scenes.avi");
    ScopedEnv root("HOME", "/");
    EXPECT_EQ(qv::DefaultOutputPath(), "/scenes.avi");
    // Without HOME, or with an empty one, the home folder is the account's.
    const passwd* account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        ScopedEnv unset("HOME", value);
        EXPECT_EQ(qv::HomeFolder(), account->pw_dir);
    }
}

TEST_F(SettingsOptions, LoadFollowsTheDecimalRules) {
    qv::Settings s{1, 1, "x", 0};
    LoadSettings(s, store);  // nothing stored: the load's defaults
    EXPECT_EQ(std::tie(s.deleteSourceFiles, s.skipNoDatestamp, s.codec, s.optSensitivity),
              std::make_tuple(0, 0, "", 2));
    for (const char* text : {"5", "-1", "  4z"}) {  // a sensitivity that indexes no preset
        ASSERT_TRUE(Store(store, {{"deletesourcefiles", "1x"}, {"codec", "dvvideo"},
                                  {"OptSensitivity", text}}));
        LoadSettings(s, store);
        EXPECT_EQ(std::tie(s.deleteSourceFiles, s.codec, s.optSensitivity),
                  std::make_tuple(1, "dvvideo", text[0] == ' ' ? 4 : 2)) << text;
    }
}

TEST_F(SettingsMainWindow, InputsKeepTheirPlacesAndTheCountIsNotTrusted) {
    auto inputsWith = [&](uint32_t files, Texts values) {
        SettingsStore numbered(dir.Path(std::to_string(files) + std::to_string(values.size())));
        EXPECT_TRUE(numbered.WriteDword(kMainKey, "Files", files) && Store(numbered, values));
        return LoadMainWindowState(numbered, "/d").inputs;
    };
    EXPECT_EQ(inputsWith(3, {{"input0", "/a"}, {"input2", "/c"}}), (Names{"/a", "", "/c"}));
    EXPECT_EQ(inputsWith(2, {{"INPUT1", "/b"}, {"input0", "/a"}, {"input01", "/x"}, {"input2", "/c"}}),
              (Names{"/a", "/b"}));
    EXPECT_EQ(inputsWith(2, {{"input0", std::string(600, 'a')}, {"input1", "/b"}}),
              (Names{"", "/b"}));
    EXPECT_EQ(inputsWith(0xFFFFFFFFu, {{"input0", "/a"}}), Names{});  // -1 files
    // A huge count with a far index: the stored entries, not millions of empty ones.
    Names far = inputsWith(0x7FFFFFFFu, {{"input0", "/a"}, {"input999999999", "/z"}});
    ASSERT_GE(far.size(), 2u);
    EXPECT_LE(far.size(), 2000u);
    EXPECT_EQ(far.back(), "/z");
    EXPECT_TRUE(Store(store, {{"Files", "3"}, {"input0", "/a"}}));  // "Files" as text is no count
    EXPECT_TRUE(LoadMainWindowState(store, "/d").inputs.empty());
}

// A save writes everything in one rewrite, leaves no entries of a longer list and
// keeps other values; what it wrote loads back.
// Random settings and window states, texts of every kind of character among them:
// each field reads back as saved, through a second store of the same file; the first
// load marks the program as run, and only the first start says it is the first.
TEST_F(SettingsMainWindow, EverySettingAndStateReadsBackAsSaved) {
    std::mt19937 random(20261209);
    const auto text = [&] {
        static const std::string pieces[] = {"a", "Z", " ", "\"", "\\", "\n", "\r", "=", "[", "]",
                                             ";", "\xC3\xA9", "\xF0\x9F\x98\x80", ",", "hex(1):"};
        std::string t;
        for (uint32_t n = random() % 12; n > 0; --n) {
            t += pieces[random() % std::size(pieces)];
        }
        return t;
    };
    const auto bit = [&] { return static_cast<int>(random() % 2); };
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        qvtest::TempDir folder;
        SettingsStore saved(folder.Path("s.reg"));
        const qv::MainWindowState first = LoadMainWindowState(saved, "/default.avi");
        EXPECT_TRUE(first.firstStart);
        EXPECT_EQ(first.outputPath, "/default.avi");
        qv::Settings settings{bit(), bit(), text(), static_cast<int>(random() % 5), bit(), bit(), bit()};
        qv::MainWindowState state;
        state.outputPath = "/" + text();
        state.lastInput = text();
        for (uint32_t n = random() % 7; n > 0; --n) {
            state.inputs.push_back("/" + text());
        }
        ASSERT_TRUE(SaveMainWindowState(saved, settings, state));
        SettingsStore again(folder.Path("s.reg"));
        qv::Settings loaded;
        LoadSettings(loaded, again);
        EXPECT_EQ(std::tie(loaded.deleteSourceFiles, loaded.skipNoDatestamp, loaded.codec,
                           loaded.optSensitivity, loaded.splitRecordingStarts,
                           loaded.splitTimecodeBreaks, loaded.splitFormatChanges),
                  std::tie(settings.deleteSourceFiles, settings.skipNoDatestamp, settings.codec,
                           settings.optSensitivity, settings.splitRecordingStarts,
                           settings.splitTimecodeBreaks, settings.splitFormatChanges));
        const qv::MainWindowState back = LoadMainWindowState(again, "/default.avi");
        EXPECT_FALSE(back.firstStart);
        EXPECT_EQ(std::tie(back.outputPath, back.lastInput, back.inputs),
                  std::tie(state.outputPath, state.lastInput, state.inputs));
    }
    // A sensitivity outside the five presets loads as the middle one.
    for (const auto& [stored, loaded] : {std::pair{"-1", 2}, {"0", 0}, {"4", 4}, {"5", 2}}) {
        ASSERT_TRUE(store.WriteText(kMainKey, "OptSensitivity", stored));
        qv::Settings s;
        LoadSettings(s, store);
        EXPECT_EQ(s.optSensitivity, loaded) << stored;
    }
}

TEST_F(SettingsMainWindow, SaveWritesEverythingInOrderInOneRewrite) {
    ASSERT_TRUE(store.WriteText(kClipListKey, "PicsPerLine", "6"));
    qv::MainWindowState state;
    state.inputs = {"/1", "/2", "/3", "/4", "/5"};
    ASSERT_TRUE(SaveMainWindowState(store, {}, state));
    state.outputPath = "/out/s.avi";
    state.lastInput = "C:\\tapes\\b 1.avi";
    state.inputs = {"/in/a.avi", "/v/line\nbreak.avi"};
    qv::WriteFaults faults;  // counts writes, fails none
    ScopedFaults installed(&faults);
    ASSERT_TRUE(SaveMainWindowState(store, qv::Settings{1, 0, "dvvideo", 4}, state));
    EXPECT_EQ(faults.writes, 1);
    EXPECT_EQ(ReadFileText(store.Path()),
              kHeader + "\"deletesourcefiles\"=\"1\"\r\n\"skipnodatestamp\"=\"0\"\r\n"
                        "\"Codec\"=\"dvvideo\"\r\n\"OptSensitivity\"=\"4\"\r\n"
                        "\"splitrecordingstarts\"=\"1\"\r\n\"splittimecodebreaks\"=\"1\"\r\n"
                        "\"splitformatchanges\"=\"1\"\r\n"
                        "\"last input\"=\"C:\\\\tapes\\\\b 1.avi\"\r\n\"output\"=\"/out/s.avi\"\r\n"
                        "\"Files\"=dword:00000002\r\n\"input0\"=\"/in/a.avi\"\r\n"
                        "\"input1\"=hex(1):2f,00,76,00,2f,00,6c,00,69,00,6e,00,65,00,0a,00,62,"
                        "00,72,00,65,\\\r\n  00,61,00,6b,00,2e,00,61,00,76,00,69,00,00,00\r\n\r\n"
                        "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel\\ClipList]\r\n"
                        "\"PicsPerLine\"=\"6\"\r\n\r\n");
    const qv::MainWindowState loaded = LoadMainWindowState(store, "/d");
    EXPECT_EQ(std::tie(loaded.outputPath, loaded.lastInput, loaded.inputs),
              std::tie(state.outputPath, state.lastInput, state.inputs));
    qv::Settings s;
    LoadSettings(s, store);
    EXPECT_EQ(std::tie(s.deleteSourceFiles, s.skipNoDatestamp, s.optSensitivity),
              std::make_tuple(1, 0, 4));
}

}  // namespace

// A file that is there but cannot be read is no damaged one: its bytes stay where they
// are and no change is written over them.
TEST(SettingsUnreadableFile, GivesDefaultsAndIsNeitherMovedNorReplaced) {
    qvtest::TempDir dir;
    const std::string path = dir.Path("s.reg");
    const std::string bytes = kHeader + "\"Codec\"=\"mine\"\r\n";
    WriteText(path, bytes);
    SettingsStore store(path);
    qv::WriteFaults faults{.failReadAt = 0, .reads = 0};
    testing::internal::CaptureStderr();
    {
        qvtest::ScopedFaults scoped(&faults);
        EXPECT_FALSE(store.WriteText(kMainKey, "output", "/new.avi"));
    }
    const std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_NE(warning.find("can't be read (Input/output error)"), std::string::npos) << warning;
    EXPECT_EQ(ReadFileText(path), bytes);
    EXPECT_EQ(FolderEntries(dir.Dir()), (Names{"s.reg"}));
    EXPECT_EQ(store.ReadText(kMainKey, "Codec", "default"), "mine");  // the error passed
}
