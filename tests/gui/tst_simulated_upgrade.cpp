// A whole upgrade driven from the window's command line against the simulated bench: a demo
// power-controller package, the real upgrader, the message, and what the instrument holds.
#include <algorithm>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "GuiTestSupport.h"
#include "fwu/DemoPackage.h"
#include "fwu/FwuWriter.h"
#include "support/BenchFixture.h"

using namespace rovenza;
using namespace rovenza::guitest;

class SimulatedUpgradeTest : public QObject {
    Q_OBJECT
private slots:
    void powerControllerFromCommandLine();
};

void SimulatedUpgradeTest::powerControllerFromCommandLine() {
    const std::string serial = "PC000001";
    sim::SimulatedBench bench(BenchOf({BenchInstrument(sim::FamilyId::PowerController, serial)}));
    QVERIFY(bench.virtualClock() != nullptr);
    const std::vector<std::uint8_t> before = bench.instrument(serial).program();

    TempDir packages;
    const std::filesystem::path package = packages.path() / "vk101.fwu";
    WriteFwu(package, *DemoPackageMembers(kDemoVk101));

    WindowFixture fixture({"\\D", "VK101 Power Controller", "\\F", package.string(), "\\U"}, &CreateUpgrader, nullptr,
                          Backends{bench.driver(), bench.interfaces(), bench.clock()});
    fixture.recordingOperator.holdMessages = true;
    fixture.show();
    TMainForm& form = fixture.window();
    QVERIFY(form.UploadThread != nullptr);

    QVERIFY(SpinUntil([&] { return fixture.log.count("message Rovenza|Firmware upgrade successful!") == 1; }));
    // While the result is shown the upgrader is still there: the display shows its last stage.
    form.Timer1Timer();
    QCOMPARE(form.pbFWProcessing->value(), 99);
    QCOMPARE(form.lFWProcessing->text(), QStringLiteral("Uploading... (99%)"));
    fixture.recordingOperator.dismiss.open();
    QVERIFY(fixture.waitForUpgrades());
    QVERIFY(form.bUpload->isEnabled());
    fixture.closeWindow();

    const std::vector<std::uint8_t> image = DemoUsbPicImage();
    const std::vector<std::uint8_t>& program = bench.instrument(serial).program();
    QVERIFY(std::equal(program.begin() + 0x800, program.end(), image.begin() + 0x800));
    QVERIFY(std::equal(program.begin(), program.begin() + 0x800, before.begin()));
    QCOMPARE(bench.count("write", "BOOT_RESET"), std::size_t{1});
    QCOMPARE(bench.bench().openHandles(), std::size_t{0});
}

QTEST_MAIN(SimulatedUpgradeTest)
#include "tst_simulated_upgrade.moc"
