// The settings store (a .reg text file standing in for the registry key) and the
// main window's and options' values kept in it.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
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

using qvtest::FolderEntries;
using qvtest::ScopedEnv;
using qvtest::ScopedFaults;

std::string ReadText(const std::string& path) { return qvtest::ReadFileText(path); }

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good()) << path;
}

// The file as the store writes it: its header, the main key, then lines, each ended by CRLF.
std::string RegLines(std::initializer_list<const char*> lines) {
    std::string out = "Windows Registry Editor Version 5.00\r\n\r\n"
                      "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]\r\n";
    for (const char* line : lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

size_t CountLines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// ---------------------------------------------------------------------------
// Reading rules

TEST(SettingsReadRules, TextGoesThroughA512ByteBuffer) {
    SettingsValues v;
    v.WriteText(kMainKey, "fits", std::string(511, 'a'));
    v.WriteText(kMainKey, "too long", std::string(512, 'a'));
    // Bytes count, not characters: 255 two-byte letters and one more byte.
    std::string utf8;
    for (int i = 0; i < 255; ++i) {
        utf8 += "\xC3\xA9";
    }
    v.WriteText(kMainKey, "utf8 fits", utf8 + "a");
    v.WriteText(kMainKey, "utf8 too long", utf8 + "ab");
    v.WriteText(kMainKey, "empty", "");
    v.WriteDword(kMainKey, "two", 2);
    v.WriteDword(kMainKey, "all ones", 0xFFFFFFFFu);

    EXPECT_EQ(v.ReadText(kMainKey, "fits", "d"), std::string(511, 'a'));
    EXPECT_EQ(v.ReadText(kMainKey, "too long", "d"), "d");
    EXPECT_EQ(v.ReadText(kMainKey, "utf8 fits", "d"), utf8 + "a");
    EXPECT_EQ(v.ReadText(kMainKey, "utf8 too long", "d"), "d");
    EXPECT_EQ(v.ReadText(kMainKey, "empty", "d"), "d");
    EXPECT_EQ(v.ReadText(kMainKey, "missing", "d"), "d");
    EXPECT_EQ(v.ReadText(kMainKey, "missing"), "");
    // The stored type plays no role for a text read.
    EXPECT_EQ(v.ReadText(kMainKey, "two", "d"), "2");
    EXPECT_EQ(v.ReadText(kMainKey, "all ones", "d"), "-1");
    // An integer read needs an integer value.
    EXPECT_EQ(v.ReadInt(kMainKey, "two", 9), 2);
    EXPECT_EQ(v.ReadInt(kMainKey, "all ones", 9), -1);
    EXPECT_EQ(v.ReadInt(kMainKey, "fits", 9), 9);
    EXPECT_EQ(v.ReadInt(kMainKey, "missing", 9), 9);
    // Keys are separate.
    EXPECT_EQ(v.ReadText(kClipListKey, "fits", "d"), "d");
}

TEST(SettingsReadRules, DecimalTextFollowsAtoi) {
    SettingsValues v;
    const std::pair<const char*, int> cases[] = {
        {"1x", 1},         {"x", 0},           {"  -7z", -7},         {"+12", 12},
        {"\t\n 3", 3},     {"- 5", 0},         {"0042", 42},          {"2147483647", INT_MAX},
        {"99999999999", INT_MAX}, {"-99999999999999999999", INT_MIN},
    };
    for (const auto& [text, expected] : cases) {
        v.WriteText(kMainKey, "n", text);
        EXPECT_EQ(v.ReadDecimal(kMainKey, "n", 55), expected) << '"' << text << '"';
    }
    v.WriteText(kMainKey, "n", "");
    EXPECT_EQ(v.ReadDecimal(kMainKey, "n", 55), 55);
    v.WriteText(kMainKey, "n", std::string(600, '1'));  // reads as empty text
    EXPECT_EQ(v.ReadDecimal(kMainKey, "n", 55), 55);
    EXPECT_EQ(v.ReadDecimal(kMainKey, "missing", 55), 55);
    v.WriteDword(kMainKey, "n", 7);
    EXPECT_EQ(v.ReadDecimal(kMainKey, "n", 55), 7);
}

TEST(SettingsReadRules, NamesIgnoreLetterCaseAndKeepTheirSpelling) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("s.reg"));
    ASSERT_TRUE(store.WriteText(kMainKey, "Codec", "a"));
    ASSERT_TRUE(store.WriteText(kMainKey, "CODEC", "b"));
    ASSERT_TRUE(store.WriteText(kClipListKey, "PicsPerLine", "6"));
    EXPECT_EQ(store.ReadText(kMainKey, "codec"), "b");
    EXPECT_EQ(store.ReadText("cliplist", "picsperline"), "6");
    SettingsValues values = store.Load();
    ASSERT_EQ(values.ValuesOf(kMainKey).size(), 1u);
    EXPECT_EQ(values.ValuesOf(kMainKey)[0].name, "Codec");

    EXPECT_TRUE(store.DeleteValue(kMainKey, "cOdEc"));
    EXPECT_FALSE(store.DeleteValue(kMainKey, "Codec"));
    EXPECT_EQ(store.ReadText(kMainKey, "Codec", "gone"), "gone");
}

