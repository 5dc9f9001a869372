// The main window driven through its control IDs, with the file dialogs and the
// message boxes answered by the test.

#include "app/MainWindow.h"

#include <QFocusEvent>
#include <QListWidget>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>

#include "app/Version.h"
#include "progress/PictureStrip.h"
#include "resources/Templates.h"
#include "support/SceneSetup.h"
#include "support/Tapes.h"
#include "support/TimeZone.h"
#include "windows/WindowTests.h"

namespace {

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() { Make(); }

    // A new window over the same settings, its dialogs and messages answered by the test.
    void Make() {
        window = std::make_unique<qv::MainWindow>(&store);
        window->Model().copyBufferBytes = 1 << 20;
        window->askOpenFiles = [this](const qv::MainWindow::FileRequest& r) {
            requests.push_back(r);
            return filesToOpen;
        };
        window->askSaveFile = [this](const qv::MainWindow::FileRequest& r) {
            requests.push_back(r);
            return fileToSave;
        };
        window->runDialog = [this](QDialog& dialog) {  // closed at once, cancelled
            dialogsRun.push_back(dialog.objectName().toStdString());
            if (dialog.objectName() == "dialog100") {
                EXPECT_TRUE(qvtest::HasLabels(
                    dialog, {"Quorvandel V " + QString::fromLatin1(qv::kProgramVersion)}));
            }
            return static_cast<int>(QDialog::Rejected);
        };
        window->Messages().answerHook = [this](const std::string& text, qv::Buttons buttons,
                                               const std::string&) {
            asked.push_back(text);
            return buttons == qv::Buttons::Ok ? qv::Answer::Ok : qv::Answer::Yes;
        };
    }

    QTreeWidget* List() { return window->Control<QTreeWidget>(1013); }
    QListWidget* Inputs() { return window->Control<QListWidget>(1004); }
    QPushButton* Button(int id) { return window->Control<QPushButton>(id); }
    QString Status() { return window->Control<QLabel>(1023)->text(); }
    QString Cell(int row, int column) { return List()->topLevelItem(row)->text(column); }
    // The write column of the three rows, as "YESnoYES".
    QString Writes() { return Cell(0, 1) + Cell(1, 1) + Cell(2, 1); }
    // A row's cells from column from on, between bars; row -1 is the header.
    QString Row(int row, int from = 0) {
        QStringList cells;
        for (int c = from; c < List()->columnCount(); ++c) {
            cells << (row < 0 ? List()->headerItem()->text(c) : Cell(row, c));
        }
        return cells.join('|');
    }
    qv::PictureStrip* Strip() { return window->findChild<qv::PictureStrip*>("pictureStrip"); }
    // The first frame of the scene the strip shows, -1 for none.
    int Shown() { return Strip()->ShowsScene() ? Strip()->Frames()[0] : -1; }

    qvtest::ScopedTimeZone zone{"UTC"};
    qvtest::TempDir dir;
    std::string settingsPath = dir.Path("settings.reg");
    qv::SettingsStore store{settingsPath};
    std::unique_ptr<qv::MainWindow> window;
    std::vector<std::string> filesToOpen;
    std::optional<std::string> fileToSave;
    std::vector<qv::MainWindow::FileRequest> requests;
    std::vector<std::string> dialogsRun;
    std::vector<std::string> asked;
};

TEST_F(MainWindowTest, ResizedTheListsTakeTheRoomAndTheRestKeepsToItsEdges) {
    window->Initialize();
    window->show();
    auto rect = [&](int id) {
        return id == 0 ? Strip()->geometry() : window->Control(id)->geometry();
    };
    // The lists and the controls below them at the left line up.
    for (int id : {1013, 1022, 1003}) {
        EXPECT_EQ(rect(id).left(), rect(1004).left()) << id;
    }
    std::map<int, QRect> before;
    for (int id : {0, 3, 1004, 1013, 1023, 1024}) {
        before[id] = rect(id);
    }
    const int names = List()->columnWidth(0), length = List()->columnWidth(2);

    // Larger: a quarter of the height to the input list, the rest to the scene
    // list; the others move with the edge or the middle they keep to, the strip
    // (0) keeps its pictures' size, centred. {id, dx, dy, wider, taller}
    window->resize(window->size() + QSize(200, 120));
    for (const auto& [id, dx, dy, dw, dh] :
         std::initializer_list<std::array<int, 5>>{{1004, 0, 0, 200, 30},
                                                   {3, 100, 30, 0, 0},
                                                   {1013, 0, 30, 200, 90},
                                                   {1023, 0, 120, 200, 0},
                                                   {0, 100, 120, 0, 0},
                                                   {1024, 200, 120, 0, 0}}) {
        EXPECT_EQ(rect(id), before[id].translated(dx, dy).adjusted(0, 0, dw, dh)) << id;
    }
    // The width gained goes to the file names.
    EXPECT_EQ(std::pair(List()->columnWidth(0), List()->columnWidth(2)),
              std::pair(names + 200, length));

    // At the smallest the lists keep their least heights (two files; the header
    // and three scenes), and nothing leaves the window.
    window->resize(1, 1);
    const qv::DialogUnits& u = window->Units();
    EXPECT_EQ(std::pair(rect(1004).height(), rect(1013).height()), std::pair(u.Y(24), u.Y(55)));
    EXPECT_EQ(List()->columnWidth(0), names);
    for (const qv::ControlLayout& c : qv::MainWindowTemplate().controls) {
        if (c.id >= 0 && c.id != 1017) {
            EXPECT_TRUE(QRect(QPoint(0, 0), window->size()).contains(rect(c.id))) << c.id;
        }
    }
}

