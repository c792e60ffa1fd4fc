#include "support/ModalDriver.h"
#include "ui/DacDialogs.h"
#include "ui/MessageFont.h"
#include "ui/QtOperator.h"
#include "ui/RadioGroupBox.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>

#include <gtest/gtest.h>

#include <functional>

namespace quillon {

using testing::ModalDriver;

namespace {

const QStringList TenVoltItems = {QStringLiteral("M&in (-10.0000 V)"), QStringLiteral("&Mid (0.0000 V)"),
                                  QStringLiteral("M&ax (9.9997 V)")};

// Every DAC dialog: empty caption, fixed client size, the message font.
void expectDacDialogFrame(QWidget *dialog, QSize client)
{
    EXPECT_TRUE(dialog->windowTitle().isEmpty()) << qPrintable(dialog->objectName());
    EXPECT_EQ(dialog->size(), client);
    EXPECT_EQ(dialog->minimumSize(), client);
    EXPECT_EQ(dialog->maximumSize(), client);
    EXPECT_EQ(dialog->parentWidget(), nullptr);
    QFont expected = QApplication::font();
    ApplyMessageFont(expected);
    EXPECT_EQ(dialog->font().pixelSize(), expected.pixelSize());
    EXPECT_EQ(dialog->font().family(), expected.family());
}

// Each item one column wide, side by side, inside the frame under the caption.
void expectOneRowOfColumns(RadioGroupBox *group, int columnWidth)
{
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect contents =
        group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents, group);
    for (int i = 0; i < group->count(); ++i) {
        const QRect item = group->item(i)->geometry();
        EXPECT_EQ(item.x(), 8 + columnWidth * i) << i;
        EXPECT_EQ(item.width(), columnWidth) << i;
        EXPECT_EQ(item.y(), group->item(0)->y()) << i;
        EXPECT_GE(item.top(), contents.top()) << i;
        EXPECT_LE(item.bottom(), contents.bottom()) << i;
        EXPECT_GE(item.height(), group->item(i)->sizeHint().height()) << i << ": too short for its text";
    }
}

} // namespace

// --- range ---------------------------------------------------------------------------

TEST(DacRangeDialog, LayoutItemsAndPreselection)
{
    DacRangeDialog dialog;
    expectDacDialogFrame(&dialog, QSize(512, 136));
    EXPECT_EQ(dialog.promptLabel()->text(), QStringLiteral("What range are the DACs?"));
    EXPECT_TRUE(dialog.promptLabel()->wordWrap());
    EXPECT_EQ(dialog.promptLabel()->geometry(), QRect(8, 8, 496, 40));
    EXPECT_EQ(dialog.group()->geometry(), QRect(8, 56, 496, 40));
    EXPECT_EQ(dialog.group()->title(), QStringLiteral("DAC Range"));
    ASSERT_EQ(dialog.group()->count(), 4);
    const QStringList texts = {QStringLiteral("0-5 V"), QStringLiteral("\u00B15 V"), QStringLiteral("0-10 V"),
                               QStringLiteral("\u00B110 V")};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(dialog.group()->item(i)->text(), texts.at(i));
    expectOneRowOfColumns(dialog.group(), 121); // (496 - 10) / 4
    EXPECT_EQ(dialog.group()->itemIndex(), 3);
    EXPECT_EQ(dialog.focusWidget(), dialog.group()->item(3));
    EXPECT_EQ(dialog.okButton()->geometry(), QRect(216, 104, 80, 24));
    EXPECT_EQ(dialog.okButton()->text(), QStringLiteral("OK"));
    EXPECT_TRUE(dialog.okButton()->isDefault());
    EXPECT_EQ(dialog.findChildren<QPushButton *>().size(), 1);
}

