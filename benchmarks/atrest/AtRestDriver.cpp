// Puts a running quillon or quillon-sim into one state for tools/cpu-at-rest.sh, then
// does nothing at all, so that what is measured afterwards is the program at rest.
//
// Loaded into the real program with LD_PRELOAD; it starts with the event loop and
// works the windows as a technician would, through their object names:
//
//   QUILLON_ATREST_STEPS   steps, comma-separated:
//                            detected        wait until detection has ended
//                            close:NAME      close the top-level window NAME
//                            click:NAME      click the button NAME
//                            board:ID        pick product id ID (0x...) on the bench
//                            listed          wait until the monitor has listed a scan
//                            verdict         wait until the overall label shows PASS or FAIL
//                            pause:MS        let MS milliseconds pass
//   QUILLON_ATREST_READY   file written once every step is done: "ready" and what the
//                          windows show (or "failed: ..." when a step never completes)
//
// Until then it answers every prompt: message boxes with their default button (Cancel
// on a detection error), the meter prompts with the simulated bench's meter reading,
// the DAC dialogs with the bench's range and readings, the scope question with Yes.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>

namespace {

constexpr int TickMs = 50;
constexpr int StepTimeoutMs = 120'000;

template <typename T>
T *find(const QString &name)
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (auto *self = qobject_cast<T *>(top); self && top->objectName() == name)
            return self;
        if (T *child = top->findChild<T *>(name))
            return child;
    }
    return nullptr;
}

QString textOf(const QString &labelName)
{
    const auto *label = find<QLabel>(labelName);
    return label ? label->text() : QString();
}

// What the bench's meter shows for a source (0: the reference, 1 to 4: DAC 0 to 3).
QString meterReading(int source)
{
    auto *combo = find<QComboBox>(QStringLiteral("meterSourceCombo"));
    if (!combo)
        return {};
    combo->setCurrentIndex(source);
    return textOf(QStringLiteral("meterValueLabel"));
}

bool clickChild(QWidget *parent, const QString &name)
{
    auto *button = parent->findChild<QAbstractButton *>(name);
    if (!button || !button->isEnabled())
        return false;
    QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
    return true;
}

void answerMessageBox(QMessageBox *box)
{
    QAbstractButton *button = box->button(QMessageBox::Cancel);
    if (!button || !box->button(QMessageBox::Retry))
        button = box->defaultButton();
    if (!button)
        button = box->buttons().value(0);
    if (button)
        QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(box, &QDialog::reject, Qt::QueuedConnection);
}

void answerDialog(QDialog *dialog)
{
    if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("PromptEdit")))
        edit->setText(meterReading(0));
    for (int dac = 0; dac < 4; ++dac) {
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("DacEdit%1").arg(dac));
        if (edit && edit->isVisible())
            edit->setText(meterReading(dac + 1));
    }
    // The range the bench's board is jumpered for.
    const auto *range = find<QComboBox>(QStringLiteral("dacRangeCombo"));
    const QString item = QStringLiteral("DacRangeGroupItem%1").arg(range ? range->currentIndex() : 3);
    if (auto *radio = dialog->findChild<QRadioButton *>(item))
        radio->setChecked(true);
    if (!clickChild(dialog, QStringLiteral("OkButton")) && !clickChild(dialog, QStringLiteral("YesButton")))
        QMetaObject::invokeMethod(dialog, &QDialog::accept, Qt::QueuedConnection);
}

class Driver : public QObject {
public:
    Driver()
        : QObject(qApp),
          m_steps(qEnvironmentVariable("QUILLON_ATREST_STEPS").split(QLatin1Char(','), Qt::SkipEmptyParts)),
          m_readyFile(qEnvironmentVariable("QUILLON_ATREST_READY"))
    {
        m_timer.setInterval(TickMs);
        connect(&m_timer, &QTimer::timeout, this, &Driver::tick);
        m_timer.start();
        m_deadline = QDeadlineTimer(StepTimeoutMs);
    }

private:
    void tick()
    {
        answerPrompts();
        // One step a tick: a click has been handled before the next step looks.
        if (!m_steps.isEmpty() && stepDone(m_steps.first())) {
            m_steps.removeFirst();
            m_deadline = QDeadlineTimer(StepTimeoutMs);
            m_pause = QDeadlineTimer(QDeadlineTimer::Forever);
        }
        if (m_finished)
            return;
        if (m_steps.isEmpty())
            finish(QStringLiteral("ready"));
        else if (m_deadline.hasExpired())
            finish(QStringLiteral("failed: ") + m_steps.first());
    }

