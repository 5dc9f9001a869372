#include "clipsheet/BitmapExportDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "platform/SettingsStore.h"
#include "progress/ProgressDialog.h"
#include "resources/Templates.h"

namespace qv {

namespace {

constexpr int kIdSave = 1;
constexpr int kIdCancel = 2;
constexpr int kIdSelectedOnly = 1027;
constexpr int kIdUseLength = 1028;
constexpr int kIdLength = 1029;
constexpr int kIdDeinterlace = 1030;
constexpr int kIdCropH = 1032;
constexpr int kIdCropV = 1033;

const char* const kDeinterlaceTexts[] = {"none - use both fields", "use even field only",
                                         "use odd field only"};

// An edit with its up-down control: the spin's range limits stepping only.
struct SpinPair {
    int edit;
    int spin;
    int min;
    int max;
};
constexpr SpinPair kSpins[] = {
    {kIdLength, 1035, 0, 10000},
    {kIdCropH, 1031, 0, 30},
    {kIdCropV, 1034, 0, 30},
};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Typed numbers are read as atoi reads them (leading blanks, a sign, digits up
// to the first other character; no digits give 0), held to 32 bits.
int32_t EditNumber(const QLineEdit* edit) {
    const long v = std::strtol(edit->text().toLocal8Bit().constData(), nullptr, 10);
    return static_cast<int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

QStringList BitmapExportDialog::SaveFilters() {
    return {QStringLiteral("BMP Files (*.bmp)"), QStringLiteral("All Files (*.*)")};
}

std::unique_ptr<SaveFileDialog> BitmapExportDialog::MakeSaveDialog(QWidget* parent,
                                                                   const std::string& folder,
                                                                   const std::string& fileName) {
    // Existing bitmaps of the names are replaced (the dialog asks nothing); anything
    // else is asked about per file. A name in a missing folder is refused at once, as
    // the other save dialogs do, not after the pictures were decoded.
    auto dialog =
        std::make_unique<SaveFileDialog>(parent, QString::fromLatin1(kSaveTitle), Q(folder));
    dialog->SetPathMustExist(true);
    dialog->setNameFilters(SaveFilters());
    dialog->setDefaultSuffix(QStringLiteral("bmp"));
    if (!fileName.empty()) {
        dialog->selectFile(Q(fileName));
    }
    return dialog;
}

BitmapExportDialog::BitmapExportDialog(SceneList& scenes, std::vector<int> selectedRows,
                                       SettingsStore* store, QWidget* parent)
    : TemplateDialog(BitmapExportTemplate(), parent),
      scenes_(scenes),
      selectedRows_(std::move(selectedRows)),
      store_(store),
      messages_(this) {
    askFileName = [this](const std::string& folder,
                         const std::string& fileName) -> std::optional<std::string> {
        return MakeSaveDialog(this, folder, fileName)->Choose();
    };

    auto* combo = Control<QComboBox>(kIdDeinterlace);
    for (const char* text : kDeinterlaceTexts) {
        combo->addItem(QString::fromLatin1(text));
    }
    for (const SpinPair& pair : kSpins) {
        auto* spin = Control<QSpinBox>(pair.spin);
        auto* edit = Control<QLineEdit>(pair.edit);
        spin->setRange(pair.min, pair.max);
        spin->setFocusPolicy(Qt::NoFocus);
        // Only the arrows show; the number lives in the edit beside it.
        spin->setStyleSheet(QStringLiteral("QSpinBox { color: transparent; }"));
        // Stepping starts from what the edit holds, as a buddy up-down does.
        auto follow = [spin, edit] {
            const QSignalBlocker block(spin);
            spin->setValue(EditNumber(edit));
        };
        connect(edit, &QLineEdit::textChanged, spin, follow);
        connect(spin, &QSpinBox::valueChanged, edit, [edit](int v) {
            const QSignalBlocker block(edit);
            edit->setText(QString::number(v));
        });
    }
    if (store_ != nullptr) {
        settings_ = LoadBitmapExportSettings(*store_);
    }
    ShowSettings();

    connect(Control<QCheckBox>(kIdUseLength), &QCheckBox::clicked, this, [this] {
        TakeControls();
        Control(kIdLength)->setEnabled(settings_.useLength == 1);
    });
    connect(Control<QPushButton>(kIdSave), &QPushButton::clicked, this,
            &BitmapExportDialog::accept);
    connect(Control<QPushButton>(kIdCancel), &QPushButton::clicked, this, &QDialog::reject);
}

void BitmapExportDialog::ShowSettings() {
    Control<QCheckBox>(kIdSelectedOnly)->setChecked(settings_.selectedOnly != 0);
    Control<QCheckBox>(kIdUseLength)->setChecked(settings_.useLength != 0);
    Control<QLineEdit>(kIdLength)->setText(QString::number(settings_.lengthSeconds));
    Control<QLineEdit>(kIdCropH)->setText(QString::number(settings_.cropH));
    Control<QLineEdit>(kIdCropV)->setText(QString::number(settings_.cropV));
    // A stored value outside the three entries leaves the list without a selection.
    const int d = settings_.deinterlace;
    Control<QComboBox>(kIdDeinterlace)->setCurrentIndex(d >= 0 && d <= 2 ? d : -1);
    Control(kIdLength)->setEnabled(settings_.useLength == 1);
}

void BitmapExportDialog::TakeControls() {
    settings_.selectedOnly = Control<QCheckBox>(kIdSelectedOnly)->isChecked() ? 1 : 0;
    settings_.useLength = Control<QCheckBox>(kIdUseLength)->isChecked() ? 1 : 0;
    settings_.lengthSeconds = EditNumber(Control<QLineEdit>(kIdLength));
    settings_.cropH = EditNumber(Control<QLineEdit>(kIdCropH));
    settings_.cropV = EditNumber(Control<QLineEdit>(kIdCropV));
    settings_.deinterlace = Control<QComboBox>(kIdDeinterlace)->currentIndex();
}

void BitmapExportDialog::accept() {
    TakeControls();
    BitmapExport exporter(messages_, store_);
    exporter.inputFiles = inputFiles;
    exporter.codecSetting = codecSetting;
    result_ = exporter.SaveBitmaps(
        settings_, scenes_, selectedRows_, askFileName, [this]() -> std::unique_ptr<Progress> {
            auto progress = std::make_unique<SimpleProgressDialog>(this, "");
            if (progressShown) {
                progressShown(*progress);
            }
            return progress;
        });
}

}  // namespace qv
