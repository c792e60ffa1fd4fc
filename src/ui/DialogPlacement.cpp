#include "ui/DialogPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace quillon {

void centreDialogOn(QWidget *dialog, QWidget *window)
{
    QRect area;
    if (window && window->isWindow())
        area = window->frameGeometry();
    else if (window)
        area = QRect(window->mapToGlobal(QPoint(0, 0)), window->size());
    else if (const QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->geometry();
    else
        return;
    const QSize outer = dialog->frameGeometry().size();
    dialog->move(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
}

} // namespace quillon
