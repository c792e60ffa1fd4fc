#include "app/station/StatusDisplay.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPalette>

namespace quillon {

namespace {

int slot(TestStatus status)
{
    const int i = static_cast<int>(status);
    return (i >= 0 && i <= 3) ? i : 0;
}

} // namespace

QString statusText(TestStatus status)
{
    static const char *const texts[] = {"untested", "testing...", "PASS", "FAIL"};
    return QString::fromLatin1(texts[slot(status)]);
}

QColor statusBackground(TestStatus status)
{
    switch (slot(status)) {
    case 1: return QColor(0, 0, 255);
    case 2: return QColor(0, 255, 0);
    case 3: return QColor(255, 0, 0);
    default: return QGuiApplication::palette().color(QPalette::Button);
    }
}

QColor statusTextColour(TestStatus status)
{
    switch (slot(status)) {
    case 1: return QColor(255, 255, 255);
    case 2: return QColor(0, 0, 0);
    case 3: return QColor(255, 255, 255);
    default: return QGuiApplication::palette().color(QPalette::ButtonText);
    }
}

void ShowStatus(QLabel *label, TestStatus status)
{
    if (!label)
        return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, statusBackground(status));
    palette.setColor(QPalette::WindowText, statusTextColour(status));
    label->setAutoFillBackground(true);
    label->setPalette(palette);
    label->setText(statusText(status));
}

} // namespace quillon
