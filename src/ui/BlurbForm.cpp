#include "BlurbForm.h"

#include "NotesText.h"
#include "ui_BlurbForm.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>

namespace quillon {

BlurbForm::BlurbForm(QWidget *parent, std::optional<QSize> screenSize)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::BlurbForm>())
{
    m_ui->setupUi(this);
    QFont designFont(QStringLiteral("MS Sans Serif"));
    designFont.setPixelSize(11);
    setFont(designFont);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    FormCreate(screenSize);
}

BlurbForm::~BlurbForm() = default;

QPlainTextEdit *BlurbForm::mainMemo() const
{
    return m_ui->MainMemo;
}

void BlurbForm::FormCreate(std::optional<QSize> screenSize)
{
    // The text document keeps paragraphs, not CR LF pairs.
    QString text = notesText().toString();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_ui->MainMemo->setPlainText(text);
    // Tab stops every eight average characters, as the notes were laid out for.
    m_ui->MainMemo->setTabStopDistance(8 * m_ui->MainMemo->fontMetrics().averageCharWidth());

    QSize screen(1024, 768);
    if (screenSize)
        screen = *screenSize;
    else if (const QScreen *primary = QGuiApplication::primaryScreen())
        screen = primary->geometry().size();
    // Integer division truncates toward zero: a window taller than the screen gets a
    // negative top of half the excess.
    move(screen.width() - width(), (screen.height() - height()) / 2);
}

} // namespace quillon
