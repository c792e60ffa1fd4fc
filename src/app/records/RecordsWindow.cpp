#include "app/records/RecordsWindow.h"

#include "app/records/RecordsCli.h"
#include "app/records/RecordsPlots.h"
#include "app/records/RunPage.h"
#include "app/records/RunsModel.h"
#include "records/ReadOnlyStore.h"
#include "records/RecordsExport.h"
#include "records/RunFilterText.h"
#include "records/StoreBackend.h"
#include "records/line/LineDatabase.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPromise>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QUuid>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace quillon::records {

namespace {

QSettings settings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillon"),
                     QStringLiteral("quillon-records"));
}

// Filter fields are remembered between sessions under these keys.
const char *const FilterKeys[] = {"filter/since",  "filter/until",   "filter/station",  "filter/product",
                                  "filter/serial", "filter/verdict", "filter/operator", "filter/instrument"};

// A connection to source of the calling thread's own (Qt SQL connections belong to the
// thread that opened them), closed when it goes.
class OwnConnection {
public:
    explicit OwnConnection(const QString &source)
        : m_name(QStringLiteral("records-window-work-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
          m_store(openRecordsStore(source, m_name))
    {
    }
    ~OwnConnection()
    {
        m_store = {};
        closeReadOnlyStore(m_name);
    }
    OwnConnection(const OwnConnection &) = delete;
    OwnConnection &operator=(const OwnConnection &) = delete;
    const ReadOnlyStore &store() const { return m_store; }

private:
    QString m_name;
    ReadOnlyStore m_store;
};

} // namespace

// A plots update: the digest brought up to date (on a copy) and the runs the filter picks.
struct RecordsWindow::PlotsWork {
    QString source, cacheFile;
    RunFilter filter;
    std::shared_ptr<const RunDigest> digest; // in: the current one; out: the updated one
    bool ready = false;                      // in: digest is up to date; out: it is
    QString reason;
    std::vector<qint64> chosen;
    quint64 generation = 0;
};

struct RecordsWindow::ExportWork {
    QString source, file;
    RunFilter filter;
    ExportFormat format = ExportFormat::JUnit;
    bool ok = false;
    QString message;
    quint64 generation = 0;
};

namespace {

using PlotsJob = std::shared_ptr<RecordsWindow::PlotsWork>;
using ExportJob = std::shared_ptr<RecordsWindow::ExportWork>;

void updateDigest(QPromise<PlotsJob> &promise, const PlotsJob &work)
{
    const OwnConnection connection(work->source);
    const QSqlDatabase &db = connection.store().db;
    if (!connection.store().isOpen()) {
        work->ready = false;
        work->reason = connection.store().error;
        promise.addResult(work);
        return;
    }
    if (!work->ready) {
        auto digest = work->digest ? std::make_shared<RunDigest>(*work->digest) : std::make_shared<RunDigest>();
        work->ready = digest->update(db, work->cacheFile, &work->reason, [&promise] { return promise.isCanceled(); });
        work->digest = std::move(digest);
    }
    if (!work->ready || promise.isCanceled()) {
        promise.addResult(work);
        return;
    }
    const RecordsQuery query(db);
    if (work->filter.picksAll())
        work->chosen = work->digest->rowids();
    else if (!StoreBackend::of(db).hasWriteOrder())
        // The digest numbers the line database's runs itself: pick them by id.
        work->chosen = work->digest->rowidsOf(query.runIds(work->filter));
    else
        work->chosen = query.rowids(work->filter);
    promise.addResult(work);
}

// Writes every run the filter picks, newest first, one at a time; stops without a file
// when cancelled.
void exportRunsTo(QPromise<ExportJob> &promise, const ExportJob &work)
{
    const OwnConnection connection(work->source);
    if (!connection.store().isOpen()) {
        work->message = connection.store().error;
        promise.addResult(work);
        return;
    }
    const RecordsQuery query(connection.store().db);
    QueryError error;
    const std::vector<RunSummary> runs = query.list(work->filter, &error);
    QSaveFile out(work->file);
    if (!error.message.isEmpty() || !out.open(QIODevice::WriteOnly)) {
        work->message = error.message.isEmpty() ? out.errorString() : error.message;
        promise.addResult(work);
        return;
    }
    promise.setProgressRange(0, int(runs.size()));
    {
        RunExporter exporter(work->format, out);
        for (size_t i = 0; i < runs.size(); ++i) {
            if (promise.isCanceled()) {
                out.cancelWriting();
                return;
            }
            const auto detail = query.run(runs[i].id, &error);
            if (!detail) {
                work->message = error.message;
                promise.addResult(work);
                return;
            }
            exporter.add(*detail);
            promise.setProgressValue(int(i) + 1);
        }
        work->ok = exporter.finish();
    }
    work->ok = work->ok && out.commit();
    if (!work->ok)
        work->message = out.errorString();
    promise.addResult(work);
}

// Room for a first window on the primary screen: most of it, never more than all of it.
QSize screenRoom()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {1200, 800};
    const QSize room = screen->availableGeometry().size();
    return {room.width() * 19 / 20, room.height() * 9 / 10};
}

} // namespace

