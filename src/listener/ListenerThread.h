#pragma once
// The thread the snapshot-button listener lives on. Its body is one of WebcamProcessor's
// register functions; going away asks the listener to stop and waits for the thread, a bounded
// time, so that the listener never calls into a controller that is gone.
#include <QObject>

#include <chrono>
#include <functional>

class QThread;

namespace quillora::listener {

class ListenerThread : public QObject {
public:
    explicit ListenerThread(std::function<void()> body);
    ~ListenerThread() override;

    // Starts the thread with fresh listener state. One listener thread at a time per process.
    void startListening();
    // Asks the listener to end and waits for its thread at most `bound`; true when it ended.
    bool stopListening(std::chrono::milliseconds bound = std::chrono::seconds(5));
    bool isRunning() const;
    QThread *thread() const { return m_thread; }

private:
    QThread *m_thread = nullptr; // owned; deleted once it has ended
};

} // namespace quillora::listener
