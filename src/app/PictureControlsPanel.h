// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Camera ▸ Picture Controls…: a modeless panel with the controls the driver of the camera in use
// offers, grouped as the driver groups them. A number is a slider with its value and range, a
// switch a check box, a menu a list of the driver's names, an action a button. A change goes to
// the camera at once, while a slider moves at most every kWriteInterval per control, the last
// value always; what the user changed is remembered for the camera. Controls the driver marks
// inactive (an automatic mode is on) are shown disabled, and every control is read again after
// each change. Main thread only.
#include "CaptureDevice.h"
#include "ProgramClock.h"

#include <QDialog>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>

class QLabel;
class QPushButton;
class QScrollArea;
class QTimer;
class QVBoxLayout;
class QWidget;

namespace quillora::prefs {
class CameraControlStore;
} // namespace quillora::prefs

namespace quillora::app {

class PictureControlsPanel : public QDialog {
    Q_OBJECT
public:
    explicit PictureControlsPanel(QWidget *parent = nullptr);
    ~PictureControlsPanel() override;

    // At most one write per control in this time of the program's clock while a slider moves:
    // about 20 a second.
    static constexpr std::chrono::milliseconds kWriteInterval{50};

    // Where the user's changes are remembered; none: nowhere.
    void setStore(prefs::CameraControlStore *store) { m_store = store; }
    // The camera the panel shows; null: none ("No camera"). Given the same camera again, the
    // panel reads it afresh (it may have been pulled out and put back).
    void setCamera(const capture::CaptureDevicePtr &camera);
    const capture::CaptureDevicePtr &camera() const { return m_camera; }

    // The controls as last read from the camera.
    const std::vector<capture::CameraControl> &controls() const { return m_shown; }
    // The widget of a control (a QSlider, QCheckBox, QComboBox or QPushButton), for tests and
    // assistive tools; null when the panel does not show it.
    QWidget *editorOf(std::uint32_t id) const;
    // What the panel says instead of controls ("No camera", ...); empty while it shows controls.
    QString notice() const;

    // A value the user chose for control `id` (what the widgets call).
    void userChanged(std::uint32_t id, std::int64_t value);
    // "Reset to Camera Defaults": every control to the camera's default; the camera's
    // remembered values are forgotten.
    void resetToDefaults();

Q_SIGNALS:
    // Something the window's status line is to say (a refusal, once).
    void statusMessage(const QString &text);
    // Remembered values changed and are to be saved.
    void storedValuesChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // A control's writes while its slider moves: one now, then at most one per interval.
    struct Throttle {
        bool coolingDown = false;
        std::optional<std::int64_t> pending; // the newest value not written yet
    };

    // Opens the camera's controls and shows them as they are now (or what stands in their way).
    void readCamera();
    // Lets the camera's controls go; writes still due are dropped.
    void releaseCamera();
    void refresh();
    void rebuild();
    void showValues();
    QWidget *makeEditor(const capture::CameraControl &control);
    QWidget *makeSlider(const capture::CameraControl &control);
    // Writes a value; false when the camera went away (the panel then says so).
    bool write(std::uint32_t id, std::int64_t value, bool remember = true);
    void sendPending(std::uint32_t id);
    void coolDown(std::uint32_t id);
    void refused(const capture::CameraControl &control, std::int64_t value, const QString &reason);
    void cameraGone();
    void resetPass(bool switches);
    const capture::CameraControl *shown(std::uint32_t id) const;

    Clock &m_clock = programClock(); // times the writes of a moving slider
    prefs::CameraControlStore *m_store = nullptr;
    capture::CaptureDevicePtr m_camera;
    std::unique_ptr<capture::CameraControls> m_controls; // open while shown and the camera is there
    std::vector<capture::CameraControl> m_shown;
    QString m_notice;
    std::map<std::uint32_t, QWidget *> m_editors;
    std::map<std::uint32_t, QLabel *> m_valueLabels; // beside the sliders
    std::map<std::uint32_t, Throttle> m_throttles;
    quint64 m_epoch = 0; // counts opening and closing: a write due for a camera closed since is dropped
    std::set<std::uint32_t> m_refusalSaid; // refused since their last accepted write, and said so
    QScrollArea *m_scroll = nullptr;
    QLabel *m_noticeLabel = nullptr;
    QPushButton *m_resetButton = nullptr;
    QTimer *m_refreshTimer = nullptr; // one re-read for a burst of writes
};

} // namespace quillora::app
