#include "support/ModalDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QWidget>

#include <gtest/gtest.h>

namespace quillon::testing {

namespace {

QString withoutMnemonics(QString text)
{
    return text.remove(QLatin1Char('&'));
}

QString describe(const QWidget *widget)
{
    if (!widget)
        return QStringLiteral("none");
    return QStringLiteral("%1 \"%2\" (%3)")
        .arg(QString::fromLatin1(widget->metaObject()->className()), widget->windowTitle(), widget->objectName());
}

QWidget *keyTarget(QWidget *dialog)
{
    QWidget *focus = dialog->focusWidget();
    return focus ? focus : dialog;
}

// A press and release as the keyboard would deliver it; unhandled keys travel up to the
// dialog (Escape, Return).
void sendKey(QWidget *target, int key, const QString &text = QString())
{
    const QPointer<QWidget> guard(target);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    if (!guard)
        return;
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

} // namespace

ModalDriver::ModalDriver(int timeoutMs, QObject *parent) : QObject(parent), m_timeoutMs(timeoutMs)
{
    m_poll.setInterval(10);
    connect(&m_poll, &QTimer::timeout, this, &ModalDriver::poll);
    m_poll.start();
    m_stepClock.start();
}

ModalDriver::~ModalDriver()
{
    if (m_handled)
        m_handled->removeEventFilter(this);
    if (!m_failed) {
        for (const Step &step : m_steps)
            ADD_FAILURE() << "ModalDriver: " << qPrintable(step.description) << " never appeared";
    }
}

ModalDriver &ModalDriver::expectModal(const QString &objectName)
{
    if (m_steps.empty())
        m_stepClock.restart();
    Step step;
    step.objectName = objectName;
    step.description =
        objectName.isEmpty() ? QStringLiteral("a modal dialog") : QStringLiteral("modal dialog %1").arg(objectName);
    m_steps.push_back(std::move(step));
    if (!objectName.isEmpty())
        m_names.append(objectName);
    return *this;
}

ModalDriver &ModalDriver::expectTopLevel(const QString &objectName)
{
    if (m_steps.empty())
        m_stepClock.restart();
    Step step;
    step.objectName = objectName;
    step.topLevel = true;
    step.description = QStringLiteral("top-level window %1").arg(objectName);
    m_steps.push_back(std::move(step));
    m_names.append(objectName);
    return *this;
}

ModalDriver &ModalDriver::addAction(const QString &what, std::function<bool(QWidget *)> action)
{
    if (m_steps.empty()) {
        ADD_FAILURE() << "ModalDriver: " << qPrintable(what) << " before any expect...()";
        return *this;
    }
    m_steps.back().actions.push_back([what, action = std::move(action)](QWidget *dialog) {
        if (action(dialog))
            return true;
        ADD_FAILURE() << "ModalDriver: could not " << qPrintable(what) << " in " << qPrintable(describe(dialog));
        return false;
    });
    return *this;
}

ModalDriver &ModalDriver::check(std::function<void(QWidget *)> inspect)
{
    return addAction(QStringLiteral("check"), [inspect = std::move(inspect)](QWidget *dialog) {
        inspect(dialog);
        return true;
    });
}

ModalDriver &ModalDriver::typeText(const QString &text)
{
    return addAction(QStringLiteral("type \"%1\"").arg(text), [text](QWidget *dialog) {
        for (const QChar c : text) {
            const int key =
                c.isLetterOrNumber() && c.unicode() < 128 ? int(c.toUpper().unicode()) : int(Qt::Key_unknown);
            sendKey(keyTarget(dialog), key, QString(c));
        }
        return true;
    });
}

ModalDriver &ModalDriver::pressKey(Qt::Key key)
{
    return addAction(QStringLiteral("press key %1").arg(int(key), 0, 16), [key](QWidget *dialog) {
        sendKey(keyTarget(dialog), key);
        return true;
    });
}

ModalDriver &ModalDriver::clickButton(const QString &text)
{
    const QString wanted = withoutMnemonics(text);
    return addAction(QStringLiteral("click \"%1\"").arg(text), [wanted](QWidget *dialog) {
        for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>()) {
            if (button->isVisibleTo(dialog) && withoutMnemonics(button->text()) == wanted) {
                button->click();
                return true;
            }
        }
        return false;
    });
}

ModalDriver &ModalDriver::clickObject(const QString &objectName)
{
    return addAction(QStringLiteral("click %1").arg(objectName), [objectName](QWidget *dialog) {
        auto *button = dialog->findChild<QAbstractButton *>(objectName);
        if (!button)
            return false;
        button->click();
        return true;
    });
}

ModalDriver &ModalDriver::clickRole(QMessageBox::ButtonRole role)
{
    return addAction(QStringLiteral("click role %1").arg(int(role)), [role](QWidget *dialog) {
        auto *box = qobject_cast<QMessageBox *>(dialog);
        if (!box)
            return false;
        for (QAbstractButton *button : box->buttons()) {
            if (box->buttonRole(button) == role) {
                button->click();
                return true;
            }
        }
        return false;
    });
}

ModalDriver &ModalDriver::closeWindow()
{
    return addAction(QStringLiteral("close the window"), [](QWidget *dialog) {
        dialog->close();
        return true;
    });
}

bool ModalDriver::waitUntilDone(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    // The poll timer wakes the wait every 10 ms.
    while (!isDone() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return isDone();
}

QWidget *ModalDriver::findTarget(const Step &step) const
{
    const auto fits = [this, &step](QWidget *widget) {
        return widget && widget->isVisible() && widget != m_handled
               && (step.objectName.isEmpty() || widget->objectName() == step.objectName);
    };
    if (!step.topLevel) {
        QWidget *modal = QApplication::activeModalWidget();
        return fits(modal) ? modal : nullptr;
    }
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (fits(widget))
            return widget;
    return nullptr;
}

void ModalDriver::poll()
{
    if (m_failed) {
        closeLeftovers();
        return;
    }
    if (m_acting)
        return;
    if (m_steps.empty()) {
        watchForUnexpected();
        return;
    }
    if (QWidget *target = findTarget(m_steps.front())) {
        // Act from the event loop, not from inside this timer's slot: an action may
        // open a nested dialog, which must not block the poll.
        m_acting = true;
        QTimer::singleShot(0, this, [this, guard = QPointer<QWidget>(target)] { perform(guard); });
        return;
    }
    if (m_stepClock.elapsed() > m_timeoutMs) {
        fail(QStringLiteral("%1 did not appear within %2 ms (active modal: %3)")
                 .arg(m_steps.front().description)
                 .arg(m_timeoutMs)
                 .arg(describe(QApplication::activeModalWidget())));
    }
}

void ModalDriver::watchForUnexpected()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) {
        m_unexpected = nullptr;
        return;
    }
    if (modal != m_unexpected) {
        m_unexpected = modal;
        m_unexpectedClock.start();
    } else if (m_unexpectedClock.elapsed() > m_timeoutMs) {
        fail(QStringLiteral("%1 stayed open with no step left for it").arg(describe(modal)));
    }
}

