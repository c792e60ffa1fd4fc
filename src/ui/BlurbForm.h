#pragma once

#include <QSize>
#include <QWidget>

#include <memory>
#include <optional>

class QPlainTextEdit;

namespace Ui {
class BlurbForm;
}

namespace quillon {

// The production notes window: created hidden, placed against the right edge of the
// screen and centred vertically; shown by each successful detection. The technician
// may edit the text; nothing is kept.
class BlurbForm final : public QWidget {
    Q_OBJECT

public:
    // screenSize: the screen to place the window on; the primary screen when unset.
    explicit BlurbForm(QWidget *parent = nullptr, std::optional<QSize> screenSize = std::nullopt);
    ~BlurbForm() override;

    QPlainTextEdit *mainMemo() const;

private:
    void FormCreate(std::optional<QSize> screenSize);

    std::unique_ptr<Ui::BlurbForm> m_ui;
};

} // namespace quillon
