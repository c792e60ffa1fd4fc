#include "BenchWindow.h"

#include "BenchPlacement.h"
#include "FaultPanel.h"
#include "ScopeView.h"
#include "TrafficView.h"

#include "device/TracingDevice.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScreen>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace quillon::sim {

namespace {

// Byte lists typed as "01 00 00 00"; nothing while the mask is not filled.
template <std::size_t N>
std::optional<std::array<quint8, N>> parseBytes(const QLineEdit *edit)
{
    if (!edit->hasAcceptableInput())
        return std::nullopt;
    const QStringList parts = edit->text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != qsizetype(N))
        return std::nullopt;
    std::array<quint8, N> bytes{};
    for (std::size_t i = 0; i < N; ++i) {
        bool ok = false;
        bytes[i] = quint8(parts[qsizetype(i)].toUInt(&ok, 16));
        if (!ok)
            return std::nullopt;
    }
    return bytes;
}

template <std::size_t N>
QString bytesText(const std::array<quint8, N> &bytes)
{
    QStringList parts;
    for (quint8 b : bytes)
        parts.append(QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper());
    return parts.join(QLatin1Char(' '));
}

QLineEdit *byteEdit(const QString &objectName, int bytes)
{
    QStringList groups;
    for (int i = 0; i < bytes; ++i)
        groups.append(QStringLiteral("HH"));
    auto *edit = new QLineEdit;
    edit->setObjectName(objectName);
    edit->setInputMask(groups.join(QLatin1Char(' ')) + QStringLiteral(";_"));
    edit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    edit->setMaximumWidth(30 * bytes + 10);
    return edit;
}

QString hexId(quint32 id)
{
    return QStringLiteral("0x") + QString::number(id, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

// The jumpered DAC output ranges, in jumper order.
const char *const DacRanges[] = {"0 to 5 V", "\u00B15 V", "0 to 10 V", "\u00B110 V"};

} // namespace

QList<quint32> BenchWindow::offeredProductIds()
{
    QList<quint32> ids;
    for (quint32 base : {0x8140u, 0x8040u})
        for (quint32 low = 0; low < 32; ++low)
            ids.append(base | low);
    // Boards of other kinds, to try the refusal.
    ids.append({0x8060, 0x8240, 0x0001});
    return ids;
}

QString BenchWindow::describeProductId(quint32 id)
{
    const QString dash = QStringLiteral(" \u2014 ");
    if ((id & 0xFEE0) != 0x8040)
        return hexId(id) + dash + tr("another kind of board (refused)");
    const int variant = int(id & 0x1F);
    QString what;
    if (variant <= 4 || variant == 31)
        what = tr("16 channels");
    else if (variant <= 9)
        what = tr("64 channels (64-channel multiplexer)");
    else
        what = tr("%1 channels (32-channel blocks)").arg(32 * (variant / 5 - 1));
    what += (id & 0x100) ? tr(", DACs") : tr(", no DACs");
    return hexId(id) + dash + what;
}

BenchWindow::BenchWindow(SimBoard &board, TracingDevice &trace, BenchHooks hooks, QWidget *parent)
    : QWidget(parent, Qt::Window), m_board(board), m_trace(trace), m_hooks(std::move(hooks)), m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("BenchWindow"));
    setWindowTitle(tr("Simulated bench"));
    // Closing the station ends the program even while the bench is open.
    setAttribute(Qt::WA_QuitOnClose, false);

    // The log is what the traffic list shows: keep it, but only as much as is shown.
    m_trace.setKeeping(true);
    m_trace.setLimit(TrafficView::MaxRows);

    auto *banner = new QLabel(tr("Simulated bench \u2014 no hardware attached. "
                                 "Everything here is quillon-sim's model of a board, jig and instruments."));
    banner->setObjectName(QStringLiteral("benchBanner"));
    banner->setWordWrap(true);
    banner->setMargin(6);
    banner->setStyleSheet(QStringLiteral("background: #f5c542; color: #202020; font-weight: bold;"));

    m_scope = new ScopeView([this](int dac) { return m_board.scopeTrace(dac); }, m_hooks.clock,
                            [this] { return m_board.scopeLastChange(); });
    auto *scopeBox = new QGroupBox(tr("Scope on the DAC outputs"));
    (new QVBoxLayout(scopeBox))->addWidget(m_scope);

    // What the technician touches during a run stays in view; the rest is in tabs.
    // Side by side, or one above the other on a narrow bench (resizeEvent); so is
    // the meter's source and reading.
    m_hands = new QBoxLayout(QBoxLayout::LeftToRight);
    m_hands->addWidget(buildJig(), 1);
    m_hands->addWidget(buildMeter(), 1);

    auto *boardPage = new QWidget;
    auto *boardLayout = new QVBoxLayout(boardPage);
    boardLayout->addWidget(buildBoard());
    boardLayout->addWidget(buildTiming());
    boardLayout->addStretch();
    auto *boardScroll = new QScrollArea;
    boardScroll->setWidgetResizable(true);
    boardScroll->setFrameShape(QFrame::NoFrame);
    boardScroll->setWidget(boardPage);

    m_faults = new FaultPanel(m_board.faults);
    m_traffic = new TrafficView(m_trace);

    auto *tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("benchTabs"));
    tabs->addTab(boardScroll, tr("Board"));
    tabs->addTab(m_faults, tr("Faults"));
    tabs->addTab(m_traffic, tr("Library traffic"));

    auto *lower = new QWidget;
    auto *lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addLayout(m_hands);
    lowerLayout->addWidget(tabs, 1);

    auto *split = new QSplitter(Qt::Vertical);
    split->setChildrenCollapsible(false);
    split->addWidget(scopeBox);
    split->addWidget(lower);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);

    // On a small screen the bench may open narrower or shorter than its controls
    // need: everything under the banner then scrolls.
    auto *content = new QScrollArea;
    content->setObjectName(QStringLiteral("benchScroll"));
    content->setWidgetResizable(true);
    content->setFrameShape(QFrame::NoFrame);
    content->setWidget(split);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(banner);
    layout->addWidget(content, 1);

    updateScopeRange();
    m_timer->setInterval(RefreshMs);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (isVisible())
            refresh();
    });
    m_timer->start();
    refresh();
    resize(560, 940);
}