void ModalDriver::perform(QPointer<QWidget> target)
{
    m_acting = false;
    if (m_failed || m_steps.empty())
        return;
    if (!target) {
        return; // gone before we got to it; the next poll looks again
    }
    const Step step = std::move(m_steps.front());
    m_steps.pop_front();
    if (m_handled)
        m_handled->removeEventFilter(this);
    m_handled = target;
    target->installEventFilter(this);
    for (const auto &action : step.actions) {
        if (!target) {
            fail(QStringLiteral("%1 went away before all its actions ran").arg(step.description));
            return;
        }
        if (!action(target)) {
            giveUp(); // the action has reported what it missed
            return;
        }
    }
    m_stepClock.restart();
}

bool ModalDriver::eventFilter(QObject *watched, QEvent *event)
{
    // Once hidden, the dialog may be shown again and become a new step's target.
    if (event->type() == QEvent::Hide && watched == m_handled.data()) {
        m_handled->removeEventFilter(this);
        m_handled = nullptr;
    }
    return QObject::eventFilter(watched, event);
}

void ModalDriver::fail(const QString &message)
{
    ADD_FAILURE() << "ModalDriver: " << qPrintable(message);
    giveUp();
}

void ModalDriver::giveUp()
{
    m_failed = true;
    m_steps.clear();
    closeLeftovers();
}

void ModalDriver::closeLeftovers()
{
    if (QWidget *modal = QApplication::activeModalWidget()) {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    }
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && m_names.contains(widget->objectName())) {
            if (auto *dialog = qobject_cast<QDialog *>(widget))
                dialog->reject();
            else
                widget->close();
        }
    }
}

} // namespace quillon::testing