// Closed, the window keeps its size and position for the next run.
TEST_F(MainWindowTest, TheNextRunOpensWhereAndAsLargeAsTheLastWasClosed) {
    window->Initialize();
    window->show();
    const int names = List()->columnWidth(0);
    const QRect placed(QPoint(40, 30), window->size() + QSize(150, 90));
    window->setGeometry(placed);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    Make();
    window->show();
    // The file names have the width the window has more than its template.
    EXPECT_EQ(std::pair(window->geometry(), List()->columnWidth(0)),
              std::pair(placed, names + 150));
}

TEST_F(MainWindowTest, FirstStartShowsAboutAndTheControlsAddScanSaveMarkWriteAndRemove) {
    // Tapes of recordings one hour apart: a of 50 and 25 frames, b of 75.
    const std::string a = dir.Path("a.avi"), b = dir.Path("b.avi");
    const qvtest::FixtureOptions type1 = qvtest::Type1Options();
    qvtest::WriteTape(a, type1,
                      {{50, qvtest::DvTime{2004, 7, 14, 10, 0, 0}, 1},
                       {25, qvtest::DvTime{2004, 7, 14, 11, 0, 0}, 0}});
    qvtest::WriteTape(b, type1, {{75, qvtest::DvTime{2004, 8, 1, 10, 0, 0}, 500000}});
    window->Initialize();
    window->show();
    ASSERT_EQ(dialogsRun, std::vector<std::string>{"dialog100"});
    EXPECT_EQ(window->windowTitle(), "Quorvandel+");
    EXPECT_EQ(
        qvtest::Texts(*window, {1005, 3, 1022, 1021}),
        (std::vector<QString>{"Add Input-Files", "Scan Datestamps", "&write selected scenes = YES",
                              "write selecte&d scenes = NO"}));
    EXPECT_EQ(Row(-1), "Filename|write?|Length|Datestamp|orig. file|orig. pos");
    // A name typed into the output edit is taken when the edit loses the focus.
    window->Control<QLineEdit>(1003)->setText(QString::fromStdString(dir.Path("out.avi")));
    QFocusEvent leave(QEvent::FocusOut);
    QApplication::sendEvent(window->Control(1003), &leave);

    // Added as b, a: one unscanned row each, nothing to write yet.
    filesToOpen = {b, a};
    Button(1005)->click();
    EXPECT_EQ(requests.back().title, "Add input files");
    EXPECT_EQ(std::tuple(Inputs()->count(), List()->topLevelItemCount(), Button(1009)->isEnabled()),
              std::tuple(2, 2, false));

    // Scan: three recordings, the first row selected and in the strip.
    Button(3)->click();
    ASSERT_EQ(List()->topLevelItemCount(), 3);
    const QString rows[] = {
        "YES|00:02:00|20040714 10:00:00|" + QString::fromStdString(a) + "|00:00:00",
        "YES|00:01:00|20040714 11:00:00|" + QString::fromStdString(a) + "|00:02:00",
        "YES|00:03:00|20040801 10:00:00|" + QString::fromStdString(b) + "|00:00:00"};
    for (int r = 0; r < 3; ++r) {
        EXPECT_TRUE(Cell(r, 0).startsWith(QString::fromStdString(dir.Path("out'2004")))) << r;
        EXPECT_EQ(Row(r, 1), rows[r]);
    }
    EXPECT_EQ(std::tuple(Button(1009)->isEnabled(), Status(), Shown()),
              std::tuple(true, "length: 00:02:00, 1 clip", 0));  // a's first frame

    // About again, the options, the bitmap export and the clip sheet.
    for (int id : {1024, 1014, 1020, 1025}) {
        Button(id)->click();
    }
    EXPECT_EQ(dialogsRun, (std::vector<std::string>{"dialog100", "dialog100", "dialog146",
                                                    "dialog141", "dialog135"}));

    // The list saved as text: a tab between the columns, CR LF after each row.
    fileToSave = dir.Path("list.txt");
    Button(1016)->click();
    EXPECT_EQ(requests.back().title, "Save scenelist as textfile");
    EXPECT_EQ(QString::fromStdString(qvtest::ReadFileText(dir.Path("list.txt"))),
              (QStringList{Row(-1), Row(0), Row(1), Row(2), ""}.join("\r\n").replace('|', '\t')));

    // NO on all three, YES on the middle one, which the strip shows when selected.
    List()->selectAll();
    EXPECT_EQ(Status(), "length: 00:06:00, 3 clips");
    Button(1021)->click();
    EXPECT_EQ(Writes(), "nonono");
    List()->setCurrentItem(List()->topLevelItem(1));
    EXPECT_EQ(Shown(), 50);
    Button(1022)->click();
    EXPECT_EQ(Writes(), "noYESno");

    // WriteScenes writes the marked scene alone.
    const std::string names[] = {window->Model().scenes[0].outputName,
                                 window->Model().scenes[1].outputName};
    Button(1009)->click();
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "completed successfully!"), 1);
    EXPECT_FALSE(std::filesystem::exists(names[0]));
    EXPECT_EQ(qvtest::ReadContent(names[1]).frames, 25);

    // Escape saves the settings and closes the window.
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    qv::SettingsStore saved(settingsPath);
    EXPECT_EQ(std::tuple(saved.ReadText("", "output"), saved.ReadInt("", "Files", -1),
                         saved.ReadText("", "input1")),
              std::tuple(dir.Path("out.avi"), 2, b));

    // Remove All empties both lists.
    Button(1008)->click();
    EXPECT_EQ(std::tuple(Inputs()->count(), List()->topLevelItemCount(), Button(1009)->isEnabled()),
              std::tuple(0, 0, false));

    // The next start is not the first.
    Make();
    window->Initialize();
    EXPECT_EQ(dialogsRun.size(), 5u);
}

