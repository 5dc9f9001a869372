#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include "resources/TemplateDialog.h"

namespace {

TEST(DialogUnits, ConvertLikeWindowsFromTheDialogFont) {
    QFont font("DejaVu Sans", 9);
    qv::DialogUnits units(font);
    QFontMetrics metrics(font);
    const int baseX = qRound(
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0);
    EXPECT_EQ(units.X(4), baseX);
    EXPECT_EQ(units.Y(8), metrics.height());
    EXPECT_EQ(units.X(495), 495 * baseX / 4);
    EXPECT_EQ(units.Rect(7, 7, 481, 60),
              QRect(7 * baseX / 4, 7 * metrics.height() / 8, 481 * baseX / 4,
                    60 * metrics.height() / 8));
}

TEST(TemplateDialog, BuildsEveryControlWithItsIdTextAndRectangle) {
    qv::DialogLayout layout{130, "Confirm", 186, 60,
                        {{1011, qv::ControlKind::Static, "text", 7, 7, 172, 20},
                         {6, qv::ControlKind::Button, "Yes", 16, 39, 39, 14},
                         {8, qv::ControlKind::Button, "Yes for all", 71, 39, 41, 14},
                         {7, qv::ControlKind::Button, "&Abort", 128, 39, 41, 14, true}}};
    qv::TemplateDialog dialog(layout, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Confirm");
    EXPECT_EQ(dialog.size(), QSize(dialog.Units().X(186), dialog.Units().Y(60)));
    auto* yesForAll = dialog.Control<QPushButton>(8);
    ASSERT_NE(yesForAll, nullptr);
    EXPECT_EQ(yesForAll->text(), "Yes for all");
    EXPECT_EQ(yesForAll->geometry(), dialog.Units().Rect(71, 39, 41, 14));
    ASSERT_NE(dialog.Control<QLabel>(1011), nullptr);
    EXPECT_TRUE(dialog.Control(7)->isHidden());
    EXPECT_EQ(dialog.Control(99), nullptr);
}

TEST(TemplateDialog, DialogGrowsUntilItsOneLineTextsFitWithTheMargin) {
    const std::string text = "a check box text far longer than its dialog is wide";
    qv::DialogLayout layout{1, "Grows", 60, 30,
                        {{1010, qv::ControlKind::CheckBox, text, 7, 7, 40, 10},
                         {-1, qv::ControlKind::Static, "short", 7, 20, 40, 8}}};
    qv::TemplateDialog dialog(layout, nullptr);
    QWidget* box = dialog.Control(1010);
    EXPECT_EQ(box->width(), box->sizeHint().width());
    EXPECT_EQ(dialog.width(), box->x() + box->width() + dialog.Units().X(7));
    EXPECT_EQ(dialog.height(), dialog.Units().Y(30));
}

}  // namespace