QWidget *BenchWindow::buildBoard()
{
    auto *box = new QGroupBox(tr("Board on the bench"));
    auto *form = new QFormLayout(box);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    const BoardIdentity &id = m_board.identity;

    m_productId = new QComboBox;
    m_productId->setObjectName(QStringLiteral("productIdCombo"));
    QList<quint32> ids = offeredProductIds();
    if (!ids.contains(id.productId))
        ids.prepend(id.productId);
    for (quint32 pid : ids)
        m_productId->addItem(describeProductId(pid), pid);
    m_productId->setCurrentIndex(m_productId->findData(id.productId));
    m_productId->setMaxVisibleItems(20);
    m_productId->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_productId->setMinimumContentsLength(16);
    m_productId->setToolTip(tr("Changing the board is plugging another one in: press Detect in the station"));
    form->addRow(tr("Product"), m_productId);

    m_firmware = byteEdit(QStringLiteral("firmwareReplyEdit"), 4);
    m_firmware->setText(bytesText(id.firmwareReply));
    m_firmware->setToolTip(tr("Reply to read request 0xB3; 01 00 00 00 or 01 01 00 00 is up to date"));
    form->addRow(tr("Firmware reply"), m_firmware);

    m_revision = byteEdit(QStringLiteral("revisionReplyEdit"), 2);
    m_revision->setText(bytesText(id.revisionReply));
    m_revision->setToolTip(
        tr("Reply to read request 0xA3: 00 xx is an old driver, 01 00 rev D or earlier, 01 01 newer"));
    form->addRow(tr("Revision reply"), m_revision);

    m_newerThanRevD = new QCheckBox(tr("Board newer than revision D"));
    m_newerThanRevD->setObjectName(QStringLiteral("newerThanRevDCheck"));
    m_newerThanRevD->setChecked(id.newerThanRevD);
    m_newerThanRevD->setToolTip(tr("How the board itself is built (the jig's DIO wiring follows it)"));
    form->addRow(QString(), m_newerThanRevD);

    m_boards = new QSpinBox;
    m_boards->setObjectName(QStringLiteral("boardsPresentSpin"));
    m_boards->setRange(0, 4);
    m_boards->setValue(id.boardsPresent);
    m_boards->setToolTip(tr("0: nothing plugged in; 2 or more: the library cannot pick the only board"));
    form->addRow(tr("Boards plugged in"), m_boards);

    m_queryStatus = new QLineEdit;
    m_queryStatus->setObjectName(QStringLiteral("queryStatusEdit"));
    m_queryStatus->setPlaceholderText(tr("as the board says"));
    m_queryStatus->setValidator(new IntegerValidator(0, 4294967295.0, false, m_queryStatus));
    if (id.forcedQueryStatus)
        m_queryStatus->setText(QString::number(*id.forcedQueryStatus));
    m_queryStatus->setToolTip(tr("Status QueryDeviceInfo returns for the only board; empty for the real answer"));
    form->addRow(tr("Query status"), m_queryStatus);

    m_calSupported = new QCheckBox(tr("A/D calibration supported"));
    m_calSupported->setObjectName(QStringLiteral("calSupportedCheck"));
    m_calSupported->setChecked(id.calSupported);
    form->addRow(QString(), m_calSupported);

    m_busVerdict = byteEdit(QStringLiteral("busVerdictEdit"), 1);
    m_busVerdict->setText(bytesText(std::array<quint8, 1>{id.busTestVerdict}));
    m_busVerdict->setToolTip(tr("Firmware's answer to the address/data line test (read request 0x91); 00 is good"));
    form->addRow(tr("Bus-test verdict"), m_busVerdict);

    m_dacRange = new QComboBox;
    m_dacRange->setObjectName(QStringLiteral("dacRangeCombo"));
    for (const char *range : DacRanges)
        m_dacRange->addItem(QString::fromUtf8(range));
    m_dacRange->setCurrentIndex(std::clamp(id.dacJumperRange, 0, 3));
    m_dacRange->setToolTip(tr("The output range the DACs are jumpered for"));
    form->addRow(tr("DAC range jumper"), m_dacRange);

    auto *replug = new QPushButton(tr("Plug in again"));
    replug->setObjectName(QStringLiteral("plugInButton"));
    replug->setToolTip(tr("Power-cycles the board: DACs to mid-scale, clock stopped, "
                          "call count from zero (ends an \"Unplugged\" fault's effect)"));
    connect(replug, &QPushButton::clicked, this, &BenchWindow::plugIn);
    form->addRow(QString(), replug);

    connect(m_productId, &QComboBox::currentIndexChanged, this, [this] {
        applyIdentity();
        plugIn();
    });
    for (QLineEdit *edit : {m_firmware, m_revision, m_busVerdict, m_queryStatus})
        connect(edit, &QLineEdit::textChanged, this, &BenchWindow::applyIdentity);
    for (QCheckBox *check : {m_newerThanRevD, m_calSupported})
        connect(check, &QCheckBox::toggled, this, &BenchWindow::applyIdentity);
    connect(m_boards, &QSpinBox::valueChanged, this, &BenchWindow::applyIdentity);
    connect(m_dacRange, &QComboBox::currentIndexChanged, this, [this] {
        applyIdentity();
        updateScopeRange();
    });
    return box;
}