RecordsWindow::RecordsWindow(const QString &source, QWidget *parent)
    : QMainWindow(parent), m_stack(new QStackedWidget), m_message(new QLabel), m_tabs(new QTabWidget),
      m_since(new QLineEdit), m_until(new QLineEdit), m_station(new QComboBox), m_product(new QLineEdit),
      m_serial(new QLineEdit), m_operator(new QLineEdit), m_instrument(new QLineEdit), m_verdict(new QComboBox),
      m_count(new QLabel), m_view(new QTableView), m_model(new RunsModel(this)), m_page(new RunPage),
      m_plots(new RecordsPlots), m_split(new QSplitter(Qt::Vertical)), m_filterTimer(new QTimer(this)),
      m_plotsWatcher(new QFutureWatcher<std::shared_ptr<PlotsWork>>(this)),
      m_exportWatcher(new QFutureWatcher<std::shared_ptr<ExportWork>>(this)), m_progress(new QProgressBar),
      m_cancel(new QPushButton(tr("Cancel")))
{
    setObjectName(QStringLiteral("RecordsWindow"));
    setWindowTitle(tr("Quillon records"));

    // The message page: shown instead of the runs when the store cannot be read.
    auto *messagePage = new QWidget;
    m_message->setObjectName(QStringLiteral("StoreMessage"));
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont big = m_message->font();
    big.setPointSizeF(big.pointSizeF() * 1.25);
    m_message->setFont(big);
    auto *other = new QPushButton(tr("Open another store\u2026"));
    auto *messageLayout = new QVBoxLayout(messagePage);
    messageLayout->addStretch();
    messageLayout->addWidget(m_message);
    messageLayout->addWidget(other, 0, Qt::AlignHCenter);
    messageLayout->addStretch();
    connect(other, &QPushButton::clicked, this, &RecordsWindow::chooseStore);

    // Filters.
    // Empty fields say so; the forms they take are in the tooltips (an example as the
    // grey hint reads as a filter already set).
    m_since->setPlaceholderText(tr("any day"));
    m_until->setPlaceholderText(tr("any day"));
    m_product->setPlaceholderText(tr("any"));
    m_since->setToolTip(tr("Runs started on or after a day (2026-12-01) or a time (2026-12-01T14:30), UTC"));
    m_until->setToolTip(tr("Runs started up to a day's end (2026-12-31) or before a time (2026-12-31T18:00), UTC"));
    m_product->setToolTip(tr("A product id, 0x8140 or 33088"));
    m_serial->setPlaceholderText(tr("any"));
    m_operator->setPlaceholderText(tr("any"));
    m_instrument->setPlaceholderText(tr("any"));
    m_operator->setObjectName(QStringLiteral("OperatorField"));
    m_instrument->setObjectName(QStringLiteral("InstrumentField"));
    m_since->setObjectName(QStringLiteral("SinceField"));
    m_until->setObjectName(QStringLiteral("UntilField"));
    m_product->setObjectName(QStringLiteral("ProductField"));
    m_serial->setObjectName(QStringLiteral("SerialField"));
    m_station->setObjectName(QStringLiteral("StationBox"));
    m_verdict->setObjectName(QStringLiteral("VerdictBox"));
    m_verdict->addItem(tr("any"), QString());
    for (const char *v : {"pass", "fail", "aborted", "interrupted", "open"})
        m_verdict->addItem(QString::fromLatin1(v), QString::fromLatin1(v));
    for (QLineEdit *e : {m_since, m_until, m_product, m_serial, m_operator, m_instrument}) {
        e->setClearButtonEnabled(true);
        connect(e, &QLineEdit::textChanged, m_filterTimer, qOverload<>(&QTimer::start));
    }
    connect(m_station, &QComboBox::currentIndexChanged, m_filterTimer, qOverload<>(&QTimer::start));
    connect(m_verdict, &QComboBox::currentIndexChanged, m_filterTimer, qOverload<>(&QTimer::start));
    m_filterTimer->setSingleShot(true);
    m_filterTimer->setInterval(250);
    connect(m_filterTimer, &QTimer::timeout, this, &RecordsWindow::applyFilter);
    auto *filters = new QHBoxLayout;
    auto field = [&](const QString &label, QWidget *w) {
        auto *l = new QLabel(label);
        l->setBuddy(w);
        filters->addWidget(l);
        filters->addWidget(w, 1);
    };
    field(tr("&Since"), m_since);
    field(tr("&Until"), m_until);
    field(tr("S&tation"), m_station);
    field(tr("&Product"), m_product);
    field(tr("Se&rial"), m_serial);
    field(tr("&Verdict"), m_verdict);
    field(tr("&Operator"), m_operator);
    field(tr("&Meter"), m_instrument);
    filters->addWidget(m_count);
    m_count->setObjectName(QStringLiteral("RunCount"));

    // Runs and the selected run's page.
    m_view->setObjectName(QStringLiteral("RunsView"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setAlternatingRowColors(true);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->setSortingEnabled(true);
    m_view->horizontalHeader()->setSortIndicator(RunsModel::Time, Qt::DescendingOrder);
    m_view->setWordWrap(false);
    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) {
                if (const RunSummary *run = m_model->runAt(current.row()))
                    openRun(run->id);
            });
    m_split->addWidget(m_view);
    m_split->addWidget(m_page);
    m_split->setStretchFactor(0, 2);
    m_split->setStretchFactor(1, 3);
    auto *runsPage = new QWidget;
    auto *runsLayout = new QVBoxLayout(runsPage);
    runsLayout->addLayout(filters);
    runsLayout->addWidget(m_split, 1);

    m_tabs->addTab(runsPage, tr("Runs"));
    m_tabs->addTab(m_plots, tr("Plots"));
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] { updatePlots(); });
    connect(m_plots, &RecordsPlots::runClicked, this, [this](qint64 rowid) {
        if (const RunDigest::Run *run = m_digestReady && m_digest ? m_digest->find(rowid) : nullptr) {
            m_tabs->setCurrentIndex(0);
            openRun(run->id);
        }
    });
    m_stack->addWidget(m_tabs);
    m_stack->addWidget(messagePage);
    setCentralWidget(m_stack);

    // Menus and the usual keys.
    QMenu *file = menuBar()->addMenu(tr("&File"));
    QAction *open = file->addAction(tr("&Open store\u2026"), this, &RecordsWindow::chooseStore);
    open->setShortcut(QKeySequence::Open);
    m_exportAction = file->addAction(tr("&Export runs\u2026"), this, &RecordsWindow::exportRuns);
    m_exportAction->setShortcut(QKeySequence(tr("Ctrl+E")));
    m_exportAction->setObjectName(QStringLiteral("ExportAction"));
    file->addSeparator();
    QAction *quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);
    QMenu *view = menuBar()->addMenu(tr("&View"));
    QAction *find = view->addAction(tr("&Filter"), this, [this] {
        m_tabs->setCurrentIndex(0);
        m_serial->setFocus(Qt::ShortcutFocusReason);
        m_serial->selectAll();
    });
    find->setShortcut(QKeySequence::Find);
    find->setObjectName(QStringLiteral("FindAction"));
    QAction *reload = view->addAction(tr("&Refresh"), this, &RecordsWindow::refresh);
    reload->setShortcuts({QKeySequence(tr("Ctrl+R")), QKeySequence::Refresh});
    reload->setObjectName(QStringLiteral("RefreshAction"));

    // Work off the GUI thread: shown in the status bar while it runs, with a way to stop it.
    m_progress->setObjectName(QStringLiteral("WorkProgress"));
    m_progress->setMaximumWidth(200);
    m_progress->setTextVisible(false);
    m_cancel->setObjectName(QStringLiteral("CancelWork"));
    statusBar()->addPermanentWidget(m_progress);
    statusBar()->addPermanentWidget(m_cancel);
    connect(m_cancel, &QPushButton::clicked, this, &RecordsWindow::cancelWork);
    connect(m_plotsWatcher, &QFutureWatcherBase::finished, this, &RecordsWindow::plotsUpdated);
    connect(m_exportWatcher, &QFutureWatcherBase::finished, this, &RecordsWindow::exportDone);
    connect(m_exportWatcher, &QFutureWatcherBase::progressRangeChanged, m_progress, &QProgressBar::setRange);
    connect(m_exportWatcher, &QFutureWatcherBase::progressValueChanged, m_progress, &QProgressBar::setValue);
    showWork();

    // Where the person left it.
    QSettings s = settings();
    if (!restoreGeometry(s.value(QStringLiteral("window/geometry")).toByteArray()))
        resize(QSize(1200, 800).boundedTo(screenRoom()));
    m_split->restoreState(s.value(QStringLiteral("window/split")).toByteArray());
    m_since->setText(s.value(QLatin1String(FilterKeys[0])).toString());
    m_until->setText(s.value(QLatin1String(FilterKeys[1])).toString());
    m_product->setText(s.value(QLatin1String(FilterKeys[3])).toString());
    m_serial->setText(s.value(QLatin1String(FilterKeys[4])).toString());
    m_operator->setText(s.value(QLatin1String(FilterKeys[6])).toString());
    m_instrument->setText(s.value(QLatin1String(FilterKeys[7])).toString());
    m_verdict->setCurrentIndex(std::max(0, m_verdict->findData(s.value(QLatin1String(FilterKeys[5])).toString())));
    m_station->addItem(tr("any"), QString());
    const QString station = s.value(QLatin1String(FilterKeys[2])).toString();
    if (!station.isEmpty())
        m_station->addItem(station, station);
    m_station->setCurrentIndex(m_station->count() - 1);
    m_filterTimer->stop();
    openSource(source);
}

