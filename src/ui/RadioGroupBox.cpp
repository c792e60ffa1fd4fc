#include "ui/RadioGroupBox.h"

#include <QButtonGroup>
#include <QEvent>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>

#include <algorithm>

namespace quillon {

RadioGroupBox::RadioGroupBox(const QString &name, const QString &caption, const QStringList &items, int columns,
                             const QRect &geometry, QWidget *parent)
    : QGroupBox(caption, parent), m_group(new QButtonGroup(this)), m_columns(std::max(columns, 1))
{
    setObjectName(name);
    setGeometry(geometry);
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(items.at(i), this);
        button->setObjectName(name + QStringLiteral("Item%1").arg(i));
        m_group->addButton(button, i);
        m_buttons.append(button);
    }
    connect(m_group, &QButtonGroup::idClicked, this, &RadioGroupBox::itemClicked);
    arrangeItems();
}

QRadioButton *RadioGroupBox::item(int index) const
{
    return index >= 0 && index < count() ? m_buttons.at(index) : nullptr;
}

int RadioGroupBox::itemIndex() const
{
    return m_group->checkedId();
}

void RadioGroupBox::setItemIndex(int index)
{
    if (QRadioButton *button = item(index)) {
        button->setChecked(true);
    } else if (QAbstractButton *checked = m_group->checkedButton()) {
        m_group->setExclusive(false);
        checked->setChecked(false);
        m_group->setExclusive(true);
    }
}

void RadioGroupBox::resizeEvent(QResizeEvent *event)
{
    QGroupBox::resizeEvent(event);
    arrangeItems();
}

void RadioGroupBox::changeEvent(QEvent *event)
{
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        arrangeItems();
}

void RadioGroupBox::arrangeItems()
{
    if (m_buttons.isEmpty())
        return;
    // Columns of equal width filled top to bottom; the rows share the space under the
    // caption, which the style decides (above the frame or on it).
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    const QRect contents = style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents, this);
    const int perColumn = (count() + m_columns - 1) / m_columns;
    const int itemWidth = std::max((width() - 10) / m_columns, 0);
    const int rowsArea = std::max(contents.bottom() - contents.top() - 1, 0);
    const int itemHeight = rowsArea / perColumn;
    const int top = contents.top() + (rowsArea % perColumn) / 2;
    for (int i = 0; i < count(); ++i)
        m_buttons.at(i)->setGeometry((i / perColumn) * itemWidth + 8, (i % perColumn) * itemHeight + top, itemWidth,
                                     itemHeight);
}

} // namespace quillon
