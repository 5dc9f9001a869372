#include "app/MainWindow.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QPixmap>
#include <QResizeEvent>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QShortcutEvent>
#include <QShowEvent>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>

#include "app/AboutDialog.h"
#include "app/MainWindowLayout.h"
#include "app/SaveFileDialog.h"
#include "app/SceneList.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "resources/Templates.h"

#include "progress/ProgressDialog.h"
#include "progress/PictureStrip.h"
#include "app/OptionsDialog.h"
#include "clipsheet/BitmapExportDialog.h"
#include "clipsheet/ClipSheetWindow.h"
#include "clipsheet/TapeMap.h"
#include "dv/TapeHealth.h"

namespace qv {

namespace {

// Where the main window was: its frame's left and top edges on the screen, and the
// width and height inside the frame (the window manager's border may differ next
// time, and is not known before the window is shown).
const char* const kPlacement[] = {"main.left", "main.top", "main.width", "main.height"};
constexpr int kNameColumn = 0;

constexpr int kMaxDroppedPath = 260;

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

const QStringList kAviFilters{QStringLiteral("DV Files (*.avi;*.dv;*.dif;*.mov)"),
                              QStringLiteral("Avi Files (*.avi)"),
                              QStringLiteral("All Files (*.*)")};

// The filters as Qt's dialog matches them: patterns apart by spaces where the
// filter's text puts semicolons.
QStringList DialogFilters(QStringList filters) {
    for (QString& f : filters) {
        const qsizetype open = f.lastIndexOf(QLatin1Char('('));
        if (open >= 0) {
            f = f.left(open) + f.mid(open).replace(QLatin1Char(';'), QLatin1Char(' '));
        }
    }
    return filters;
}

std::vector<std::string> RunOpenFilesDialog(QWidget* owner, const MainWindow::FileRequest& r) {
    QFileDialog dialog(owner, Q(r.title), Q(r.folder));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(DialogFilters(r.filters));
    dialog.setDefaultSuffix(Q(r.defaultSuffix));
    std::vector<std::string> paths;
    if (dialog.exec() == QDialog::Accepted) {
        for (const QString& f : dialog.selectedFiles()) {
            paths.push_back(S(f));
        }
    }
    return paths;
}

std::optional<std::string> RunSaveFileDialog(QWidget* owner, const MainWindow::FileRequest& r) {
    SaveFileDialog dialog(owner, Q(r.title), Q(r.folder));
    dialog.SetPathMustExist(r.pathMustExist);
    dialog.setNameFilters(DialogFilters(r.filters));
    dialog.setDefaultSuffix(Q(r.defaultSuffix));
    if (!r.fileName.empty()) {
        dialog.selectFile(Q(r.fileName));
    }
    return dialog.Choose();
}

}  // namespace

MainWindow::MainWindow(SettingsStore* store, QWidget* parent)
    : TemplateDialog(MainWindowTemplate(), parent), questions_(this), store_(store) {
    setWindowIcon(AboutDialog::ProgramIcon());
    askOpenFiles = [this](const FileRequest& r) { return RunOpenFilesDialog(this, r); };
    askSaveFile = [this](const FileRequest& r) { return RunSaveFileDialog(this, r); };
    runDialog = [](QDialog& dialog) { return dialog.exec(); };

    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setAcceptDrops(true);
    model_ = std::make_unique<MainWindowModel>(questions_, *this, store_);

    inputs_ = Control<QListWidget>(1004);
    scenes_ = Control<QTreeWidget>(1013);
    output_ = Control<QLineEdit>(1003);
    fileInformation_ = Control<QLabel>(1015);
    selectionStatus_ = Control<QLabel>(1023);
    writeScenes_ = Control<QPushButton>(1009);

    scenes_->setColumnCount(kSceneColumns);
    QStringList titles;
    for (int c = 0; c < kSceneColumns; ++c) {
        int width = 0;
        titles << Q(SceneColumnText(nullptr, c, &width));
        scenes_->setColumnWidth(c, Units().TemplatePixelsX(width));
    }
    scenes_->setHeaderLabels(titles);
    scenes_->header()->setStretchLastSection(false);
    scenes_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    scenes_->setSelectionBehavior(QAbstractItemView::SelectRows);

    output_->installEventFilter(this);
    Wire();

    // Resizable: the template's size to start with, down to the layout's minimum.
    layout_ = std::make_unique<MainWindowLayout>(*this, Units());
    setMinimumSize(layout_->MinimumSize());
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    laidOutWidth_ = width();

    // The stored placement, when it describes a rectangle.
    if (store_ != nullptr) {
        const SettingsValues values = store_->Load();
        int v[4];
        for (int i = 0; i < 4; ++i) {
            v[i] = values.ReadDecimal(kMainKey, kPlacement[i], 0);
        }
        if (v[2] > 0 && v[3] > 0) {
            placement_ = QRect(v[0], v[1], v[2], v[3]);
            move(placement_.topLeft());
            resize(placement_.size());
        }
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    TemplateDialog::showEvent(event);
    if (!placed_ && !placement_.isNull()) {
        move(placement_.topLeft());  // the frame's corner, wherever the manager put it
    }
    placed_ = true;
}

void MainWindow::SavePlacement() {
    if (store_ == nullptr || !placed_) {
        return;
    }
    const QPoint corner = frameGeometry().topLeft();
    const int v[4] = {corner.x(), corner.y(), width(), height()};
    store_->Edit([&](SettingsValues& values) {
        for (int i = 0; i < 4; ++i) {
            values.WriteText(kMainKey, kPlacement[i], std::to_string(v[i]));
        }
    });
}

MainWindow::~MainWindow() {
    // The strip lets go of its file before the model goes.
    ShowScenePictures(-1);
}

void MainWindow::Wire() {
    auto button = [this](int id, auto action) {
        if (auto* b = Control<QPushButton>(id)) {
            connect(b, &QPushButton::clicked, this, [this, action] {
                if (!model_->Busy()) {
                    (this->*action)();
                }
            });
        }
    };
    button(1005, &MainWindow::AddInputFiles);
    button(1008, &MainWindow::RemoveAllInputs);
    button(1006, &MainWindow::RemoveSelectedInputs);
    button(3, &MainWindow::ScanDatestamps);
    button(4, &MainWindow::ScanOptical);
    button(1050, &MainWindow::ScanThoroughly);
    button(1025, &MainWindow::ShowClipSheet);
    button(1051, &MainWindow::ShowTapeMap);
    button(1020, &MainWindow::ExportBitmaps);
    button(1016, &MainWindow::SaveList);
    button(1011, &MainWindow::SetWriteName);
    button(1009, &MainWindow::WriteScenes);
    button(1014, &MainWindow::ShowOptions);
    button(1024, &MainWindow::ShowAbout);
    // Their mnemonics act at once, as a click would (not after the button's
    // pressed-look animation), so a user walking down the list never outruns them.
    Control(1022)->installEventFilter(this);
    Control(1021)->installEventFilter(this);
    if (auto* yes = Control<QPushButton>(1022)) {
        connect(yes, &QPushButton::clicked, this, [this] { MarkSelected(1); });
    }
    if (auto* no = Control<QPushButton>(1021)) {
        connect(no, &QPushButton::clicked, this, [this] { MarkSelected(0); });
    }

    connect(scenes_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem*, QTreeWidgetItem*) {
                if (refreshing_) {
                    return;
                }
                ShowSelectedScene();
                model_->UpdateSelectionStatus();
            });
    connect(scenes_, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (!refreshing_) {
            ShowSelectedScene();
            model_->UpdateSelectionStatus();
        }
    });
}

