// The production notes window: its text, character for character, and its placement.
#include "ui/BlurbForm.h"
#include "ui/NotesText.h"

#include <QPlainTextEdit>
#include <QScrollBar>

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(NotesText, IsTheExactNotes)
{
    const QString text = notesText().toString();
    EXPECT_EQ(text.size(), 2577);
    EXPECT_FALSE(text.endsWith(QLatin1Char('\n')));
    EXPECT_EQ(text.count(QStringLiteral("\r\n")), text.count(QLatin1Char('\n'))) << "every break is CR LF";
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 66);
    struct Line {
        int number; // 1-based
        QString text;
    };
    const Line expected[] = {
        {1, QStringLiteral("Production Test Differences are as follows:")},
        {4, QStringLiteral(
                "       Korvo mux: DIO B (8-11; output only) looped to DIO A (0-3 & 4-7; input           only)")},
        {7, QStringLiteral("\t\t  Korvo 32-based mux: 16 voltages created; applies to channels ")},
        {10, QStringLiteral("\t\t  0-3, 4-7, 8-11, ..., 60-63.  Note that channel 0 has the third")},
        {11, QStringLiteral(
                 "                  voltage in the ladder applied so that it can generate a \t\t  \t\t  non-zero "
                 "differential voltage.  This is because its differential \t\t\t  pair channel is channel 32.")},
        {14, QStringLiteral("\t\t\t\t Korvo 32-based mux: Not Applicable")},
        {29, QStringLiteral("\t")},
        {37, QStringLiteral("\t")},
        {38,
         QStringLiteral("1) Use software start(GetImmediate) to read the AGND and AREF voltages, and make sure AGND is "
                        "within \u00B1.00595V of .0114V, and AREF is within \u00B1.0299V of 9.9V.")},
        {66, QStringLiteral("1) Same as A/D SE Unipolar, but in a different mode and with a single target voltage.")},
    };
    for (const Line &l : expected)
        EXPECT_EQ(lines[l.number - 1], l.text) << "line " << l.number;
    EXPECT_TRUE(lines[51].contains(QStringLiteral("\u00B1.5V"))) << "line 52";
}

TEST(BlurbForm, HoldsTheNotesHiddenAndEditable)
{
    BlurbForm form(nullptr, QSize(1024, 768));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("BlurbForm"));
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.size(), QSize(393, 540));
    QPlainTextEdit *memo = form.findChild<QPlainTextEdit *>(QStringLiteral("MainMemo"));
    ASSERT_EQ(memo, form.mainMemo());
    EXPECT_FALSE(memo->isReadOnly());
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QString shown = memo->toPlainText();
    shown.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    EXPECT_EQ(shown, notesText().toString());
    EXPECT_EQ(form.font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(form.font().pixelSize(), 11);
}

TEST(BlurbForm, SitsAtTheRightEdgeCentredVertically)
{
    struct Case {
        QSize screen;
        QPoint topLeft;
    };
    const Case cases[] = {
        {QSize(1024, 768), QPoint(631, 114)}, {QSize(1920, 1080), QPoint(1527, 270)},
        {QSize(800, 500), QPoint(407, -20)}, // taller than the screen: half the excess above
        {QSize(800, 501), QPoint(407, -19)}, // -19.5 truncates toward zero
        {QSize(800, 541), QPoint(407, 0)},
    };
    for (const Case &c : cases) {
        BlurbForm form(nullptr, c.screen);
        EXPECT_EQ(form.pos(), c.topLeft) << c.screen.width() << "x" << c.screen.height();
    }
}

} // namespace
} // namespace quillon
