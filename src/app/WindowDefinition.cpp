// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowDefinition.h"

#include "FrameMemory.h"

#include "AppDelegate.h"
#include "FullScreen.h"
#include "InkTools.h"
#include "PictureControlsPanel.h"
#include "PictureZoom.h"
#include "RecordingIndicator.h"
#include "VemoViewController.h"
#include "WindowMessages.h"
#include "ui_AboutWindow.h"
#include "ui_MainWindow.h"
#include "ui_PreferencesPanel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QMainWindow>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <optional>

// The icon lives in a resource of this static library: nothing pulls its initialiser in
// unless it is named.
static void initApplicationResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace quillora::app {

QIcon applicationIcon()
{
    initApplicationResources();
    return QIcon(QStringLiteral(":/quillora.svg"));
}

WindowDefinition::WindowDefinition(QApplication *app)
    : m_mainWindow(std::make_unique<QMainWindow>())
    , m_preferences(std::make_unique<QDialog>())
    , m_about(std::make_unique<QDialog>())
    , m_pictureControls(std::make_unique<PictureControlsPanel>())
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
    const QIcon icon = applicationIcon();
    m_aboutUi->iconLabel->setPixmap(icon.pixmap(64, 64));
    m_about->setWindowIcon(icon);
    m_pictureControls->setWindowIcon(icon);
    m_mainWindow->setWindowIcon(icon);
    m_delegate->setWindow(m_mainWindow.get());
    connectOutlets(app);
    connectActions();
    connectView();
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
    c.mMessages = new WindowMessages(m.pictureStack, m.statusBar);      // owned by the picture
    c.mRecordingIndicator = new RecordingIndicator(m.mRecordingButton); // owned by the window
    c.mFreezeButton = m.freezeButton;
    c.mFreezeItem = m.actionFreeze;
    c.mMirrorItem = m.actionMirror;
    c.mPictureControls = m_pictureControls.get();
    m_pictureControls->setStore(c.mControlStore.get());
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
    wire(m.actionMirror, &VemoViewController::mirrorClick);
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
    // The indicator stands in for the transparent recording button and sends its action.
    QObject::connect(c->mRecordingIndicator, &QAbstractButton::clicked, c,
        [c, button = m.mRecordingButton] { c->recordingClick(button); });
    wireButton(p.doneButton, &VemoViewController::preferencesDone);
    // The camera items are the menu's checkable ones; Picture Controls… follows them.
    for (QAction *item : m.mDevicesMenu->actions())
        if (item->isCheckable())
            wire(item, &VemoViewController::deviceMenuClick);
    wire(m.actionPictureControls, &VemoViewController::pictureControlsClick);
    QObject::connect(m_pictureControls.get(), &PictureControlsPanel::statusMessage, c,
        [c](const QString &text) { c->showStatusMessage(text); });
    QObject::connect(m_pictureControls.get(), &PictureControlsPanel::storedValuesChanged, c,
        [c] { c->mControlsSaveTimer->start(VemoViewController::kControlsSaveDelay); });

    // Only a user's change of the stream's own settings sends preferencesChange: these
    // signals are not emitted when code sets the controls.
    QObject::connect(p.mPhotoSize, &QComboBox::activated, c, [c, &p] { c->preferencesChange(p.mPhotoSize); });
    QObject::connect(p.mVideoSize, &QComboBox::activated, c, [c, &p] { c->preferencesChange(p.mVideoSize); });
    QObject::connect(
        p.mVideoCaptureAudio, &QCheckBox::clicked, c, [c, &p] { c->preferencesChange(p.mVideoCaptureAudio); });
}

void WindowDefinition::connectView()
{
    Ui::MainWindow &m = *m_mainUi;
    QMainWindow *window = m_mainWindow.get();
    m_zoom = new PictureZoom(m.pictureStack, m.mCaptureView, m.mPreviewImage);
    m_zoom->addPanKeysTo(window);
    m.actionZoomIn->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    QObject::connect(m.actionZoomIn, &QAction::triggered, m_zoom, &PictureZoom::zoomIn);
    QObject::connect(m.actionZoomOut, &QAction::triggered, m_zoom, &PictureZoom::zoomOut);
    QObject::connect(m.actionFit, &QAction::triggered, m_zoom, &PictureZoom::fit);

    QList<QWidget *> chrome{m.menuBar, m.statusBar};
    for (int i = 0; i < m.buttonRow->count(); ++i)
        if (QWidget *button = m.buttonRow->itemAt(i)->widget())
            chrome << button;
    m_fullScreen = new FullScreen(window, m.pictureStack, chrome);
    QObject::connect(m.actionFullScreen, &QAction::triggered, m_fullScreen, &FullScreen::toggle);
    QObject::connect(m_zoom, &PictureZoom::doubleClicked, m_fullScreen, &FullScreen::toggle);
    VemoViewController *c = m_controller.get();
    connectInk();
    QObject::connect(m_fullScreen, &FullScreen::activeChanged, window, [this, c, &m](bool active) {
        m_ink->setFullScreen(active);
        m.actionFullScreen->setChecked(active);
        // With the status line and the buttons hidden, what they say shows over the picture.
        if (c->mMessages)
            c->mMessages->setStatusOverPicture(active);
        if (c->mRecordingIndicator)
            c->mRecordingIndicator->setOverPicture(active ? m.pictureStack : nullptr);
    });

    // Every item's shortcut works while the menu bar is hidden, too.
    for (QAction *menu : m.menuBar->actions())
        if (menu->menu())
            window->addActions(menu->menu()->actions());
    // F11, and the desktop's own full-screen key where it has another that nothing else uses.
    QList<QKeySequence> keys{QKeySequence(Qt::Key_F11)};
    for (const QKeySequence &key : QKeySequence::keyBindings(QKeySequence::FullScreen)) {
        const QList<QAction *> actions = window->findChildren<QAction *>();
        const bool taken = std::any_of(
            actions.begin(), actions.end(), [&](const QAction *a) { return a->shortcuts().contains(key); });
        if (!keys.contains(key) && !taken)
            keys << key;
    }
    m.actionFullScreen->setShortcuts(keys);
}

