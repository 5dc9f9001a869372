#pragma once
// The save-file dialog: no overwrite prompt, and with "path must exist" a name
// in a folder that does not exist is refused with a message naming the folder,
// the dialog staying open.

#include <QFileDialog>

#include <optional>
#include <string>

namespace qv {

class SaveFileDialog : public QFileDialog {
    Q_OBJECT
public:
    SaveFileDialog(QWidget* owner, const QString& title, const QString& folder);

    void SetPathMustExist(bool on) { pathMustExist_ = on; }
    // Runs the dialog until it is cancelled or names a file it accepts.
    std::optional<std::string> Choose();

    // The message that refuses a name in the missing folder.
    static std::string MissingFolderText(const std::string& folder);

public slots:
    void accept() override;

private:
    // True when the name may be taken; otherwise says why.
    bool Acceptable(const std::string& path);

    bool pathMustExist_ = false;
};

}  // namespace qv
