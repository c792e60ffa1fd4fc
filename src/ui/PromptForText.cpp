#include "ui/PromptForText.h"

#include "ui/DialogPlacement.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include <cstdint>
#include <cstdlib>

namespace quillon {

DialogUnits measureDialogUnits(const QFont &font)
{
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    return {metrics.horizontalAdvance(letters) / 52, metrics.height()};
}

int mulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const std::int64_t product = std::int64_t(a) * b;
    const std::int64_t magnitude = (std::llabs(product) * 2 + std::llabs(c)) / (std::int64_t(std::llabs(c)) * 2);
    return int((product < 0) != (c < 0) ? -magnitude : magnitude);
}

PromptForTextDialog::PromptForTextDialog(const QString &caption, const QString &prompt, const QString &value,
                                         QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("PromptForTextDialog"));
    setWindowTitle(caption);

    const DialogUnits du = measureDialogUnits(font());
    const auto dx = [&du](int units) { return mulDiv(units, du.x, 4); };
    const auto dy = [&du](int units) { return mulDiv(units, du.y, 8); };

    setFixedSize(dx(180), dy(80));

    m_label = new QLabel(prompt, this);
    m_label->setObjectName(QStringLiteral("PromptLabel"));
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_label->setGeometry(dx(8), dy(8), dx(164), dy(28));

    // Created before the buttons, so it is first in the tab order.
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("PromptEdit"));
    m_edit->setMaxLength(255);
    m_edit->setText(value);
    m_edit->setGeometry(m_label->x(), dy(36), m_label->width(), m_edit->sizeHint().height());
    m_edit->selectAll();
    m_edit->setFocus();

    const int buttonTop = dy(58);
    m_ok = new QPushButton(tr("OK"), this);
    m_ok->setObjectName(QStringLiteral("OkButton"));
    m_ok->setGeometry(dx(38), buttonTop, dx(50), dy(14));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("CancelButton"));
    m_cancel->setGeometry(dx(92), buttonTop, dx(50), dy(14));
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    centreDialogOn(this, nullptr);
}

void PromptForTextDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        centreDialogOn(this, nullptr);
}

QString PromptForTextDialog::text() const
{
    return m_edit->text();
}

bool PromptForText(const QString &caption, const QString &prompt, QString &value)
{
    PromptForTextDialog dialog(caption, prompt, value);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    value = dialog.text();
    return true;
}

} // namespace quillon
