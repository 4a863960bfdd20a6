// Preferences, idle voltages, instrument settings and the channel-activation widget.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "qttestsupport.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"
#include "ui/idlevoltagesdialog.h"
#include "ui/instrumentsettingsdialog.h"
#include "ui/preferencesdialog.h"
#include "ui/sensoractivationwidget.h"

namespace {

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
};

TEST_F(DialogTest, PreferencesDefaultsAndStore) {
    preferencesDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Preferences");
    EXPECT_FALSE(dialog.useAutosave());
    EXPECT_FALSE(dialog.useAutoexport());
    EXPECT_EQ(dialog.targetPath(), "./autosave");
    EXPECT_EQ(dialog.filePrefix(), "");
    dialog.findChild<QCheckBox*>("useAutosave")->setChecked(true);
    dialog.findChild<QLineEdit*>("filePrefix")->setText("run");
    dialog.accept();
    QSettings s;
    EXPECT_TRUE(s.value("prefDialog/useAutosave").toBool());
    EXPECT_EQ(s.value("prefDialog/filePrefix").toString(), "run");
    EXPECT_EQ(s.value("prefDialog/targetPath").toString(), "./autosave");
}

TEST_F(DialogTest, AutosaveDirectoryIsCreatedOrRefused) {
    TempDir dir;
    const QString base = QString::fromStdString(dir.path());
    preferencesDialog dialog;

    // An existing directory is taken as it is.
    EXPECT_TRUE(dialog.setTargetPath(base));
    EXPECT_EQ(dialog.targetPath(), base);

    // A missing one is made, parents included.
    const QString nested = base + "/a/b/c";
    EXPECT_TRUE(dialog.setTargetPath(nested));
    EXPECT_TRUE(QFileInfo(nested).isDir());
    EXPECT_EQ(QSettings().value("prefDialog/targetPath").toString(), nested);

    // Below a plain file nothing can be made: reported, and the old path stays.
    QFile file(base + "/plain");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QString message;
    modalScript script;
    script.on([](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
              [&](QWidget* w) {
                  auto* box = qobject_cast<QMessageBox*>(w);
                  message = box->windowTitle() + "|" + box->text();
                  box->accept();
              });
    EXPECT_FALSE(dialog.setTargetPath(base + "/plain/sub"));
    EXPECT_EQ(message, "Tarvo|Failed create Directory\nError code: Cannot make path to '" + base +
                           "/plain/sub' autosave directory\n");
    EXPECT_EQ(dialog.targetPath(), nested);
}

TEST_F(DialogTest, IdleVoltagesAreClampedAtOnceAndSentInInstrumentOrder) {
    idleVoltagesDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Idle Voltages");
    for (const char* name : {"biasGridEdit", "supGridEdit", "collectorEdit", "secElSupEdit"}) {
        EXPECT_EQ(dialog.findChild<QLineEdit*>(name)->text(), "0.0") << name;
    }
    outputRanges r;
    r.output[0] = {-100.0, 20.0, 100.0};
    r.output[1] = {-150.0, 150.0, 13.1};
    r.output[2] = {-60.0, 60.0, 1000.0};
    dialog.setRanges(r);
    struct Case {
        const char* name;
        const char* typed;
        const char* shown;
    };
    const Case cases[] = {{"biasGridEdit", "70", "60.000"},     {"biasGridEdit", "-61", "-60.000"},
                          {"collectorEdit", "151", "150.000"},  {"supGridEdit", "25", "20.000"},
                          {"secElSupEdit", "-101", "-100.000"}, {"secElSupEdit", "-5", "-5"}};
    for (const Case& c : cases) {
        dialog.findChild<QLineEdit*>(c.name)->setText(c.typed);
        EXPECT_EQ(dialog.findChild<QLineEdit*>(c.name)->text(), c.shown) << c.name;
    }
    dialog.findChild<QLineEdit*>("biasGridEdit")->setText("10");
    dialog.findChild<QLineEdit*>("collectorEdit")->setText("-40");
    dialog.findChild<QLineEdit*>("supGridEdit")->setText("-30");
    EXPECT_DOUBLE_EQ(dialog.suppressorGrid(), -30.0);
    dialog.accept();
    QSettings s;
    EXPECT_EQ(s.value("IdleVoltagesDialog/biasGrid").toString(), "10");
    EXPECT_EQ(s.value("IdleVoltagesDialog/suppressorGrid").toString(), "-30");
    EXPECT_EQ(s.value("IdleVoltagesDialog/secondaryElectronSuppression").toString(), "-5");
}

TEST_F(DialogTest, InstrumentSettingsEditThePerProbeTable) {
    TempDir dir(true);
    auto unit = std::make_unique<TolmarCntrl>();
    unit->nExtProbes = 2;
    const double rows[2][4] = {{3950.0, 10000.0, 49900.0, 1e6},
                               {3900.0, 12000.0, 50100.0, 870000.0}};
    for (int r = 0; r < 2; ++r) {
        for (int k = 0; k < 4; ++k) unit->tempCoef[r][k] = rows[r][k];
    }
    instrumentSettingsDialog dialog(unit.get());
    EXPECT_EQ(dialog.windowTitle(), "Instrument Settings");
    QList<QLineEdit*> edits = dialog.findChildren<QLineEdit*>();
    ASSERT_EQ(edits.size(), 8);
    // Row order: flux, beta, Ro, Rs.
    EXPECT_EQ(edits[0]->text(), "1e+06");
    EXPECT_EQ(edits[1]->text(), "3950");
    EXPECT_EQ(edits[2]->text(), "10000");
    EXPECT_EQ(edits[3]->text(), "49900");
    // What a field shows can be edited by typing: 1e+06 becomes 1e+07.
    edits[0]->end(false);
    QTest::keyClick(edits[0], Qt::Key_Backspace);
    QTest::keyClicks(edits[0], "7");
    EXPECT_EQ(edits[0]->text(), "1e+07");
    EXPECT_TRUE(edits[0]->hasAcceptableInput());
    edits[4]->setText("900000");
    edits[5]->setText("4000");
    // Not connected: the record cannot be written, but the table holds the new values.
    EXPECT_NE(dialog.writeRecord(), 1);
    EXPECT_DOUBLE_EQ(unit->tempCoef[1][3], 900000.0);
    EXPECT_DOUBLE_EQ(unit->tempCoef[1][0], 4000.0);
    EXPECT_DOUBLE_EQ(unit->tempCoef[0][3], 1e7);
}

TEST(SensorActivation, OneButtonPerProbeAndAllOthersOn) {
    sensorActivationWidget widget;
    widget.configure(20, 13, 4, 2);
    EXPECT_EQ(widget.channelCount(), 13);
    widget.findChild<QToolButton*>("channel3")->setChecked(false);
    QVector<bool> enabled = widget.enabledChannels();
    ASSERT_EQ(enabled.size(), 24);
    EXPECT_FALSE(enabled[2]);
    EXPECT_EQ(enabled.count(false), 1);
    widget.configure(2, 1, 0, 0);  // a new unit: buttons rebuilt, all on
    EXPECT_EQ(widget.channelCount(), 1);
    EXPECT_EQ(widget.enabledChannels().count(false), 0);
}

}  // namespace
