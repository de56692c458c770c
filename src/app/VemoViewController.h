// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main controller: it owns every outlet of the windows, the capture objects, the USB
// control interface and the run-time flags, and implements every action of the application.
#include "CaptureDevice.h"
#include "CaptureSession.h"
#include "CaptureView.h"
#include "DecompressedVideoOutput.h"
#include "Frame.h"
#include "HandOff.h"
#include "PhotoCapture.h"
#include "ProgramClock.h"

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

class QAction;
class QApplication;
class QCheckBox;
class QComboBox;
class QDialog;
class QLineEdit;
class QMenu;
class QPushButton;
class QAbstractButton;

namespace quillora::prefs {
class CameraControlStore;
class MatrixControl;
class PathControl;
class UserDefaults;
} // namespace quillora::prefs
namespace quillora::capture {
class MovieFileOutput;
class CameraWatcher;
enum class MovieFault;
} // namespace quillora::capture
namespace quillora::output {
enum class WriteFault;
struct PhotoSettings;
struct ReservedMovie;
} // namespace quillora::output
namespace quillora::usb {
class UsbHost;
class UsbDevice;
class UsbInterface;
struct DevRequest;
} // namespace quillora::usb

namespace quillora::app {

class ImageView;
class InkPage;
class PictureControlsPanel;
class RecordingIndicator;
class WindowMessages;

// One for the whole process: set while the camera's button is held off for two seconds after
// an accepted press. Only the listener thread reads and writes it.
extern bool gSnapshotBusy;

class VemoViewController : public QObject,
                           public capture::CaptureViewDelegate,
                           public capture::DecompressedVideoOutputDelegate {
    Q_OBJECT
public:
    // Picture controls set are written to the settings file this long (of the program's clock)
    // after the last change: a slider's drag is one save, not twenty a second.
    static constexpr std::chrono::milliseconds kControlsSaveDelay{1000};

    explicit VemoViewController(QObject *parent = nullptr);
    ~VemoViewController() override;

    // ---- Operations ---------------------------------------------------------------------
    void awakeFromNib();
    VemoViewController *initCameraInterfaceWithLocationID(std::uint32_t locationId);
    std::shared_ptr<usb::UsbInterface> getControlInferaceWithDeviceInterface(
        const std::shared_ptr<usb::UsbDevice> &deviceInterface);
    void setupPreferences();
    void setDefaults();
    void loadPreferences();
    capture::CaptureDevicePtr setupAudioDevices();
    capture::CaptureDevicePtr setupDevices();
    void startStream();
    void stopStream();
    void windowWillClose();
    void captureOutputDidOutputVideoFrame(
        capture::DecompressedVideoOutput *output, const capture::Frame &frame) override;
    void captureOutputDidFinishRecordingToOutputFileAtURL(capture::MovieFileOutput *output, const QUrl &url,
        const QString &error, capture::MovieFault fault, bool complete);
    void previewClick(QObject *sender);
    void photoClick(QObject *sender);
    // The photo as Take Photo writes it (the whole frame, turned and mirrored, by the photo
    // settings' size, format, folder and naming rule) with the page's ink drawn over it at the
    // photo's own size. Main thread.
    void annotatedPhotoClick(QObject *sender);
    void preferencesClick(QObject *sender);
    void preferencesDone(QObject *sender);
    void preferencesChange(QObject *sender);
    void recordingClick(QObject *sender);
    void focusClick(QObject *sender);
    void rotateClick(QObject *sender);
    // Mirrors the picture left to right (or back), as the quarter turns apply: the live
    // picture and photos, not movies.
    void mirrorClick(QObject *sender);
    void aboutClick(QObject *sender);
    void helpClick(QObject *sender);
    void deviceMenuClick(QObject *sender);
    void setRegister(std::uint16_t reg, std::uint16_t value);
    bool setData(std::intptr_t value, std::int32_t length, std::int32_t selector, std::int32_t unit);
    bool sendControlRequest(usb::DevRequest request);
    QImage viewWillDisplayImage(capture::CaptureView *view, const QImage &image) override;
    capture::PictureOrientation viewOrientation(capture::CaptureView *view) override;
    void snapshotByKey();
    void onTimer();
    void savePreferences();

    // ---- Beyond the named operations ----------------------------------------------------
    // The newest frame, with a reference of the caller's own (taken under the lock).
    capture::Frame currentFrame();
    // The maker's web page, opened by the help actions.
    static const QUrl kMakerPage;

    // ---- devices: public additions ----
    // Cameras plugged in or pulled out while the application runs: the camera menu is filled
    // again as at start-up; a camera arriving while none is in use is chosen as at start-up;
    // the camera in use leaving stops its picture (a movie is finished) and the window says
    // so; the same camera coming back resumes. Main thread.
    void camerasChanged();
    // Whether the camera in use was pulled out and has not come back.
    bool cameraDisconnected() const { return !mDepartedCameraId.isEmpty(); }
    // ---- settings: public additions ----
    // ---- photos: public additions ----
    // Brings the live picture back to the front after a freeze (the still stays in its view).
    void showLivePicture();
    // ---- movies: public additions ----
    // How long quitting or a rebuild waits for a movie being written to be completed.
    static constexpr int kMovieFinishTimeoutMs = 5000;
    // ---- usb: public additions ----
    // The USB host the camera control goes through; a test hands in its own before start-up.
    // Without one, the machine's USB (libusb) is used from the first request on.
    void setUsbHost(std::shared_ptr<usb::UsbHost> host);
    // ---- listener: public additions ----
    // ---- picture controls: public additions ----
    // Camera ▸ Picture Controls…: the modeless panel of the camera in use.
    void pictureControlsClick(QObject *sender);
    // ---- feedback: public additions ----
    // A short message in the status line; from any thread (it is shown on the main thread).
    void showStatusMessage(const QString &text);
    // "No camera connected" over the picture while there is no camera, nothing otherwise.
    void showCameraPresence();
    // The freeze controls checked while the picture is frozen.
    void showFreezeState();
    // The mirror's menu item checked while the picture is mirrored.
    void showMirrorState();
    // Plain words for why a photo or movie was not written.
    static QString describeWriteFault(output::WriteFault fault);
    static QString describeMovieFault(capture::MovieFault fault);

private:
    // The controller's state is written by its own operations and by the window definition,
    // which creates the windows and hands their controls in; tests read it through
    // VemoViewControllerTestAccess (tests/support), which alone may set the cameras in use.
    friend class WindowDefinition;
    friend class VemoViewControllerTestAccess;

    // ---- Fields, in declaration order --------------------------------------------------
    capture::CaptureView *mCaptureView = nullptr;    // live picture
    QApplication *mApp = nullptr;                    // quit when the main window closes
    ImageView *mPreviewImage = nullptr;              // the still while frozen
    prefs::PathControl *mPhotoPath = nullptr;        // photo folder
    QLineEdit *mPhotoFilename = nullptr;             // photo base name
    prefs::PathControl *mVideoPath = nullptr;        // movie folder
    QLineEdit *mVideoFilename = nullptr;             // movie base name
    QDialog *mPreferences = nullptr;                 // the preferences panel
    prefs::MatrixControl *mOverwrite = nullptr;      // photo: replace (row 0) or number (row 1)
    prefs::MatrixControl *mVideoOverwrite = nullptr; // movie: replace or number
    QComboBox *mPhotoFormat = nullptr;               // JPEG, PNG, GIF, TIFF
    QComboBox *mPhotoSize = nullptr;                 // photo and decoded-frame size
    QPushButton *mRecordingButton = nullptr;         // transparent while recording
    QComboBox *mVideoSize = nullptr;                 // movie compression preset
    QDialog *mAbout = nullptr;                       // the About window
    QAction *mVideoMenu = nullptr;                   // "Start Capture" / "Stop Capture"
    QMenu *mDevicesMenu = nullptr;                   // ten prepared items, one per camera
    QCheckBox *mVideoCaptureAudio = nullptr;         // record sound with movies
    QAction *mHelpMenu = nullptr;                    // the help item
    capture::CaptureDevicePtr device;                // the camera in use, or null
    capture::CaptureDevicePtr audioDevice;           // the default sound input, or null
    std::shared_ptr<capture::CaptureSession> mCaptureSession;
    std::shared_ptr<capture::CaptureDeviceInput> mCaptureVideoDeviceInput;
    std::shared_ptr<capture::CaptureDeviceInput> mCaptureAudioDeviceInput;
    std::shared_ptr<capture::DecompressedVideoOutput> mCaptureDecompressedVideoOutput;
    std::shared_ptr<capture::MovieFileOutput> mCaptureMovieFileOutput;
    capture::Frame mCurrentImageBuffer; // newest decoded frame; guarded by mLock
    // The frame before the newest while the newest is a JPEG frame that may turn out not to
    // decode; guarded by mLock.
    capture::Frame mPreviousImageBuffer;
    bool recording = false;
    std::shared_ptr<usb::UsbInterface> interface; // the camera's video-control interface, not kept open
    std::atomic<std::int32_t> rotation{0};        // quarter turns; read by the photo on any thread
    bool quilloraDevice = false;
    // Left to right, after the turn; like the turn, off at launch and when a recording starts,
    // never stored. Read by the photo on any thread.
    std::atomic<bool> mirror{false};

    // What the window says in words: the message over the picture and the status line, the
    // indicator of a running recording, and the freeze controls that show their state. Set
    // by the window definition; a controller without them says nothing.
    WindowMessages *mMessages = nullptr;
    RecordingIndicator *mRecordingIndicator = nullptr;
    QAbstractButton *mFreezeButton = nullptr;
    QAction *mFreezeItem = nullptr;
    QAction *mMirrorItem = nullptr;
    // The ink over the page: cleared when another camera's picture comes. Set by the window
    // definition; main thread only.
    InkPage *mInk = nullptr;
    QString mInkCameraId; // the camera whose page the ink is on

    // Guards mCurrentImageBuffer and mPreviousImageBuffer. Recursive because the controller's own operations may
    // nest while holding it; it is held only for the exchange of one reference.
    std::recursive_mutex mLock;

    // Step 6 of start-up: the snapshot-button listener thread.
    void startSnapshotListener();
    // The recording configuration's output, with its compression per connection.
    void addMovieFileOutput();
    // The photo settings as the controls hold them now. Widgets belong to the main thread.
    output::PhotoSettings readPhotoSettings() const;
    // The same from any thread: from another one (the camera's button) the main thread reads
    // them while the caller waits; none when it does not answer.
    std::optional<output::PhotoSettings> photoSettings();

    // ---- devices: private additions ----
    // Shows the first `listed` cameras of `devices` in the camera menu, `marked` checked, and
    // hides the items after them.
    void showCameraMenu(
        const std::vector<capture::CaptureDevicePtr> &devices, size_t listed, const capture::CaptureDevicePtr &marked);
    // Starts hearing cameras come and go (after start-up has chosen).
    void watchCameras();
    std::unique_ptr<capture::CameraWatcher> mCameraWatcher;
    QString mDepartedCameraId;   // the unique ID of the camera in use that was pulled out
    QStringList mKnownCameraIds; // the cameras of the last list, to tell a newcomer
    // ---- settings: private additions ----
    // ---- photos: private additions ----
    Clock &mClock = programClock(); // times the camera button's hold and the controls' save
    // Work for the main thread from the others (a button photo's settings, file and message).
    Mailbox *mMailbox = new Mailbox(this);
    // The picture a photo or a freeze takes: the newest frame's or, when that one will not
    // decode (damaged on its way from the camera), the frame's before it. No frame when there is
    // none to take; `damaged` then says whether frames were there that would not decode.
    struct Still {
        capture::Frame frame;
        QImage image; // the frame's pixels
        bool damaged = false;
    };
    Still newestStill();
    // Takes a photo of the newest still with `drawing` over it (none: as it is).
    void takePhoto(const output::PhotoDrawing &drawing);
    // ---- movies: private additions ----
    // A movie still being written is finished before its session is torn down (a rebuild
    // for another reason, quitting): the finish callback's steps run, but for the rebuild,
    // which the caller does anyway.
    void finishMovieBeforeTeardown(bool openMovie);
    // Gives the finished movie its name when it is complete (`pictures`: anything was
    // recorded), logs it in quillora.output, says it in the window and opens it when a file
    // was written.
    void reportFinishedMovie(
        const QUrl &url, const QString &error, capture::MovieFault fault, bool complete, bool pictures, bool openMovie);
    // The names of the movie being recorded, claimed when it started.
    std::unique_ptr<output::ReservedMovie> mMovieFiles;
    // "Start Capture" and the recording button fully shown.
    void showRecordingIdle();
    bool mQuitting = false; // set once the application ends: a finished movie is not opened then
    // ---- usb: private additions ----
    std::shared_ptr<usb::UsbHost> mUsbHost; // created on first use unless set; main thread only
    usb::UsbHost *usbHost();
    // ---- picture controls: private additions ----
    // The values the user set for the camera in use, written to it before its picture starts.
    void applyStoredControls();
    // Writes the remembered values to the settings file (a moment after the last change, and
    // when the application ends).
    void saveStoredControls();
    PictureControlsPanel *mPictureControls = nullptr; // set by the window definition
    std::unique_ptr<prefs::CameraControlStore> mControlStore;
    std::unique_ptr<ClockTimer> mControlsSaveTimer;
    // ---- listener: private additions ----
    // The snapshot-button listener's thread (a listener::ListenerThread): asked to stop and
    // joined when the application quits or the controller goes, so that no button photo runs
    // on a controller or window that is gone.
    std::unique_ptr<QObject> mSnapshotListener;
};

} // namespace quillora::app
