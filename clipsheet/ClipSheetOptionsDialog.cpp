#include "clipsheet/ClipSheetOptionsDialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "app/SceneList.h"
#include "resources/Templates.h"

namespace qv {

namespace {

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdPicsPerLine = 1033;
constexpr int kIdSecsPerPic = 1035;
constexpr int kIdPicsPerScene = 1037;
constexpr int kIdSpaceBelowText = 1039;
constexpr int kIdShowFileNames = 1041;
constexpr int kIdShowTimecode = 1042;
constexpr int kIdHeadline = 1043;
constexpr int kIdFontSize = 1044;
constexpr int kIdTimecode = 1046;

const char kNotAnInteger[] = "Please enter an integer.";
const char kCaption[] = "Quorvandel";

// An edit with its up-down control: the spin's range limits stepping only,
// typed values are checked on OK.
struct SpinPair {
    int edit;
    int spin;
    IntRange stepping;
};
constexpr SpinPair kSpins[] = {
    {kIdPicsPerLine, 1034, {1, 30}}, {kIdSecsPerPic, 1036, {0, 600}},
    {kIdPicsPerScene, 1038, {1, 100}}, {kIdSpaceBelowText, 1040, {0, 10}},
    {kIdFontSize, 1045, {1, 127}},
};

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

ClipSheetOptionsDialog::ClipSheetOptionsDialog(ClipSheetSettings& settings, QWidget* parent)
    : TemplateDialog(ClipSheetOptionsTemplate(), parent),
      settings_(settings),
      copy_(settings),
      messages_(this) {
    Control<QCheckBox>(kIdShowFileNames)->setChecked(copy_.showFileNames != 0);
    Control<QCheckBox>(kIdShowTimecode)->setChecked(copy_.showTimecode != 0);
    Control<QLineEdit>(kIdPicsPerLine)->setText(QString::number(copy_.picsPerLine));
    Control<QLineEdit>(kIdPicsPerScene)->setText(QString::number(copy_.picsPerScene));
    Control<QLineEdit>(kIdSecsPerPic)->setText(QString::number(copy_.secsPerPic));
    Control<QLineEdit>(kIdSpaceBelowText)->setText(QString::number(copy_.spaceBelowText));
    Control<QLineEdit>(kIdFontSize)->setText(QString::number(copy_.fontSize));
    Control<QLineEdit>(kIdHeadline)->setText(QString::fromLocal8Bit(copy_.headline.c_str()));
    Control<QLineEdit>(kIdTimecode)->setText(Q(FormatFrameTime(copy_.timecodeOffset)));

    for (const SpinPair& pair : kSpins) {
        auto* spin = Control<QSpinBox>(pair.spin);
        auto* edit = Control<QLineEdit>(pair.edit);
        spin->setRange(pair.stepping.min, pair.stepping.max);
        spin->setFocusPolicy(Qt::NoFocus);
        // Only the arrows show; the number lives in the edit beside it.
        spin->setStyleSheet(QStringLiteral("QSpinBox { color: transparent; }"));
        // Stepping starts from what the edit holds, as a buddy up-down does.
        auto follow = [spin](const QString& text) {
            if (const auto v = ParseEditInteger(text.toStdString())) {
                const QSignalBlocker block(spin);
                spin->setValue(*v);
            }
        };
        follow(edit->text());
        connect(edit, &QLineEdit::textChanged, spin, follow);
        connect(spin, &QSpinBox::valueChanged, edit, [edit](int v) {
            const QSignalBlocker block(edit);
            edit->setText(QString::number(v));
        });
    }

    connect(Control<QPushButton>(kIdOk), &QPushButton::clicked, this, &ClipSheetOptionsDialog::accept);
    connect(Control<QPushButton>(kIdCancel), &QPushButton::clicked, this, &QDialog::reject);
}

void ClipSheetOptionsDialog::accept() {
    if (TakeValues()) {
        settings_ = copy_;
        TemplateDialog::accept();
    }
}

void ClipSheetOptionsDialog::Refuse(int id, const std::string& message) {
    messages_.Tell(message, kCaption);
    if (auto* edit = Control<QLineEdit>(id)) {
        edit->selectAll();
    }
    Control(id)->setFocus(Qt::OtherFocusReason);
}

bool ClipSheetOptionsDialog::TakeInt(int id, IntRange range, int32_t& field) {
    const std::optional<int32_t> v = ParseEditInteger(Control<QLineEdit>(id)->text().toStdString());
    if (!v) {
        Refuse(id, kNotAnInteger);
        return false;
    }
    if (!range.Holds(*v)) {
        Refuse(id, "Please enter an integer between " + std::to_string(range.min) + " and " +
                       std::to_string(range.max) + ".");
        return false;
    }
    field = *v;
    return true;
}

bool ClipSheetOptionsDialog::TakeValues() {
    const std::optional<int32_t> offset =
        ParseTimecode(Control<QLineEdit>(kIdTimecode)->text().toStdString(), framesPerSecond);
    if (!offset) {
        Refuse(kIdTimecode, kNotAnInteger);
        return false;
    }
    copy_.timecodeOffset = *offset;
    if (!TakeInt(kIdFontSize, kFontSizeRange, copy_.fontSize)) {
        return false;
    }
    copy_.showFileNames = Control<QCheckBox>(kIdShowFileNames)->isChecked() ? 1 : 0;
    copy_.showTimecode = Control<QCheckBox>(kIdShowTimecode)->isChecked() ? 1 : 0;
    if (!TakeInt(kIdPicsPerLine, kPicsPerLineRange, copy_.picsPerLine) ||
        !TakeInt(kIdPicsPerScene, kPicsPerSceneRange, copy_.picsPerScene) ||
        !TakeInt(kIdSecsPerPic, kSecsPerPicRange, copy_.secsPerPic) ||
        !TakeInt(kIdSpaceBelowText, kSpaceBelowTextRange, copy_.spaceBelowText)) {
        return false;
    }
    const std::string headline = Control<QLineEdit>(kIdHeadline)->text().toLocal8Bit().toStdString();
    if (CharacterCount(headline) > kMaxHeadlineChars) {
        Refuse(kIdHeadline, "Please enter no more than " + std::to_string(kMaxHeadlineChars) +
                                " characters.");
        return false;
    }
    copy_.headline = headline;
    return true;
}

}  // namespace qv
