#include "ui/SystemMessageBox.h"

#include "station/Operator.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace quillon {

namespace {

constexpr int IdAbort = 3;
constexpr int IdIgnore = 5;

QMessageBox::StandardButtons buttonsFor(int flags)
{
    using B = QMessageBox;
    switch (flags & MessageBoxFlags::ButtonMask) {
    case MessageBoxFlags::OkCancel: return B::Ok | B::Cancel;
    case MessageBoxFlags::AbortRetryIgnore: return B::Abort | B::Retry | B::Ignore;
    case MessageBoxFlags::YesNoCancel: return B::Yes | B::No | B::Cancel;
    case MessageBoxFlags::YesNo: return B::Yes | B::No;
    case MessageBoxFlags::RetryCancel: return B::Retry | B::Cancel;
    default: return B::Ok;
    }
}

QMessageBox::Icon iconFor(int flags)
{
    switch (flags & MessageBoxFlags::IconMask) {
    case MessageBoxFlags::IconHand: return QMessageBox::Critical;
    case MessageBoxFlags::IconQuestion: return QMessageBox::Question;
    case MessageBoxFlags::IconExclamation: return QMessageBox::Warning;
    case MessageBoxFlags::IconAsterisk: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

int codeFor(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Ok: return IdOk;
    case QMessageBox::Cancel: return IdCancel;
    case QMessageBox::Abort: return IdAbort;
    case QMessageBox::Retry: return IdRetry;
    case QMessageBox::Ignore: return IdIgnore;
    case QMessageBox::Yes: return IdYes;
    case QMessageBox::No: return IdNo;
    default: return IdCancel;
    }
}

} // namespace

QMessageBox *createSystemMessageBox(int flags, const QString &caption, const QString &text, QWidget *parent)
{
    auto *box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("SystemMessageBox"));
    box->setIcon(iconFor(flags));
    box->setWindowTitle(caption);
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    const QMessageBox::StandardButtons buttons = buttonsFor(flags);
    box->setStandardButtons(buttons);
    // The first button is the default, as with the system's boxes.
    for (QMessageBox::StandardButton first :
         {QMessageBox::Ok, QMessageBox::Abort, QMessageBox::Yes, QMessageBox::Retry}) {
        if (buttons & first) {
            box->setDefaultButton(first);
            break;
        }
    }
    if (buttons & QMessageBox::Cancel)
        box->setEscapeButton(QMessageBox::Cancel);
    else if (buttons & QMessageBox::No)
        box->setEscapeButton(QMessageBox::No);
    else if (buttons == QMessageBox::Ok)
        box->setEscapeButton(QMessageBox::Ok);
    return box;
}

int systemMessageBoxAnswer(const QMessageBox *box)
{
    const QAbstractButton *button = box->clickedButton();
    if (!button)
        button = box->escapeButton();
    if (!button)
        return IdCancel;
    return codeFor(box->standardButton(const_cast<QAbstractButton *>(button)));
}

} // namespace quillon
