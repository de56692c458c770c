// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureControlsPanel.h"

#include "CameraControlStore.h"
#include "CaptureLog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace quillora::app {

using capture::CameraControl;
using capture::ControlKind;
using capture::ControlWriteStatus;

namespace {

// A slider has at most this many positions; a control with more takes coarser steps on it.
constexpr std::int64_t kMostPositions = 100000;

std::int64_t sliderStep(const CameraControl &c)
{
    const std::int64_t positions = (c.maximum - c.minimum) / c.step;
    return positions <= kMostPositions ? c.step : c.step * ((positions + kMostPositions - 1) / kMostPositions);
}

int positionOf(const CameraControl &c, std::int64_t value)
{
    const std::int64_t step = sliderStep(c);
    return int((std::clamp(value, c.minimum, c.maximum) - c.minimum + step / 2) / step);
}

std::int64_t valueAt(const CameraControl &c, int position)
{
    return std::min(c.maximum, c.minimum + std::int64_t(position) * sliderStep(c));
}

// Whether two readings describe the same controls (values and activity aside): the widgets stay.
bool sameControls(const std::vector<CameraControl> &a, const std::vector<CameraControl> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](CameraControl x, CameraControl y) {
        x.value = y.value = 0;
        x.inactive = y.inactive = false;
        return x == y;
    });
}

QString groupTitle(const CameraControl &c)
{
    if (!c.groupName.isEmpty())
        return capture::translatedControlText(c.groupName);
    if (c.group == capture::kUserControls)
        return capture::translatedControlText(QStringLiteral("User Controls"));
    if (c.group == capture::kCameraControls)
        return capture::translatedControlText(QStringLiteral("Camera Controls"));
    return PictureControlsPanel::tr("Other Controls");
}

} // namespace

PictureControlsPanel::PictureControlsPanel(QWidget *parent)
    : QDialog(parent)
    , m_scroll(new QScrollArea(this))
    , m_noticeLabel(new QLabel(this))
    , m_resetButton(new QPushButton(tr("Reset to Camera Defaults"), this))
    , m_refreshTimer(new QTimer(this))
{
    setWindowTitle(tr("Picture Controls"));
    setModal(false);
    setObjectName(QStringLiteral("pictureControlsPanel"));
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_noticeLabel->setAlignment(Qt::AlignCenter);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_noticeLabel);
    layout->addWidget(m_scroll, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_resetButton);
    layout->addLayout(buttons);
    connect(m_resetButton, &QPushButton::clicked, this, [this] { resetToDefaults(); });
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(0);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] { refresh(); });
    resize(460, 560);
    rebuild();
}

PictureControlsPanel::~PictureControlsPanel() = default;

void PictureControlsPanel::setCamera(const capture::CaptureDevicePtr &camera)
{
    if (camera == m_camera) {
        // The same camera again (it may have been pulled out and put back since): read afresh.
        if (isVisible())
            readCamera();
        return;
    }
    releaseCamera();
    m_camera = camera;
    m_shown.clear();
    m_refusalSaid.clear();
    setWindowTitle(camera ? tr("Picture Controls: %1").arg(camera->localizedDisplayName()) : tr("Picture Controls"));
    if (isVisible())
        readCamera();
    else
        rebuild();
}

void PictureControlsPanel::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_controls)
        readCamera();
}

void PictureControlsPanel::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    // The node is not kept open for a panel nobody sees.
    releaseCamera();
}

void PictureControlsPanel::readCamera()
{
    releaseCamera();
    m_shown.clear();
    m_notice.clear();
    if (!m_camera) {
        m_notice = tr("No camera");
        rebuild();
        return;
    }
    QString error;
    m_controls = m_camera->openControls(&error);
    if (!m_controls) {
        qCInfo(lcCapture).noquote() << QStringLiteral("picture controls of %1 cannot be reached: %2")
                                           .arg(m_camera->localizedDisplayName(), error);
        m_notice = tr("The camera's controls cannot be reached");
        rebuild();
        return;
    }
    refresh();
}

void PictureControlsPanel::releaseCamera()
{
    ++m_epoch;
    m_controls.reset();
    m_throttles.clear();
    m_refreshTimer->stop();
}

void PictureControlsPanel::refresh()
{
    if (!m_controls)
        return;
    QString error;
    std::vector<CameraControl> now = m_controls->list(&error);
    if (now.empty() && !error.isEmpty()) {
        qCInfo(lcCapture).noquote() << QStringLiteral("picture controls cannot be read: %1").arg(error);
        releaseCamera();
        m_shown.clear();
        m_notice = tr("The camera's controls cannot be reached");
        rebuild();
        return;
    }
    const bool same = sameControls(now, m_shown) && !m_shown.empty();
    m_shown = std::move(now);
    m_notice = m_shown.empty() ? tr("This camera offers no picture controls") : QString();
    if (same)
        showValues();
    else
        rebuild();
}

