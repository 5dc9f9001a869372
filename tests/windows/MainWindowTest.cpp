// The main window driven through its control IDs, with the file dialogs and the
// message boxes answered by the test.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "clipsheet/ClipSheetWindow.h"
#include "app/SceneList.h"
#include "progress/PictureStrip.h"
#include "resources/Templates.h"
#include "platform/SettingsStore.h"
#include "support/AviFixture.h"
#include "support/Tapes.h"
#include "support/TimeZone.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

using qvtest::DvTime;
using qvtest::Stretch;

struct Asked {
    std::string text;
    qv::Buttons buttons;
};

const DvTime kJuly{2004, 7, 14, 10, 0, 0};
const DvTime kAugust{2004, 8, 1, 10, 0, 0};

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        settingsPath = dir.Path("settings.reg");
        ::setenv("QUORVANDEL_SETTINGS", settingsPath.c_str(), 1);
        store = std::make_unique<qv::SettingsStore>(qv::SettingsStore::DefaultPath());
        window = std::make_unique<qv::MainWindow>(store.get());
        window->Model().copyBufferBytes = 1 << 20;
        window->askOpenFiles = [this](const qv::MainWindow::FileRequest& r) {
            openRequests.push_back(r);
            return filesToOpen;
        };
        window->askSaveFile = [this](const qv::MainWindow::FileRequest& r) {
            saveRequests.push_back(r);
            return fileToSave;
        };
        window->runDialog = [this](QDialog& dialog) {
            dialogsRun.push_back(dialog.objectName().toStdString());
            return static_cast<int>(QDialog::Accepted);
        };
        window->Messages().answerHook = [this](const std::string& text, qv::Buttons buttons,
                                               const std::string&) {
            asked.push_back({text, buttons});
            return buttons == qv::Buttons::Ok ? qv::Answer::Ok : qv::Answer::Yes;
        };
    }
    ~MainWindowTest() override {
        window.reset();
        ::unsetenv("QUORVANDEL_SETTINGS");
    }

    // A type-1 tape of recordings of the given lengths, one hour apart.
    std::string Tape(const std::string& name, const std::vector<int>& lengths, DvTime start,
                     uint32_t seed) {
        std::vector<Stretch> stretches;
        for (size_t i = 0; i < lengths.size(); ++i) {
            stretches.push_back(
                {lengths[i], qvtest::Plus(start, 3600 * static_cast<int>(i)), i == 0 ? seed : 0});
        }
        qvtest::FixtureOptions type1;
        type1.type = qvtest::DvType::Type1;
        const std::string path = dir.Path(name);
        qvtest::WriteTape(path, type1, stretches);
        return path;
    }

    // The window with a.avi, of recordings of the given lengths, added and scanned.
    std::string Scanned(const std::vector<int>& lengths) {
        const std::string a = Tape("a.avi", lengths, kJuly, 1);
        window->Initialize();
        filesToOpen = {a};
        Button(1005)->click();
        Button(3)->click();
        return a;
    }

    QTreeWidget* List() { return window->Control<QTreeWidget>(1013); }
    QListWidget* Inputs() { return window->Control<QListWidget>(1004); }
    QPushButton* Button(int id) { return window->Control<QPushButton>(id); }
    QString Status() { return window->Control<QLabel>(1023)->text(); }
    QString Cell(int row, int column) { return List()->topLevelItem(row)->text(column); }
    std::vector<int> Selected() {
        std::vector<int> rows;
        for (int i = 0; i < List()->topLevelItemCount(); ++i) {
            if (List()->topLevelItem(i)->isSelected()) {
                rows.push_back(i);
            }
        }
        return rows;
    }
    int Focused() {
        QTreeWidgetItem* item = List()->currentItem();
        return item != nullptr ? List()->indexOfTopLevelItem(item) : -1;
    }
    bool WasAsked(const std::string& text) const {
        for (const Asked& a : asked) {
            if (a.text == text) {
                return true;
            }
        }
        return false;
    }
    void Activate() {
        window->show();
        window->activateWindow();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    qvtest::ScopedTimeZone zone{"UTC"};
    qvtest::TempDir dir;
    std::string settingsPath;
    std::unique_ptr<qv::SettingsStore> store;
    std::unique_ptr<qv::MainWindow> window;
    std::vector<std::string> filesToOpen;
    std::optional<std::string> fileToSave;
    std::vector<qv::MainWindow::FileRequest> openRequests;
    std::vector<qv::MainWindow::FileRequest> saveRequests;
    std::vector<std::string> dialogsRun;
    std::vector<Asked> asked;
};

