#include "app/AboutDialog.h"

#include <gtest/gtest.h>

#include <QLabel>

#include "app/Version.h"

namespace {

TEST(AboutDialog, TitleLineNamesTheBuiltVersion) {
    qv::AboutDialog about(nullptr);
    QStringList titles;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        if (label->text().startsWith(QStringLiteral("Quorvandel V"))) {
            titles << label->text();
        }
    }
    EXPECT_EQ(titles, QStringList{QStringLiteral("Quorvandel V ") +
                                  QString::fromLatin1(qv::kProgramVersion)});
}

}  // namespace