// Files dropped on the window are told by their content: a raw DV tape is listed,
// scanned and written as raw DV, a text file named like one is refused with a
// message naming it. The file dialogs offer every DV kind.
TEST_F(MainWindowTest, ADroppedRawDvTapeIsScannedAndWrittenAndATextFileRefused) {
    std::vector<uint8_t> tape;
    for (int i = 0; i < 50; ++i) {
        const auto frame =
            qvtest::MakeDvFrame(true, qvtest::DvTime{2004, 7, 14, i < 25 ? 10 : 11, 0, 0},
                                static_cast<uint32_t>(i + 1));
        tape.insert(tape.end(), frame.begin(), frame.end());
    }
    const std::string raw = dir.Path("tape.dv"), notes = dir.Path("notes.dv");
    ASSERT_TRUE(qvtest::WriteFileBytes(raw, tape));
    ASSERT_TRUE(qvtest::WriteFileBytes(notes, {'h', 'i', '\n'}));
    window->Initialize();
    window->show();
    window->Control<QLineEdit>(1003)->setText(QString::fromStdString(dir.Path("out.dv")));
    QFocusEvent leave(QEvent::FocusOut);
    QApplication::sendEvent(window->Control(1003), &leave);

    window->AddDroppedFiles({raw, notes});
    EXPECT_EQ(Inputs()->count(), 1);
    EXPECT_EQ(
        std::count(asked.begin(), asked.end(), notes + ": not an AVI, raw DV or QuickTime file."),
        1);
    Button(3)->click();
    ASSERT_EQ(List()->topLevelItemCount(), 2);
    Button(1009)->click();
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "completed successfully!"), 1);
    const std::string second = window->Model().scenes[1].outputName;
    EXPECT_EQ(second, dir.Path("out'20040714 11.00.00.dv"));
    EXPECT_EQ(qvtest::ReadFileBytes(second),
              std::vector<uint8_t>(tape.begin() + 25 * 144000, tape.end()));

    Button(1005)->click();
    EXPECT_EQ(requests.back().filters.value(0), "DV Files (*.avi;*.dv;*.dif;*.mov)");
}

}  // namespace
