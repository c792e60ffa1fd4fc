#include "ui/TAskThread.h"

#include "ui/SystemMessageBox.h"

#include <QMessageBox>

#include <memory>

namespace quillon {

TAskThread::TAskThread(QObject *parent) : QObject(parent)
{
}

TAskThread::~TAskThread()
{
    if (m_box) {
        // Answered or not, the box goes with its question; nobody reads the answer now.
        m_box->disconnect(this);
        delete m_box.data();
    }
}

void TAskThread::Start()
{
    if (m_started)
        return;
    m_started = true;
    m_box = createSystemMessageBox(Buttons | Icon, Caption, Text);
    m_box->setObjectName(QLatin1String(BoxObjectName));
    m_box->setWindowModality(Qt::NonModal);
    connect(m_box, &QDialog::finished, this, &TAskThread::finish);
    m_box->show();
}

QMessageBox *TAskThread::box() const
{
    return m_box;
}

void TAskThread::Abandon()
{
    if (m_done)
        return;
    if (!m_started) {
        // Never shown: answer at once as a closed box would.
        m_started = true;
        const std::unique_ptr<QMessageBox> unshown(createSystemMessageBox(Buttons | Icon, Caption, Text));
        Answer = systemMessageBoxAnswer(unshown.get());
        m_done = true;
        return;
    }
    if (m_box)
        m_box->reject();
}

void TAskThread::finish()
{
    if (m_done || !m_box)
        return;
    Answer = systemMessageBoxAnswer(m_box);
    m_done = true;
    m_box->disconnect(this);
    m_box->deleteLater();
    m_box = nullptr;
}

} // namespace quillon