TEST_F(MainWindowTest, HasEveryControlWithItsTextAndTheSixColumns) {
    window->Initialize();
    EXPECT_EQ(window->windowTitle(), "Quorvandel+");
    EXPECT_EQ(Button(1005)->text(), "Add Input-Files");
    EXPECT_EQ(Button(3)->text(), "Scan Datestamps");
    EXPECT_EQ(Button(1022)->text(), "&write selected scenes = YES");
    EXPECT_EQ(Button(1021)->text(), "write selecte&d scenes = NO");
    EXPECT_TRUE(window->Control(1017)->isHidden());
    ASSERT_EQ(List()->columnCount(), qv::kSceneColumns);
    for (int c = 0; c < qv::kSceneColumns; ++c) {
        int width = 0;
        const std::string title = qv::SceneColumnText(nullptr, c, &width);
        EXPECT_EQ(List()->headerItem()->text(c).toStdString(), title);
        // Scaled to the font as the dialog units are.
        EXPECT_EQ(List()->columnWidth(c), width * window->Units().X(4) / 6);
    }
    // An empty list: nothing to write, no file description.
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_FALSE(Button(1009)->isEnabled());
    EXPECT_TRUE(window->Control<QLabel>(1015)->text().isEmpty());
}

TEST_F(MainWindowTest, ResizedTheListsTakeTheRoomAndTheRestKeepsToItsEdges) {
    window->Initialize();
    Activate();
    const qv::DialogUnits& u = window->Units();
    const QSize base = window->size();
    EXPECT_EQ(base, QSize(u.X(495), u.Y(335)));
    EXPECT_GT(window->maximumWidth(), base.width());
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    auto rect = [&](int id) { return window->Control(id)->geometry(); };
    // At the template's size every control stands at its rectangle.
    for (const qv::ControlLayout& c : qv::MainWindowTemplate().controls) {
        if (c.id >= 0 && c.kind != qv::ControlKind::Static) {
            EXPECT_EQ(rect(c.id), u.Rect(c.x, c.y, c.width, c.height)) << c.id;
        }
    }
    const QRect strip = window->findChild<QWidget*>("pictureStrip")->geometry();

    // Larger: a quarter of the height to the input list, the rest to the scene list.
    window->resize(base + QSize(200, 120));
    EXPECT_EQ(rect(1004), u.Rect(7, 7, 481, 60).adjusted(0, 0, 200, 30));
    EXPECT_EQ(rect(1005), u.Rect(218, 71, 58, 14).translated(0, 30));
    EXPECT_EQ(rect(1006), u.Rect(445, 71, 43, 10).translated(200, 30));
    EXPECT_EQ(rect(3), u.Rect(182, 88, 64, 14).translated(100, 30));
    EXPECT_EQ(rect(1013), u.Rect(7, 105, 481, 75).adjusted(0, 30, 200, 120));
    EXPECT_EQ(rect(1022), u.Rect(7, 183, 101, 12).translated(0, 120));
    EXPECT_EQ(rect(1023), u.Rect(222, 184, 127, 8).adjusted(0, 120, 200, 120));
    EXPECT_EQ(rect(1016), u.Rect(445, 183, 43, 12).translated(200, 120));
    EXPECT_EQ(rect(1003), u.Rect(7, 296, 462, 14).adjusted(0, 120, 200, 120));
    EXPECT_EQ(rect(1011), u.Rect(472, 296, 16, 14).translated(200, 120));
    EXPECT_EQ(rect(1009), u.Rect(211, 315, 73, 14).translated(100, 120));
    EXPECT_EQ(rect(1024), u.Rect(438, 314, 50, 14).translated(200, 120));
    // The strip keeps its pictures' size, centred.
    EXPECT_EQ(window->findChild<QWidget*>("pictureStrip")->geometry(), strip.translated(100, 120));

    // At the smallest nothing overlaps and everything stays inside the window.
    window->resize(1, 1);
    const QSize least = window->size();
    EXPECT_EQ(least, window->minimumSize());
    EXPECT_LT(least.width(), base.width());
    EXPECT_LT(least.height(), base.height());
    const QRect inside(QPoint(0, 0), least);
    for (const qv::ControlLayout& c : qv::MainWindowTemplate().controls) {
        if (c.id >= 0 && c.id != 1017) {
            EXPECT_TRUE(inside.contains(rect(c.id))) << c.id;
        }
    }
    const QRect shrunk = window->findChild<QWidget*>("pictureStrip")->geometry();
    // The lists keep their smallest heights: two files, the header and three scenes.
    EXPECT_EQ(rect(1004).height(), u.Y(24));
    EXPECT_EQ(rect(1013).height(), u.Y(55));
    EXPECT_LT(rect(1004).bottom(), rect(1005).top());
    EXPECT_LT(rect(3).bottom(), rect(1013).top());
    EXPECT_LT(rect(1013).bottom(), rect(1022).top());
    EXPECT_LT(rect(1022).bottom(), shrunk.top());
    EXPECT_LT(shrunk.bottom(), rect(1003).top());
    EXPECT_LT(rect(1003).bottom(), rect(1009).top());
    EXPECT_LT(rect(1021).right(), rect(1023).left());
    EXPECT_LE(rect(1023).right(), rect(1025).left());
    EXPECT_LT(rect(1005).right(), rect(1008).left());
    EXPECT_LT(rect(1009).right(), rect(1014).left());
    // The strip's pictures keep their shape (to a pixel).
    const QRect frame = u.Rect(-1, 208, 498, 74);
    EXPECT_NEAR(rect(1017).width() * frame.height(), frame.width() * rect(1017).height(),
                frame.width());
    EXPECT_EQ(shrunk, rect(1017).adjusted(0, -qv::PictureStrip::kLabelHeight, 0, 0));
    // The selection status keeps room for its text.
    EXPECT_GE(rect(1023).width(),
              window->Control(1023)->fontMetrics().horizontalAdvance("length: 00:06:00, 3 clips"));
    // A 1600 x 1000 screen at 200 % scaling (800 x 500 pixels as the window counts
    // them) holds the smallest window with its frame and title bar.
    EXPECT_LE(least.width(), 800 - 4);
    EXPECT_LE(least.height(), 500 - 40);
}

