// The main window: start-up state, menus and status texts, the scan's effect on the actions,
// loading, saving and exporting through the file dialogs, the virtual sensor's connection,
// help and web site, closing, and the single-instance guard.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "Platform.h"
#include "acquisition/pacing.h"
#include "acquisition/sensorhandler.h"
#include "data/recovery.h"
#include "data/recoveryjournal.h"
#include "datasetmaker.h"
#include "plots/tarvoplot.h"
#include "qttestsupport.h"
#include "tempdir.h"
#include "ui/instrumentpanel.h"
#include "ui/maindataview.h"
#include "ui/mainwindow.h"
#include "ui/singleinstance.h"
#include "ui/topbanner.h"

namespace {

bool isFileDialog(QWidget* w) {
    return qobject_cast<QFileDialog*>(w) != nullptr;
}

// Answers the next file dialog with `path` (empty: cancels it) and records its title.
void answerFileDialog(modalScript& script, const QString& path, QString* title = nullptr) {
    script.on(isFileDialog, [path, title](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (title) {
            *title = dialog->windowTitle() + "|" + dialog->nameFilters().join(";;");
        }
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
}

// Accepts the next message box and records "title|text".
void answerMessageBox(modalScript& script, QString* seen) {
    script.on([](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
              [seen](QWidget* w) {
                  auto* box = qobject_cast<QMessageBox*>(w);
                  *seen = box->windowTitle() + "|" + box->text();
                  box->accept();
              });
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings().clear();
        window = std::make_unique<mainWindow>(nullptr, false);
    }

    // Saves a known data set to dir and returns its path.
    QString writeDataFile(const std::string& name, int channels, int scans) {
        auto data = makeDataSet(channels, 25, scans, 2);
        const QString path = QString::fromStdString(dir.file(name));
        EXPECT_TRUE(data->save(path));
        return path;
    }

    bool enabled(const char* name) { return window->action(name)->isEnabled(); }

    TempDir dir;
    std::unique_ptr<mainWindow> window;
};

// What can be done follows the data: nothing to save or inspect at the start, no file work while
// a scan runs, all of it once the scan is done.
TEST_F(WindowTest, ActionsFollowTheDataAndTheScan) {
    EXPECT_EQ(window->windowTitle(), "Kalder System");
    QStringList status;
    for (const QLabel* label : window->statusLabels()) {
        status << label->text();
    }
    EXPECT_EQ(status, QStringList({"", " No Sync Signal ", " Sweep Duration : - s ",
                                   " Scan Progress -% ", " Scan Nbr - "}));
    EXPECT_EQ(window->description(), "No sensor connected");
    auto expectEnabled = [&](const char* stage, std::initializer_list<const char*> names, bool on) {
        for (const char* name : names) {
            EXPECT_EQ(enabled(name), on) << stage << " " << name;
        }
    };
    expectEnabled("start", {"actionLoad"}, true);
    expectEnabled("start",
                  {"actionSave", "actionSave_2", "actionExport", "actionExportGraph",
                   "actionFile_Properties", "actionInstrument_Info", "actionInstrument"},
                  false);

    auto* data = makeDataSet(1, 20).release();
    ASSERT_TRUE(
        QMetaObject::invokeMethod(window.get(), "newScanStarted", Q_ARG(tarvoDataSet*, data)));
    EXPECT_EQ(window->dataView()->dataSet(), data);
    expectEnabled("scan",
                  {"actionLoad", "actionSave", "actionSave_2", "actionExport", "actionExportGraph",
                   "actionInstrument"},
                  false);
    EXPECT_EQ(window->banner()->scanLight(), topBanner::On);
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "scanDone"));
    expectEnabled("done",
                  {"actionLoad", "actionSave", "actionSave_2", "actionExport", "actionExportGraph",
                   "actionInstrument", "actionFile_Properties"},
                  true);
    EXPECT_EQ(window->banner()->scanLight(), topBanner::Off);
}

TEST_F(WindowTest, StatusBarTexts) {
    QLabel* sync = window->statusLabels()[1];
    struct Case {
        double freq;
        int code;
        const char* text;
    };
    for (const Case& c :
         {Case{1234.9, 3, " Sync Freq : 1234 Hz "}, Case{0, 0, "Sensor Disconnected"},
          Case{0, -1, "No Sync Signal"}, Case{0, -2, "Sync freq too low"},
          Case{0, -3, "Sync freq too high"}, Case{0, -4, "No sync freq"},
          // Codes below -4 leave the label as it was.
          Case{0, -5, "No sync freq"}}) {
        QMetaObject::invokeMethod(window.get(), "syncFreq", Q_ARG(double, c.freq),
                                  Q_ARG(int, c.code));
        EXPECT_EQ(sync->text(), c.text) << c.code;
    }
    window->scanAdvancement(42);
    EXPECT_EQ(window->statusLabels()[3]->text(), " Progress : 42 % ");
    window->scanNumber(3);
    EXPECT_EQ(window->statusLabels()[4]->text(), " Scan Nbr 3 ");
    window->ARCounter(2.5);
    EXPECT_EQ(window->statusLabels()[4]->text(), " AR : 2.5 ");
    QMetaObject::invokeMethod(window.get(), "updateDuration", Q_ARG(double, 12.6));
    EXPECT_EQ(window->statusLabels()[2]->text(), " Sweep Duration : 13 s ");
}

TEST_F(WindowTest, LoadingAFileFillsTheViews) {
    const QString path = writeDataFile("run.kdf", 13, 3);
    modalScript script;
    QString title;
    answerFileDialog(script, path, &title);
    window->action("actionLoad")->trigger();
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(title, "Open File|Kalder Data Files (*.kdf);;Kalder Old Format (*.dat)");

    mainDataView* view = window->dataView();
    ASSERT_NE(view->dataSet(), nullptr);
    EXPECT_EQ(view->channelCount(), 13);
    EXPECT_EQ(view->scanSelectorCount(), 3);
    EXPECT_EQ(view->selectedChannels(), QList<int>({0}));
    EXPECT_EQ(view->plot()->attachedCurveCount(), 2);
    EXPECT_EQ(window->statusLabels()[0]->text(), "run.kdf");
    EXPECT_EQ(QSettings().value("Settings/lastopenfile").toString(), path);
    EXPECT_TRUE(enabled("actionSave"));

    // Several channels at once in multi-channel mode.
    window->action("actionMulti_Channel_Select")->setChecked(true);
    EXPECT_FALSE(view->singleChannelMode());
    view->selectChannels({0, 4, 12});
    EXPECT_EQ(view->plot()->attachedCurveCount(), 6);
    window->action("actionSingle_Channel_Select")->setChecked(true);
    EXPECT_EQ(view->selectedChannels(), QList<int>({0}));
    view->previousChannel();  // wraps round
    EXPECT_EQ(view->selectedChannels(), QList<int>({12}));
}

// Unreadable files keep the data shown and say so; a file cut short shows the scans complete
// before the cut, and says how many.
TEST_F(WindowTest, DamagedFiles) {
    const QString good = writeDataFile("good.kdf", 1, 1);
    ASSERT_TRUE(window->loadFile(good));
    tarvoDataSet* before = window->dataView()->dataSet();
    const std::string one = readWholeFile(good.toStdString());
    const std::string three = readWholeFile(writeDataFile("three.kdf", 1, 3).toStdString());
    auto truncated = [&](const char* name, const char* outcome) {
        return "Truncated File|The file " + QString::fromStdString(dir.file(name)) +
               " is truncated: it ends before its data do (a copy was interrupted or a disk was "
               "full).\n\n" +
               outcome;
    };
    const QString invalid = "Invalid File|File was corrupted and cannot be loaded.";
    struct Case {
        const char* name;
        std::string contents;
        int scans;  // shown; 0: the data shown before stay
        QString message;
    };
    const std::vector<Case> cases = {
        // Cut inside the header that follows the data marker: no scan is complete.
        {"truncated.kdf", one.substr(0, one.find("[DATA]") + 8 + 4 + 4 + 10), 0,
         truncated("truncated.kdf",
                   "No scan was complete before the cut; nothing could be loaded.")},
        {"garbage.kdf", std::string(4000, '\x5a'), 0, invalid},
        {"empty.kdf", std::string(), 0, invalid},
        // Cut in the last trace: every scan is shown, the last one without that trace.
        {"cut.kdf", three.substr(0, three.size() - 10), 3,
         truncated("cut.kdf",
                   "3 of its 3 scans were recovered; the data after the cut are missing.")}};
    for (const Case& c : cases) {
        const QString path = QString::fromStdString(dir.file(c.name));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.contents.data(), qint64(c.contents.size()));
        file.close();
        modalScript script;
        QString message;
        answerMessageBox(script, &message);
        EXPECT_EQ(window->loadFile(path), c.scans > 0) << c.name;
        EXPECT_EQ(message, c.message) << c.name;
        if (c.scans > 0) {
            EXPECT_EQ(window->dataView()->dataSet()->scanCount(), c.scans);
        } else {
            EXPECT_EQ(window->dataView()->dataSet(), before) << c.name;
        }
        EXPECT_EQ(window->statusLabels()[0]->text(), c.scans > 0 ? c.name : "good.kdf");
    }
}

