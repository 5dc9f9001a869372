#pragma once
// The main window: the input files, the scene list, the output name and the
// buttons of every command, all driven through the window's model.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QStringList>

#include "app/MainView.h"
#include "app/MainWindowModel.h"
#include "app/MessageDialog.h"
#include "platform/SettingsStore.h"
#include "resources/TemplateDialog.h"

class QListWidget;
class QTreeWidget;
class QLineEdit;
class QLabel;
class QPushButton;

namespace qv {

class MainWindowLayout;
class PictureStrip;

class MainWindow : public TemplateDialog, public MainView {
    Q_OBJECT
public:
    // The system menu's About command.
    static constexpr int kAboutCommand = 16;

    // store may be null: nothing is loaded or saved then.
    MainWindow(SettingsStore* store, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Loads the settings and the input list, shows the About dialog on the first
    // start, and rebuilds the scene list.
    void Initialize();

    MainWindowModel& Model() { return *model_; }
    MessageDialog& Messages() { return questions_; }

    // File dialogs; tests replace them. Open: the chosen paths, empty when cancelled.
    struct FileRequest {
        std::string title;
        std::string folder;
        std::string fileName;
        QStringList filters;
        std::string defaultSuffix;
        bool pathMustExist = false;  // save dialogs: a name in a missing folder is refused
    };
    std::function<std::vector<std::string>(const FileRequest&)> askOpenFiles;
    std::function<std::optional<std::string>(const FileRequest&)> askSaveFile;
    // Other modal dialogs (About, Options); tests replace it. Returns exec()'s result.
    std::function<int(QDialog&)> runDialog;

    // MainView
    void RefreshRows(int row) override;
    void ShowScenePictures(int scene) override;
    // The strip shows the focused scene while its row is selected, else none.
    void ShowSelectedScene();
    void EnableWriteScenes(bool enabled) override;
    void SetFileInformation(const std::string& text) override;
    void SetSelectionStatus(const std::string& text) override;
    void InputListChanged() override;
    std::vector<int> SelectedRows() override;
    int FocusedRow() override;
    void DeselectRow(int row) override;
    void FocusRow(int row) override;
    std::unique_ptr<Progress> OpenProgress(const std::string& title) override;
    std::optional<std::string> AskSaveFileName(const std::string& title,
                                               const std::string& initialFolder) override;

    // The window's commands, as their controls run them.
    void AddInputFiles();
    void AddDroppedFiles(const std::vector<std::string>& paths);
    void RemoveSelectedInputs();
    void RemoveAllInputs();
    void ScanDatestamps();
    void ScanThoroughly();
    void ScanOptical();
    void SetWriteName();
    void OutputEditLeft();
    void WriteScenes();
    void SaveList();
    void ExportBitmaps();
    void ShowOptions();
    void ShowAbout();
    // Runs the clip sheet over the scene list, then rewrites every row: write
    // flags may have changed.
    void ShowClipSheet();
    void ShowTapeMap();  // the damage of the input files' scenes, as the report draws it
    void MarkSelected(int value);

public slots:
    void accept() override;  // Enter: nothing
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void Wire();
    int Run(QDialog& dialog);
    // Where and how large the window is, for the next run, as the clip sheet keeps its own.
    void SavePlacement();

    MessageDialog questions_;
    SettingsStore* store_;
    std::unique_ptr<MainWindowModel> model_;
    QListWidget* inputs_ = nullptr;
    QTreeWidget* scenes_ = nullptr;
    QLineEdit* output_ = nullptr;
    QLabel* fileInformation_ = nullptr;
    QLabel* selectionStatus_ = nullptr;
    QPushButton* writeScenes_ = nullptr;
    PictureStrip* strip_ = nullptr;
    std::unique_ptr<MainWindowLayout> layout_;
    QRect placement_;  // the stored corner and size, taken when the window is first shown
    bool placed_ = false;
    int laidOutWidth_ = 0;  // the width the scene list's columns were last given for
    bool refreshing_ = false;
};

}  // namespace qv
