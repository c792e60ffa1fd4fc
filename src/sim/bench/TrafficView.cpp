#include "TrafficView.h"

#include "device/TracingDevice.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QStringListModel>
#include <QVBoxLayout>

namespace quillon::sim {

namespace {

constexpr int ShownDataBytes = 12;

QString bytesText(const QByteArray &bytes)
{
    QString text = QString::fromLatin1(bytes.left(ShownDataBytes).toHex(' ').toUpper());
    if (bytes.size() > ShownDataBytes)
        text += QStringLiteral(" \u2026 (%1 bytes)").arg(bytes.size());
    return text;
}

} // namespace

TrafficView::TrafficView(const TracingDevice &trace, QWidget *parent)
    : QWidget(parent), m_trace(trace), m_model(new QStringListModel(this)), m_list(new QListView),
      m_pause(new QCheckBox(tr("Pause"))), m_count(new QLabel)
{
    setObjectName(QStringLiteral("trafficView"));
    m_list->setObjectName(QStringLiteral("trafficList"));
    m_list->setModel(m_model);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_count->setWordWrap(true); // the view may be narrow
    m_pause->setObjectName(QStringLiteral("trafficPause"));
    m_pause->setToolTip(tr("Hold the list still to read it; the log goes on underneath"));

    auto *copy = new QPushButton(tr("Copy"));
    copy->setObjectName(QStringLiteral("copyTrafficButton"));
    copy->setToolTip(tr("Copy the listed calls to the clipboard"));
    connect(copy, &QPushButton::clicked, this, &TrafficView::copyToClipboard);
    connect(m_pause, &QCheckBox::toggled, this, [this](bool paused) {
        if (!paused)
            refresh();
    });

    auto *bar = new QHBoxLayout;
    bar->addWidget(m_count, 1);
    bar->addWidget(m_pause);
    bar->addWidget(copy);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list, 1);
    layout->addLayout(bar);
    refresh();
}

QString TrafficView::format(const LibraryCall &call)
{
    QString line = call.function + QLatin1Char('(') + call.arguments + QLatin1Char(')');
    line += call.hasStatus ? QStringLiteral(" \u2192 %1").arg(call.status)
                           : QStringLiteral(" \u2192 mask 0x%1").arg(call.status, 8, 16, QLatin1Char('0'));
    if (!call.dataOut.isEmpty())
        line += QStringLiteral("   out ") + bytesText(call.dataOut);
    if (!call.dataIn.isEmpty())
        line += QStringLiteral("   in ") + bytesText(call.dataIn);
    return line;
}

void TrafficView::refresh()
{
    if (m_pause->isChecked())
        return;
    // Nothing new, nothing to do: a bench left open costs one comparison a refresh.
    const qint64 made = m_trace.callsMade();
    if (made == m_seen && m_shown)
        return;
    const QList<LibraryCall> &calls = m_trace.calls();
    const qint64 fresh = made - m_seen;
    const qsizetype size = calls.size();
    // The new calls follow the last one shown, unless the log was cleared or more came
    // than it keeps: then the list is written afresh.
    const bool follows =
        m_shown && fresh > 0 && fresh < size && fresh <= MaxRows && format(calls.at(size - fresh - 1)) == m_lastLine;
    const qsizetype first = follows ? size - fresh : std::max<qsizetype>(0, size - MaxRows);
    QStringList batch;
    batch.reserve(size - first);
    for (qsizetype i = first; i < size; ++i)
        batch.append(format(calls.at(i)));
    m_seen = made;
    m_shown = true;
    m_lastLine = batch.isEmpty() ? QString() : batch.constLast();

    QScrollBar *scroll = m_list->verticalScrollBar();
    const bool atEnd = scroll->value() >= scroll->maximum() - 2;
    const int keep = scroll->value();
    if (follows) {
        // Appended in one batch; the oldest lines beyond the bound go.
        const int row = m_model->rowCount();
        m_model->insertRows(row, int(batch.size()));
        for (int i = 0; i < batch.size(); ++i)
            m_model->setData(m_model->index(row + i), batch.at(i));
        const int excess = m_model->rowCount() - MaxRows;
        if (excess > 0)
            m_model->removeRows(0, excess);
    } else if (batch != m_model->stringList()) {
        m_model->setStringList(batch);
    }
    m_count->setText(tr("%1 most recent calls, newest last").arg(m_model->rowCount()));
    if (atEnd)
        m_list->scrollToBottom();
    else
        scroll->setValue(keep);
}

QStringList TrafficView::lines() const
{
    return m_model->stringList();
}

void TrafficView::copyToClipboard() const
{
    QApplication::clipboard()->setText(lines().join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

} // namespace quillon::sim