// Runs that never ended, as their checkpoints left them: "Yes" turns one into an ordinary data
// file that the window shows, "No" leaves it for the next start, "Discard" removes it.
TEST_F(WindowTest, UnfinishedRunsAreOfferedAtStart) {
    const QString runs = QString::fromStdString(dir.file("runs"));
    ASSERT_TRUE(QDir().mkpath(runs));
    // The checkpoints of a process that has ended, as a crash leaves them.
    const pid_t writer = fork();
    if (writer == 0) {
        _exit(0);
    }
    ASSERT_GT(writer, 0);
    waitpid(writer, nullptr, 0);
    // Journals, and a whole file as earlier versions wrote it.
    auto leaveCheckpoint = [&](int channels, int minute, bool journal) {
        auto data = makeDataSet(channels, 25, 1, 2);
        const QDateTime started(QDate(2026, 12, 1), QTime(9, minute));
        QString path = recovery::fileName(runs, started, writer);
        const QVariantMap flags{{recovery::UNFINISHED_KEY, true},
                                {recovery::TYPE_KEY, "IV_TimeAveraged"},
                                {recovery::STARTED_KEY, started.toString(Qt::ISODate)},
                                {recovery::PROCESS_KEY, qint64(writer)}};
        if (journal) {
            EXPECT_TRUE(recoveryJournal(path).append(*data, flags));
        } else {
            path.replace(".kdj", ".kdf");
            EXPECT_TRUE(data->saveCopy(path, flags));
        }
        return path;
    };
    const QString kept = leaveCheckpoint(7, 1, false);
    const QString recovered = leaveCheckpoint(9, 2, true);
    const QString discarded = leaveCheckpoint(13, 3, true);

    modalScript script;
    for (QMessageBox::StandardButton answer :
         {QMessageBox::No, QMessageBox::Yes, QMessageBox::Discard}) {
        script.on([](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
                  [answer](QWidget* w) {
                      auto* box = qobject_cast<QMessageBox*>(w);
                      EXPECT_EQ(box->windowTitle(), "Recover unfinished measurement");
                      box->button(answer)->click();
                  });
    }
    EXPECT_EQ(window->offerRecovery({runs}), 1);
    EXPECT_TRUE(script.finished());

    EXPECT_TRUE(QFileInfo::exists(kept));
    EXPECT_FALSE(QFileInfo::exists(recovered));
    EXPECT_FALSE(QFileInfo::exists(discarded));
    ASSERT_TRUE(window->dataView()->dataSet());
    EXPECT_EQ(window->dataView()->dataSet()->nChannels, 9);
    EXPECT_EQ(window->lastFile(),
              QFileInfo(recovered).dir().filePath(
                  "recovered_" + QFileInfo(recovered).completeBaseName() + ".kdf"));
    tarvoDataSet onDisk(window->lastFile());
    EXPECT_FALSE(onDisk.settingsMap.contains(recovery::UNFINISHED_KEY));
    EXPECT_EQ(recovery::findUnfinishedRuns({runs}).size(), 1);
}

// Save As asks for a kdf file and makes it the data set's own; Save then writes there without
// asking. A cancelled dialog changes nothing.
TEST_F(WindowTest, SaveAsAndCancelledDialogs) {
    const QString original = writeDataFile("original.kdf", 9, 2);
    ASSERT_TRUE(window->loadFile(original));
    tarvoDataSet* before = window->dataView()->dataSet();
    {
        modalScript script;
        answerFileDialog(script, QString());  // open
        answerFileDialog(script, QString());  // save as
        script.on("exportOptions", [](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
        window->action("actionLoad")->trigger();
        window->action("actionSave")->trigger();
        window->action("actionExport")->trigger();
        EXPECT_TRUE(script.finished());
        EXPECT_TRUE(script.unexpected.isEmpty()) << script.unexpected.join(",").toStdString();
    }
    EXPECT_EQ(window->dataView()->dataSet(), before);
    EXPECT_EQ(window->dataView()->dataSet()->filePath(), original);
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::Files),
              QStringList({"original.kdf"}));

    const QString copy = QString::fromStdString(dir.file("copy.kdf"));
    {
        modalScript script;
        QString title;
        answerFileDialog(script, copy, &title);
        window->action("actionSave")->trigger();
        EXPECT_TRUE(script.finished());
        EXPECT_EQ(title, "Save|Kalder data file(*.kdf)");
    }
    EXPECT_EQ(window->dataView()->dataSet()->filePath(), copy);
    EXPECT_EQ(QSettings().value("mainDataView/fileTarget").toString(), copy);
    tarvoDataSet b(copy);
    ASSERT_EQ(b.scanCount(), 2);
    // The last sweep of the second scan, channel 9, step 7.
    EXPECT_EQ(b.sweepScans[1]->traces->at(1)->currents[8][7], knownCurrent(8, 3, 7));

    modalScript none;
    window->action("actionSave_2")->trigger();
    EXPECT_TRUE(none.seen.isEmpty());
}

TEST_F(WindowTest, ExportWritesTheChosenFileType) {
    ASSERT_TRUE(window->loadFile(writeDataFile("data.kdf", 1, 2)));
    const struct {
        const char* file;
        std::function<void(QWidget*)> choose;
        QString title;
        std::string starts;
        const char* targetKey;
    } cases[] = {
        {"export.csv", [](QWidget* w) { w->findChild<QLineEdit*>("separator")->setText(";"); },
         "Export|comma separated value (*.csv)", "Time Averaged IV scan\n",
         "mainDataView/csvTarget"},
        {"export.h5", [](QWidget* w) { w->findChild<QRadioButton*>("useHdf5")->setChecked(true); },
         "Export|HDF5 file (*.h5)", "\x89HDF\r\n\x1a\n", "mainDataView/hdf5Target"},
    };
    for (const auto& c : cases) {
        const QString target = QString::fromStdString(dir.file(c.file));
        modalScript script;
        QString title;
        script.on("exportOptions", [&c](QWidget* w) {
            c.choose(w);
            qobject_cast<QDialog*>(w)->accept();
        });
        answerFileDialog(script, target, &title);
        window->action("actionExport")->trigger();
        EXPECT_TRUE(script.finished()) << c.file;
        EXPECT_EQ(title, c.title);
        const std::string written = readWholeFile(target.toStdString());
        EXPECT_EQ(written.substr(0, c.starts.size()), c.starts) << c.file;
        EXPECT_EQ(QSettings().value(c.targetKey).toString(), target);
    }
    // The CSV file with the separator chosen, which is kept for the next export.
    const std::string csv = readWholeFile(dir.file("export.csv"));
    EXPECT_NE(csv.find("Frame ;2;Time;10"), std::string::npos);
    EXPECT_EQ(QSettings().value("exportOptions/separator").toString(), ";");
}

TEST_F(WindowTest, HelpOpensTheGuideFromTheWorkingDirectoryOnly) {
    QList<QUrl> opened;
    mainWindow::setUrlOpener([&](const QUrl& url) {
        opened << url;
        return true;
    });
    TempDir work(true);
    window->action("actionHelp")->trigger();
    EXPECT_TRUE(opened.isEmpty());
    QFile guide(QString::fromStdString(work.file("Kalder User Guide.pdf")));
    ASSERT_TRUE(guide.open(QIODevice::WriteOnly));
    guide.write("%PDF-1.4\n");
    guide.close();
    window->action("actionHelp")->trigger();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(QFileInfo(opened[0].toLocalFile()).canonicalFilePath(),
              QFileInfo(guide.fileName()).canonicalFilePath());
    window->action("actionCorvane_WebSite")->trigger();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[1], QUrl(mainWindow::WEB_SITE));
    mainWindow::setUrlOpener([](const QUrl&) { return false; });
}

