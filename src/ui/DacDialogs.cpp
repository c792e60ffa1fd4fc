#include "ui/DacDialogs.h"

#include "ui/DialogPlacement.h"
#include "ui/MessageFont.h"
#include "ui/RadioGroupBox.h"

#include <QFocusEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

namespace quillon {

namespace {

QLabel *wrappedLabel(const QString &name, const QString &text, const QRect &geometry, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(geometry);
    return label;
}

QPushButton *pushButton(const QString &name, const QString &text, const QRect &geometry, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    return button;
}

} // namespace

DacDialogBase::DacDialogBase(QWidget *mainWindow, const QString &name, int clientWidth, int clientHeight)
    : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_mainWindow(mainWindow)
{
    setObjectName(name);
    setWindowTitle(QString());
    QFont messageFont = font();
    ApplyMessageFont(messageFont);
    setFont(messageFont);
    setFixedSize(clientWidth, clientHeight);
}

int DacDialogBase::exec()
{
    centreDialogOn(this, m_mainWindow);
    return QDialog::exec();
}

void DacDialogBase::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        centreDialogOn(this, m_mainWindow);
}

// --- range ---------------------------------------------------------------------------

QStringList DacRangeDialog::itemTexts()
{
    return {QStringLiteral("0-5 V"), QStringLiteral("\u00B15 V"), QStringLiteral("0-10 V"),
            QStringLiteral("\u00B110 V")};
}

DacRangeDialog::DacRangeDialog(QWidget *mainWindow)
    : DacDialogBase(mainWindow, QStringLiteral("DacRangeDialog"), 512, 136)
{
    m_label = wrappedLabel(QStringLiteral("DacRangeLabel"), QStringLiteral("What range are the DACs?"),
                           QRect(8, 8, 496, 40), this);
    m_group = new RadioGroupBox(QStringLiteral("DacRangeGroup"), QStringLiteral("DAC Range"), itemTexts(), 4,
                                QRect(8, 56, 496, 40), this);
    m_group->setItemIndex(3);
    m_group->item(3)->setFocus();
    m_ok = pushButton(QStringLiteral("OkButton"), QStringLiteral("OK"), QRect(216, 104, 80, 24), this);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
}

int DacRangeDialog::selectedItem() const
{
    const int item = m_group->itemIndex();
    return item >= 0 ? item : 3;
}

// --- readings ------------------------------------------------------------------------

void NoAutoSelectLineEdit::focusInEvent(QFocusEvent *event)
{
    // QLineEdit selects everything on Tab and Backtab; treat every arrival as a click.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason
        || event->reason() == Qt::ShortcutFocusReason) {
        QFocusEvent plain(event->type(), Qt::OtherFocusReason);
        QLineEdit::focusInEvent(&plain);
        return;
    }
    QLineEdit::focusInEvent(event);
}

DacReadingForm::DacReadingForm(QWidget *mainWindow)
    : DacDialogBase(mainWindow, QStringLiteral("DacReadingDialog"), 512, 144)
{
    m_prompt = wrappedLabel(QStringLiteral("DacReadingPrompt"), QString(), QRect(8, 8, 496, 40), this);
    for (int i = 0; i < Fields; ++i) {
        auto *label = new QLabel(QStringLiteral("DAC %1").arg(i), this);
        label->setObjectName(QStringLiteral("DacLabel%1").arg(i));
        label->setAlignment(Qt::AlignCenter);
        label->setGeometry(8 + 88 * i, 56, 80, 16);
        m_labels.append(label);
    }
    for (int i = 0; i < Fields; ++i) {
        auto *edit = new NoAutoSelectLineEdit(this);
        edit->setObjectName(QStringLiteral("DacEdit%1").arg(i));
        edit->setGeometry(8 + 88 * i, 80, 80, 24);
        m_fields.append(edit);
    }
    m_ok = pushButton(QStringLiteral("OkButton"), QStringLiteral("OK"), QRect(216, 112, 80, 24), this);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
}

void DacReadingForm::setPrompt(const QString &prompt)
{
    m_prompt->setText(prompt);
}

QLabel *DacReadingForm::dacLabel(int field) const
{
    return field >= 0 && field < Fields ? m_labels.at(field) : nullptr;
}

QLineEdit *DacReadingForm::field(int field) const
{
    return field >= 0 && field < Fields ? m_fields.at(field) : nullptr;
}

void DacReadingForm::setFieldText(int index, const QString &text)
{
    if (QLineEdit *edit = field(index)) {
        edit->setText(text);
        edit->deselect();
        edit->setCursorPosition(int(text.size()));
    }
}

QString DacReadingForm::fieldText(int index) const
{
    const QLineEdit *edit = field(index);
    return edit ? edit->text() : QString();
}

void DacReadingForm::hideField(int index)
{
    if (QLineEdit *edit = field(index))
        edit->hide();
}

bool DacReadingForm::isFieldVisible(int index) const
{
    // isHidden, not isVisible: the answer must not depend on whether the dialog is up.
    const QLineEdit *edit = field(index);
    return edit && !edit->isHidden();
}

void DacReadingForm::focusField(int index)
{
    if (QLineEdit *edit = field(index); edit && !edit->isHidden())
        edit->setFocus();
}

// --- scale ---------------------------------------------------------------------------

DacScaleDialog::DacScaleDialog(const QString &label, const QStringList &items, std::function<void(int)> onScaleClick,
                               QWidget *mainWindow)
    : DacDialogBase(mainWindow, QStringLiteral("DacScaleDialog"), 512, 144), m_onScaleClick(std::move(onScaleClick))
{
    m_label = wrappedLabel(QStringLiteral("DacScaleLabel"), label, QRect(8, 8, 496, 40), this);
    m_group = new RadioGroupBox(QStringLiteral("DacScaleGroup"), QStringLiteral("Scale (Voltage)"), items, 3,
                                QRect(8, 56, 496, 48), this);
    connect(m_group, &RadioGroupBox::itemClicked, this, &DacScaleDialog::scaleClicked);

    m_yes = pushButton(QStringLiteral("YesButton"), QStringLiteral("&Yes"), QRect(172, 112, 80, 24), this);
    m_yes->setDefault(true);
    connect(m_yes, &QPushButton::clicked, this, &QDialog::accept);
    // Escape and the window button reject too, so every way out but Yes is No.
    m_no = pushButton(QStringLiteral("NoButton"), QStringLiteral("&No"), QRect(260, 112, 80, 24), this);
    connect(m_no, &QPushButton::clicked, this, &QDialog::reject);

    // The preselection is a pick like any other: it sets the DACs before the dialog shows.
    if (m_group->count() > 1) {
        m_group->setItemIndex(1);
        m_group->item(1)->setFocus();
        scaleClicked(1);
    } else if (m_group->count() > 0) {
        m_group->item(0)->setFocus();
    }
}

void DacScaleDialog::scaleClicked(int item)
{
    if (m_onScaleClick)
        m_onScaleClick(item);
}

} // namespace quillon
