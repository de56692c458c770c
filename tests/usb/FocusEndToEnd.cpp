// The running application, as a user drives it: Ctrl+Shift+F in its main window.
//   - With the emulated Quillora camera (a virtual picture source that carries the camera's
//     model and location, and the emulated USB device behind it) the three SETUP packets of the
//     focus sequence reach the emulated usbfs, byte for byte, and nothing is logged.
//   - With a camera of no known model, the one line "CameraControl Error: No interface to send
//     request" is logged and nothing reaches the wire.
//
// Usage: usb_focus_e2e <quillora binary>, under Xvfb and umockdev-wrapper (see CMakeLists.txt).
// The application is a child process: it inherits the emulation, and its ioctls are answered
// by the handlers of this process.
#include "EmulatedCamera.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

const std::vector<Bytes> kFocusOnTheWire = {
    {0x41, 0x00, 0x08, 0x00, 0x00, 0x3F, 0x00, 0x00},
    {0x41, 0x00, 0x03, 0x00, 0x00, 0x3F, 0x00, 0x00},
    {0x21, 0x01, 0x00, 0x08, 0x00, 0x01, 0x01, 0x00, 0x01},
};

std::string run(const std::string &command)
{
    std::string output;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        ::pclose(pipe);
    }
    while (!output.empty() && (output.back() == '\n' || output.back() == ' '))
        output.pop_back();
    return output;
}

std::string readAll(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> cameraControlLines(const std::string &log)
{
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.find("CameraControl Error") != std::string::npos)
            lines.push_back(line);
    return lines;
}

std::string hex(const Bytes &bytes)
{
    std::string text;
    char byte[4];
    for (auto b : bytes) {
        std::snprintf(byte, sizeof byte, "%02x ", b);
        text += byte;
    }
    return text;
}

class Application {
public:
    Application(const std::string &binary, const std::string &cameras, const std::filesystem::path &work)
        : m_log((work / "log").string())
    {
        ::setenv("QUILLORA_VIRTUAL_CAMERAS", cameras.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
        ::unsetenv("QT_QPA_PLATFORM");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char *> argv{const_cast<char *>(binary.c_str()), nullptr};
        if (posix_spawn(&m_pid, binary.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Application()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        for (int i = 0; i < 50; ++i) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid)
                return;
            std::this_thread::sleep_for(100ms);
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    Application(const Application &) = delete;
    Application &operator=(const Application &) = delete;

    bool started() const { return m_pid > 0; }
    std::string log() const { return readAll(m_log); }

    // Waits for the main window and presses the keys in it.
    bool press(const std::string &keys)
    {
        std::string window;
        for (int i = 0; i < 150 && window.empty(); ++i) {
            window = run("xdotool search --onlyvisible --name '^Quillora Camera$' 2>/dev/null | head -n1");
            if (window.empty())
                std::this_thread::sleep_for(100ms);
        }
        if (window.empty())
            return false;
        run("xdotool windowactivate --sync " + window + " >/dev/null 2>&1 || xdotool windowfocus --sync " + window
            + " >/dev/null 2>&1");
        run("xdotool key --clearmodifiers --window " + window + " " + keys);
        return true;
    }

private:
    std::string m_log;
    pid_t m_pid = -1;
};

int failures = 0;
void fail(const std::string &what, const std::string &log)
{
    ++failures;
    std::cerr << "FAIL: " << what << "\n--- application log:\n" << log << "---\n";
}

std::vector<Bytes> controlUrbs(quillora::test::EmulatedWire &wire)
{
    std::lock_guard lock(wire.mutex);
    return wire.controlUrbs;
}

void focusWithTheEmulatedCamera(const std::string &binary, const std::filesystem::path &work)
{
    quillora::test::EmulatedCameraBed bed;
    if (!bed.error().empty())
        return fail("the emulated camera: " + bed.error(), {});
    Application app(binary, "Quillora Document Camera|UVC Camera VendorID_2316 ProductID_890|0x01420000090c037a", work);
    if (!app.started())
        return fail("cannot start " + binary, {});
    if (!app.press("ctrl+shift+f"))
        return fail("no main window", app.log());
    for (int i = 0; i < 100 && controlUrbs(bed.wire).size() < kFocusOnTheWire.size(); ++i)
        std::this_thread::sleep_for(100ms);
    std::this_thread::sleep_for(500ms); // anything more would come now
    const auto wire = controlUrbs(bed.wire);
    if (wire != kFocusOnTheWire) {
        std::string seen;
        for (const auto &urb : wire)
            seen += "  " + hex(urb) + "\n";
        return fail("the control transfers on the wire were:\n" + seen, app.log());
    }
    if (const auto lines = cameraControlLines(app.log()); !lines.empty())
        return fail("unexpected log line: " + lines.front(), app.log());
    std::cout << "emulated camera: the three SETUP packets reached usbfs\n";
}

void focusWithoutACamera(const std::string &binary, const std::filesystem::path &work)
{
    quillora::test::EmulatedCameraBed bed; // present, but no camera of a known model is chosen
    if (!bed.error().empty())
        return fail("the emulated camera: " + bed.error(), {});
    Application app(binary, "Virtual Document Camera|Virtual Camera|virtual-0", work);
    if (!app.started())
        return fail("cannot start " + binary, {});
    if (!app.press("ctrl+shift+f"))
        return fail("no main window", app.log());
    std::vector<std::string> lines;
    for (int i = 0; i < 100 && lines.empty(); ++i) {
        std::this_thread::sleep_for(100ms);
        lines = cameraControlLines(app.log());
    }
    std::this_thread::sleep_for(500ms);
    lines = cameraControlLines(app.log());
    if (lines != std::vector<std::string>{"CameraControl Error: No interface to send request"})
        return fail("expected exactly the line \"CameraControl Error: No interface to send request\"", app.log());
    if (!controlUrbs(bed.wire).empty())
        return fail("something reached the wire", app.log());
    std::cout << "no camera: exactly the one log line\n";
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " <quillora binary>\n";
        return 2;
    }
    const std::filesystem::path work
        = std::filesystem::temp_directory_path() / ("usb-focus-e2e-" + std::to_string(::getpid()));
    std::filesystem::create_directories(work / "config");
    focusWithTheEmulatedCamera(argv[1], work);
    focusWithoutACamera(argv[1], work);
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return failures == 0 ? 0 : 1;
}