QWidget *BenchWindow::buildJig()
{
    auto *box = new QGroupBox(tr("Jig"));
    auto *layout = new QVBoxLayout(box);

    m_jigConnected = new QCheckBox(tr("Connected to the board"));
    m_jigConnected->setObjectName(QStringLiteral("jigConnectedCheck"));
    m_sourceOn = new QCheckBox(tr("10 V source on"));
    m_sourceOn->setObjectName(QStringLiteral("sourceOnCheck"));
    m_polarityPlus = new QRadioButton(tr("+"));
    m_polarityPlus->setObjectName(QStringLiteral("polarityPlusRadio"));
    m_polarityMinus = new QRadioButton(tr("\u2212"));
    m_polarityMinus->setObjectName(QStringLiteral("polarityMinusRadio"));
    auto *polarity = new QButtonGroup(box);
    polarity->addButton(m_polarityPlus);
    polarity->addButton(m_polarityMinus);

    auto *polarityRow = new QHBoxLayout;
    polarityRow->addWidget(new QLabel(tr("Polarity")));
    polarityRow->addWidget(m_polarityPlus);
    polarityRow->addWidget(m_polarityMinus);
    polarityRow->addStretch();

    m_follow = new QCheckBox(tr("Follow the prompts"));
    m_follow->setObjectName(QStringLiteral("followPromptsCheck"));
    m_follow->setChecked(m_hooks.followPrompts);
    m_follow->setEnabled(bool(m_hooks.setFollowPrompts));
    m_follow->setToolTip(tr("When you press OK on a jig prompt, the jig does what it asked "
                            "(untick to set the jig by hand and provoke mistakes)"));

    layout->addWidget(m_jigConnected);
    layout->addWidget(m_sourceOn);
    layout->addLayout(polarityRow);
    layout->addWidget(m_follow);

    syncJig();
    connect(m_jigConnected, &QCheckBox::toggled, this, [this](bool on) { m_board.jig.connected = on; });
    connect(m_sourceOn, &QCheckBox::toggled, this, [this](bool on) { m_board.jig.sourceOn = on; });
    connect(m_polarityPlus, &QRadioButton::toggled, this, [this](bool plus) { m_board.jig.polarity = plus ? +1 : -1; });
    connect(m_follow, &QCheckBox::toggled, this, [this](bool on) {
        if (m_hooks.setFollowPrompts)
            m_hooks.setFollowPrompts(on);
    });
    if (m_hooks.setFollowPrompts)
        m_hooks.setFollowPrompts(m_follow->isChecked());
    return box;
}