TEST(UserGuide, IsRenderedToAPdfBesideTheProgram) {
    const std::string pdf = readWholeFile(KALDER_GUIDE_PDF);
    ASSERT_GT(pdf.size(), 10000u);
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    EXPECT_NE(pdf.find("%%EOF"), std::string::npos);
}

TEST_F(WindowTest, UnsavedDataIsOfferedForSavingBeforeItGoes) {
    const QString other = writeDataFile("other.kdf", 1, 1);
    const QString kept = QString::fromStdString(dir.file("kept.kdf"));
    using B = QMessageBox;
    const struct {
        const char* what;
        B::StandardButton answer;
        bool goesOn;
    } cases[] = {{"load", B::Cancel, false}, {"load", B::Discard, true},
                 {"load", B::Save, true},    {"close", B::Cancel, false},
                 {"close", B::Save, true},   {"scan", B::Cancel, false},
                 {"scan", B::Discard, true}};
    for (const auto& c : cases) {
        const std::string name = std::string(c.what) + " " + std::to_string(int(c.answer));
        QFile::remove(kept);
        window = std::make_unique<mainWindow>(nullptr, false);
        QMetaObject::invokeMethod(window.get(), "newScanStarted",
                                  Q_ARG(tarvoDataSet*, makeDataSet(1, 20).release()));
        QMetaObject::invokeMethod(window.get(), "scanDone");
        EXPECT_EQ(window->windowTitle(), "Unsaved scan - Kalder System") << name;
        modalScript script;
        script.on("unsavedDataBox", [&c](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            EXPECT_EQ(box->standardButtons(), B::Save | B::Discard | B::Cancel);
            box->button(c.answer)->click();
        });
        if (c.answer == B::Save) {
            answerFileDialog(script, kept);
        }
        const QString what = c.what;
        const bool goesOn = what == "load"    ? window->openFile(other)
                            : what == "close" ? window->close()
                                              : window->panel()->mayStartScan();
        EXPECT_TRUE(script.finished()) << name;
        EXPECT_TRUE(script.unexpected.isEmpty()) << name;
        EXPECT_EQ(goesOn, c.goesOn) << name;
        EXPECT_EQ(QFile::exists(kept), c.answer == B::Save) << name;
    }
    // Data from a file, or saved, goes without a question.
    ASSERT_TRUE(window->loadFile(other));
    modalScript none;
    EXPECT_TRUE(window->openFile(other));
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(none.seen.isEmpty());
}