void MainWindow::Initialize() {
    const bool firstStart = model_->Load();
    output_->setText(Q(model_->outputPath));
    if (strip_ == nullptr) {
        strip_ = new PictureStrip(this, model_->settings.codec);
        strip_->PlaceOver(Control(1017));
        strip_->show();
    }
    if (firstStart) {
        ShowAbout();
    }
    model_->RebuildFromInputs();
}

int MainWindow::Run(QDialog& dialog) { return runDialog ? runDialog(dialog) : dialog.exec(); }

// MainView

void MainWindow::RefreshRows(int row) {
    refreshing_ = true;
    scenes_->setUpdatesEnabled(false);
    if (row == kAllRows) {
        scenes_->clear();
    }
    const int count = model_->scenes.Count();
    const int first = row == kAllRows ? 0 : row;
    const int last = row == kAllRows ? count - 1 : row;
    for (int i = std::max(first, 0); i <= last && i < count; ++i) {
        QTreeWidgetItem* item = scenes_->topLevelItem(i);
        if (item == nullptr) {
            item = new QTreeWidgetItem();
            scenes_->insertTopLevelItem(i, item);
        }
        const Scene& scene = model_->scenes[i];
        // A damaged scene keeps its texts: its row is drawn in red, the damage in its tip.
        const SceneHealth& health = scene.health;
        for (int c = 0; c < kSceneColumns; ++c) {
            item->setText(c, Q(SceneColumnText(&scene, c)));
            item->setForeground(c, health.Damaged() ? QBrush(QColor(0xb0, 0x10, 0x10)) : QBrush());
            item->setToolTip(c, health.Damaged() ? Q(DamageText(health)) : QString());
        }
    }
    scenes_->setUpdatesEnabled(true);
    refreshing_ = false;
    if (row == kAllRows) {
        ShowSelectedScene();  // none: the selection went with the items
    }
    model_->UpdateSelectionStatus();
}

