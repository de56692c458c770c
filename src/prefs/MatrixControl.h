// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A column of radio rows, as a settings control: selectedRow() is -1 when no row is selected.
#include <QButtonGroup>
#include <QWidget>

class QRadioButton;
class QVBoxLayout;

namespace quillora::prefs {

class MatrixControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QStringList rowTitles READ rowTitles WRITE setRowTitles)
public:
    explicit MatrixControl(QWidget *parent = nullptr);

    // Replaces the rows by radio buttons with these titles, none selected.
    void setRowTitles(const QStringList &titles);
    QStringList rowTitles() const;
    int rowCount() const;
    int selectedRow() const;
    // Selects a row without emitting rowActivated; -1 or a row out of range clears.
    void selectCellAtRow(int row);

Q_SIGNALS:
    // Only a user's click.
    void rowActivated(int row);

private:
    QButtonGroup m_group;
    QVBoxLayout *m_layout;
};

} // namespace quillora::prefs