TEST_F(MainWindowTest, FirstStartShowsAboutOnceAndTheButtonShowsItAgain) {
    window->Initialize();
    EXPECT_EQ(dialogsRun, std::vector<std::string>{"dialog100"});
    Button(1024)->click();
    EXPECT_EQ(dialogsRun.size(), 2u);
    // The next start is not the first.
    window.reset();
    dialogsRun.clear();
    window = std::make_unique<qv::MainWindow>(store.get());
    window->runDialog = [this](QDialog& dialog) {
        dialogsRun.push_back(dialog.objectName().toStdString());
        return 0;
    };
    window->Initialize();
    EXPECT_TRUE(dialogsRun.empty());
}

TEST_F(MainWindowTest, ClipSheetOpensOverTheScenesAndItsClicksShowInTheList) {
    Scanned({50, 25});
    ASSERT_EQ(List()->topLevelItemCount(), 2);
    ASSERT_EQ(Cell(1, 1), "YES");
    window->runDialog = [this](QDialog& dialog) {
        dialogsRun.push_back(dialog.objectName().toStdString());
        auto* sheet = qobject_cast<qv::ClipSheetWindow*>(&dialog);
        if (sheet != nullptr) {
            sheet->resize(600, 400);
            sheet->show();
            QApplication::processEvents();
            // A click on the second scene's first picture crosses it out.
            const int k = 3;
            EXPECT_EQ(sheet->Layout().cells[k].sceneIndex, 1);
            const qv::SheetRect r = sheet->Layout().cells[k].rect;
            sheet->ButtonDown(r.left + 5, r.top + 5);
            sheet->ButtonUp(r.left + 5, r.top + 5);
            sheet->Command(qv::ClipSheetWindow::kCloseCommand)->trigger();
        }
        return dialog.result();
    };
    Button(1025)->click();
    EXPECT_EQ(dialogsRun.back(), "dialog135");
    EXPECT_EQ(Cell(0, 1) + Cell(1, 1), "YESno");
}

