#pragma once

#include <QStringList>
#include <QWidget>

class QCheckBox;
class QLabel;
class QListView;
class QStringListModel;

namespace quillon {
class TracingDevice;
struct LibraryCall;
} // namespace quillon

namespace quillon::sim {

// The last library calls from a TracingDevice's log, one line each, newest at the
// bottom. Reads the log on refresh(), appending what is new in one batch; never
// writes it.
class TrafficView : public QWidget {
    Q_OBJECT
public:
    static constexpr int MaxRows = 500;

    explicit TrafficView(const TracingDevice &trace, QWidget *parent = nullptr);

    // Reads the new calls of the log (unless paused) and follows the end if it was
    // showing it.
    void refresh();
    QStringList lines() const;
    // Puts every shown line on the clipboard.
    void copyToClipboard() const;
    static QString format(const LibraryCall &call);

private:
    const TracingDevice &m_trace;
    QStringListModel *m_model;
    QListView *m_list;
    QCheckBox *m_pause;
    QLabel *m_count;
    // The log as last read: calls made by then, whether anything was shown, the
    // newest line (where the next batch must follow on).
    qint64 m_seen = 0;
    bool m_shown = false;
    QString m_lastLine;
};

} // namespace quillon::sim
