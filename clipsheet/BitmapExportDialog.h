#pragma once
// The bitmap export dialog (template 141): edits the export's settings and saves
// the chosen scenes' pictures at "Save Bitmaps", then stays open until Cancel.

#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/MessageDialog.h"
#include "app/SaveFileDialog.h"
#include "app/SceneList.h"
#include "clipsheet/BitmapExport.h"
#include "clipsheet/BitmapExportSettings.h"
#include "resources/TemplateDialog.h"

namespace qv {

class SettingsStore;
class SimpleProgressDialog;

class BitmapExportDialog : public TemplateDialog {
    Q_OBJECT
  public:
    // The save dialog's title and filters.
    static constexpr const char* kSaveTitle = "Save Bitmaps";
    static QStringList SaveFilters();
    // The save dialog as it is shown, for the initial folder and file name.
    static std::unique_ptr<SaveFileDialog> MakeSaveDialog(QWidget* parent,
                                                          const std::string& folder,
                                                          const std::string& fileName);

    // scenes (whose marks the export rewrites) and store must outlive the dialog;
    // store may be null: the defaults are shown and nothing is saved.
    // selectedRows: the rows selected in the main window's list.
    BitmapExportDialog(SceneList& scenes, std::vector<int> selectedRows, SettingsStore* store,
                       QWidget* parent);

    // Passed on to the export.
    std::vector<std::string> inputFiles;
    std::string codecSetting;

    // The save dialog; tests replace it.
    BitmapExport::AskFileName askFileName;
    // Told of the progress dialog of each export as soon as it shows; tests press
    // its Cancel through it.
    std::function<void(SimpleProgressDialog&)> progressShown;

    MessageDialog& Messages() { return messages_; }
    const BitmapExportSettings& Settings() const { return settings_; }
    const BitmapExportResult& LastResult() const { return result_; }

  public slots:
    // "Save Bitmaps" (and Enter): the export; the dialog stays open.
    void accept() override;

  private:
    void ShowSettings();
    void TakeControls();

    SceneList& scenes_;
    std::vector<int> selectedRows_;
    SettingsStore* store_;
    BitmapExportSettings settings_;
    BitmapExportResult result_;
    MessageDialog messages_;
};

}  // namespace qv