// ---------------------------------------------------------------------------
// The file

TEST(SettingsFile, IsRegTextByteForByte) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("s.reg"));
    ASSERT_TRUE(store.Edit([](SettingsValues& v) {
        v.WriteText(kMainKey, "output", "C:\\a \"b\".avi");
        v.WriteDword(kMainKey, "ran", 2);
        v.WriteDword(kMainKey, "big", 0xDEADBEEF);
        v.WriteText(kClipListKey, "Headline", "x");
    }));
    EXPECT_EQ(ReadText(store.Path()),
              RegLines({
                  R"("output"="C:\\a \"b\".avi")",
                  R"("ran"=dword:00000002)",
                  R"("big"=dword:deadbeef)",
                  "",
                  R"([HKEY_CURRENT_USER\SOFTWARE\Quorvandel\Quorvandel\ClipList])",
                  R"("Headline"="x")",
                  "",
              }));
}

TEST(SettingsFile, AwkwardTextSurvivesTheFile) {
    qvtest::TempDir dir;
    const std::string path = dir.Path("s.reg");
    const std::vector<std::string> texts = {
        R"(C:\tapes\"quoted"\tape 1.avi)",
        "\\\\server\\share\\",  // ends in backslashes
        "/home/jürgen/Bänder/Größe ½ 日本.avi",
        "/v/a=b]c[d;e.avi",
        "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]",
        "\";\"=\"",
        "tab\there",
        "\xFF\xFE not UTF-8 \x80",
        // A line break cannot stand in a quoted string; nor may it smuggle a value in.
        "a\nb\"\r\n\"ran\"=dword:00000000\r\n[x]",
        std::string(300, '\n') + "long enough to wrap",
    };
    {
        SettingsStore store(path);
        ASSERT_TRUE(store.Edit([&](SettingsValues& v) {
            for (size_t i = 0; i < texts.size(); ++i) {
                ASSERT_TRUE(v.WriteText(kMainKey, "t" + std::to_string(i), texts[i]));
            }
            ASSERT_TRUE(v.WriteText(kMainKey, "name with \"quotes\" and \\ = ]", "n"));
        }));
    }
    SettingsStore again(path);
    SettingsValues values = again.Load();
    for (size_t i = 0; i < texts.size(); ++i) {
        const qv::SettingsValue* v = values.Find(kMainKey, "t" + std::to_string(i));
        ASSERT_NE(v, nullptr) << i;
        EXPECT_EQ(v->text, texts[i]) << i;
    }
    EXPECT_EQ(values.ReadText(kMainKey, "name with \"quotes\" and \\ = ]"), "n");
    EXPECT_EQ(values.Find(kMainKey, "ran"), nullptr);
    EXPECT_EQ(values.ValuesOf(kMainKey).size(), texts.size() + 1);
    EXPECT_EQ(values.ValuesOf("x").size(), 0u);
    // Wrapped hex lines stay within the format's 80 columns.
    std::string file = ReadText(path);
    size_t start = 0;
    for (size_t end; (end = file.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = file.substr(start, end - start);
        if (line.find("hex(1)") != std::string::npos || line.rfind("  ", 0) == 0) {
            EXPECT_LE(line.size(), 80u) << line;
        }
    }
    EXPECT_NE(file.find("\"t9\"=hex(1):0a,00,0a,00,"), std::string::npos);
}

