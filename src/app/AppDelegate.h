// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application delegate carries no behaviour: everything the application does is done by
// the main controller.
#include <QObject>
#include <QPointer>

#include <QMainWindow>

namespace quillora::app {

class AppDelegate : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    QMainWindow *window() const { return m_window; }
    void setWindow(QMainWindow *window) { m_window = window; } // not owned

private:
    QPointer<QMainWindow> m_window;
};

} // namespace quillora::app
