#include "app/records/RunsModel.h"

#include "records/RunText.h"

#include <QBrush>
#include <QColor>

namespace quillon::records {

RunsModel::RunsModel(QObject *parent) : QAbstractTableModel(parent)
{
}

void RunsModel::setQuery(const RecordsQuery *query)
{
    m_query = query;
    refresh();
}

void RunsModel::setFilter(const RunFilter &filter)
{
    const RunFilter::Order order = m_filter.order;
    const bool ascending = m_filter.ascending;
    m_filter = filter;
    m_filter.order = order;
    m_filter.ascending = ascending;
    refresh();
}

void RunsModel::refresh()
{
    beginResetModel();
    m_runs.clear();
    m_atEnd = m_query == nullptr;
    m_error.clear();
    endResetModel();
    if (!m_atEnd)
        fetchMore(QModelIndex());
}

const RunSummary *RunsModel::runAt(int row) const
{
    return row >= 0 && size_t(row) < m_runs.size() ? &m_runs[size_t(row)] : nullptr;
}

int RunsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_runs.size());
}

int RunsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RunsModel::data(const QModelIndex &index, int role) const
{
    const RunSummary *run = runAt(index.row());
    if (!run)
        return {};
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case Time: return shortTime(run->startedUtc);
        case Station: return run->stationName;
        case Serial: return run->serial;
        case Product: return run->productId ? productText(run->productId) : QString();
        case Kind: return kindText(*run);
        case EndState: return endText(*run);
        case Overall: return run->verdict;
        default: return {};
        }
    }
    if (role == Qt::ForegroundRole && index.column() == Overall) {
        // The verdict in the colour it had on the station's label background.
        if (run->verdict == QLatin1String("FAIL"))
            return QBrush(QColor(200, 0, 0));
        if (run->verdict == QLatin1String("PASS"))
            return QBrush(QColor(0, 128, 0));
    }
    if (role == Qt::ToolTipRole)
        return run->id;
    return {};
}

QVariant RunsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Time: return tr("Started (UTC)");
    case Station: return tr("Station");
    case Serial: return tr("Serial");
    case Product: return tr("Product");
    case Kind: return tr("Kind");
    case EndState: return tr("End");
    case Overall: return tr("Overall");
    default: return {};
    }
}

bool RunsModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_atEnd;
}

void RunsModel::fetchMore(const QModelIndex &parent)
{
    if (parent.isValid() || m_atEnd || !m_query)
        return;
    RunFilter page = m_filter;
    page.limit = PageSize;
    page.offset = int(m_runs.size());
    QueryError error;
    std::vector<RunSummary> more = m_query->list(page, &error);
    m_error = error.message;
    m_atEnd = !m_error.isEmpty() || more.size() < size_t(PageSize);
    if (more.empty())
        return;
    beginInsertRows(QModelIndex(), int(m_runs.size()), int(m_runs.size() + more.size()) - 1);
    m_runs.insert(m_runs.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    endInsertRows();
}

void RunsModel::sort(int column, Qt::SortOrder order)
{
    static const RunFilter::Order orders[] = {
        RunFilter::Order::Started, RunFilter::Order::Station,  RunFilter::Order::Serial, RunFilter::Order::Product,
        RunFilter::Order::Kind,    RunFilter::Order::EndState, RunFilter::Order::Verdict};
    if (column < 0 || column >= ColumnCount)
        return;
    m_filter.order = orders[column];
    m_filter.ascending = order == Qt::AscendingOrder;
    refresh();
}

} // namespace quillon::records
