#pragma once
// What the window's model needs of a view: the list rows, the selection, the
// picture strip, a few texts and the progress dialogs. The Qt window implements it;
// the CLI and tests have their own.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Progress.h"

namespace qv {

class MainView {
public:
    static constexpr int kAllRows = -1;

    virtual ~MainView() = default;
    // Rewrites one row of the scene list, or all (then the selection is lost).
    virtual void RefreshRows(int row) = 0;
    // Shows the scene's pictures in the strip; -1 shows none and lets go of the file.
    virtual void ShowScenePictures(int scene) = 0;
    virtual void EnableWriteScenes(bool enabled) = 0;
    virtual void SetFileInformation(const std::string& text) = 0;
    virtual void SetSelectionStatus(const std::string& text) = 0;
    virtual void InputListChanged() = 0;

    virtual std::vector<int> SelectedRows() = 0;
    virtual int FocusedRow() = 0;  // -1 when none
    virtual void DeselectRow(int row) = 0;
    // Selects and focuses row and scrolls it into view.
    virtual void FocusRow(int row) = 0;

    virtual std::unique_ptr<Progress> OpenProgress(const std::string& title) = 0;
    // The save-file dialog; nothing when cancelled.
    virtual std::optional<std::string> AskSaveFileName(const std::string& title,
                                                       const std::string& initialFolder) = 0;
};

// A view with no window: for the command-line program.
class HeadlessView : public MainView {
public:
    void RefreshRows(int) override {}
    void ShowScenePictures(int) override {}
    void EnableWriteScenes(bool) override {}
    void SetFileInformation(const std::string&) override {}
    void SetSelectionStatus(const std::string&) override {}
    void InputListChanged() override {}
    std::vector<int> SelectedRows() override { return {}; }
    int FocusedRow() override { return -1; }
    void DeselectRow(int) override {}
    void FocusRow(int) override {}
    std::unique_ptr<Progress> OpenProgress(const std::string&) override {
        return std::make_unique<SilentProgress>();
    }
    std::optional<std::string> AskSaveFileName(const std::string&, const std::string&) override {
        return std::nullopt;
    }
};

}  // namespace qv