QWidget *PictureControlsPanel::makeSlider(const CameraControl &c)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, positionOf(c, c.maximum));
    slider->setPageStep(std::max(1, slider->maximum() / 10));
    slider->setToolTip(tr("From %1 to %2 in steps of %3, default %4")
                           .arg(c.minimum)
                           .arg(c.maximum)
                           .arg(sliderStep(c))
                           .arg(c.defaultValue));
    auto *value = new QLabel;
    value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("-000000")));
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(new QLabel(QString::number(c.minimum)));
    layout->addWidget(slider, 1);
    layout->addWidget(new QLabel(QString::number(c.maximum)));
    layout->addWidget(value);
    m_valueLabels[c.id] = value;
    const std::uint32_t id = c.id;
    connect(slider, &QSlider::valueChanged, this, [this, id](int position) {
        if (const CameraControl *shownControl = shown(id)) {
            m_valueLabels[id]->setText(QString::number(valueAt(*shownControl, position)));
            userChanged(id, valueAt(*shownControl, position));
        }
    });
    // A slider let go shows the camera's value again (refreshes leave a moving slider alone).
    connect(slider, &QSlider::sliderReleased, this, [this] { m_refreshTimer->start(); });
    m_editors[c.id] = slider;
    return row;
}

QWidget *PictureControlsPanel::makeEditor(const CameraControl &c)
{
    const std::uint32_t id = c.id;
    switch (c.kind) {
    case ControlKind::Integer:
        return makeSlider(c);
    case ControlKind::Boolean: {
        auto *box = new QCheckBox;
        connect(box, &QCheckBox::clicked, this, [this, id](bool checked) { userChanged(id, checked ? 1 : 0); });
        return m_editors[id] = box;
    }
    case ControlKind::Menu:
    case ControlKind::IntegerMenu: {
        auto *list = new QComboBox;
        for (const capture::ControlMenuEntry &entry : c.menu)
            list->addItem(capture::translatedControlText(capture::describeControlValue(c, entry.index)),
                QVariant::fromValue(qlonglong(entry.index)));
        connect(list, &QComboBox::activated, this,
            [this, id, list](int index) { userChanged(id, list->itemData(index).toLongLong()); });
        return m_editors[id] = list;
    }
    case ControlKind::Button: {
        auto *button = new QPushButton(capture::translatedControlText(c.name));
        connect(button, &QPushButton::clicked, this, [this, id] { userChanged(id, 1); });
        return m_editors[id] = button;
    }
    }
    return nullptr;
}

void PictureControlsPanel::rebuild()
{
    m_editors.clear();
    m_valueLabels.clear();
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    std::vector<std::pair<QString, QFormLayout *>> groups;
    for (const CameraControl &c : m_shown) {
        const QString title = groupTitle(c);
        auto group = std::find_if(groups.begin(), groups.end(), [&](const auto &g) { return g.first == title; });
        if (group == groups.end()) {
            auto *box = new QGroupBox(title);
            layout->addWidget(box);
            groups.emplace_back(title, new QFormLayout(box));
            group = std::prev(groups.end());
        }
        QWidget *editor = makeEditor(c); // for a slider, its row with the range and value
        editorOf(c.id)->setAccessibleName(capture::translatedControlText(c.name));
        if (c.kind == ControlKind::Button)
            group->second->addRow(QString(), editor);
        else
            group->second->addRow(capture::translatedControlText(c.name) + QLatin1Char(':'), editor);
    }
    layout->addStretch(1);
    m_scroll->setWidget(content); // the old content goes with it
    m_noticeLabel->setText(m_notice);
    m_noticeLabel->setVisible(!m_notice.isEmpty());
    m_scroll->setVisible(m_notice.isEmpty());
    showValues();
}

void PictureControlsPanel::showValues()
{
    m_resetButton->setEnabled(m_controls && !m_shown.empty());
    for (const CameraControl &c : m_shown) {
        QWidget *editor = editorOf(c.id);
        if (!editor)
            continue;
        const QSignalBlocker quiet(editor);
        // What the driver says now, except under the user's hand.
        if (auto *slider = qobject_cast<QSlider *>(editor); slider && !slider->isSliderDown()) {
            slider->setValue(positionOf(c, c.value));
            m_valueLabels[c.id]->setText(QString::number(c.value));
        } else if (auto *box = qobject_cast<QCheckBox *>(editor)) {
            box->setChecked(c.value != 0);
        } else if (auto *list = qobject_cast<QComboBox *>(editor)) {
            list->setCurrentIndex(list->findData(QVariant::fromValue(qlonglong(c.value))));
        }
        // Inactive: shown, not changeable (a slider's row with its labels).
        QWidget *row = qobject_cast<QSlider *>(editor) ? editor->parentWidget() : editor;
        row->setEnabled(!c.inactive);
    }
}

