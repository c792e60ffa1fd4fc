#include "ui/QtOperator.h"

#include <QCoreApplication>
#include <QDialog>
#include <QWidget>

namespace quillon {

// First cut: the declaration is final; dialogs follow.
QtOperator::QtOperator(QWidget *mainWindow) : m_mainWindow(mainWindow) {}
QtOperator::~QtOperator() = default;
void QtOperator::setMainWindow(QWidget *mainWindow) { m_mainWindow = mainWindow; }
QWidget *QtOperator::mainWindow() const { return m_mainWindow; }
void QtOperator::abandonAll()
{
    m_abandoned = true;
    for (const QPointer<QDialog> &dialog : m_open)
        if (dialog)
            dialog->reject();
}
int QtOperator::execTracked(QDialog *dialog)
{
    if (m_abandoned)
        return QDialog::Rejected;
    m_open.append(dialog);
    const int result = dialog->exec();
    m_open.removeAll(QPointer<QDialog>(dialog));
    return result;
}
int QtOperator::messageBox(BoxStyle style, const QString &, const QString &)
{
    return style == BoxStyle::RetryCancel ? IdCancel : style == BoxStyle::YesNo ? IdNo : IdOk;
}
bool QtOperator::promptForText(const QString &, const QString &, QString &) { return false; }
int QtOperator::askDacRange() { return 3; }
std::unique_ptr<DacReadingDialog> QtOperator::createDacReadingDialog() { return nullptr; }
bool QtOperator::checkDacScale(const QString &, const QStringList &, const std::function<void(int)> &)
{
    return false;
}
std::unique_ptr<AsyncQuestion> QtOperator::startQuestion(const QString &, const QString &)
{
    return nullptr;
}
void QtOperator::processEvents() { QCoreApplication::processEvents(); }

} // namespace quillon
