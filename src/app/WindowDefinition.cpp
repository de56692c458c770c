#include "WindowDefinition.h"

#include "FrameMemory.h"

#include "AppDelegate.h"
#include "VemoViewController.h"
#include "ui_AboutWindow.h"
#include "ui_MainWindow.h"
#include "ui_PreferencesPanel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QMainWindow>

namespace quillora::app {

WindowDefinition::WindowDefinition(QApplication *app)
    : m_mainWindow(std::make_unique<QMainWindow>())
    , m_preferences(std::make_unique<QDialog>())
    , m_about(std::make_unique<QDialog>())
    , m_mainUi(std::make_unique<Ui::MainWindow>())
    , m_preferencesUi(std::make_unique<Ui::PreferencesPanel>())
    , m_aboutUi(std::make_unique<Ui::AboutWindow>())
    , m_delegate(std::make_unique<AppDelegate>())
    , m_controller(std::make_unique<VemoViewController>())
{
    m_mainUi->setupUi(m_mainWindow.get());
    m_preferencesUi->setupUi(m_preferences.get());
    m_aboutUi->setupUi(m_about.get());
    m_aboutUi->versionLabel->setText(tr("Version %1").arg(QStringLiteral(QUILLORA_VERSION)));
    m_aboutUi->iconLabel->setPixmap(QIcon(QStringLiteral(":/quillora.svg")).pixmap(64, 64));
    m_mainWindow->setWindowIcon(QIcon(QStringLiteral(":/quillora.svg")));
    m_delegate->setWindow(m_mainWindow.get());
    connectOutlets(app);
    connectActions();
    // The controller is the main window's delegate: its closing reaches windowWillClose.
    m_mainWindow->installEventFilter(this);
}

WindowDefinition::~WindowDefinition()
{
    // The controller goes first: it stops its session while the view it draws into exists.
    m_controller.reset();
}

void WindowDefinition::connectOutlets(QApplication *app)
{
    VemoViewController &c = *m_controller;
    Ui::MainWindow &m = *m_mainUi;
    Ui::PreferencesPanel &p = *m_preferencesUi;
    c.mCaptureView = m.mCaptureView;
    c.mApp = app;
    c.mPreviewImage = m.mPreviewImage;
    c.mPhotoPath = p.mPhotoPath;
    c.mPhotoFilename = p.mPhotoFilename;
    c.mVideoPath = p.mVideoPath;
    c.mVideoFilename = p.mVideoFilename;
    c.mPreferences = m_preferences.get();
    c.mOverwrite = p.mOverwrite;
    c.mVideoOverwrite = p.mVideoOverwrite;
    c.mPhotoFormat = p.mPhotoFormat;
    c.mPhotoSize = p.mPhotoSize;
    c.mRecordingButton = m.mRecordingButton;
    c.mVideoSize = p.mVideoSize;
    c.mAbout = m_about.get();
    c.mVideoMenu = m.mVideoMenu;
    c.mDevicesMenu = m.mDevicesMenu;
    c.mVideoCaptureAudio = p.mVideoCaptureAudio;
    c.mHelpMenu = m.mHelpMenu;
}

void WindowDefinition::connectActions()
{
    VemoViewController *c = m_controller.get();
    Ui::MainWindow &m = *m_mainUi;
    Ui::PreferencesPanel &p = *m_preferencesUi;
    // Every action gets its sender, as the controller's actions expect.
    auto wire = [c](QAction *action, void (VemoViewController::*op)(QObject *)) {
        QObject::connect(action, &QAction::triggered, c, [c, action, op] { (c->*op)(action); });
    };
    auto wireButton = [c](QAbstractButton *button, void (VemoViewController::*op)(QObject *)) {
        QObject::connect(button, &QAbstractButton::clicked, c, [c, button, op] { (c->*op)(button); });
    };
    wire(m.actionTakePhoto, &VemoViewController::photoClick);
    wire(m.mVideoMenu, &VemoViewController::recordingClick);
    wire(m.actionFreeze, &VemoViewController::previewClick);
    wire(m.actionRotate, &VemoViewController::rotateClick);
    wire(m.actionFocus, &VemoViewController::focusClick);
    wire(m.actionPreferences, &VemoViewController::preferencesClick);
    wire(m.actionAbout, &VemoViewController::aboutClick);
    wire(m.mHelpMenu, &VemoViewController::aboutClick);
    QObject::connect(m.actionQuit, &QAction::triggered, m_mainWindow.get(), &QWidget::close);
    wireButton(m.photoButton, &VemoViewController::photoClick);
    wireButton(m.mRecordingButton, &VemoViewController::recordingClick);
    wireButton(m.freezeButton, &VemoViewController::previewClick);
    wireButton(m.rotateButton, &VemoViewController::rotateClick);
    wireButton(m.focusButton, &VemoViewController::focusClick);
    wireButton(p.doneButton, &VemoViewController::preferencesDone);
    for (QAction *item : m.mDevicesMenu->actions())
        wire(item, &VemoViewController::deviceMenuClick);

    // Only a user's change of the stream's own settings sends preferencesChange: these
    // signals are not emitted when code sets the controls.
    QObject::connect(p.mPhotoSize, &QComboBox::activated, c, [c, &p] { c->preferencesChange(p.mPhotoSize); });
    QObject::connect(p.mVideoSize, &QComboBox::activated, c, [c, &p] { c->preferencesChange(p.mVideoSize); });
    QObject::connect(
        p.mVideoCaptureAudio, &QCheckBox::clicked, c, [c, &p] { c->preferencesChange(p.mVideoCaptureAudio); });
}

bool WindowDefinition::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_mainWindow.get() && event->type() == QEvent::Close)
        m_controller->windowWillClose();
    return QObject::eventFilter(watched, event);
}

void WindowDefinition::awake()
{
    m_controller->awakeFromNib();
    m_mainWindow->show();
    m_delegate->applicationDidFinishLaunching();
}

int applicationMain(int argc, char **argv)
{
    keepLargeBlocksMapped();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillora Camera"));
    QApplication::setOrganizationName(QStringLiteral("Quillora"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLORA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("quillora"));
    // Only the main window's close ends the application; the panel and About window don't.
    QApplication::setQuitOnLastWindowClosed(false);
    WindowDefinition definition(&app);
    definition.awake();
    return QApplication::exec();
}

} // namespace quillora::app
