#include "app/SaveFileDialog.h"

#include "app/MessageDialog.h"
#include "platform/FileSystem.h"

namespace qv {

SaveFileDialog::SaveFileDialog(QWidget* owner, const QString& title, const QString& folder)
    : QFileDialog(owner, title, folder) {
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setOption(QFileDialog::DontConfirmOverwrite);
}

std::string SaveFileDialog::MissingFolderText(const std::string& folder) {
    return folder + "\nThis folder does not exist. Check the path and try again.";
}

bool SaveFileDialog::Acceptable(const std::string& path) {
    const std::string missing = pathMustExist_ ? MissingFolderOf(path) : std::string();
    if (missing.empty()) {
        return true;
    }
    MessageDialog::Show(this, MessageKind::Warning, MissingFolderText(missing), Buttons::Ok);
    return false;
}

void SaveFileDialog::accept() {
    // The name as typed decides; a folder typed alone opens it, as the dialog does.
    const QStringList files = selectedFiles();
    if (!files.isEmpty() && !QFileInfo(files.front()).isDir() &&
        !Acceptable(files.front().toStdString())) {
        return;
    }
    QFileDialog::accept();
}

std::optional<std::string> SaveFileDialog::Choose() {
    // A dialog of the platform's own may close without asking accept(): then the
    // name is checked here and the dialog shown again.
    while (exec() == QDialog::Accepted && !selectedFiles().isEmpty()) {
        const std::string chosen = selectedFiles().front().toStdString();
        if (Acceptable(chosen)) {
            return chosen;
        }
    }
    return std::nullopt;
}

}  // namespace qv