    void answerPrompts()
    {
        if (QWidget *modal = QApplication::activeModalWidget(); modal && modal != m_lastAnswered.data()) {
            m_lastAnswered = modal;
            // A dialog may be run again (the DAC readings, low then high).
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                connect(dialog, &QDialog::finished, this, &Driver::forgetAnswered, Qt::UniqueConnection);
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                answerMessageBox(box);
            else if (auto *dialog = qobject_cast<QDialog *>(modal))
                answerDialog(dialog);
        } else if (!modal) {
            m_lastAnswered = nullptr;
        }
        // The scope question is modeless.
        if (auto *question = find<QMessageBox>(QStringLiteral("PolledQuestionBox")); question && question->isVisible())
            if (QAbstractButton *yes = question->button(QMessageBox::Yes))
                QMetaObject::invokeMethod(yes, &QAbstractButton::click, Qt::QueuedConnection);
    }

    void forgetAnswered() { m_lastAnswered = nullptr; }

    bool stepDone(const QString &step)
    {
        const QString arg = step.section(QLatin1Char(':'), 1);
        if (step == QLatin1String("detected")) {
            const QString text = textOf(QStringLiteral("DetectLabel"));
            return !QApplication::activeModalWidget() && !text.isEmpty() && text != QLatin1String("detecting...");
        }
        if (step.startsWith(QLatin1String("close:"))) {
            QWidget *window = find<QWidget>(arg);
            return !window || window->close();
        }
        if (step.startsWith(QLatin1String("click:"))) {
            for (QWidget *top : QApplication::topLevelWidgets())
                if (clickChild(top, arg))
                    return true;
            return false;
        }
        if (step.startsWith(QLatin1String("board:"))) {
            auto *combo = find<QComboBox>(QStringLiteral("productIdCombo"));
            const int index = combo ? combo->findData(arg.toUInt(nullptr, 16)) : -1;
            if (index < 0)
                finish(QStringLiteral("failed: no board ") + arg + QStringLiteral(" on the bench"));
            else
                combo->setCurrentIndex(index);
            return index >= 0;
        }
        if (step == QLatin1String("listed")) {
            const auto *list = find<QListWidget>(QStringLiteral("CyclicList"));
            const auto *stop = find<QAbstractButton>(QStringLiteral("CyclicStopButton"));
            return list && stop && stop->isEnabled() && list->count() > 1;
        }
        if (step == QLatin1String("verdict")) {
            const QString text = textOf(QStringLiteral("MasterResultLabel"));
            return text == QLatin1String("PASS") || text == QLatin1String("FAIL");
        }
        if (step.startsWith(QLatin1String("pause:"))) {
            if (m_pause.isForever())
                m_pause = QDeadlineTimer(arg.toInt());
            return m_pause.hasExpired();
        }
        finish(QStringLiteral("failed: unknown step ") + step);
        return false;
    }

    void finish(const QString &outcome)
    {
        m_finished = true;
        m_timer.stop();
        m_steps.clear();
        const auto *list = find<QListWidget>(QStringLiteral("CyclicList"));
        QFile file(m_readyFile);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(QStringLiteral("%1; detection: %2; overall: %3; monitor lines: %4\n")
                           .arg(outcome, textOf(QStringLiteral("DetectLabel")),
                                textOf(QStringLiteral("MasterResultLabel")), QString::number(list ? list->count() : 0))
                           .toUtf8());
        }
    }

    QStringList m_steps;
    QString m_readyFile;
    QTimer m_timer;
    QDeadlineTimer m_deadline;
    QDeadlineTimer m_pause{QDeadlineTimer::Forever};
    QPointer<QWidget> m_lastAnswered;
    bool m_finished = false;
};

void startDriver()
{
    if (!qEnvironmentVariableIsSet("QUILLON_ATREST_STEPS"))
        return;
    // Started once the event loop runs; lives as long as the application.
    QTimer::singleShot(0, qApp, [] { new Driver; });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)