TEST(SettingsFile, ReadsRegTextWrittenElsewhere) {
    qvtest::TempDir dir;
    const std::string path = dir.Path("s.reg");
    WriteText(path,
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
              "\n"
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
    SettingsStore store(path);
    SettingsValues v = store.Load();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_EQ(v.ReadText(kMainKey, "output"), "/v/y.avi");  // the later line wins
    EXPECT_EQ(v.Find(kMainKey, "output")->name, "output");
    EXPECT_EQ(v.ReadInt(kMainKey, "Files", 0), 3);
    EXPECT_EQ(v.ReadText(kMainKey, "wrapped"), "AB\xE9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(v.ReadText(kClipListKey, "PicsPerLine"), "6");
    for (const char* name : {"stray", "Codec", "unterminated", "binary", "deleted"}) {
        EXPECT_EQ(v.Find(kMainKey, name), nullptr) << name;
    }
    EXPECT_EQ(v.ValuesOf(kMainKey).size(), 3u);

    // A rewrite keeps what was understood, in our own form.
    ASSERT_TRUE(store.WriteDword(kMainKey, "ran", 2));
    EXPECT_EQ(ReadText(path),
              RegLines({
                  R"("output"="/v/y.avi")",
                  R"("Files"=dword:00000003)",
                  R"("wrapped"="AB)" "\xE9\xE2\x82\xAC\xF0\x9F\x98\x80\"",
                  R"("ran"=dword:00000002)",
                  "",
                  R"([HKEY_CURRENT_USER\SOFTWARE\Quorvandel\Quorvandel\cliplist])",
                  R"("PicsPerLine"="6")",
                  "",
              }));

    WriteText(path, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]\r\n"
                    "\"ran\"=dword:00000002\r\n");
    EXPECT_EQ(store.ReadInt(kMainKey, "ran", 0), 2);
    WriteText(path, " \r\n");  // an empty file is an empty store, not a damaged one
    EXPECT_EQ(store.ReadInt(kMainKey, "ran", 0), 0);
}

TEST(SettingsFile, ChangesAreWrittenOnceAndOnlyWhenSomethingChanged) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("sub/folders/s.reg"));
    qv::WriteFaults faults;  // counts writes, fails none
    ScopedFaults installed(&faults);

    // Reads and no-op changes never create or rewrite the file.
    EXPECT_EQ(store.ReadText(kMainKey, "x", "d"), "d");
    EXPECT_FALSE(store.DeleteValue(kMainKey, "x"));
    EXPECT_TRUE(store.Edit([](SettingsValues&) {}));
    EXPECT_FALSE(std::filesystem::exists(store.Path()));
    EXPECT_EQ(faults.writes, 0);

    ASSERT_TRUE(store.Edit([](SettingsValues& v) {
        for (int i = 0; i < 50; ++i) {
            v.WriteText(kMainKey, "input" + std::to_string(i), "/v/" + std::to_string(i));
        }
        v.WriteDword(kMainKey, "Files", 50);
    }));
    EXPECT_EQ(faults.writes, 1);
    EXPECT_EQ(store.ReadText(kMainKey, "input49"), "/v/49");

    // Storing what is already there changes nothing.
    ASSERT_TRUE(store.WriteDword(kMainKey, "Files", 50));
    ASSERT_TRUE(store.WriteText(kMainKey, "INPUT3", "/v/3"));
    EXPECT_EQ(faults.writes, 1);
}

