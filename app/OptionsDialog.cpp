#include "app/OptionsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <iterator>

#include "dv/PictureDecoder.h"
#include "resources/Templates.h"

namespace qv {

namespace {

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdDeleteSources = 1010;
constexpr int kIdSkipNoDatestamp = 1012;
constexpr int kIdCodec = 1045;
constexpr int kIdSensitivity = 1048;
// The thorough scan's splits.
constexpr int kIdSplits[] = {1051, 1052, 1053};

// A drop-down list's template height includes its open list; closed, it is as
// high as the platform draws it.
void FitClosedHeight(QComboBox* combo) {
    if (combo != nullptr) {
        const QRect r = combo->geometry();
        combo->setGeometry(r.x(), r.y(), r.width(), combo->sizeHint().height());
    }
}

}  // namespace

const std::vector<std::string>& OptionsDialog::SensitivityTexts() {
    static const std::vector<std::string> texts{
        "very high - \"studio camera\"", "high", "medium", "low", "very low - \"shaky Homevideo\"",
    };
    return texts;
}

OptionsDialog::OptionsDialog(Settings& settings, QWidget* parent)
    : TemplateDialog(OptionsTemplate(), parent), settings_(settings), copy_(settings) {
    auto* skip = Control<QCheckBox>(kIdSkipNoDatestamp);
    auto* deleteSources = Control<QCheckBox>(kIdDeleteSources);
    auto* sensitivity = Control<QComboBox>(kIdSensitivity);
    auto* codec = Control<QComboBox>(kIdCodec);
    FitClosedHeight(sensitivity);
    FitClosedHeight(codec);

    skip->setChecked(copy_.skipNoDatestamp != 0);
    deleteSources->setChecked(copy_.deleteSourceFiles != 0);
    const int splits[] = {copy_.splitRecordingStarts, copy_.splitTimecodeBreaks,
                          copy_.splitFormatChanges};
    for (size_t i = 0; i < std::size(kIdSplits); ++i) {
        Control<QCheckBox>(kIdSplits[i])->setChecked(splits[i] != 0);
    }
    for (const std::string& text : SensitivityTexts()) {
        sensitivity->addItem(QString::fromStdString(text));
    }
    // An index outside the list selects nothing.
    sensitivity->setCurrentIndex(copy_.optSensitivity >= 0 &&
                                         copy_.optSensitivity < sensitivity->count()
                                     ? copy_.optSensitivity
                                     : -1);

    const CodecList list = FillCodecList(copy_.codec);
    codecNames_ = list.driverNames;
    for (const std::string& text : list.texts) {
        codec->addItem(QString::fromStdString(text));
    }
    codec->setCurrentIndex(list.selection);

    if (auto* ok = Control<QPushButton>(kIdOk)) {
        connect(ok, &QPushButton::clicked, this, [this] {
            TakeValues();
            accept();
        });
    }
    if (auto* cancel = Control<QPushButton>(kIdCancel)) {
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    }
}

void OptionsDialog::TakeValues() {
    const int index = Control<QComboBox>(kIdCodec)->currentIndex();
    copy_.codec = index >= 0 && static_cast<size_t>(index) < codecNames_.size()
                      ? codecNames_[static_cast<size_t>(index)]
                      : std::string();
    copy_.skipNoDatestamp = Control<QCheckBox>(kIdSkipNoDatestamp)->isChecked() ? 1 : 0;
    copy_.deleteSourceFiles = Control<QCheckBox>(kIdDeleteSources)->isChecked() ? 1 : 0;
    copy_.optSensitivity = Control<QComboBox>(kIdSensitivity)->currentIndex();
    settings_.deleteSourceFiles = copy_.deleteSourceFiles;
    settings_.skipNoDatestamp = copy_.skipNoDatestamp;
    settings_.codec = copy_.codec;
    settings_.optSensitivity = copy_.optSensitivity;
    int* splits[] = {&settings_.splitRecordingStarts, &settings_.splitTimecodeBreaks,
                     &settings_.splitFormatChanges};
    for (size_t i = 0; i < std::size(kIdSplits); ++i) {
        *splits[i] = Control<QCheckBox>(kIdSplits[i])->isChecked() ? 1 : 0;
    }
}

}  // namespace qv