TEST(DacRangeDialog, ReturnsTheSelectedItemHoweverClosed)
{
    struct Case {
        const char *name;
        std::function<void(ModalDriver &)> answer;
        int expected;
    };
    const Case cases[] = {
        {"OK untouched", [](ModalDriver &d) { d.clickButton(QStringLiteral("OK")); }, 3},
        {"close button", [](ModalDriver &d) { d.closeWindow(); }, 3},
        {"pick 0-5 V, OK",
         [](ModalDriver &d) { d.clickObject(QStringLiteral("DacRangeGroupItem0")).clickButton(QStringLiteral("OK")); },
         0},
        {"pick +-5 V, Enter",
         [](ModalDriver &d) { d.clickObject(QStringLiteral("DacRangeGroupItem1")).pressKey(Qt::Key_Return); }, 1},
        {"pick 0-10 V, close button",
         [](ModalDriver &d) { d.clickObject(QStringLiteral("DacRangeGroupItem2")).closeWindow(); }, 2},
        {"pick 0-10 V, Escape",
         [](ModalDriver &d) { d.clickObject(QStringLiteral("DacRangeGroupItem2")).pressKey(Qt::Key_Escape); }, 2},
    };
    for (const Case &c : cases) {
        QtOperator op;
        ModalDriver driver;
        c.answer(driver.expectModal(QStringLiteral("DacRangeDialog")));
        EXPECT_EQ(op.askDacRange(), c.expected) << c.name;
        EXPECT_TRUE(driver.isDone()) << c.name;
    }
}

TEST(DacDialogs, CentredOnTheMainWindow)
{
    QWidget mainWindow;
    mainWindow.setGeometry(100, 80, 465, 615);
    mainWindow.show();
    QtOperator op(&mainWindow);
    ModalDriver driver;
    driver.expectModal(QStringLiteral("DacRangeDialog"))
        .check([&mainWindow](QWidget *dialog) {
            const QPoint offset = dialog->frameGeometry().center() - mainWindow.frameGeometry().center();
            EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
        })
        .clickButton(QStringLiteral("OK"));
    op.askDacRange();
}

// --- readings ------------------------------------------------------------------------

TEST(DacReadingForm, Layout)
{
    DacReadingForm form;
    expectDacDialogFrame(&form, QSize(512, 144));
    EXPECT_EQ(form.promptLabel()->geometry(), QRect(8, 8, 496, 40));
    EXPECT_TRUE(form.promptLabel()->wordWrap());
    for (int i = 0; i < DacReadingForm::Fields; ++i) {
        EXPECT_EQ(form.dacLabel(i)->text(), QStringLiteral("DAC %1").arg(i));
        EXPECT_EQ(form.dacLabel(i)->geometry(), QRect(8 + 88 * i, 56, 80, 16));
        EXPECT_EQ(form.dacLabel(i)->alignment(), Qt::AlignCenter);
        EXPECT_EQ(form.field(i)->geometry(), QRect(8 + 88 * i, 80, 80, 24));
        EXPECT_TRUE(form.isFieldVisible(i));
    }
    // OK only: no way to cancel but closing the window.
    const QList<QPushButton *> buttons = form.findChildren<QPushButton *>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons.front(), form.okButton());
    EXPECT_EQ(form.okButton()->text(), QStringLiteral("OK"));
    EXPECT_EQ(form.okButton()->geometry(), QRect(216, 112, 80, 24));
    EXPECT_TRUE(form.okButton()->isDefault());
    EXPECT_EQ(form.field(4), nullptr);
    EXPECT_EQ(form.field(-1), nullptr);
}

TEST(DacReadingForm, CaretAtTheEndAndNoSelectAllOnTab)
{
    DacReadingForm form;
    form.setFieldText(0, QStringLiteral("+9.9"));
    form.setFieldText(1, QStringLiteral("+9.9"));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(form.field(i)->cursorPosition(), 4) << i;
        EXPECT_FALSE(form.field(i)->hasSelectedText()) << i;
    }
    ModalDriver driver;
    driver.expectModal(QStringLiteral("DacReadingDialog"))
        .check([&form](QWidget *) { EXPECT_EQ(form.focusWidget(), form.field(0)); })
        .pressKey(Qt::Key_Tab)
        .check([&form](QWidget *) {
            EXPECT_EQ(form.focusWidget(), form.field(1));
            EXPECT_FALSE(form.field(1)->hasSelectedText());
            EXPECT_EQ(form.field(1)->cursorPosition(), 4);
        })
        .typeText(QStringLiteral("1"))
        .clickButton(QStringLiteral("OK"));
    form.focusField(0);
    EXPECT_EQ(form.exec(), QDialog::Accepted);
    EXPECT_EQ(form.fieldText(1), QStringLiteral("+9.91"));
}

