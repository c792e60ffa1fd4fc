#pragma once

#include "records/RecordsQuery.h"

#include <QAbstractTableModel>

#include <vector>

namespace quillon::records {

// The runs a filter picks, fetched a page at a time as the view scrolls (LIMIT and
// OFFSET), so a store of any size opens at once. Sorting asks the store again.
class RunsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Station, Serial, Product, Kind, EndState, Overall, ColumnCount };
    static constexpr int PageSize = 200;

    explicit RunsModel(QObject *parent = nullptr);

    // The query the model reads through (not owned; null empties the model).
    void setQuery(const RecordsQuery *query);
    // Starts again from the first page of the runs filter picks (its limit and offset
    // are the model's own).
    void setFilter(const RunFilter &filter);
    const RunFilter &filter() const { return m_filter; }
    // Fetches the first page again (records added meanwhile show up).
    void refresh();

    const RunSummary *runAt(int row) const;
    QString lastError() const { return m_error; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;
    void sort(int column, Qt::SortOrder order) override;

private:
    const RecordsQuery *m_query = nullptr;
    RunFilter m_filter;
    std::vector<RunSummary> m_runs;
    bool m_atEnd = true;
    QString m_error;
};

} // namespace quillon::records