TEST(SettingsFile, AFailedRewriteLeavesTheOldFileAndNoTemporaryFiles) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("s.reg"));
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(store.WriteDword(kMainKey, "n", static_cast<uint32_t>(i)));
    }
    EXPECT_EQ(FolderEntries(dir.Dir()), std::vector<std::string>{"s.reg"});
    const std::string before = ReadText(store.Path());

    for (qvtest::NamedFaults f : qvtest::EachSaveFault()) {
        SCOPED_TRACE(f.name);
        ScopedFaults installed(&f.faults);
        EXPECT_FALSE(store.WriteText(kMainKey, "new", "value"));
        EXPECT_EQ(ReadText(store.Path()), before);
        EXPECT_EQ(FolderEntries(dir.Dir()), std::vector<std::string>{"s.reg"});
    }
    EXPECT_EQ(store.ReadInt(kMainKey, "n", -1), 9);
}

TEST(SettingsFile, NeverWritesWhatItWouldNotReadBack) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("s.reg"));
    ASSERT_TRUE(store.WriteText(kMainKey, "keep", "me"));
    const std::string before = ReadText(store.Path());
    EXPECT_FALSE(store.WriteText(kMainKey, "big", std::string(qv::kMaxSettingsTextBytes + 1, 'x')));
    EXPECT_FALSE(store.WriteText(kMainKey, "", "no name"));
    EXPECT_FALSE(store.WriteText(kMainKey, "line\nbreak", "x"));
    EXPECT_FALSE(store.WriteText("ClipList\\", "x", "bad key"));
    // Together more than the reader accepts: nothing of it is stored.
    EXPECT_FALSE(store.Edit([](SettingsValues& v) {
        for (int i = 0; i < 40; ++i) {
            v.WriteText(kMainKey, "v" + std::to_string(i),
                        std::string(qv::kMaxSettingsTextBytes, 'x'));
        }
    }));
    EXPECT_EQ(ReadText(store.Path()), before);
    // A zero byte ends the text, as in a C string.
    ASSERT_TRUE(store.WriteText(kMainKey, "z", std::string("ab\0cd", 5)));
    EXPECT_EQ(store.ReadText(kMainKey, "z"), "ab");
}

TEST(SettingsFile, ALinkedFileIsRewrittenWhereItPoints) {
    qvtest::TempDir dir;
    std::filesystem::create_directory(dir.Dir() / "dotfiles");
    WriteText(dir.Path("dotfiles/q.reg"), "");
    std::filesystem::create_symlink("dotfiles/q.reg", dir.Dir() / "s.reg");
    SettingsStore store(dir.Path("s.reg"));
    ASSERT_TRUE(store.WriteDword(kMainKey, "ran", 2));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Dir() / "s.reg"));
    EXPECT_NE(ReadText(dir.Path("dotfiles/q.reg")).find("\"ran\"=dword:00000002"),
              std::string::npos);
    EXPECT_EQ(FolderEntries(dir.Dir() / "dotfiles"), std::vector<std::string>{"q.reg"});
}

// ---------------------------------------------------------------------------
// Damaged files