void MainWindow::ShowScenePictures(int scene) {
    if (strip_ == nullptr) {
        return;
    }
    if (scene < 0 || scene >= model_->scenes.Count()) {
        strip_->ShowNone();
        return;
    }
    const Scene& s = model_->scenes[scene];
    strip_->ShowScene(s.sourceFile, s.firstFrame, s.firstFrame + s.frameCount - 1);
}

void MainWindow::ShowSelectedScene() {
    const int row = FocusedRow();
    const bool selected = row >= 0 && scenes_->topLevelItem(row)->isSelected();
    ShowScenePictures(selected ? row : -1);
}

void MainWindow::EnableWriteScenes(bool enabled) { writeScenes_->setEnabled(enabled); }

void MainWindow::SetFileInformation(const std::string& text) { fileInformation_->setText(Q(text)); }

void MainWindow::SetSelectionStatus(const std::string& text) { selectionStatus_->setText(Q(text)); }

void MainWindow::InputListChanged() {
    inputs_->clear();
    for (const std::string& path : model_->Inputs()) {
        inputs_->addItem(Q(path));
    }
}

std::vector<int> MainWindow::SelectedRows() {
    std::vector<int> rows;
    for (int i = 0; i < scenes_->topLevelItemCount(); ++i) {
        if (scenes_->topLevelItem(i)->isSelected()) {
            rows.push_back(i);
        }
    }
    return rows;
}

int MainWindow::FocusedRow() {
    QTreeWidgetItem* item = scenes_->currentItem();
    return item != nullptr ? scenes_->indexOfTopLevelItem(item) : -1;
}

void MainWindow::DeselectRow(int row) {
    if (QTreeWidgetItem* item = scenes_->topLevelItem(row)) {
        item->setSelected(false);
    }
}

