// The listener inside the running controller, with a virtual camera and the fake USB host:
// start-up picks the variant from the chosen camera, a press writes and opens a photo, the hold
// drops a second press, and a focus click in between loses no press.
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

using namespace quillora;
using app::VemoViewController;
using test::waitUntil;
using namespace std::chrono_literals;

namespace {

// Counts what the application asks the desktop to open (photos open from the listener thread).
class OpenedFiles : public QObject {
    Q_OBJECT
public:
    OpenedFiles() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~OpenedFiles() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    std::atomic<int> count{0};
public Q_SLOTS:
    void open(const QUrl &) { ++count; }
};

constexpr std::array<std::uint8_t, 8> kReport{0x02, 0x01, 0x00, 0x01, 0, 0, 0, 0};

class ListenerInTheApplication : public ::testing::Test {
protected:
    QTemporaryDir out;
    OpenedFiles opened;
    test::LogCapture log;
    std::shared_ptr<usb::fake::FakeUsbHost> host = std::make_shared<usb::fake::FakeUsbHost>();
    std::shared_ptr<usb::fake::FakeUsbInterface> quillora = addCamera(listener::kListenerProductIdQuillora, 0x01420000);
    std::shared_ptr<usb::fake::FakeUsbInterface> classic = addCamera(listener::kListenerProductId, 0x01430000);
    std::unique_ptr<app::WindowDefinition> def;

    void TearDown() override
    {
        def.reset(); // the controller stops and joins its listener
        listener::WebcamProcessor::setSetup({});
        VemoViewController::setSnapshotHoldIntervalForTesting(2000);
    }
    std::shared_ptr<usb::fake::FakeUsbInterface> addCamera(std::uint16_t product, std::uint32_t location)
    {
        return host->addDevice(0x090c, product, "Camera", location)
            ->addInterface(0, usb::kVideoInterfaceClass, usb::kVideoControlSubClass);
    }
    void startApplication(const QByteArray &cameras)
    {
        // The seam: the application waits 3 s.
        listener::WebcamProcessor::setSetup({[h = host] { return h; }, 100ms, "/nonexistent", "/nonexistent"});
        def = std::make_unique<app::WindowDefinition>(qApp);
        {
            test::ScopedEnv env("QUILLORA_VIRTUAL_CAMERAS", cameras);
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
    // Presses the button once the listener is armed, and waits until it is armed again.
    void press(usb::fake::FakeUsbInterface &camera)
    {
        ASSERT_TRUE(waitUntil([&] { return armed(camera); }));
        ASSERT_TRUE(camera.completeRead(usb::kUsbSuccess, kReport));
        ASSERT_TRUE(waitUntil([&] { return armed(camera); }));
    }
};

TEST_F(ListenerInTheApplication, AQuilloraCameraGetsItsVariantAndItsButtonTakesPhotos)
{
    startApplication("Quillora|UVC Camera VendorID_2316 ProductID_890|0x01420000090c037a");
    ASSERT_TRUE(def->controller()->quilloraDevice);
    VemoViewController::setSnapshotHoldIntervalForTesting(1000);
    ASSERT_TRUE(waitUntil([&] { return bool(def->controller()->currentFrame()); }));
    QElapsedTimer pressed;
    pressed.start();
    press(*quillora);
    ASSERT_TRUE(waitUntil([&] { return photos() == 1 && opened.count == 1; }, 5s));
    EXPECT_LT(pressed.elapsed(), 1500) << "a photo within moments of the press";
    EXPECT_EQ(classic->openCount(), 0);
    press(*quillora); // within the hold: dropped
    QTest::qWait(100);
    EXPECT_EQ(photos(), 1);
    def->controller()->focusClick(nullptr); // suspends and resumes the listener
    QTest::qWait(1000);                     // the hold is over
    press(*quillora);
    ASSERT_TRUE(waitUntil([&] { return photos() == 2; }, 5s));
}

// Without a known camera the plain variant listens; focus during the wait changes nothing, and
// a press with no picture takes no photo.
TEST_F(ListenerInTheApplication, WithoutAKnownCameraThePlainVariantListens)
{
    startApplication("");
    EXPECT_FALSE(def->controller()->quilloraDevice);
    def->controller()->focusClick(nullptr);
    EXPECT_EQ(listener::gListenerKilled.load(), 0);
    press(*classic);
    EXPECT_EQ(quillora->openCount(), 0);
    EXPECT_EQ(photos(), 0);
}

} // namespace

#include "ListenerControllerTest.moc"