RecordsWindow::~RecordsWindow()
{
    // What still runs works on its own connection and copies: stopped, it ends alone.
    cancelWork();
    close_store();
}

QString RecordsWindow::problem() const
{
    return m_problem;
}

void RecordsWindow::close_store()
{
    // Results of this store's work still to come are dropped; the work is stopped.
    ++m_generation;
    m_plotsWatcher->cancel();
    m_plotsAgain = false;
    m_plots->setRuns(nullptr, {});
    m_page->showRun(std::nullopt);
    m_page->setQuery(nullptr);
    m_model->setQuery(nullptr);
    m_query.reset();
    m_digest.reset();
    m_digestReady = false;
    m_plotsStale = true;
    if (!m_connection.isEmpty())
        closeReadOnlyStore(m_connection);
    m_connection.clear();
}

void RecordsWindow::showProblem(const QString &message)
{
    m_problem = message;
    m_message->setText(message);
    m_stack->setCurrentIndex(1);
    statusBar()->clearMessage();
}

void RecordsWindow::openSource(const QString &source)
{
    close_store();
    m_source = source;
    m_connection = QStringLiteral("records-window-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlDatabase db;
    if (isLineDatabaseUrl(source)) {
        const LineDatabaseUrl url = LineDatabaseUrl::parse(source);
        setWindowTitle(tr("%1 \u2013 Quillon records").arg(url.display.isEmpty() ? source : url.display));
        const ReadOnlyStore store =
            url.error.isEmpty() ? openLineStore(source, m_connection) : ReadOnlyStore{{}, url.error};
        if (!store.isOpen()) {
            showProblem(tr("The line database cannot be read.\n\n%1").arg(store.error));
            return;
        }
        db = store.db;
    } else {
        const ReadOnlyStore store = openReadOnlyStore(source, m_connection);
        setWindowTitle(tr("%1 \u2013 Quillon records").arg(QFileInfo(source).fileName()));
        if (!store.isOpen()) {
            const bool missing = !QFileInfo::exists(source);
            showProblem(missing ? tr("There is no records store at\n%1\n\nA station creates it when it records its "
                                     "first run.")
                                      .arg(source)
                                : tr("This file cannot be read as a records store.\n\n%1").arg(store.error));
            return;
        }
        db = store.db;
    }
    m_problem.clear();
    m_query = std::make_unique<RecordsQuery>(db);
    m_stack->setCurrentIndex(0);
    const QString current = m_station->currentData().toString();
    {
        const QSignalBlocker block(m_station);
        m_station->clear();
        m_station->addItem(tr("any"), QString());
        for (const QString &name : m_query->stationNames())
            m_station->addItem(name, name);
        m_station->setCurrentIndex(std::max(0, m_station->findData(current)));
    }
    m_model->setQuery(m_query.get());
    m_page->setQuery(m_query.get());
    applyFilter();
    m_view->resizeColumnsToContents();
}

RunFilter RecordsWindow::filterFromFields(QString *problem) const
{
    // The command line's rules (records/RunFilterText.h), so the two pick the same runs.
    RunFilter filter;
    const RunFilterText text{m_since->text(),
                             m_until->text(),
                             m_serial->text(),
                             m_product->text(),
                             m_station->currentData().toString(),
                             m_verdict->currentData().toString(),
                             {},
                             m_operator->text(),
                             m_instrument->text()};
    QStringList wrong;
    for (const RunFilterProblem &p : readRunFilter(text, filter))
        wrong << (p.field == RunFilterProblem::Field::Product ? tr("product \u201C%1\u201D").arg(p.text.trimmed())
                                                              : tr("date \u201C%1\u201D").arg(p.text));
    if (problem)
        *problem = wrong.isEmpty() ? QString() : tr("Not understood: %1").arg(wrong.join(QStringLiteral(", ")));
    return filter;
}

void RecordsWindow::applyFilter()
{
    m_filterTimer->stop();
    if (!m_query)
        return;
    QString wrong;
    const RunFilter filter = filterFromFields(&wrong);
    for (QLineEdit *e : {m_since, m_until, m_product})
        e->setStyleSheet(QString());
    if (!wrong.isEmpty()) {
        statusBar()->showMessage(wrong);
        return;
    }
    m_model->setFilter(filter);
    const qint64 count = m_query->count(filter);
    m_count->setText(tr("%n run(s)", nullptr, int(std::min<qint64>(count, INT_MAX))));
    if (!m_model->lastError().isEmpty())
        statusBar()->showMessage(m_model->lastError());
    else
        statusBar()->clearMessage();
    m_plotsStale = true;
    updatePlots();
    if (m_model->rowCount() > 0)
        m_view->selectRow(0);
    else
        m_page->showRun(std::nullopt);
}

void RecordsWindow::refresh()
{
    if (!m_query) {
        openSource(m_source);
        return;
    }
    const QString current = m_page->run() ? m_page->run()->run.id : QString();
    m_digestReady = false;
    applyFilter();
    if (!current.isEmpty())
        openRun(current);
}

void RecordsWindow::openRun(const QString &id)
{
    if (!m_query)
        return;
    QueryError error;
    const auto detail = m_query->run(id, &error);
    if (!detail)
        statusBar()->showMessage(error.message);
    m_page->showRun(detail);
}

void RecordsWindow::updatePlots()
{
    if (!m_query || !m_plotsStale || m_tabs->currentWidget() != m_plots)
        return;
    if (m_plotsRunning) {
        m_plotsAgain = true;
        return;
    }
    m_plotsStale = false;
    auto work = std::make_shared<PlotsWork>();
    work->source = m_source;
    work->cacheFile = RunDigest::cacheFileFor(m_source);
    QString wrong;
    work->filter = filterFromFields(&wrong);
    work->digest = m_digest;
    work->ready = m_digestReady;
    work->generation = m_generation;
    m_plotsRunning = true;
    m_plotsWatcher->setFuture(QtConcurrent::run(updateDigest, work));
    showWork();
}

void RecordsWindow::plotsUpdated()
{
    m_plotsRunning = false;
    const auto future = m_plotsWatcher->future();
    const std::shared_ptr<PlotsWork> work =
        !future.isCanceled() && future.resultCount() > 0 ? future.result() : nullptr;
    if (work && work->generation == m_generation) {
        m_digestReady = work->ready;
        if (work->ready)
            m_digest = work->digest;
        else
            statusBar()->showMessage(work->reason);
        m_plots->setRuns(m_digestReady ? m_digest.get() : nullptr, std::move(work->chosen));
    } else {
        m_plotsStale = true; // brought up to date when next shown
    }
    showWork();
    if (std::exchange(m_plotsAgain, false)) {
        m_plotsStale = true;
        updatePlots();
    }
}

void RecordsWindow::exportRuns()
{
    if (!m_query || m_exportRunning)
        return;
    const QString file =
        QFileDialog::getSaveFileName(this, tr("Export the runs the filters pick"), QStringLiteral("runs.xml"),
                                     tr("JUnit XML (*.xml);;JSON (*.json);;CSV (*.csv)"));
    if (file.isEmpty())
        return;
    const ExportFormat format = file.endsWith(QLatin1String(".json"), Qt::CaseInsensitive)  ? ExportFormat::Json
                                : file.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive) ? ExportFormat::Csv
                                                                                            : ExportFormat::JUnit;
    exportTo(file, format);
    m_exportAsked = m_exportRunning;
}