TEST_F(MainWindowTest, AddScanMarkAndWriteThroughTheControls) {
    const std::string b = Tape("b.avi", {75}, kAugust, 500000);
    const std::string a = Tape("a.avi", {50, 25}, kJuly, 1);
    window->Initialize();
    window->Control<QLineEdit>(1003)->setText(QString::fromStdString(dir.Path("out.avi")));
    QFocusEvent leave(QEvent::FocusOut);
    QApplication::sendEvent(window->Control(1003), &leave);
    Activate();

    // Added as b, a: listed as a, b, one unscanned row each, nothing to write yet.
    filesToOpen = {b, a};
    Button(1005)->click();
    ASSERT_EQ(openRequests.size(), 1u);
    EXPECT_EQ(openRequests[0].title, "Add input files");
    EXPECT_EQ(openRequests[0].filters,
              (QStringList{"Avi Files (*.avi)", "All Files (*.*)"}));
    ASSERT_EQ(Inputs()->count(), 2);
    EXPECT_EQ(Inputs()->item(0)->text().toStdString(), a);
    EXPECT_EQ(Inputs()->item(1)->text().toStdString(), b);
    ASSERT_EQ(List()->topLevelItemCount(), 2);
    EXPECT_EQ(Cell(0, 4).toStdString(), a);
    EXPECT_EQ(Cell(0, 2), "00:03:00");  // 75 frames
    EXPECT_FALSE(Button(1009)->isEnabled());
    EXPECT_FALSE(window->Control<QLabel>(1015)->text().isEmpty());

    // Scan: three recordings, the first row selected and focused.
    Button(3)->click();
    ASSERT_EQ(List()->topLevelItemCount(), 3);
    const char* lengths[] = {"00:02:00", "00:01:00", "00:03:00"};
    const char* stamps[] = {"20040714 10:00:00", "20040714 11:00:00", "20040801 10:00:00"};
    const char* origins[] = {"00:00:00", "00:02:00", "00:00:00"};
    for (int r = 0; r < 3; ++r) {
        EXPECT_TRUE(Cell(r, 0).startsWith(QString::fromStdString(dir.Path("out'2004")))) << r;
        EXPECT_EQ(Cell(r, 1), "YES");
        EXPECT_EQ(Cell(r, 2), lengths[r]);
        EXPECT_EQ(Cell(r, 3), stamps[r]);
        EXPECT_EQ(Cell(r, 4).toStdString(), r < 2 ? a : b);
        EXPECT_EQ(Cell(r, 5), origins[r]);
    }
    EXPECT_TRUE(Button(1009)->isEnabled());
    EXPECT_EQ(Status(), "length: 00:02:00, 1 clip");
    // The fixed-length columns show their texts whole.
    for (int c : {1, 2, 3, 5}) {
        // (Through the base, where the size hint is public.)
        EXPECT_GE(List()->columnWidth(c),
                  static_cast<QAbstractItemView*>(List())->sizeHintForColumn(c))
            << c;
    }

    // NO by the button: row 0 off, on to row 1, the list keeps the focus.
    Button(1021)->click();
    EXPECT_EQ(Cell(0, 1), "no");
    EXPECT_EQ(Status(), "length: 00:01:00, 1 clip");
    EXPECT_EQ(window->focusWidget(), List());

    // The progress dialogs of the scan took the activation; the mnemonics need it back.
    Activate();
    // Alt+D: row 1 off, on to row 2.
    QTest::keyClick(window.get(), Qt::Key_D, Qt::AltModifier);
    EXPECT_EQ(Cell(1, 1), "no");
    EXPECT_EQ(Focused(), 2);

    // All three selected with the focus on the last: Alt+W marks them, none stays selected.
    List()->selectAll();
    EXPECT_EQ(Status(), "length: 00:06:00, 3 clips");
    int yesClicks = 0;
    QObject::connect(Button(1022), &QPushButton::clicked, [&] { ++yesClicks; });
    QTest::keyClick(List(), Qt::Key_W, Qt::AltModifier);
    EXPECT_EQ(yesClicks, 1);
    EXPECT_EQ(Cell(0, 1) + Cell(1, 1) + Cell(2, 1), "YESYESYES");
    EXPECT_TRUE(Selected().empty());
    EXPECT_EQ(Status(), "");

    // Only the middle scene stays marked.
    List()->topLevelItem(0)->setSelected(true);
    List()->topLevelItem(2)->setSelected(true);
    EXPECT_EQ(Status(), "length: 00:05:00, 2 clips");
    Button(1021)->click();
    EXPECT_EQ(Cell(0, 1) + Cell(1, 1) + Cell(2, 1), "noYESno");

    // Enter does nothing.
    QTest::keyClick(List(), Qt::Key_Return);
    EXPECT_TRUE(window->isVisible());

    const std::string names[] = {window->Model().scenes[0].outputName,
                                 window->Model().scenes[1].outputName};
    Button(1009)->click();
    EXPECT_TRUE(WasAsked("completed successfully!"));
    EXPECT_FALSE(std::filesystem::exists(names[0]));
    EXPECT_EQ(qvtest::ReadContent(names[1]).frames, 25);

    // Escape saves the settings and closes the window.
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    qv::SettingsStore saved(settingsPath);
    EXPECT_EQ(saved.ReadText("", "output"), dir.Path("out.avi"));
    EXPECT_EQ(saved.ReadInt("", "Files", -1), 2);
    EXPECT_EQ(saved.ReadText("", "input1"), b);
}

