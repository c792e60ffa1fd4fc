// The main window at a device pixel ratio of 2. Qt takes QT_SCALE_FACTOR only before
// the QApplication exists, so the test runs itself again in a child process with the
// variable set; the child does the checks, the parent passes on its verdict and output.
// Geometry and fonts are compared in logical pixels: at any scale the rows stay 41 px
// high, every control stays inside its row and shows its whole text.
#include "app/station/MainForm.h"

#include "device/TracingDevice.h"
#include "sim/SimBoard.h"
#include "support/QtPrinters.h"
#include "support/ScriptedOperator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace quillon {
namespace {

constexpr char ScaleVariable[] = "QT_SCALE_FACTOR";
constexpr char FontVariable[] = "QUILLON_HIGHDPI_FONT_PX"; // the window font's pixel size at scale 1

QString withoutMnemonics(QString text)
{
    text.replace(QLatin1String("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text;
}

// Every child control of a row panel lies inside the panel; those with a one-line text
// show all of it.
void expectControlsInside(QWidget *panel, bool headerOnly)
{
    const QRect inside = panel->rect();
    for (QObject *child : panel->children()) {
        auto *control = qobject_cast<QWidget *>(child);
        if (!control || control->isHidden())
            continue;
        const QRect g = control->geometry();
        if (headerOnly && qobject_cast<QPlainTextEdit *>(control))
            continue; // the memo shows only when the row is expanded
        SCOPED_TRACE(control->objectName().toStdString());
        EXPECT_TRUE(inside.contains(g)) << "control at " << g.x() << "," << g.y() << " " << g.width() << "x"
                                        << g.height() << " outside its panel " << inside.width() << "x"
                                        << inside.height();
        QString text;
        int room = 0;
        if (auto *button = qobject_cast<QAbstractButton *>(control)) {
            text = withoutMnemonics(button->text());
            room = button->width();
        } else if (auto *label = qobject_cast<QLabel *>(control); label && !label->wordWrap()) {
            text = label->text();
            room = label->contentsRect().width();
        }
        if (text.isEmpty())
            continue;
        const QFontMetrics fm = control->fontMetrics();
        EXPECT_LE(fm.horizontalAdvance(text), room) << "text \"" << text.toStdString() << "\" clipped";
        EXPECT_LE(fm.height(), control->height()) << "text \"" << text.toStdString() << "\" taller than its control";
    }
}

void checkScaledWindow()
{
    sim::SimBoard board;
    TracingDevice trace(board);
    testing::ScriptedOperator op;
    MainForm form(trace, op);
    form.show();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(); // the start-up detection
    EXPECT_EQ(form.detectLabelText(), QStringLiteral("Detected"));

    EXPECT_DOUBLE_EQ(form.devicePixelRatioF(), 2.0);
    const QPixmap shot = form.grab();
    EXPECT_DOUBLE_EQ(shot.devicePixelRatio(), 2.0);
    EXPECT_EQ(shot.size(), form.size() * 2) << "the grab has device pixels";

    // The window font keeps its logical size: text measures as it does at scale 1.
    const QByteArray expectedPx = qgetenv(FontVariable);
    if (!expectedPx.isEmpty()) {
        EXPECT_EQ(QFontInfo(form.font()).pixelSize(), expectedPx.toInt());
    }

    ASSERT_GT(form.rowCount(), 0);
    for (int i = 0; i < form.rowCount(); ++i) {
        SCOPED_TRACE(i);
        const TestRecord &record = form.record(i);
        ASSERT_TRUE(record.Panel);
        EXPECT_EQ(record.Panel->height(), MainForm::CollapsedHeight) << "collapsed row height, logical";
        expectControlsInside(record.Panel, true);
        if (record.DetailButton) {
            record.DetailButton->click(); // expanded: the memo too
            QCoreApplication::processEvents();
            expectControlsInside(record.Panel, false);
            record.DetailButton->click();
            QCoreApplication::processEvents();
            EXPECT_EQ(record.Panel->height(), MainForm::CollapsedHeight);
        }
    }
    form.close();
}

TEST(HighDpi, MainWindowAtScaleTwo)
{
    if (qgetenv(ScaleVariable) == "2") {
        checkScaledWindow();
        return;
    }

    // Parent: the unscaled font size to compare with, then the child at scale 2.
    int fontPx = 0;
    {
        sim::SimBoard board;
        TracingDevice trace(board);
        testing::ScriptedOperator op;
        MainForm form(trace, op);
        fontPx = QFontInfo(form.font()).pixelSize();
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(ScaleVariable), QStringLiteral("2"));
    env.insert(QString::fromLatin1(FontVariable), QString::number(fontPx));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=HighDpi.MainWindowAtScaleTwo")});
    ASSERT_TRUE(child.waitForStarted());
    // Bounded by the test's own CTest timeout as well.
    ASSERT_TRUE(child.waitForFinished(100000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QLatin1String("[  PASSED  ] 1 test"))) << output.toStdString();
}

} // namespace
} // namespace quillon
