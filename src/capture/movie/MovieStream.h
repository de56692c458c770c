// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the movie output: what the streaming threads of one recording share with the main
// thread, and how a pad probe holds on to it.
#include "GstHandles.h"
#include "HandOff.h"

#include <QSize>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace quillora {
class Clock;
} // namespace quillora

namespace quillora::capture {

// What the streaming threads of one recording share with the main thread. Held by the
// probes (through their own reference), so it outlives whichever side ends first.
struct StreamState {
    std::mutex mutex; // guards fileComplete; `changed` waits on it
    std::condition_variable changed;
    bool fileComplete = false;

    std::atomic<quint64> framesOffered{0};
    std::atomic<quint64> framesWritten{0};
    std::atomic<quint64> soundBuffers{0};
    std::atomic<int> width{0};
    std::atomic<int> height{0};
    std::atomic<bool> fitted{false};
    std::atomic<bool> soundEnded{false};
    // When the sound input last sent a buffer (µs on `clock`; -1: never).
    std::atomic<gint64> lastSoundArrival{-1};
    // Running times where the movie's first picture starts, where its last picture so far
    // ends, and where the picture was cut off (-1 until known): the sound is started and
    // ended at the same moments, so the two tracks line up.
    std::atomic<gint64> videoStart{-1};
    // The AAC encoder puts one frame of silence (1024 samples) before the first sound; the
    // sound is started that much after the picture, so what is heard lines up with what is
    // seen. Set before the branch is linked.
    gint64 soundLead = 0;
    std::atomic<gint64> lastVideoEnd{-1};
    std::atomic<gint64> videoStop{-1};
    // Where the sound let into the movie so far ends; -1 until the first sound is let in.
    std::atomic<gint64> soundPassedEnd{-1};

    // Set before the branch is linked, read-only afterwards.
    QSize box;
    GstElement *videoCaps = nullptr; // the picture size filter, owned by the branch's bin
    Mailbox *context = nullptr;      // main-thread receiver of the news below
    const Clock *clock = nullptr;    // the recording's clock, read from any thread
    std::function<void()> onFileComplete;
};

using StreamStatePtr = std::shared_ptr<StreamState>;

// The state a probe added by addProbe was given, for the length of one call of the probe: taken
// over as addProbe or the probe's previous call handed it on, and handed on again when the call
// has done with it, to the next call or to deleteStreamRef, which a pad calls on another thread
// once its probe has run for the last time. Declared first in the probe, so that it is handed on
// after the probe's last access.
class ProbeState {
public:
    explicit ProbeState(gpointer userData)
        : state((takeOver(userData), **static_cast<StreamStatePtr *>(userData)))
        , m_handOff(userData)
    {
    }

    StreamState &state;

private:
    HandOffOnExit m_handOff;
};

// Adds a probe that holds its own reference to `state`, dropped when the probe goes.
gulong addProbe(GstPad *pad, GstPadProbeType type, GstPadProbeCallback callback, const StreamStatePtr &state);

} // namespace quillora::capture
