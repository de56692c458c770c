// SPDX-License-Identifier: GPL-3.0-or-later
#include "PathControl.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace quillora::prefs {

PathControl::PathControl(QWidget *parent)
    : QWidget(parent)
    , m_label(new QLabel(this))
    , m_button(new QPushButton(tr("Choose…"), this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_label->setMinimumWidth(200);
    layout->addWidget(m_label, 1);
    layout->addWidget(m_button);
    m_button->setAutoDefault(false);
    connect(m_button, &QPushButton::clicked, this, &PathControl::choose);
}

QString PathControl::folderOf(const QUrl &url)
{
    if (url.isEmpty())
        return {};
    if (url.isLocalFile())
        return url.toLocalFile();
    return url.path();
}

void PathControl::setURL(const QUrl &url)
{
    m_url = url;
    m_label->setText(folderOf(url));
}

void PathControl::choose()
{
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Choose a folder"), folderOf(m_url));
    if (folder.isEmpty())
        return;
    const QUrl chosen = QUrl::fromLocalFile(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
    setURL(chosen);
    Q_EMIT urlChosen(chosen);
}

} // namespace quillora::prefs
