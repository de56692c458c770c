// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QLoggingCategory>

// Diagnostics of the capture layer: off at info level unless QT_LOGGING_RULES turns them on.
Q_DECLARE_LOGGING_CATEGORY(lcCapture)

#include <atomic>
#include <chrono>

namespace quillora::capture {

// Lets a line through at most once per second, from any thread: a noisy USB link can corrupt
// frames thirty times a second, and one line a second says as much as thirty.
class OncePerSecond {
public:
    // True when a line may be written now; `passedOver` then holds how many were held back.
    bool ready(int *passedOver = nullptr)
    {
        using namespace std::chrono;
        const qint64 now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        qint64 last = m_last.load();
        if (last != 0 && now - last < 1000) {
            m_held.fetch_add(1);
            return false;
        }
        if (!m_last.compare_exchange_strong(last, now)) {
            m_held.fetch_add(1);
            return false;
        }
        const int held = m_held.exchange(0);
        if (passedOver)
            *passedOver = held;
        return true;
    }

private:
    std::atomic<qint64> m_last{0};
    std::atomic<int> m_held{0};
};

} // namespace quillora::capture
