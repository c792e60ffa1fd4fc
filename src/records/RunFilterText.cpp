#include "records/RunFilterText.h"

#include <QDateTime>
#include <QRegularExpression>

namespace quillon::records {

namespace {

QString storedBound(const QDate &date, const QTime &time)
{
    return QDateTime(date, time, Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + QLatin1Char('Z');
}

std::optional<int> productId(const QString &text)
{
    bool ok = false;
    const int id =
        text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toInt(&ok, 16) : text.toInt(&ok, 10);
    if (!ok || id < 0)
        return std::nullopt;
    return id;
}

} // namespace

const QStringList &runFilterVerdicts()
{
    static const QStringList verdicts = {QStringLiteral("pass"), QStringLiteral("fail"), QStringLiteral("aborted"),
                                         QStringLiteral("interrupted"), QStringLiteral("open")};
    return verdicts;
}

std::optional<QString> parseTimeBound(const QString &text, bool endOfDay)
{
    const QString t = text.trimmed();
    static const QRegularExpression dateOnly(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    if (dateOnly.match(t).hasMatch()) {
        const QDate date = QDate::fromString(t, Qt::ISODate);
        if (!date.isValid())
            return std::nullopt;
        if (!endOfDay)
            return storedBound(date, QTime(0, 0));
        // Every stored time is before the day after; after 9999-12-31 there is none.
        const QDate next = date.addDays(1);
        return next.year() > 9999 ? QString() : storedBound(next, QTime(0, 0));
    }
    static const QRegularExpression dateTime(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})[T ](\\d{2}):(\\d{2})(?::(\\d{2})(?:\\.(\\d{1,3}))?)?Z?$"));
    const auto match = dateTime.match(t);
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date = QDate::fromString(match.captured(1), Qt::ISODate);
    const QString ms = match.captured(5).leftJustified(3, QLatin1Char('0'));
    const QTime time(match.captured(2).toInt(), match.captured(3).toInt(), match.captured(4).toInt(), ms.toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return storedBound(date, time);
}

std::vector<RunFilterProblem> readRunFilter(const RunFilterText &text, RunFilter &filter)
{
    using Field = RunFilterProblem::Field;
    std::vector<RunFilterProblem> problems;
    auto bound = [&](const QString &typed, bool endOfDay, Field field, QString &into) {
        into.clear();
        if (typed.trimmed().isEmpty())
            return;
        if (const auto b = parseTimeBound(typed, endOfDay))
            into = *b;
        else
            problems.push_back({field, typed});
    };
    bound(text.since, false, Field::Since, filter.since);
    bound(text.until, true, Field::Until, filter.until);
    filter.serial = text.serial.trimmed();
    filter.station = text.station.trimmed();
    filter.operatorId = text.operatorId.trimmed();
    filter.instrument = text.instrument.trimmed();
    filter.product.reset();
    if (const QString product = text.product.trimmed(); !product.isEmpty()) {
        if (const auto id = productId(product))
            filter.product = id;
        else
            problems.push_back({Field::Product, text.product});
    }
    filter.verdict = text.verdict.trimmed().toLower();
    if (!filter.verdict.isEmpty() && !runFilterVerdicts().contains(filter.verdict)) {
        problems.push_back({Field::Verdict, text.verdict});
        filter.verdict.clear();
    }
    if (const QString limit = text.limit.trimmed(); !limit.isEmpty()) {
        bool ok = false;
        const int n = limit.toInt(&ok);
        if (ok && n >= 0)
            filter.limit = n;
        else
            problems.push_back({Field::Limit, text.limit});
    }
    return problems;
}

QString RunFilterProblem::describe() const
{
    switch (field) {
    case Field::Since:
    case Field::Until: return QStringLiteral("malformed date \"%1\" (use 2026-12-08 or 2026-12-08T14:45:31)").arg(text);
    case Field::Product: return QStringLiteral("malformed product id \"%1\"").arg(text);
    case Field::Verdict:
        return QStringLiteral("unknown verdict \"%1\" (%2)").arg(text, runFilterVerdicts().join(QStringLiteral(", ")));
    case Field::Limit: break;
    }
    return QStringLiteral("malformed limit \"%1\"").arg(text);
}

} // namespace quillon::records