TEST(DacReadingDialog, OnlyOkAccepts)
{
    struct Case {
        const char *name;
        std::function<void(ModalDriver &)> answer;
        bool expected;
    };
    const Case cases[] = {
        {"OK", [](ModalDriver &d) { d.clickButton(QStringLiteral("OK")); }, true},
        {"Enter", [](ModalDriver &d) { d.pressKey(Qt::Key_Return); }, true},
        {"close button", [](ModalDriver &d) { d.closeWindow(); }, false},
        {"Escape", [](ModalDriver &d) { d.pressKey(Qt::Key_Escape); }, false},
    };
    for (const Case &c : cases) {
        QtOperator op;
        const auto dialog = op.createDacReadingDialog();
        dialog->setCaption(QStringLiteral("DAC Low Reading"));
        dialog->focusField(0);
        ModalDriver driver;
        c.answer(driver.expectModal(QStringLiteral("DacReadingDialog")));
        EXPECT_EQ(dialog->exec(), c.expected) << c.name;
    }
}

TEST(DacReadingDialog, BuiltOnceShownTwiceHiddenFieldsStayHidden)
{
    QtOperator op;
    const auto dialog = op.createDacReadingDialog();
    const QString lowPrompt = QStringLiteral("The DACs should be producing about \u00B10V. Measure each with a "
                                             "meter, and enter the actual value.");

    ModalDriver driver;
    driver.expectModal(QStringLiteral("DacReadingDialog"))
        .check([&](QWidget *w) {
            EXPECT_EQ(w->windowTitle(), QStringLiteral("DAC Low Reading"));
            EXPECT_EQ(w->findChild<QLabel *>(QStringLiteral("DacReadingPrompt"))->text(), lowPrompt);
            EXPECT_EQ(w->focusWidget()->objectName(), QStringLiteral("DacEdit0"));
        })
        .typeText(QStringLiteral("0.01"))
        .clickButton(QStringLiteral("OK"));
    driver.expectModal(QStringLiteral("DacReadingDialog"))
        .check([](QWidget *w) {
            EXPECT_EQ(w->windowTitle(), QStringLiteral("DAC High Reading"));
            for (int i = 0; i < 4; ++i) {
                const auto *edit = w->findChild<QLineEdit *>(QStringLiteral("DacEdit%1").arg(i));
                EXPECT_EQ(edit->isVisible(), i < 2) << i;
            }
        })
        .clickButton(QStringLiteral("OK"));

    dialog->setCaption(QStringLiteral("DAC Low Reading"));
    dialog->setPrompt(lowPrompt);
    for (int i = 0; i < 4; ++i)
        dialog->setFieldText(i, QString());
    dialog->focusField(0);
    ASSERT_TRUE(dialog->exec());
    EXPECT_EQ(dialog->fieldText(0), QStringLiteral("0.01"));

    // The caller drops DACs 2 and 3; they stay hidden for the second showing, whose
    // texts are set on hidden fields too.
    dialog->hideField(2);
    dialog->hideField(3);
    dialog->setCaption(QStringLiteral("DAC High Reading"));
    for (int i = 0; i < 4; ++i)
        dialog->setFieldText(i, QStringLiteral("+9.9"));
    dialog->focusField(0);
    ASSERT_TRUE(dialog->exec());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(dialog->isFieldVisible(i), i < 2) << i;
        EXPECT_EQ(dialog->fieldText(i), QStringLiteral("+9.9")) << i;
    }
}

// --- scale ---------------------------------------------------------------------------