TEST_F(MainWindowTest, PictureStripShowsTheSelectedSceneOrNothing) {
    window->Initialize();
    auto* strip = window->findChild<qv::PictureStrip*>("pictureStrip");
    ASSERT_NE(strip, nullptr);
    auto shown = [&]() -> int {
        if (!strip->ShowsScene()) {
            return -1;
        }
        for (int i = 0; i < window->Model().scenes.Count(); ++i) {
            if (strip->Frames()[0] == window->Model().scenes[i].firstFrame &&
                strip->Decoder().FileName() == window->Model().scenes[i].sourceFile) {
                return i;
            }
        }
        return -2;  // a scene that is not in the list
    };
    EXPECT_EQ(shown(), -1);  // no scene loaded

    const std::string a = Tape("a.avi", {30, 20, 25}, kJuly, 1);
    window->Control<QLineEdit>(1003)->setText(QString::fromStdString(dir.Path("out.avi")));
    filesToOpen = {a};
    Button(1005)->click();
    EXPECT_EQ(shown(), -1);  // an unscanned row, none selected
    Button(3)->click();
    EXPECT_EQ(shown(), 0);
    Button(1021)->click();  // row 0: no; on to row 1
    EXPECT_EQ(shown(), 1);

    // The run follows the scene being written (scene 1 last); then back to row 2.
    List()->setCurrentItem(List()->topLevelItem(2), 0, QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(shown(), 2);
    window->Model().scenes[2].write = 0;
    Button(1009)->click();
    ASSERT_TRUE(WasAsked("completed successfully!"));
    EXPECT_EQ(Selected(), std::vector<int>{2});
    EXPECT_EQ(shown(), 2);

    // The sources deleted and nothing left to scan: nothing shown, no labels.
    window->Model().settings.deleteSourceFiles = 1;
    Button(1009)->click();
    EXPECT_FALSE(std::filesystem::exists(a));
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_EQ(shown(), -1);
    strip->DrawNow();
    EXPECT_EQ(strip->Labels(), std::vector<std::string>(5));
}

TEST_F(MainWindowTest, AdvancedRowIsTheAnchorOfShiftSelection) {
    Scanned({30, 20, 25, 40, 10});
    ASSERT_EQ(List()->topLevelItemCount(), 5);
    Activate();
    List()->setFocus();
    QTest::keyClick(window.get(), Qt::Key_W, Qt::AltModifier);  // row 0: YES, on to 1
    QTest::keyClick(window.get(), Qt::Key_D, Qt::AltModifier);  // row 1: no, on to 2
    EXPECT_EQ(Selected(), std::vector<int>{2});
    QTest::keyClick(List(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(Selected(), (std::vector<int>{2, 3}));
    EXPECT_EQ(Focused(), 3);
    // By the button too, clicked with the mouse.
    QTest::mouseClick(Button(1022), Qt::LeftButton);  // rows 2 and 3: YES, on to 4
    EXPECT_EQ(Selected(), std::vector<int>{4});
    QTest::keyClick(List(), Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(Selected(), (std::vector<int>{3, 4}));
}

TEST_F(MainWindowTest, SaveDialogsNameTheScenesAndWriteTheSceneList) {
    Scanned({30});
    ASSERT_EQ(List()->topLevelItemCount(), 1);
    fileToSave = dir.Path("holiday.avi");
    Button(1011)->click();
    ASSERT_EQ(saveRequests.size(), 1u);
    EXPECT_EQ(saveRequests[0].title, "Set write name");
    EXPECT_TRUE(saveRequests[0].pathMustExist);
    EXPECT_EQ(window->Control<QLineEdit>(1003)->text().toStdString(), dir.Path("holiday.avi"));
    EXPECT_TRUE(Cell(0, 0).startsWith(QString::fromStdString(dir.Path("holiday"))));

    // Cancelled: nothing changes.
    fileToSave.reset();
    Button(1011)->click();
    EXPECT_TRUE(Cell(0, 0).startsWith(QString::fromStdString(dir.Path("holiday"))));

    // Typed into the edit: named when the edit loses the focus.
    window->Control<QLineEdit>(1003)->setText(QString::fromStdString(dir.Path("party.avi")));
    EXPECT_TRUE(Cell(0, 0).startsWith(QString::fromStdString(dir.Path("holiday"))));
    QFocusEvent leave(QEvent::FocusOut);
    QApplication::sendEvent(window->Control(1003), &leave);
    EXPECT_TRUE(Cell(0, 0).startsWith(QString::fromStdString(dir.Path("party"))));

    fileToSave = dir.Path("list.txt");
    Button(1016)->click();
    ASSERT_EQ(saveRequests.size(), 3u);
    EXPECT_EQ(saveRequests[2].title, "Save scenelist as textfile");
    EXPECT_EQ(saveRequests[2].filters, (QStringList{"Text Files (*.txt)", "All Files (*.*)"}));
    EXPECT_FALSE(qvtest::ReadFileBytes(dir.Path("list.txt")).empty());
}

TEST_F(MainWindowTest, DroppedFilesAreAddedOnceAndRemoveButtonsEmptyTheList) {
    const std::string a = Tape("a.avi", {30}, kJuly, 1);
    const std::string b = Tape("b.avi", {20}, kAugust, 9000);
    window->Initialize();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(b)),
                  QUrl::fromLocalFile(QString::fromStdString(a)),
                  QUrl::fromLocalFile(QString::fromStdString(a))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    ASSERT_EQ(Inputs()->count(), 2);
    EXPECT_EQ(Inputs()->item(0)->text().toStdString(), a);
    EXPECT_EQ(List()->topLevelItemCount(), 2);

    Inputs()->item(0)->setSelected(true);
    Button(1006)->click();
    ASSERT_EQ(Inputs()->count(), 1);
    EXPECT_EQ(Inputs()->item(0)->text().toStdString(), b);

    Button(1008)->click();
    EXPECT_EQ(Inputs()->count(), 0);
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_FALSE(Button(1009)->isEnabled());
    EXPECT_TRUE(window->Control<QLabel>(1015)->text().isEmpty());
}

TEST_F(MainWindowTest, OptionsChangeTheSettingsOnlyWhenAccepted) {
    window->Initialize();
    const int before = window->Model().settings.optSensitivity;
    window->runDialog = [this](QDialog& dialog) {
        dialogsRun.push_back(dialog.objectName().toStdString());
        return static_cast<int>(QDialog::Rejected);
    };
    dialogsRun.clear();
    Button(1014)->click();
    EXPECT_EQ(dialogsRun, std::vector<std::string>{"dialog146"});
    EXPECT_EQ(window->Model().settings.optSensitivity, before);
}

}  // namespace
