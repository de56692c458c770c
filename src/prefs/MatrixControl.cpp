// SPDX-License-Identifier: GPL-3.0-or-later
#include "MatrixControl.h"

#include <QRadioButton>
#include <QVBoxLayout>

namespace quillora::prefs {

MatrixControl::MatrixControl(QWidget *parent)
    : QWidget(parent)
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_group.setExclusive(true);
    connect(&m_group, &QButtonGroup::idClicked, this, &MatrixControl::rowActivated);
}

void MatrixControl::setRowTitles(const QStringList &titles)
{
    const auto old = m_group.buttons();
    for (QAbstractButton *button : old) {
        m_group.removeButton(button);
        delete button;
    }
    for (int i = 0; i < titles.size(); ++i) {
        auto *button = new QRadioButton(titles.at(i), this);
        m_layout->addWidget(button);
        m_group.addButton(button, i);
    }
}

QStringList MatrixControl::rowTitles() const
{
    QStringList titles;
    for (int i = 0; i < rowCount(); ++i)
        titles << m_group.button(i)->text();
    return titles;
}

int MatrixControl::rowCount() const
{
    return int(m_group.buttons().size());
}

int MatrixControl::selectedRow() const
{
    return m_group.checkedId(); // -1 when none
}

void MatrixControl::selectCellAtRow(int row)
{
    if (QAbstractButton *button = m_group.button(row)) {
        button->setChecked(true);
        return;
    }
    // An exclusive group will not let its last checked button go; drop exclusivity for the
    // moment it takes to clear it.
    if (QAbstractButton *checked = m_group.checkedButton()) {
        m_group.setExclusive(false);
        checked->setChecked(false);
        m_group.setExclusive(true);
    }
}

} // namespace quillora::prefs
