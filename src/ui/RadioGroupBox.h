#pragma once

#include <QGroupBox>
#include <QList>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

namespace quillon {

// A captioned group of radio items laid out in columns, filled column by column, each
// item as wide as a column: the radio group the DAC dialogs are drawn with. Items are
// numbered from 0; itemClicked fires on every pick (mouse, arrow keys, mnemonic), also
// when the picked item was already selected, but not for setItemIndex().
class RadioGroupBox : public QGroupBox {
    Q_OBJECT
public:
    // The object name also names the items: name + "Item0", "Item1", ... The items are
    // placed for geometry at once (a hidden widget gets its resize event only when shown).
    RadioGroupBox(const QString &name, const QString &caption, const QStringList &items, int columns,
                  const QRect &geometry, QWidget *parent = nullptr);

    int count() const { return int(m_buttons.size()); }
    QRadioButton *item(int index) const;
    // The selected item, or -1 when none is.
    int itemIndex() const;
    void setItemIndex(int index);

signals:
    void itemClicked(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void arrangeItems();

    QButtonGroup *m_group = nullptr;
    QList<QRadioButton *> m_buttons;
    int m_columns = 1;
};

} // namespace quillon