void RecordsWindow::exportTo(const QString &file, ExportFormat format)
{
    if (!m_query || m_exportRunning) {
        emit exportFinished(false, m_query ? tr("An export is already running.") : tr("No records store is open."));
        return;
    }
    auto work = std::make_shared<ExportWork>();
    work->source = m_source;
    work->file = file;
    QString wrong;
    work->filter = filterFromFields(&wrong);
    work->format = format;
    work->generation = m_generation;
    m_exportRunning = true;
    m_exportAsked = false;
    m_exportAction->setEnabled(false);
    m_progress->setRange(0, 0);
    m_exportWatcher->setFuture(QtConcurrent::run(exportRunsTo, work));
    showWork();
    statusBar()->showMessage(tr("Exporting to %1\u2026").arg(file));
}

void RecordsWindow::exportDone()
{
    m_exportRunning = false;
    m_exportAction->setEnabled(true);
    const auto future = m_exportWatcher->future();
    const std::shared_ptr<ExportWork> work =
        !future.isCanceled() && future.resultCount() > 0 ? future.result() : nullptr;
    showWork();
    if (!work) {
        statusBar()->showMessage(tr("Export cancelled: no file written."), 5000);
        emit exportFinished(false, tr("cancelled"));
        return;
    }
    if (work->ok) {
        statusBar()->showMessage(tr("Exported to %1").arg(work->file), 5000);
    } else {
        const QString message = tr("The export could not be written.\n\n%1").arg(work->message);
        statusBar()->showMessage(message.simplified());
        if (m_exportAsked)
            QMessageBox::warning(this, windowTitle(), message);
    }
    emit exportFinished(work->ok, work->ok ? work->file : work->message);
}