QWidget *BenchWindow::buildMeter()
{
    auto *box = new QGroupBox(tr("Meter"));
    m_meter = new QBoxLayout(QBoxLayout::LeftToRight, box);
    m_meter->setAlignment(Qt::AlignVCenter);
    m_meterSource = new QComboBox;
    m_meterSource->setObjectName(QStringLiteral("meterSourceCombo"));
    m_meterSource->addItem(tr("Reference at R11"));
    for (int dac = 0; dac < 4; ++dac)
        m_meterSource->addItem(tr("DAC %1 output").arg(dac));

    m_meterValue = new QLabel;
    m_meterValue->setObjectName(QStringLiteral("meterValueLabel"));
    m_meterValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_meterValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    digits.setPointSizeF(digits.pointSizeF() * 1.6);
    digits.setBold(true);
    m_meterValue->setFont(digits);
    m_meterValue->setMinimumWidth(QFontMetrics(digits).horizontalAdvance(QStringLiteral("-10.0000")) + 12);
    m_meterValue->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_meterValue->setStyleSheet(QStringLiteral("background: #14201a; color: #7dff9a; padding: 2px 6px;"));
    m_meterValue->setToolTip(tr("Type this into the station's reading fields (select it to copy)"));

    auto *reading = new QHBoxLayout;
    reading->addStretch();
    reading->addWidget(m_meterValue);
    reading->addWidget(new QLabel(tr("V")));
    m_meter->addWidget(m_meterSource, 1);
    m_meter->addLayout(reading);
    connect(m_meterSource, &QComboBox::currentIndexChanged, this, &BenchWindow::readMeter);
    return box;
}

QWidget *BenchWindow::buildTiming()
{
    auto *box = new QGroupBox(tr("Timing"));
    auto *form = new QFormLayout(box);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    auto latency = [](const QString &name, int value) {
        auto *spin = new QSpinBox;
        spin->setObjectName(name);
        spin->setRange(0, 1'000'000);
        spin->setSingleStep(500);
        spin->setSuffix(QStringLiteral(" \u00B5s"));
        spin->setValue(value);
        return spin;
    };
    auto *request = latency(QStringLiteral("requestLatencySpin"), m_board.requestLatencyUs);
    request->setToolTip(tr("Time every vendor request takes; sets the ramp's rate on the scope"));
    auto *scan = latency(QStringLiteral("scanLatencySpin"), m_board.scanLatencyUs);
    scan->setToolTip(tr("Time every single scan takes"));
    connect(request, &QSpinBox::valueChanged, this, [this](int us) { m_board.requestLatencyUs = us; });
    connect(scan, &QSpinBox::valueChanged, this, [this](int us) { m_board.scanLatencyUs = us; });
    form->addRow(tr("Per request"), request);
    form->addRow(tr("Per scan"), scan);
    return box;
}

void BenchWindow::applyIdentity()
{
    BoardIdentity &id = m_board.identity;
    id.productId = m_productId->currentData().toUInt();
    // Half-typed replies keep the last complete one.
    if (const auto reply = parseBytes<4>(m_firmware))
        id.firmwareReply = *reply;
    if (const auto reply = parseBytes<2>(m_revision))
        id.revisionReply = *reply;
    if (const auto verdict = parseBytes<1>(m_busVerdict))
        id.busTestVerdict = (*verdict)[0];
    const auto *validator = static_cast<const IntegerValidator *>(m_queryStatus->validator());
    if (m_queryStatus->text().trimmed().isEmpty())
        id.forcedQueryStatus.reset();
    else if (const auto status = validator->value(m_queryStatus->text()))
        id.forcedQueryStatus = quint32(*status);
    id.newerThanRevD = m_newerThanRevD->isChecked();
    id.boardsPresent = m_boards->value();
    id.calSupported = m_calSupported->isChecked();
    id.dacJumperRange = m_dacRange->currentIndex();
}

void BenchWindow::plugIn()
{
    m_board.reset();
}

