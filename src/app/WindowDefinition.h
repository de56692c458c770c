// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Loads the window definition (main window with its menus, the preferences panel, the About
// window), creates the application delegate and the main controller, connects the outlets
// and the actions, and then lets the controller start up.
#include <QObject>

#include <memory>

class QApplication;
class QCoreApplication;
class QDialog;
class QIcon;
class QMainWindow;

namespace Ui {
class MainWindow;
class PreferencesPanel;
class AboutWindow;
} // namespace Ui

namespace quillora::app {

class AppDelegate;
class FullScreen;
class InkTools;
class PictureZoom;
class PictureControlsPanel;
class VemoViewController;

class WindowDefinition : public QObject {
    Q_OBJECT
public:
    // Builds everything and connects it; does not run the controller's start-up.
    explicit WindowDefinition(QApplication *app);
    ~WindowDefinition() override;

    // The framework's part after loading: the controller's awakeFromNib, then the window.
    void awake();

    QMainWindow *mainWindow() const { return m_mainWindow.get(); }
    QDialog *preferencesPanel() const { return m_preferences.get(); }
    QDialog *aboutWindow() const { return m_about.get(); }
    PictureControlsPanel *pictureControls() const { return m_pictureControls.get(); }
    VemoViewController *controller() const { return m_controller.get(); }
    AppDelegate *delegate() const { return m_delegate.get(); }
    Ui::MainWindow &mainUi() const { return *m_mainUi; }
    // The view's own state, beside the controller's: zoom and pan, full screen.
    PictureZoom *pictureZoom() const { return m_zoom; }
    FullScreen *fullScreen() const { return m_fullScreen; }
    // The ink over the picture, its tools and its keys.
    InkTools *inkTools() const { return m_ink; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectOutlets(QApplication *app);
    void connectActions();
    void connectView();
    void connectInk();

    std::unique_ptr<QMainWindow> m_mainWindow;
    std::unique_ptr<QDialog> m_preferences;
    std::unique_ptr<QDialog> m_about;
    std::unique_ptr<PictureControlsPanel> m_pictureControls;
    std::unique_ptr<Ui::MainWindow> m_mainUi;
    std::unique_ptr<Ui::PreferencesPanel> m_preferencesUi;
    std::unique_ptr<Ui::AboutWindow> m_aboutUi;
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<VemoViewController> m_controller;
    PictureZoom *m_zoom = nullptr;      // owned by the picture
    FullScreen *m_fullScreen = nullptr; // owned by the main window
    InkTools *m_ink = nullptr;          // owned by the picture
};

// The application's icon, from the resources built into the program.
QIcon applicationIcon();

// The window's texts in the user's language when there is a translation for it (German);
// in any other language they stay as written. Qt's own texts (standard buttons) likewise.
void installTranslators(QCoreApplication *app);

// The process entry's hand-over: builds the window definition, runs the event loop and
// gives back its result as the exit status.
int applicationMain(int argc, char **argv);

} // namespace quillora::app
