#pragma once
// What the window tests share: the widgets and scenes they drive, Qt's values
// printed readably, drawn colours compared within a tolerance, and a dialog's
// messages and texts.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/MessageDialog.h"
#include "app/SceneList.h"
#include "platform/SettingsStore.h"
#include "resources/TemplateDialog.h"
#include "support/AviFixture.h"
#include "support/DvPictures.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace qvtest {

inline ::testing::AssertionResult Near(QColor got, Rgb want, int tolerance = 40) {
    if (std::abs(got.red() - want.r) <= tolerance && std::abs(got.green() - want.g) <= tolerance &&
        std::abs(got.blue() - want.b) <= tolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "got RGB(" << got.red() << "," << got.green() << "," << got.blue() << ")";
}

// Answers every message with OK and keeps its text in told.
inline void KeepMessages(qv::MessageDialog& messages, std::vector<std::string>& told) {
    messages.answerHook = [&told](const std::string& text, qv::Buttons, const std::string&) {
        told.push_back(text);
        return qv::Answer::Ok;
    };
}

// The texts of the buttons, check boxes and edits ids.
inline std::vector<QString> Texts(const qv::TemplateDialog& d, std::initializer_list<int> ids) {
    std::vector<QString> texts;
    for (int id : ids) {
        const auto* button = d.Control<QAbstractButton>(id);
        const auto* edit = d.Control<QLineEdit>(id);
        texts.push_back(button != nullptr ? button->text()
                        : edit != nullptr ? edit->text()
                                          : "(no control " + QString::number(id) + ")");
    }
    return texts;
}

// The entries of a combo box.
inline QStringList Items(const QComboBox& combo) {
    QStringList items;
    for (int i = 0; i < combo.count(); ++i) {
        items.push_back(combo.itemText(i));
    }
    return items;
}

// Whether the widget shows every one of texts in its labels.
inline ::testing::AssertionResult HasLabels(const QWidget& parent,
                                            std::initializer_list<QString> texts) {
    QStringList labels;
    for (const QLabel* label : parent.findChildren<QLabel*>()) {
        labels << label->text();
    }
    for (const QString& text : texts) {
        if (!labels.contains(text)) {
            return ::testing::AssertionFailure() << "no label " << text.toStdString();
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace qvtest