void BenchWindow::syncJig()
{
    const JigState &jig = m_board.jig;
    const QSignalBlocker a(m_jigConnected), b(m_sourceOn), c(m_polarityPlus), d(m_polarityMinus);
    m_jigConnected->setChecked(jig.connected);
    m_sourceOn->setChecked(jig.sourceOn);
    (jig.polarity < 0 ? m_polarityMinus : m_polarityPlus)->setChecked(true);
}

void BenchWindow::readMeter()
{
    const int source = m_meterSource->currentIndex();
    const double volts = source <= 0 ? m_board.meterReference() : m_board.meterDac(source - 1);
    // The locale's decimal separator: the reading is typed into the station as shown.
    const QString text = QLocale().toString(volts, 'f', 4);
    if (m_meterValue->text() != text)
        m_meterValue->setText(text);
}

void BenchWindow::updateScopeRange()
{
    const int range = std::clamp(m_board.identity.dacJumperRange, 0, 3);
    const double span = range >= 2 ? 10.0 : 5.0;
    const bool bipolar = range == 1 || range == 3;
    const double margin = span * 0.05;
    m_scope->setVoltRange((bipolar ? -span : 0.0) - margin, span + margin);
}

namespace {

// Frame rectangles in screen coordinates need the window's frame: a window not yet
// shown has none of its own, so it borrows the margins of one that is.
QMargins frameMargins(const QWidget &shown)
{
    const QRect frame = shown.frameGeometry();
    const QRect inside = shown.geometry();
    return {inside.left() - frame.left(), inside.top() - frame.top(), frame.right() - inside.right(),
            frame.bottom() - inside.bottom()};
}

QSize grown(const QSize &size, const QMargins &m)
{
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

} // namespace

void BenchWindow::placeBeside(const QWidget &other)
{
    const QScreen *screen = other.screen();
    if (!screen)
        return;
    const QMargins margins = frameMargins(other);
    BenchPlacement in;
    in.screen = screen->availableGeometry();
    in.station = other.frameGeometry();
    in.wanted = grown(size(), margins);
    in.least = grown(QSize(LeastWidth, 0), margins).width();
    applyFrame(layOutBench(in).bench, margins);
}

void BenchWindow::placeWithStation(QWidget &station, QWidget *notes)
{
    const QScreen *screen = station.screen();
    if (!screen)
        return;
    const QMargins margins = frameMargins(station);
    BenchPlacement in;
    in.screen = screen->availableGeometry();
    in.station = station.frameGeometry();
    // pos() of a window is where its frame starts, shown or not.
    if (notes)
        in.notes = QRect(notes->pos(), grown(notes->size(), margins));
    in.wanted = grown(size(), margins);
    in.least = grown(QSize(LeastWidth, 0), margins).width();
    in.promptWidth = grown(QSize(PromptWidth, 0), margins).width();
    in.stationMovable = true;
    const BenchLayout layout = layOutBench(in);
    if (layout.station.topLeft() != in.station.topLeft())
        station.move(layout.station.topLeft());
    applyFrame(layout.bench, margins);
    // Where the bench had to go over the notes window, it stays on top of it when
    // a detection shows the notes.
    if (notes && layout.bench.intersects(in.notes)) {
        m_notes = notes;
        notes->installEventFilter(this);
    }
}

bool BenchWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_notes && event->type() == QEvent::Show)
        QTimer::singleShot(0, this, [this] {
            if (isVisible())
                raise();
        });
    return QWidget::eventFilter(watched, event);
}

void BenchWindow::applyFrame(const QRect &frame, const QMargins &margins)
{
    resize(frame.size().shrunkBy(margins));
    move(frame.topLeft());
}

void BenchWindow::resizeEvent(QResizeEvent *event)
{
    m_hands->setDirection(width() < HandsStackBelow ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
    m_meter->setDirection(width() < MeterStackBelow ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
    QWidget::resizeEvent(event);
}

bool BenchWindow::event(QEvent *event)
{
    if (event->type() == QEvent::WindowBlocked) {
        QWindow *prompt = QGuiApplication::modalWindow();
        QWindow *own = windowHandle();
        if (prompt && own && prompt != own && prompt->isTopLevel())
            own->setTransientParent(prompt);
    }
    return QWidget::event(event);
}

void BenchWindow::refresh()
{
    // Back beside the station once no prompt is open.
    QWindow *own = windowHandle();
    if (own && parentWidget() && !QGuiApplication::modalWindow()) {
        QWindow *station = parentWidget()->window()->windowHandle();
        if (own->transientParent() != station)
            own->setTransientParent(station);
    }
    syncJig();
    readMeter();
    updateScopeRange();
    m_scope->sync();
    m_traffic->refresh();
}

} // namespace quillon::sim
