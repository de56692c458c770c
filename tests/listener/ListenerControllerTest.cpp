// The listener inside the running application: start-up picks the variant from the chosen
// camera, a press of the camera's button writes a photo, the two-second hold drops a second
// press, and a focus click in between loses no press (quitting with the listener running is in
// the end-to-end check, button-e2e.sh). The USB side is the fake host; the picture
// comes from a virtual camera.
#include "FakeUsbHost.h"
#include "ListenerTestSupport.h"
#include "MatrixControl.h"
#include "PathControl.h"
#include "TestSupport.h"
#include "VemoViewController.h"
#include "WindowDefinition.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <mutex>

using namespace quillora;
using app::VemoViewController;
using app::WindowDefinition;
using test::ScopedEnv;
using test::waitUntil;
using usb::fake::FakeUsbHost;
using namespace std::chrono_literals;

namespace {

// What the application asks the desktop to open; photos open on the listener thread.
class OpenedFiles : public QObject {
    Q_OBJECT
public:
    OpenedFiles() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~OpenedFiles() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    int count()
    {
        std::lock_guard lock(m_mutex);
        return m_count;
    }
public Q_SLOTS:
    void open(const QUrl &)
    {
        std::lock_guard lock(m_mutex);
        ++m_count;
    }

private:
    std::mutex m_mutex; // guards m_count
    int m_count = 0;
};

constexpr std::array<std::uint8_t, 8> kReport{0x02, 0x01, 0x00, 0x01, 0, 0, 0, 0};

class ListenerInTheApplication : public ::testing::Test {
protected:
    QTemporaryDir out;
    OpenedFiles opened;
    test::QtMessages qtMessages;
    std::shared_ptr<FakeUsbHost> host = std::make_shared<FakeUsbHost>();
    std::unique_ptr<WindowDefinition> def;

    void TearDown() override
    {
        def.reset(); // the controller stops and joins its listener
        listener::WebcamProcessor::setSetup({});
        VemoViewController::setSnapshotHoldIntervalForTesting(2000);
    }

    void startApplication(const QByteArray &cameras)
    {
        listener::ListenerSetup setup;
        setup.makeHost = [h = host] { return h; };
        setup.startDelay = 100ms; // the seam: the application waits 3 s
        setup.sysRoot = setup.devRoot = "/nonexistent";
        listener::WebcamProcessor::setSetup(setup);
        def = std::make_unique<WindowDefinition>(qApp);
        {
            ScopedEnv env("QUILLORA_VIRTUAL_CAMERAS", cameras);
            def->awake();
        }
        VemoViewController &c = *def->controller();
        c.mPhotoPath->setURL(QUrl::fromLocalFile(out.path() + QLatin1Char('/')));
        c.mPhotoFilename->setText(QStringLiteral("Button"));
        c.mOverwrite->selectCellAtRow(1);
        c.mPhotoFormat->setCurrentIndex(0);
        c.mPhotoSize->setCurrentIndex(0);
    }
    int photos() const { return int(QDir(out.path()).entryList(QDir::Files).size()); }
    static bool armed(const usb::fake::FakeUsbInterface &i) { return i.isOpen() && i.pendingReads() == 1; }
};

TEST_F(ListenerInTheApplication, AQuilloraCameraGetsItsVariantAndItsButtonTakesPhotos)
{
    auto quillora = host->addDevice(0x090c, listener::kListenerProductIdQuillora, "Quillora", 0x01420000)
                        ->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
    auto classic = host->addDevice(0x090c, listener::kListenerProductId, "Classic", 0x01430000)
                       ->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
    startApplication("Quillora|UVC Camera VendorID_2316 ProductID_890|0x01420000090c037a");
    ASSERT_TRUE(def->controller()->quilloraDevice);
    VemoViewController::setSnapshotHoldIntervalForTesting(1000);
    ASSERT_TRUE(waitUntil([&] { return bool(def->controller()->currentFrame()); }));
    ASSERT_TRUE(waitUntil([&] { return armed(*quillora); }));
    EXPECT_EQ(classic->openCount(), 0);

    // A press: a photo, written and opened at once.
    QElapsedTimer pressed;
    pressed.start();
    ASSERT_TRUE(quillora->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return photos() == 1 && opened.count() == 1; }, 5s));
    RecordProperty("press_to_photo_ms", int(pressed.elapsed()));
    EXPECT_LT(pressed.elapsed(), 1500) << "a photo within moments of the press";

    // A second press within the hold: dropped.
    ASSERT_TRUE(waitUntil([&] { return armed(*quillora); }));
    ASSERT_TRUE(quillora->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return armed(*quillora); }));
    QTest::qWait(100);
    EXPECT_EQ(photos(), 1);

    // A focus click suspends and resumes the listener; the press after it is heard.
    def->controller()->focusClick(nullptr);
    ASSERT_TRUE(waitUntil([&] { return armed(*quillora); }));
    QTest::qWait(1000); // the hold is over
    ASSERT_TRUE(waitUntil([&] { return armed(*quillora); }));
    ASSERT_TRUE(quillora->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return photos() == 2; }, 5s));
}

TEST_F(ListenerInTheApplication, WithoutAKnownCameraThePlainVariantListens)
{
    auto classic = host->addDevice(0x090c, listener::kListenerProductId, "Classic", 0x01430000)
                       ->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
    auto quillora = host->addDevice(0x090c, listener::kListenerProductIdQuillora, "Quillora", 0x01420000)
                        ->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
    startApplication("");
    EXPECT_FALSE(def->controller()->quilloraDevice);
    // Focus during the wait changes nothing.
    def->controller()->focusClick(nullptr);
    EXPECT_EQ(listener::gListenerKilled.load(), 0);
    ASSERT_TRUE(waitUntil([&] { return armed(*classic); }));
    EXPECT_EQ(quillora->openCount(), 0);
    // No camera, no frame: a press takes no photo and breaks nothing.
    ASSERT_TRUE(classic->completeRead(usb::kUsbSuccess, kReport));
    ASSERT_TRUE(waitUntil([&] { return armed(*classic); }));
    EXPECT_EQ(photos(), 0);
}

} // namespace

#include "ListenerControllerTest.moc"