TEST(SettingsDamagedFile, GivesDefaultsWarnsOnceAndKeepsTheBytes) {
    const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]\r\n"
                               "\"Codec\"=\"mine\"\r\n";
    std::string binary;
    for (int i = 0; i < 4096; ++i) {
        binary.push_back(static_cast<char>(i * 37 + 11));
    }
    std::string utf16 = "\xFF\xFE";
    for (char c : header) {
        utf16 += c;
        utf16 += '\0';
    }
    std::string huge = header;
    while (huge.size() <= static_cast<size_t>(qv::kMaxSettingsFileBytes)) {
        huge += "; padding padding padding padding padding padding padding padding\r\n";
    }
    const std::pair<const char*, std::string> cases[] = {
        {"garbage", "this is not\nwhat we wrote\n\"Codec\"=\"x\"\n"},
        {"binary", binary},
        {"utf16", utf16},
        {"zero bytes inside", header + std::string(512, '\0') + "\"ran\"=dword:00000002\r\n"},
        {"huge", huge},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        qvtest::TempDir dir;
        const std::string path = dir.Path("s.reg");
        WriteText(path, bytes);
        SettingsStore store(path);

        testing::internal::CaptureStderr();
        EXPECT_EQ(store.ReadText(kMainKey, "Codec", "default"), "default");
        EXPECT_EQ(store.ReadInt(kMainKey, "ran", 0), 0);
        EXPECT_EQ(SettingsStore(path).Load().ValuesOf(kMainKey).size(), 0u);
        const std::string warning = testing::internal::GetCapturedStderr();
        EXPECT_EQ(CountLines(warning), 1u) << warning;
        EXPECT_NE(warning.find(path), std::string::npos) << warning;

        // Reading and an edit that changes nothing leave the file alone.
        EXPECT_TRUE(store.Edit([](SettingsValues&) {}));
        EXPECT_EQ(ReadText(path), bytes);

        // A save moves the damaged bytes aside before writing a valid file.
        testing::internal::CaptureStderr();
        ASSERT_TRUE(store.WriteText(kMainKey, "output", "/new.avi"));
        EXPECT_EQ(ReadText(path + ".bad"), bytes);
        EXPECT_EQ(store.ReadText(kMainKey, "output"), "/new.avi");
        EXPECT_EQ(store.Load().ValuesOf(kMainKey).size(), 1u);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(FolderEntries(dir.Dir()), (std::vector<std::string>{"s.reg", "s.reg.bad"}));
    }
}

TEST(SettingsDamagedFile, SomethingElseThanAFileIsSetAsideToo) {
    qvtest::TempDir dir;
    const std::string path = dir.Path("s.reg");
    std::filesystem::create_directory(path);
    WriteText(path + "/inside", "x");
    SettingsStore store(path);
    testing::internal::CaptureStderr();
    EXPECT_EQ(store.ReadText(kMainKey, "Codec", "d"), "d");
    EXPECT_EQ(CountLines(testing::internal::GetCapturedStderr()), 1u);
    ASSERT_TRUE(store.WriteDword(kMainKey, "ran", 2));
    EXPECT_EQ(ReadText(path + ".bad/inside"), "x");
    EXPECT_EQ(store.ReadInt(kMainKey, "ran", 0), 2);
}

TEST(SettingsDamagedFile, WhenItCannotBeSetAsideNothingIsWritten) {
    qvtest::TempDir dir;
    const std::string path = dir.Path("s.reg");
    WriteText(path, "not settings");
    SettingsStore store(path);
    testing::internal::CaptureStderr();
    qv::WriteFaults faults;
    faults.failRename = true;
    {
        ScopedFaults installed(&faults);
        EXPECT_FALSE(store.WriteDword(kMainKey, "ran", 2));
    }
    EXPECT_EQ(CountLines(testing::internal::GetCapturedStderr()), 1u);
    EXPECT_EQ(ReadText(path), "not settings");
    EXPECT_EQ(FolderEntries(dir.Dir()), std::vector<std::string>{"s.reg"});
}

// ---------------------------------------------------------------------------
// Where the file lives

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

TEST(SettingsPath, TheFirstWriteMakesTheFolders) {
    qvtest::TempDir dir;
    ScopedEnv over("QUORVANDEL_SETTINGS", nullptr);
    ScopedEnv xdg("XDG_CONFIG_HOME", dir.Path("config").c_str());
    SettingsStore store(SettingsStore::DefaultPath());
    EXPECT_EQ(store.ReadInt(kMainKey, "ran", 0), 0);
    ASSERT_TRUE(store.WriteDword(kMainKey, "ran", 2));
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.Path("config/quorvandel/quorvandel.reg")));
    EXPECT_EQ(SettingsStore(dir.Path("config/quorvandel/quorvandel.reg")).ReadInt(kMainKey, "ran", 0),
              2);
}

// ---------------------------------------------------------------------------
// The program's values