bool RecordsWindow::isBusy() const
{
    return m_plotsRunning || m_exportRunning;
}

void RecordsWindow::cancelWork()
{
    m_plotsWatcher->cancel();
    m_exportWatcher->cancel();
}

void RecordsWindow::showWork()
{
    const bool busy = isBusy();
    if (!m_exportRunning)
        m_progress->setRange(0, 0); // a plots update has no steps to count
    m_progress->setVisible(busy);
    m_cancel->setVisible(busy);
}

void RecordsWindow::chooseStore()
{
    const QString file = QFileDialog::getOpenFileName(this, tr("Open a records store"), m_source,
                                                      tr("Records stores (*.sqlite *.db);;All files (*)"));
    if (!file.isEmpty())
        openSource(file);
}

void RecordsWindow::saveSettings() const
{
    QSettings s = settings();
    s.setValue(QStringLiteral("window/geometry"), saveGeometry());
    s.setValue(QStringLiteral("window/split"), m_split->saveState());
    s.setValue(QLatin1String(FilterKeys[0]), m_since->text());
    s.setValue(QLatin1String(FilterKeys[1]), m_until->text());
    s.setValue(QLatin1String(FilterKeys[2]), m_station->currentData().toString());
    s.setValue(QLatin1String(FilterKeys[3]), m_product->text());
    s.setValue(QLatin1String(FilterKeys[4]), m_serial->text());
    s.setValue(QLatin1String(FilterKeys[5]), m_verdict->currentData().toString());
    s.setValue(QLatin1String(FilterKeys[6]), m_operator->text());
    s.setValue(QLatin1String(FilterKeys[7]), m_instrument->text());
}

void RecordsWindow::closeEvent(QCloseEvent *event)
{
    saveSettings();
    cancelWork();
    QMainWindow::closeEvent(event);
}

int runRecordsWindow(const QString &source)
{
    RecordsWindow window(source);
    window.show();
    return QApplication::exec();
}

} // namespace quillon::records