TEST_F(WindowTest, TitleRecentFilesAndDroppedFiles) {
    QStringList files;
    for (int i = 0; i < 12; ++i) {
        files
            << QFileInfo(writeDataFile("f" + std::to_string(i) + ".kdf", 1, 1)).absoluteFilePath();
        ASSERT_TRUE(window->loadFile(files.last()));
    }
    EXPECT_EQ(window->windowTitle(), "f11.kdf - Kalder System");
    // The last ten, newest first, kept for the next start and offered in File.
    QStringList newest;
    for (int i = 11; i >= 2; --i) newest << files[i];
    EXPECT_EQ(QSettings().value("mainwindow/recentFiles").toStringList(), newest);
    auto* menu = window->findChild<QMenu*>("menuRecent");
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 10);
    EXPECT_EQ(menu->actions()[3]->text(), "&4 f8.kdf");
    menu->actions()[3]->trigger();
    EXPECT_EQ(window->windowTitle(), "f8.kdf - Kalder System");

    // A file gone from disk is reported and leaves the list.
    QFile::remove(files[5]);
    {
        modalScript script;
        QString told;
        answerMessageBox(script, &told);
        menu->actions()[6]->trigger();  // f5 is seventh now: 8, 11, 10, 9, 7, 6, 5
        EXPECT_TRUE(told.startsWith("Invalid File")) << told.toStdString();
    }
    EXPECT_FALSE(window->recentFiles().contains(files[5]));

    // A kdf file dropped on the window opens; other files are not taken.
    for (const auto& [path, taken] :
         {std::pair{files[0], true}, std::pair{QString::fromStdString(dir.file("a.txt")), false}}) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        EXPECT_EQ(enter.isAccepted(), taken) << path.toStdString();
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);
    }
    EXPECT_EQ(window->windowTitle(), "f0.kdf - Kalder System");
}