TEST(SettingsOptions, LoadFollowsTheDecimalRules) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("s.reg"));
    qv::Settings s;
    LoadSettings(s, store);  // nothing stored: the load's defaults
    EXPECT_EQ(s.deleteSourceFiles, 0);
    EXPECT_EQ(s.skipNoDatestamp, 0);
    EXPECT_EQ(s.codec, "");
    EXPECT_EQ(s.optSensitivity, 2);

    ASSERT_TRUE(store.Edit([](SettingsValues& v) {
        v.WriteText(kMainKey, "deletesourcefiles", "1x");
        v.WriteText(kMainKey, "skipnodatestamp", "x");
        v.WriteText(kMainKey, "codec", "dvvideo");
        v.WriteText(kMainKey, "OptSensitivity", "  4z");
    }));
    LoadSettings(s, store);
    EXPECT_EQ(s.deleteSourceFiles, 1);
    EXPECT_EQ(s.skipNoDatestamp, 0);
    EXPECT_EQ(s.codec, "dvvideo");
    EXPECT_EQ(s.optSensitivity, 4);

    // Empty text takes the default; a sensitivity that indexes no preset too.
    for (const char* text : {"", "5", "-1", "99999999999"}) {
        ASSERT_TRUE(store.Edit([&](SettingsValues& v) {
            v.WriteText(kMainKey, "deletesourcefiles", "");
            v.WriteText(kMainKey, "OptSensitivity", text);
        }));
        s = qv::Settings{1, 1, "x", 0};
        LoadSettings(s, store);
        EXPECT_EQ(s.deleteSourceFiles, 0) << text;
        EXPECT_EQ(s.optSensitivity, 2) << text;
    }
}

TEST(SettingsOptions, SaveWritesDecimalTextAndRoundTrips) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("s.reg"));
    const qv::Settings saved{1, 1, "dv \"codec\" \\ ü", 0};
    ASSERT_TRUE(SaveSettingsValues(saved, store));
    SettingsValues v = store.Load();
    for (const char* name : {"deletesourcefiles", "skipnodatestamp", "Codec", "OptSensitivity"}) {
        ASSERT_NE(v.Find(kMainKey, name), nullptr) << name;
        EXPECT_EQ(v.Find(kMainKey, name)->type, qv::SettingsValue::Type::Text) << name;
    }
    EXPECT_EQ(v.ReadText(kMainKey, "OptSensitivity"), "0");
    qv::Settings loaded;
    LoadSettings(loaded, store);
    EXPECT_EQ(loaded.deleteSourceFiles, 1);
    EXPECT_EQ(loaded.skipNoDatestamp, 1);
    EXPECT_EQ(loaded.codec, saved.codec);
    EXPECT_EQ(loaded.optSensitivity, 0);
}

TEST(SettingsMainWindow, AFreshStoreIsAFirstStartOnce) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("cfg/s.reg"));
    qv::MainWindowState state = LoadMainWindowState(store, "/home/u/scenes.avi");
    EXPECT_EQ(state.outputPath, "/home/u/scenes.avi");
    EXPECT_EQ(state.lastInput, "");
    EXPECT_TRUE(state.inputs.empty());
    EXPECT_TRUE(state.firstStart);
    EXPECT_EQ(store.ReadInt(kMainKey, "ran", 0), 2);
    EXPECT_EQ(store.Load().Find(kMainKey, "ran")->type, qv::SettingsValue::Type::Dword);

    EXPECT_FALSE(LoadMainWindowState(store, "/d").firstStart);

    // Anything but the integer 2 is a first start, and is made 2.
    ASSERT_TRUE(store.WriteDword(kMainKey, "ran", 1));
    EXPECT_TRUE(LoadMainWindowState(store, "/d").firstStart);
    ASSERT_TRUE(store.WriteText(kMainKey, "ran", "2"));
    EXPECT_TRUE(LoadMainWindowState(store, "/d").firstStart);
    EXPECT_EQ(store.ReadInt(kMainKey, "ran", 0), 2);

    ASSERT_TRUE(store.WriteText(kMainKey, "output", ""));
    EXPECT_EQ(LoadMainWindowState(store, "/d/scenes.avi").outputPath, "/d/scenes.avi");
}

