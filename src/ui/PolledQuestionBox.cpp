#include "ui/PolledQuestionBox.h"

#include "ui/SystemMessageBox.h"

#include <QMessageBox>

#include <memory>

namespace quillon {

PolledQuestionBox::PolledQuestionBox(QObject *parent) : QObject(parent)
{
}

PolledQuestionBox::~PolledQuestionBox()
{
    if (m_box) {
        // Answered or not, the box goes with its question; nobody reads the answer now.
        m_box->disconnect(this);
        delete m_box.data();
    }
}

void PolledQuestionBox::start()
{
    if (m_started)
        return;
    m_started = true;
    m_box = createSystemMessageBox(buttons | icon, caption, text);
    m_box->setObjectName(QLatin1String(BoxObjectName));
    m_box->setWindowModality(Qt::NonModal);
    connect(m_box, &QDialog::finished, this, &PolledQuestionBox::finish);
    m_box->show();
}

QMessageBox *PolledQuestionBox::box() const
{
    return m_box;
}

void PolledQuestionBox::abandon()
{
    if (m_done)
        return;
    if (!m_started) {
        // Never shown: answer at once as a closed box would.
        m_started = true;
        const std::unique_ptr<QMessageBox> unshown(createSystemMessageBox(buttons | icon, caption, text));
        answer = systemMessageBoxAnswer(unshown.get());
        m_done = true;
        return;
    }
    if (m_box)
        m_box->reject();
}

void PolledQuestionBox::finish()
{
    if (m_done || !m_box)
        return;
    answer = systemMessageBoxAnswer(m_box);
    m_done = true;
    m_box->disconnect(this);
    m_box->deleteLater();
    m_box = nullptr;
}

} // namespace quillon
