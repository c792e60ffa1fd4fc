#include "ui/MessageFont.h"

#include <QApplication>
#include <QFont>

#include <gtest/gtest.h>

namespace quillon {

TEST(ApplyMessageFont, ThreeQuartersOfTheMessageFontHeightHalvesToEven)
{
    struct Case {
        int pixelHeight;
        int expected;
    };
    // 12 -> 9 exactly; 10 -> 7.5 and 14 -> 10.5 go to the even neighbour; 11 -> 8.25.
    const Case cases[] = {{12, 9}, {10, 8}, {14, 10}, {18, 14}, {11, 8}, {13, 10}, {1, 1}};
    for (const Case &c : cases) {
        QFont font(QStringLiteral("Courier"), 20);
        ApplyMessageFont(font, MessageFontMetrics{QStringLiteral("Segoe UI"), c.pixelHeight});
        EXPECT_EQ(font.pixelSize(), c.expected) << c.pixelHeight;
        EXPECT_EQ(font.family(), QStringLiteral("Segoe UI")) << c.pixelHeight;
    }
}

TEST(ApplyMessageFont, WithoutMetricsTahomaAtThePreviousPointSize)
{
    QFont design(QStringLiteral("MS Sans Serif"));
    design.setPixelSize(11); // the main window's design font at 96 dpi, 8 pt
    ApplyMessageFont(design, std::nullopt);
    EXPECT_EQ(design.family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(design.pixelSize(), 8);

    QFont pointSized(QStringLiteral("Arial"), 10);
    ApplyMessageFont(pointSized, std::nullopt);
    EXPECT_EQ(pointSized.family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(pointSized.pixelSize(), 10);

    // Unusable metrics count as none.
    QFont zero(QStringLiteral("Arial"), 9);
    ApplyMessageFont(zero, MessageFontMetrics{QStringLiteral("Segoe UI"), 0});
    EXPECT_EQ(zero.family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(zero.pixelSize(), 9);
}

TEST(ApplyMessageFont, ReadsTheApplicationsMessageBoxFont)
{
    const QFont saved = QApplication::font("QMessageBox");
    QFont message(QStringLiteral("Noto Sans"));
    message.setPixelSize(12);
    QApplication::setFont(message, "QMessageBox");

    const auto metrics = systemMessageFontMetrics();
    ASSERT_TRUE(metrics.has_value());
    EXPECT_EQ(metrics->faceName, QStringLiteral("Noto Sans"));
    EXPECT_EQ(metrics->pixelHeight, 12);

    QFont font(QStringLiteral("Courier"), 20);
    ApplyMessageFont(font);
    EXPECT_EQ(font.family(), QStringLiteral("Noto Sans"));
    EXPECT_EQ(font.pixelSize(), 9);

    QApplication::setFont(saved, "QMessageBox");
}

} // namespace quillon