TEST(SettingsMainWindow, InputsKeepTheirPlacesAndTheCountIsNotTrusted) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("s.reg"));
    auto inputsWith = [&](uint32_t files, std::initializer_list<std::pair<const char*, std::string>>
                                              values) {
        EXPECT_TRUE(store.Edit([&](SettingsValues& v) {
            for (const auto& old : std::vector<qv::SettingsValue>(v.ValuesOf(kMainKey))) {
                v.DeleteValue(kMainKey, old.name);
            }
            v.WriteDword(kMainKey, "Files", files);
            for (const auto& [name, text] : values) {
                v.WriteText(kMainKey, name, text);
            }
        }));
        return LoadMainWindowState(store, "/d").inputs;
    };
    using Inputs = std::vector<std::string>;
    EXPECT_EQ(inputsWith(3, {{"input0", "/a"}, {"input2", "/c"}}), (Inputs{"/a", "", "/c"}));
    EXPECT_EQ(inputsWith(2, {{"input0", "/a"}, {"input2", "/c"}}), (Inputs{"/a"}));
    EXPECT_EQ(inputsWith(2, {{"INPUT1", "/b"}, {"input0", "/a"}, {"input01", "/x"}}),
              (Inputs{"/a", "/b"}));
    EXPECT_EQ(inputsWith(2, {{"input0", std::string(600, 'a')}, {"input1", "/b"}}),
              (Inputs{"", "/b"}));
    EXPECT_EQ(inputsWith(0xFFFFFFFFu, {{"input0", "/a"}}), Inputs{});  // -1 files
    // A huge count with a far index: the stored entries, not millions of empty ones.
    Inputs far = inputsWith(0x7FFFFFFFu, {{"input0", "/a"}, {"input999999999", "/z"}});
    ASSERT_GE(far.size(), 2u);
    EXPECT_LE(far.size(), 2000u);
    EXPECT_EQ(far.front(), "/a");
    EXPECT_EQ(far.back(), "/z");
    // "Files" stored as text is no count.
    EXPECT_TRUE(store.Edit([](SettingsValues& v) { v.WriteText(kMainKey, "Files", "3"); }));
    EXPECT_TRUE(LoadMainWindowState(store, "/d").inputs.empty());
}

TEST(SettingsMainWindow, SaveWritesEverythingInOrderInOneRewrite) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("s.reg"));
    qv::MainWindowState state;
    state.outputPath = "/out/s.avi";
    state.lastInput = "/in/b.avi";
    state.inputs = {"/in/a.avi", "/in/b.avi"};
    qv::WriteFaults faults;
    {
        ScopedFaults installed(&faults);
        ASSERT_TRUE(SaveMainWindowState(store, qv::Settings{1, 0, "dvvideo", 4}, state));
    }
    EXPECT_EQ(faults.writes, 1);
    EXPECT_EQ(ReadText(store.Path()),
              RegLines({
                  R"("deletesourcefiles"="1")",
                  R"("skipnodatestamp"="0")",
                  R"("Codec"="dvvideo")",
                  R"("OptSensitivity"="4")",
                  R"("last input"="/in/b.avi")",
                  R"("output"="/out/s.avi")",
                  R"("Files"=dword:00000002)",
                  R"("input0"="/in/a.avi")",
                  R"("input1"="/in/b.avi")",
                  "",
              }));
}