void MainWindow::FocusRow(int row) {
    QTreeWidgetItem* item = scenes_->topLevelItem(row);
    if (item == nullptr) {
        return;
    }
    // Through the view, so that the row also becomes the anchor from which
    // Shift+arrow keys extend the selection; then the row alone is selected, as
    // every selected row was deselected before, whatever keys are held.
    const QModelIndex index = scenes_->model()->index(row, 0);
    scenes_->setCurrentIndex(index);
    scenes_->selectionModel()->select(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scenes_->scrollToItem(item);
}

std::unique_ptr<Progress> MainWindow::OpenProgress(const std::string& title) {
    auto dialog = std::make_unique<ProgressDialog>(this, title);
    return dialog;
}

std::optional<std::string> MainWindow::AskSaveFileName(const std::string& title,
                                                       const std::string& initialFolder) {
    FileRequest r;
    r.title = title;
    r.folder = initialFolder;
    r.filters = QStringList{QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*.*)")};
    r.defaultSuffix = "txt";
    r.pathMustExist = true;
    return askSaveFile(r);
}

// Commands

void MainWindow::AddInputFiles() {
    FileRequest r;
    r.title = "Add input files";
    r.folder = ExistingDirectoryOf(model_->lastInput);
    r.filters = kAviFilters;
    r.defaultSuffix = "avi";
    for (const std::string& path : askOpenFiles(r)) {
        model_->lastInput = path;
        model_->AddInput(path);
    }
    model_->RebuildFromInputs();
}

void MainWindow::AddDroppedFiles(const std::vector<std::string>& paths) {
    if (model_->Busy()) {
        return;
    }
    for (const std::string& path : paths) {
        if (!path.empty() && path.size() <= kMaxDroppedPath) {
            model_->AddInput(path);
        }
    }
    model_->RebuildFromInputs();
}

void MainWindow::RemoveSelectedInputs() {
    std::vector<int> rows;
    for (int i = 0; i < inputs_->count(); ++i) {
        if (inputs_->item(i)->isSelected()) {
            rows.push_back(i);
        }
    }
    model_->RemoveInputs(rows);
    model_->RebuildFromInputs();
}

void MainWindow::RemoveAllInputs() {
    model_->RemoveAllInputs();
    model_->RebuildFromInputs();
}

void MainWindow::ScanDatestamps() { model_->ScanDatestampsCommand(); }

void MainWindow::ScanThoroughly() { model_->ScanThoroughlyCommand(); }

void MainWindow::ScanOptical() { model_->ScanOpticalCommand(); }

void MainWindow::SetWriteName() {
    model_->outputPath = S(output_->text());
    const std::string& path = model_->outputPath;
    std::string name = FileNameOf(path);
    const size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? path : path.substr(0, slash == 0 ? 1 : slash);
    if (name.empty()) {
        name = "clips.avi";
    }
    if (!FileExists(folder)) {
        folder = HomeFolder();
        name = "clips.avi";
    }
    FileRequest r;
    r.title = "Set write name";
    r.folder = folder;
    r.fileName = name;
    r.filters = kAviFilters;
    r.defaultSuffix = "avi";
    r.pathMustExist = true;
    std::optional<std::string> chosen = askSaveFile(r);
    if (!chosen) {
        return;
    }
    output_->setText(Q(*chosen));
    model_->SetOutputPath(*chosen);
}

void MainWindow::OutputEditLeft() {
    if (!model_->Busy()) {
        model_->SetOutputPath(S(output_->text()));
    }
}

void MainWindow::WriteScenes() {
    model_->outputPath = S(output_->text());
    model_->WriteScenes();
    // The strip followed the scenes being written; back to the selected one.
    ShowSelectedScene();
}

void MainWindow::SaveList() { model_->SaveList(); }

void MainWindow::ExportBitmaps() {
    BitmapExportDialog dialog(model_->scenes, SelectedRows(), store_, this);
    dialog.inputFiles = model_->Inputs();
    dialog.codecSetting = model_->settings.codec;
    dialog.askFileName = [this](const std::string& folder, const std::string& fileName) {
        FileRequest r;
        r.title = BitmapExportDialog::kSaveTitle;
        r.folder = folder;
        r.fileName = fileName;
        r.filters = BitmapExportDialog::SaveFilters();
        r.defaultSuffix = "bmp";
        return askSaveFile(r);
    };
    dialog.Messages().answerHook = questions_.answerHook;
    Run(dialog);
}

void MainWindow::ShowOptions() {
    Settings edited = model_->settings;
    OptionsDialog dialog(edited, this);
    if (Run(dialog) == QDialog::Accepted) {
        model_->settings = edited;
    }
}

void MainWindow::ShowClipSheet() {
    {
        ClipSheetWindow sheet(model_->scenes, store_, ClipSheetWindow::SharedCache(),
                              model_->settings.codec, this);
        Run(sheet);
    }
    RefreshRows(kAllRows);
}

void MainWindow::ShowTapeMap() {
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Tape Map"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* area = new QScrollArea(&dialog);
    auto* picture = new QLabel(area);
    picture->setObjectName(QStringLiteral("tapeMap"));
    picture->setPixmap(QPixmap::fromImage(TapeMapImage(TapeMapFiles(model_->scenes))));
    area->setWidget(picture);
    area->setMinimumSize(std::min(kTapeMapWidth + 24, 1240), 240);
    layout->addWidget(area);
    bool counted = false;
    for (const Scene& s : model_->scenes) {
        counted = counted || s.health.counted;
    }
    if (!counted) {
        // Only the thorough scan reads every frame; the other scans cannot tell damage.
        layout->addWidget(new QLabel(
            QStringLiteral("Scan Thoroughly to see the damaged frames."), &dialog));
    }
    Run(dialog);
}

void MainWindow::ShowAbout() {
    AboutDialog about(this);
    Run(about);
}


void MainWindow::MarkSelected(int value) {
    if (model_->Busy()) {
        return;
    }
    model_->SetWriteForSelected(value, true);
    scenes_->setFocus(Qt::OtherFocusReason);
}

// Window input

void MainWindow::accept() {}

void MainWindow::done(int result) {
    if (model_->Busy()) {
        return;
    }
    // The output edit may still hold text it has not handed over.
    model_->outputPath = S(output_->text());
    model_->SaveSettings();
    SavePlacement();
    TemplateDialog::done(result);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    TemplateDialog::keyPressEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    TemplateDialog::resizeEvent(event);
    layout_->Apply(size());
    // The width the window gains or gives back goes to the file names, never below
    // their template width; the user's own column widths stay as they were set.
    int least = 0;
    SceneColumnText(nullptr, kNameColumn, &least);
    const int grown = scenes_->columnWidth(kNameColumn) + width() - laidOutWidth_;
    scenes_->setColumnWidth(kNameColumn, std::max(Units().TemplatePixelsX(least), grown));
    laidOutWidth_ = width();
    if (strip_ != nullptr) {
        strip_->PlaceOver(Control(1017));
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            paths.push_back(S(url.toLocalFile()));
        }
    }
    event->acceptProposedAction();
    AddDroppedFiles(paths);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == output_ && event->type() == QEvent::FocusOut) {
        OutputEditLeft();
    }
    if (event->type() == QEvent::Shortcut && (watched == Control(1022) || watched == Control(1021))) {
        auto* shortcut = static_cast<QShortcutEvent*>(event);
        if (!shortcut->isAmbiguous()) {
            static_cast<QPushButton*>(watched)->click();
            return true;
        }
    }
    return TemplateDialog::eventFilter(watched, event);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    // No system menu here: the window's own menu carries the About entry.
    QMenu menu(this);
    QAction* about = menu.addAction(QStringLiteral("&About quorvandel..."));
    about->setData(kAboutCommand);
    if (menu.exec(event->globalPos()) == about && !model_->Busy()) {
        ShowAbout();
    }
}

}  // namespace qv