QWidget *PictureControlsPanel::editorOf(std::uint32_t id) const
{
    const auto it = m_editors.find(id);
    return it == m_editors.end() ? nullptr : it->second;
}

QString PictureControlsPanel::notice() const
{
    return m_notice;
}

const CameraControl *PictureControlsPanel::shown(std::uint32_t id) const
{
    const auto it = std::find_if(m_shown.begin(), m_shown.end(), [id](const auto &c) { return c.id == id; });
    return it == m_shown.end() ? nullptr : &*it;
}

void PictureControlsPanel::userChanged(std::uint32_t id, std::int64_t value)
{
    if (!m_controls || !shown(id))
        return;
    Throttle &throttle = m_throttles[id];
    if (throttle.coolingDown) {
        throttle.pending = value;
        return;
    }
    if (write(id, value))
        coolDown(id);
}

void PictureControlsPanel::coolDown(std::uint32_t id)
{
    m_throttles[id].coolingDown = true;
    m_clock.singleShot(kWriteInterval, this, [this, id, epoch = m_epoch] {
        if (epoch == m_epoch)
            sendPending(id);
    });
}

void PictureControlsPanel::sendPending(std::uint32_t id)
{
    Throttle &throttle = m_throttles[id];
    throttle.coolingDown = false;
    if (!throttle.pending)
        return;
    const std::int64_t value = *std::exchange(throttle.pending, std::nullopt);
    if (write(id, value))
        coolDown(id);
}

bool PictureControlsPanel::write(std::uint32_t id, std::int64_t value, bool remember)
{
    const CameraControl *control = m_controls ? shown(id) : nullptr;
    if (!control)
        return false;
    const capture::ControlWriteResult result = m_controls->write(id, value);
    switch (result.status) {
    case ControlWriteStatus::Gone:
        qCInfo(lcCapture).noquote()
            << QStringLiteral("picture controls: %1 went away; writes end").arg(m_camera->localizedDisplayName());
        cameraGone();
        return false;
    case ControlWriteStatus::Refused:
        refused(*control, value, result.reason);
        break;
    case ControlWriteStatus::Written:
        m_refusalSaid.erase(id);
        if (remember && control->holdsValue() && m_store) {
            m_store->setValue(m_camera->uniqueID(), id, value);
            Q_EMIT storedValuesChanged();
        }
        break;
    }
    // The driver may have changed others with it (an automatic mode switched): read them again.
    m_refreshTimer->start();
    return true;
}

void PictureControlsPanel::refused(const CameraControl &control, std::int64_t value, const QString &reason)
{
    const QString said = capture::describeControlValue(control, value);
    qCInfo(lcCapture).noquote() << QStringLiteral("%1: the camera refused %2 (%3)").arg(control.name, said, reason);
    // Said once: a slider dragged against a busy camera would say it twenty times a second.
    if (m_refusalSaid.insert(control.id).second)
        Q_EMIT statusMessage(
            tr("%1: the camera refused %2")
                .arg(capture::translatedControlText(control.name), capture::translatedControlText(said)));
}

void PictureControlsPanel::cameraGone()
{
    releaseCamera();
    m_shown.clear();
    m_notice = tr("No camera");
    // Not at once: the widget whose change found the camera gone is still sending its signal.
    QMetaObject::invokeMethod(
        this, [this] { rebuild(); }, Qt::QueuedConnection);
}

void PictureControlsPanel::resetToDefaults()
{
    if (!m_controls)
        return;
    ++m_epoch; // writes a moving slider still owes are dropped
    m_throttles.clear();
    // Numbers first while their manual modes still hold them, then the switches, then the
    // numbers the switches made active.
    resetPass(false);
    if (m_controls)
        resetPass(true);
    if (m_controls) {
        refresh();
        resetPass(false);
    }
    if (m_store && m_camera) {
        m_store->removeCamera(m_camera->uniqueID());
        Q_EMIT storedValuesChanged();
    }
    refresh();
}

void PictureControlsPanel::resetPass(bool switches)
{
    const std::vector<CameraControl> controls = m_shown;
    for (const CameraControl &c : controls) {
        const auto target = capture::nearestAllowedValue(c, c.defaultValue);
        if (!target || *target == c.value || c.inactive || (c.kind != ControlKind::Integer) != switches)
            continue;
        if (!write(c.id, *target, false) || !m_controls)
            return;
    }
}

} // namespace quillora::app