TEST(SettingsMainWindow, AShorterListLeavesNoStaleEntries) {
    qvtest::TempDir dir;
    SettingsStore store(dir.Path("s.reg"));
    ASSERT_TRUE(store.WriteText(kClipListKey, "PicsPerLine", "6"));
    qv::MainWindowState state;
    state.inputs = {"/1", "/2", "/3", "/4", "/5"};
    ASSERT_TRUE(SaveMainWindowState(store, {}, state));
    state.inputs = {"/new1", "/new2"};
    ASSERT_TRUE(SaveMainWindowState(store, {}, state));

    SettingsValues v = store.Load();
    std::vector<std::string> inputNames;
    for (const qv::SettingsValue& value : v.ValuesOf(kMainKey)) {
        if (value.name.rfind("input", 0) == 0) {
            inputNames.push_back(value.name);
        }
    }
    EXPECT_EQ(inputNames, (std::vector<std::string>{"input0", "input1"}));
    EXPECT_EQ(v.ReadInt(kMainKey, "Files", 0), 2);
    EXPECT_EQ(LoadMainWindowState(store, "/d").inputs, (std::vector<std::string>{"/new1", "/new2"}));
    EXPECT_EQ(v.ReadText(kClipListKey, "PicsPerLine"), "6");  // other values stay
}

TEST(SettingsMainWindow, PathsRoundTripThroughANewStore) {
    qvtest::TempDir dir;
    const std::string path = dir.Path("s.reg");
    qv::MainWindowState state;
    state.outputPath = "/v/Bänder \"2004\"\\out=1].avi";
    state.lastInput = "C:\\tapes\\tape 1.avi";
    state.inputs = {"/v/a=b].avi", "/v/line\nbreak.avi", "/v/日本.avi"};
    const qv::Settings settings{0, 1, "dvvideo", 1};
    {
        SettingsStore store(path);
        ASSERT_TRUE(SaveMainWindowState(store, settings, state));
    }
    SettingsStore store(path);
    qv::MainWindowState loaded = LoadMainWindowState(store, "/d");
    EXPECT_EQ(loaded.outputPath, state.outputPath);
    EXPECT_EQ(loaded.lastInput, state.lastInput);
    EXPECT_EQ(loaded.inputs, state.inputs);
    qv::Settings s;
    LoadSettings(s, store);
    EXPECT_EQ(s.skipNoDatestamp, 1);
    EXPECT_EQ(s.optSensitivity, 1);
}

TEST(SettingsMainWindow, ADamagedFileStartsLikeAFreshOneAndIsKept) {
    qvtest::TempDir dir;
    const std::string path = dir.Path("s.reg");
    WriteText(path, "\x01\x02garbage");
    SettingsStore store(path);
    testing::internal::CaptureStderr();
    qv::MainWindowState state = LoadMainWindowState(store, "/d/scenes.avi");
    qv::Settings s;
    LoadSettings(s, store);
    EXPECT_EQ(CountLines(testing::internal::GetCapturedStderr()), 1u);
    EXPECT_TRUE(state.firstStart);
    EXPECT_EQ(state.outputPath, "/d/scenes.avi");
    EXPECT_EQ(s.optSensitivity, 2);
    EXPECT_EQ(ReadText(path + ".bad"), "\x01\x02garbage");
    EXPECT_EQ(store.ReadInt(kMainKey, "ran", 0), 2);
}

// The format's limits: a dword has at most 8 hex digits; a logical line (continuations
// joined) of up to 256 KiB is read, a longer one is skipped.
TEST(SettingsFile, ValuesAtTheFormatsLimits) {
    qvtest::TempDir dir;
    const std::string path = dir.Path("s.reg");
    const std::string head = "\"long\"=\"";
    const size_t limit = 256 * 1024;
    const std::string fits(limit - head.size() - 1, 'x');
    WriteText(path, "Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]\r\n"
                    "\"eight\"=dword:7fffffff\r\n"
                    "\"nine\"=dword:000000001\r\n" +
                        head + fits + "\"\r\n" + "\"longer\"=\"" + fits + "\"\r\n");
    testing::internal::CaptureStderr();
    const SettingsValues v = SettingsStore(path).Load();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(v.ReadInt(kMainKey, "eight", 0), 0x7fffffff);
    EXPECT_EQ(v.Find(kMainKey, "nine"), nullptr);
    ASSERT_NE(v.Find(kMainKey, "long"), nullptr);
    EXPECT_EQ(v.Find(kMainKey, "long")->text, fits);
    EXPECT_EQ(v.Find(kMainKey, "longer"), nullptr);
}

}  // namespace