TEST(DacScaleDialog, LayoutAndPreselectionBeforeItShows)
{
    QList<int> picks;
    bool shownAtPreselection = true;
    DacScaleDialog *self = nullptr;
    DacScaleDialog dialog(QStringLiteral("Measure each DAC with a meter, at these three (calibrated) voltages. "
                                         "Are they all good?"),
                          TenVoltItems, [&](int item) {
                              picks.append(item);
                              shownAtPreselection = self && self->isVisible();
                          });
    self = &dialog;
    EXPECT_EQ(picks, QList<int>{1});
    EXPECT_FALSE(shownAtPreselection);

    expectDacDialogFrame(&dialog, QSize(512, 144));
    EXPECT_EQ(dialog.promptLabel()->geometry(), QRect(8, 8, 496, 40));
    EXPECT_TRUE(dialog.promptLabel()->wordWrap());
    EXPECT_EQ(dialog.group()->geometry(), QRect(8, 56, 496, 48));
    EXPECT_EQ(dialog.group()->title(), QStringLiteral("Scale (Voltage)"));
    ASSERT_EQ(dialog.group()->count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(dialog.group()->item(i)->text(), TenVoltItems.at(i));
    expectOneRowOfColumns(dialog.group(), 162); // (496 - 10) / 3
    EXPECT_EQ(dialog.group()->itemIndex(), 1);
    EXPECT_EQ(dialog.focusWidget(), dialog.group()->item(1));
    EXPECT_EQ(dialog.yesButton()->text(), QStringLiteral("&Yes"));
    EXPECT_EQ(dialog.yesButton()->geometry(), QRect(172, 112, 80, 24));
    EXPECT_TRUE(dialog.yesButton()->isDefault());
    EXPECT_EQ(dialog.noButton()->text(), QStringLiteral("&No"));
    EXPECT_EQ(dialog.noButton()->geometry(), QRect(260, 112, 80, 24));
    EXPECT_FALSE(dialog.noButton()->isDefault());
}

TEST(DacScaleDialog, EveryPickCallsTheHandlerAndOnlyYesPasses)
{
    struct Case {
        const char *name;
        std::function<void(ModalDriver &)> answer;
        QList<int> picks;
        bool expected;
    };
    const auto pick = [](int item) { return QStringLiteral("DacScaleGroupItem%1").arg(item); };
    const Case cases[] = {
        {"Yes untouched", [](ModalDriver &d) { d.clickButton(QStringLiteral("Yes")); }, {1}, true},
        {"Enter", [](ModalDriver &d) { d.pressKey(Qt::Key_Return); }, {1}, true},
        {"Min, Max, Min, Yes",
         [&](ModalDriver &d) {
             d.clickObject(pick(0)).clickObject(pick(2)).clickObject(pick(0)).clickButton(QStringLiteral("Yes"));
         },
         {1, 0, 2, 0},
         true},
        {"Mid again", [&](ModalDriver &d) { d.clickObject(pick(1)).clickButton(QStringLiteral("Yes")); }, {1, 1}, true},
        {"arrow key", [](ModalDriver &d) { d.pressKey(Qt::Key_Right).pressKey(Qt::Key_Return); }, {1, 2}, true},
        {"No", [](ModalDriver &d) { d.clickButton(QStringLiteral("No")); }, {1}, false},
        {"Escape", [&](ModalDriver &d) { d.clickObject(pick(2)).pressKey(Qt::Key_Escape); }, {1, 2}, false},
        {"close button", [](ModalDriver &d) { d.closeWindow(); }, {1}, false},
    };
    for (const Case &c : cases) {
        QtOperator op;
        QList<int> picks;
        ModalDriver driver;
        c.answer(driver.expectModal(QStringLiteral("DacScaleDialog")));
        EXPECT_EQ(op.checkDacScale(QStringLiteral("Are they all good?"), TenVoltItems,
                                   [&picks](int item) { picks.append(item); }),
                  c.expected)
            << c.name;
        EXPECT_EQ(picks, c.picks) << c.name;
    }
}

} // namespace quillon