// The virtual sensor answers behind the real poll thread; the pauses of the poll thread and of
// the library run on a virtual clock.
TEST(WindowConnection, TheVirtualSensorConnectsAndSaysSo) {
    QSettings().clear();
    std::atomic<qint64> clock{0};
    pacing::setClock([&] { return clock.load(); },
                     [&](int ms) {
                         clock += ms;
                         std::this_thread::yield();
                     });
    const auto previousSleep = tolmar2::platform::setSleepFunction([](unsigned) {});
    qputenv("TOLMAR_LINK", "virtual");
    {
        mainWindow window;
        window.show();
        // The connection may be reported before a spy could be attached: wait for its effect,
        // the connect light, with the event loop running (bounded; no timing is checked).
        QSignalSpy connected(window.handler(), &sensorHandler::sensorConnection);
        for (int i = 0; i < 600 && window.banner()->connectLight() != topBanner::On; ++i) {
            connected.wait(100);
        }
        ASSERT_TRUE(window.handler()->isConnected());
        EXPECT_EQ(window.banner()->connectLight(), topBanner::On);
        EXPECT_EQ(window.banner()->linkNotice(), "Virtual Sensor");
        EXPECT_EQ(window.windowTitle(), "Kalder System - Virtual Sensor");
        EXPECT_TRUE(window.action("actionInstrument_Info")->isEnabled());
        EXPECT_TRUE(window.action("actionInstrument")->isEnabled());
        EXPECT_NE(window.description(), "No sensor connected");

        QMetaObject::invokeMethod(&window, "sensorDisconnected");
        EXPECT_EQ(window.windowTitle(), "Kalder System");
        EXPECT_FALSE(window.action("actionInstrument_Info")->isEnabled());
        EXPECT_EQ(window.description(), "No sensor connected");
    }
    qunsetenv("TOLMAR_LINK");
    tolmar2::platform::setSleepFunction(previousSleep);
    pacing::setClock({}, {});
}