void WindowDefinition::connectInk()
{
    Ui::MainWindow &m = *m_mainUi;
    VemoViewController *c = m_controller.get();
    m_ink = new InkTools(m.pictureStack, m.mCaptureView, m.mPreviewImage);
    m_ink->addTo(m.viewMenu);
    c->mInk = m_ink->page();
    QObject::connect(m_ink, &InkTools::statusMessage, c, &VemoViewController::showStatusMessage);
    auto *annotated = new QAction(tr("Take Annotated Photo"), m_mainWindow.get());
    annotated->setObjectName(QStringLiteral("actionTakeAnnotatedPhoto"));
    annotated->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T));
    m.captureMenu->insertAction(m.mVideoMenu, annotated);
    QObject::connect(annotated, &QAction::triggered, c, [c, annotated] { c->annotatedPhotoClick(annotated); });
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

namespace {

// The options Qt's application object takes for itself (-platform, -style, …): accepted and
// left to it, not called unknown. Hidden from the help; Qt documents them.
const char *const kQtOptionsWithValue[]
    = {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon", "qwindowtitle",
        "session", "display", "geometry", "style", "stylesheet", "name", "title"};
const char *const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption help;
    QCommandLineOption version;
    CommandLine()
        : help(parser.addHelpOption())
        , version(parser.addVersionOption())
    {
        parser.setApplicationDescription(QCoreApplication::translate(
            "quillora::app::CommandLine", "Shows, photographs and records the picture of a Quillora document camera."));
        // Qt's own options are written with one dash and a word (-platform offscreen).
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        for (const char *name : kQtOptionsWithValue) {
            QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
        for (const char *name : kQtFlags) {
            QCommandLineOption option(QString::fromLatin1(name));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
    }
};

} // namespace

void installTranslators(QCoreApplication *app)
{
    initApplicationResources();
    auto *ours = new QTranslator(app);
    if (ours->load(QLocale(), QStringLiteral("quillora"), QStringLiteral("_"), QStringLiteral(":/i18n")))
        QCoreApplication::installTranslator(ours);
    auto *qt = new QTranslator(app);
    if (qt->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
}

namespace {

void describeApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Quillora Camera"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLORA_VERSION));
}

// Answers --help, --version and a mistaken command line without a window (and so without a
// display). Nothing when the program is to start as usual; else the exit status.
std::optional<int> answerCommandLine(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    {
        CommandLine first;
        if (first.parser.parse(arguments) && !first.parser.isSet(first.help)
            && !first.parser.isSet(QStringLiteral("help-all")) && !first.parser.isSet(first.version)
            && first.parser.positionalArguments().isEmpty())
            return std::nullopt;
    }
    // Something to say: in the user's language, which needs an application object (one
    // without a display) for its translators.
    QCoreApplication core(argc, argv);
    describeApplication();
    installTranslators(&core);
    CommandLine line;
    const bool parsed = line.parser.parse(arguments);
    if (!parsed || !line.parser.positionalArguments().isEmpty()) {
        const QString why = !parsed
            ? line.parser.errorText()
            : QCoreApplication::translate("quillora::app::CommandLine", "Unexpected argument '%1'.")
                  .arg(line.parser.positionalArguments().constFirst());
        std::fprintf(stderr, "%s\n%s\n", qPrintable(why),
            qPrintable(
                QCoreApplication::translate("quillora::app::CommandLine", "Try '%1 --help' for more information.")
                    .arg(QFileInfo(arguments.value(0, QStringLiteral("quillora"))).fileName())));
        return 2;
    }
    if (line.parser.isSet(line.help) || line.parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(line.parser.helpText()), stdout);
        return 0;
    }
    std::printf(
        "%s %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(QCoreApplication::applicationVersion()));
    return 0;
}

} // namespace

int applicationMain(int argc, char **argv)
{
    if (const std::optional<int> status = answerCommandLine(argc, argv))
        return *status;
    keepLargeBlocksMapped();
    QApplication app(argc, argv);
    describeApplication();
    QApplication::setDesktopFileName(QStringLiteral("io.github.quillora.Camera"));
    installTranslators(&app);
    // Only the main window's close ends the application; the panel and About window don't.
    QApplication::setQuitOnLastWindowClosed(false);
    WindowDefinition definition(&app);
    definition.awake();
    return QApplication::exec();
}

} // namespace quillora::app
