// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A folder setting: shows the folder, offers "Choose…" and holds the location as a QUrl. The
// URL it is given is the URL it gives back, unchanged.
#include <QUrl>
#include <QWidget>

class QLabel;
class QPushButton;

namespace quillora::prefs {

class PathControl : public QWidget {
    Q_OBJECT
public:
    explicit PathControl(QWidget *parent = nullptr);

    void setURL(const QUrl &url);
    QUrl URL() const { return m_url; }

    // The folder the URL names: the local path of a file URL, else the URL's path.
    static QString folderOf(const QUrl &url);

Q_SIGNALS:
    // Only a user's choice.
    void urlChosen(const QUrl &url);

private:
    void choose();

    QUrl m_url;
    QLabel *m_label;
    QPushButton *m_button;
};

} // namespace quillora::prefs