const QString OLD_QUESTION = "Tarvo software already running. Open another instance?";
const QString OWN_QUESTION = "Kalder software already running. Open another instance?";

// Keys of the tests' own: the program may be running on the same machine.
QString guardKey(const char* name) {
    return QStringLiteral("kalder-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(name);
}

std::unique_ptr<singleInstanceGuard> newGuard() {
    return std::make_unique<singleInstanceGuard>(guardKey("Tarvo"), guardKey("Kalder"));
}

// Answers every question with `yes` and records it in `asked`.
std::function<bool(const QString&)> answering(QStringList& asked, bool yes) {
    return [&asked, yes](const QString& text) {
        asked << text;
        return yes;
    };
}

TEST(SingleInstance, AsksOnceForTheOldProgramAndOnceForThisOne) {
    // The first instance asks nothing and keeps its key.
    QStringList asked;
    const auto first = newGuard();
    ASSERT_TRUE(first->acquire(answering(asked, false)));
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_TRUE(first->holdsKey());

    // A later start is asked about this program, and first about the old one when that runs
    // too; No to either question ends it.
    QSharedMemory oldProgram(guardKey("Tarvo"));
    const struct {
        bool oldRuns, answer;
        QStringList asked;
    } cases[] = {{false, false, {OWN_QUESTION}},
                 {true, true, {OLD_QUESTION, OWN_QUESTION}},
                 {true, false, {OLD_QUESTION}}};
    for (const auto& c : cases) {
        if (c.oldRuns && !oldProgram.isAttached()) {
            ASSERT_TRUE(oldProgram.create(1));
        }
        asked.clear();
        EXPECT_EQ(newGuard()->acquire(answering(asked, c.answer)), c.answer);
        EXPECT_EQ(asked, c.asked);
    }
}

// A start with a file offers it to the running program first: taken, the start ends without a
// question; refused (a scan runs) or unanswered (no listener), the usual question comes and the
// file stays with the new start.
TEST(SingleInstance, HandsAFileToTheRunningProgram) {
    const struct {
        bool listening, takes, handed;
        QStringList asked;
    } cases[] = {
        {true, true, true, {}},
        {true, false, false, {OWN_QUESTION}},
        {false, false, false, {OWN_QUESTION}},
    };
    for (const auto& c : cases) {
        const auto running = newGuard();
        ASSERT_TRUE(running->acquire([](const QString&) { return false; }));
        QStringList received;
        if (c.listening) {
            ASSERT_TRUE(running->listen([&](const QString& path) {
                received << path;
                return c.takes;
            }));
        }
        EXPECT_FALSE(newGuard()->listen([](const QString&) { return true; }));  // holds no key

        // The later start blocks on the socket, so it runs in a thread of its own while this
        // one's event loop serves the running program.
        QStringList asked;
        bool acquired = true;
        std::atomic<bool> done{false};
        const auto later = newGuard();
        std::thread start([&] {
            acquired = later->acquire(answering(asked, false), QStringLiteral("rel/run.kdf"));
            done = true;
        });
        while (!done) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        start.join();
        EXPECT_FALSE(acquired);
        EXPECT_EQ(later->handedOver(), c.handed);
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(received, c.listening
                                ? QStringList{QDir::current().absoluteFilePath("rel/run.kdf")}
                                : QStringList{});
    }
}

}  // namespace
