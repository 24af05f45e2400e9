// The Scope Setup dialog on the offscreen platform, on its own: what it makes of a set-up from a
// file, what it enables, how fields are read, and that OK during a recording stores nothing.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "WidgetTestSupport.h"
#include "dialogs/ScopeSetupDialog.h"
#include "engine/QlnState.h"
#include "system/Clock.h"
#include "text/Texts.h"

class ScopeSetupDialogTest : public QObject {
    Q_OBJECT
private slots:
    void aSetUpFromAFileIsShownWithinItsLimits();
    void enablingFollowsTheMode();
    void okStoresTheCopyAndSaysWhetherItChanged();
    void okDuringARecordingStoresNothing();
};

namespace {
struct Fixture {
    Fixture() : state(clock) {}
    ManualClock clock;
    QlnState state;
    TextSource texts;
    widget_test::RecordingBoxes boxes;
};
} // namespace

void ScopeSetupDialogTest::aSetUpFromAFileIsShownWithinItsLimits() {
    Fixture f;
    ScopeSetup s = DefaultScopeSetup();
    s.AcquisitionTime = 30;
    s.Binary[0] = 6;
    s.MasterSlave = 1;
    StoreScopeSetup(f.state, s);
    f.state.params.EditBlock.CONTROLLER_STRUCTURE = 7;
    CScopeSetupDialog dlg(nullptr, f.state, f.texts, f.boxes);
    QCOMPARE(dlg.Field(ScopeFieldKind::AcquisitionTime)->text(), QStringLiteral("20"));
    QCOMPARE(CopyScopeSetup(f.state).AcquisitionTime, 20); // stored at once, even if cancelled
    QCOMPARE(dlg.BinaryList(0)->currentText(), QStringLiteral("Digital Output"));
    QCOMPARE(dlg.BinaryList(3)->currentText(), QStringLiteral("Digital Input"));
    QVERIFY(!dlg.BinaryList(0)->isEnabled());
    QVERIFY(!dlg.BinaryList(3)->isEnabled());
    QCOMPARE(dlg.AnalogList(1)->itemText(2), QStringLiteral("Diff. Pressure(dP)"));
    QVERIFY2(dlg.SlaveButton(false)->isChecked(), "slave means nothing without cascaded control");
    QVERIFY(!dlg.SlaveButton(true)->isEnabled());
    QCOMPARE(dlg.Reported(0)->text(), QStringLiteral(" -- "));
    QCOMPARE(dlg.SampleRateList()->count(), 6);
    QCOMPARE(dlg.SampleRateList()->itemText(5), QStringLiteral("200"));
}

void ScopeSetupDialogTest::enablingFollowsTheMode() {
    Fixture f;
    CScopeSetupDialog dlg(nullptr, f.state, f.texts, f.boxes);
    dlg.ModeButton(0)->click();
    QVERIFY(!dlg.TriggerChannelList()->isEnabled());
    QVERIFY(dlg.Field(ScopeFieldKind::SetpointBegin)->isEnabled());
    QVERIFY(!dlg.Field(ScopeFieldKind::RampTime)->isEnabled());
    widget_test::Toggle(dlg.ModeButton(2)); // an assistive tool's choice acts as a click
    QVERIFY(dlg.TriggerChannelList()->isEnabled());
    dlg.TriggerChannelList()->setCurrentIndex(6);
    emit dlg.TriggerChannelList()->activated(6);
    QVERIFY2(dlg.SlopeButton(true)->isEnabled(), "binary trigger: slope");
    QVERIFY2(!dlg.Field(ScopeFieldKind::TriggerValue)->isEnabled(), "but no value");
    QVERIFY(!dlg.Field(ScopeFieldKind::SetpointBegin)->isEnabled());
}

void ScopeSetupDialogTest::okStoresTheCopyAndSaysWhetherItChanged() {
    Fixture f;
    {
        CScopeSetupDialog dlg(nullptr, f.state, f.texts, f.boxes);
        dlg.accept();
        QVERIFY(!dlg.Changed());
    }
    CScopeSetupDialog dlg(nullptr, f.state, f.texts, f.boxes);
    dlg.ModeButton(2)->click();
    dlg.TriggerChannelList()->setCurrentIndex(1);
    emit dlg.TriggerChannelList()->activated(1);
    dlg.Field(ScopeFieldKind::TriggerValue)->setText(QStringLiteral("150"));
    dlg.accept();
    QVERIFY(dlg.Changed());
    const ScopeSetup s = CopyScopeSetup(f.state);
    QCOMPARE(s.TriggerValue, 100);
    QCOMPARE(s.TriggerChannel, 1);
}

void ScopeSetupDialogTest::okDuringARecordingStoresNothing() {
    Fixture f;
    CScopeSetupDialog dlg(nullptr, f.state, f.texts, f.boxes);
    f.state.THREAD_CMD.store(CMD_ROLL_TRIGGER);
    dlg.ApplyEnabling();
    QVERIFY(!dlg.AnalogList(0)->isEnabled());
    QVERIFY(dlg.OkButton()->isEnabled());
    dlg.ModeButton(0)->setChecked(true);
    dlg.accept();
    QVERIFY(!dlg.Changed());
    QCOMPARE(CopyScopeSetup(f.state).Mode, 2);
    f.state.THREAD_CMD.store(0);
}

QTEST_MAIN(ScopeSetupDialogTest)
#include "ScopeSetupDialogTest.moc"
