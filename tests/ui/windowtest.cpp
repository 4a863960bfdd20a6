// The main window: start-up state, status texts, the scan's effect on the actions, loading,
// saving and exporting through the file dialogs, damaged and unfinished files, help, the virtual
// sensor's connection and the single-instance guard; the data view inside it; and the window on
// a 1280 x 720 screen (least sizes, controls in view, the layout kept from one start to the next).
#include <gtest/gtest.h>
#include <qwt_plot_curve.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "Platform.h"
#include "acquisition/pacing.h"
#include "acquisition/sensorhandler.h"
#include "data/iedfanalysis.h"
#include "data/recovery.h"
#include "data/recoveryjournal.h"
#include "datasetmaker.h"
#include "plots/multisensorspectrogramdisplay.h"
#include "plots/tarvoplot.h"
#include "qttestsupport.h"
#include "tempdir.h"
#include "ui/aboutdialog.h"
#include "ui/abouthardwaredialog.h"
#include "ui/datapropertiesdialog.h"
#include "ui/derivativechoicedialog.h"
#include "ui/graphcontrols.h"
#include "ui/instrumentpanel.h"
#include "ui/instrumentsettingsdialog.h"
#include "ui/maindataview.h"
#include "ui/mainwindow.h"
#include "ui/redrawlimiter.h"
#include "ui/scanwizard.h"
#include "ui/singleinstance.h"
#include "ui/topbanner.h"

namespace {

// Answers the next file dialog with `path` (empty: cancels it) and records "title|filters".
void answerFileDialog(modalScript& script, const QString& path, QString* title = nullptr) {
    script.on([](QWidget* w) { return qobject_cast<QFileDialog*>(w) != nullptr; },
              [path, title](QWidget* w) {
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
        const QString path = QString::fromStdString(dir.file(name));
        EXPECT_TRUE(makeDataSet(channels, 25, scans, 2)->save(path));
        return path;
    }

    bool enabled(const char* name) { return window->action(name)->isEnabled(); }

    TempDir dir{true};  // the controller writes its log in the working directory
    std::unique_ptr<mainWindow> window;
};

// What can be done follows the data: nothing to save or inspect at the start, no file work while
// a scan runs, all of it once the scan is done. The status bar says what the scan does.
TEST_F(WindowTest, ActionsAndStatusTextsFollowTheScan) {
    EXPECT_EQ(window->windowTitle(), "Kalder System");
    auto status = [&] {
        QStringList texts;
        for (const QLabel* label : window->statusLabels()) texts << label->text();
        return texts;
    };
    EXPECT_EQ(status(), QStringList({"", " No Sync Signal ", " Sweep Duration : - s ",
                                     " Scan Progress -% ", " Scan Nbr - "}));
    const QStringList actions = {
        "actionLoad",        "actionSave",       "actionSave_2",          "actionExport",
        "actionExportGraph", "actionInstrument", "actionFile_Properties", "actionInstrument_Info"};
    auto enabledOnes = [&] {
        QStringList on;
        for (const QString& name : actions) {
            if (enabled(name.toLatin1().constData()))
                on << name;
        }
        return on;
    };
    EXPECT_EQ(enabledOnes(), QStringList({"actionLoad"}));
    auto* data = makeDataSet(1, 20).release();
    ASSERT_TRUE(
        QMetaObject::invokeMethod(window.get(), "newScanStarted", Q_ARG(tarvoDataSet*, data)));
    EXPECT_EQ(window->dataView()->dataSet(), data);
    EXPECT_EQ(enabledOnes(), QStringList());
    EXPECT_EQ(window->banner()->scanLight(), topBanner::On);
    window->scanAdvancement(42);
    window->scanNumber(3);
    QMetaObject::invokeMethod(window.get(), "updateDuration", Q_ARG(double, 12.6));
    EXPECT_EQ(status().mid(2),
              QStringList({" Sweep Duration : 13 s ", " Progress : 42 % ", " Scan Nbr 3 "}));
    window->ARCounter(2.5);
    EXPECT_EQ(window->statusLabels()[4]->text(), " AR : 2.5 ");
    struct Case {
        double freq;
        int code;
        const char* text;
    };
    for (const Case& c :
         {Case{1234.9, 3, " Sync Freq : 1234 Hz "}, Case{0, 0, "Sensor Disconnected"},
          Case{0, -1, "No Sync Signal"}, Case{0, -2, "Sync freq too low"},
          Case{0, -3, "Sync freq too high"}, Case{0, -4, "No sync freq"},
          Case{0, -5, "No sync freq"}}) {  // below -4: the label stays
        QMetaObject::invokeMethod(window.get(), "syncFreq", Q_ARG(double, c.freq),
                                  Q_ARG(int, c.code));
        EXPECT_EQ(window->statusLabels()[1]->text(), c.text) << c.code;
    }
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "scanDone"));
    EXPECT_EQ(enabledOnes(), actions.mid(0, 7));
    EXPECT_EQ(window->banner()->scanLight(), topBanner::Off);
}

// Opening through the dialog fills the views; Save As asks for a kdf file and makes it the data
// set's own, Save then writes there without asking. Cancelled dialogs change nothing.
TEST_F(WindowTest, OpenSaveAsAndCancelledDialogs) {
    const QString original = writeDataFile("original.kdf", 13, 2);
    const QString copy = QString::fromStdString(dir.file("copy.kdf"));
    QString openTitle, saveTitle;
    modalScript script;
    answerFileDialog(script, original, &openTitle);
    answerFileDialog(script, QString());  // open
    answerFileDialog(script, QString());  // save as
    script.on("exportOptions", [](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    answerFileDialog(script, copy, &saveTitle);
    for (const char* action : {"actionLoad", "actionLoad", "actionSave", "actionExport"}) {
        window->action(action)->trigger();
    }
    EXPECT_EQ(openTitle, "Open File|Kalder Data Files (*.kdf);;Kalder Old Format (*.dat)");
    mainDataView* view = window->dataView();
    ASSERT_NE(view->dataSet(), nullptr);
    EXPECT_EQ(view->dataSet()->filePath(), original);
    EXPECT_EQ(view->channelCount(), 13);
    EXPECT_EQ(view->scanSelectorCount(), 2);
    EXPECT_EQ(view->selectedChannels(), QList<int>({0}));
    EXPECT_EQ(view->plot()->attachedCurveCount(), 2);
    EXPECT_EQ(window->statusLabels()[0]->text(), "original.kdf");
    EXPECT_EQ(QSettings().value("Settings/lastopenfile").toString(), original);
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList({"*.kdf", "*.csv", "*.h5"}),
              QStringList({"original.kdf"}));
    // Several channels at once in multi-channel mode; one again in single mode, stepping round.
    window->action("actionMulti_Channel_Select")->setChecked(true);
    view->selectChannels({0, 4, 12});
    EXPECT_EQ(view->plot()->attachedCurveCount(), 6);
    window->action("actionSingle_Channel_Select")->setChecked(true);
    EXPECT_EQ(view->selectedChannels(), QList<int>({0}));
    view->previousChannel();
    EXPECT_EQ(view->selectedChannels(), QList<int>({12}));

    window->action("actionSave")->trigger();
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(saveTitle, "Save|Kalder data file(*.kdf)");
    EXPECT_EQ(view->dataSet()->filePath(), copy);
    tarvoDataSet b(copy);
    ASSERT_EQ(b.scanCount(), 2);
    // The last sweep of the second scan, channel 9, step 7.
    EXPECT_EQ(b.sweepScans[1]->traces->at(1)->currents[8][7], knownCurrent(8, 3, 7));
    window->action("actionSave_2")->trigger();  // asks nothing
    EXPECT_TRUE(script.unexpected.isEmpty()) << script.unexpected.join(",").toStdString();
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

TEST_F(WindowTest, ExportWritesTheChosenFileType) {
    ASSERT_TRUE(window->loadFile(writeDataFile("data.kdf", 1, 2)));
    const struct {
        const char* file;
        std::function<void(QWidget*)> choose;
        QString title;
        std::string starts;
    } cases[] = {
        {"export.csv", [](QWidget* w) { w->findChild<QLineEdit*>("separator")->setText(";"); },
         "Export|comma separated value (*.csv)", "Time Averaged IV scan\n"},
        {"export.h5", [](QWidget* w) { w->findChild<QRadioButton*>("useHdf5")->setChecked(true); },
         "Export|HDF5 file (*.h5)", "\x89HDF\r\n\x1a\n"},
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
        EXPECT_EQ(readWholeFile(target.toStdString()).substr(0, c.starts.size()), c.starts);
    }
    // The CSV file with the separator chosen.
    EXPECT_NE(readWholeFile(dir.file("export.csv")).find("Frame ;2;Time;10"), std::string::npos);
}

// Help opens the guide only from the working directory; the guide is rendered beside the program.
TEST_F(WindowTest, HelpOpensTheGuide) {
    QList<QUrl> opened;
    mainWindow::setUrlOpener([&](const QUrl& url) {
        opened << url;
        return true;
    });
    window->action("actionHelp")->trigger();
    EXPECT_TRUE(opened.isEmpty());
    QFile guide(QString::fromStdString(dir.file("Kalder User Guide.pdf")));
    ASSERT_TRUE(guide.open(QIODevice::WriteOnly));
    guide.close();
    window->action("actionHelp")->trigger();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(QFileInfo(opened[0].toLocalFile()).canonicalFilePath(),
              QFileInfo(guide.fileName()).canonicalFilePath());
    mainWindow::setUrlOpener([](const QUrl&) { return false; });
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
    ASSERT_EQ(menu->actions().size(), 10);
    EXPECT_EQ(menu->actions()[3]->text(), "&4 f8.kdf");
    menu->actions()[3]->trigger();
    EXPECT_EQ(window->windowTitle(), "f8.kdf - Kalder System");
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

// A guard on keys of the tests' own (the program may be running on the same machine).
std::unique_ptr<singleInstanceGuard> newGuard() {
    auto key = [](const char* name) {
        return QStringLiteral("kalder-test-%1-%2")
            .arg(QCoreApplication::applicationPid())
            .arg(name);
    };
    return std::make_unique<singleInstanceGuard>(key("Tarvo"), key("Kalder"));
}

// Answers every question with `yes` and records it in `asked`.
std::function<bool(const QString&)> answering(QStringList& asked, bool yes) {
    return [&asked, yes](const QString& text) {
        asked << text;
        return yes;
    };
}

// The first instance asks nothing; a later start is asked about this program, and first about
// the old one when that runs too; No to either question ends it.
TEST(SingleInstance, AsksOnceForTheOldProgramAndOnceForThisOne) {
    QStringList asked;
    const auto first = newGuard();
    ASSERT_TRUE(first->acquire(answering(asked, false)));
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_TRUE(first->holdsKey());
    QSharedMemory oldProgram(
        QStringLiteral("kalder-test-%1-Tarvo").arg(QCoreApplication::applicationPid()));
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
    const struct { bool listening, takes; } cases[] = {{true, true}, {true, false}, {false, false}};
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
        EXPECT_EQ(later->handedOver(), c.takes);
        EXPECT_EQ(asked, c.takes ? QStringList{} : QStringList{OWN_QUESTION});
        EXPECT_EQ(received, c.listening
                                ? QStringList{QDir::current().absoluteFilePath("rel/run.kdf")}
                                : QStringList{});
    }
}

TEST_F(WindowTest, ResultLabelsUseTheRichTextForm) {
    mainDataView& view = *window->dataView();
    view.setDataSet(makeDataSet(7, 40).release());
    double energy = 0.0;
    {
        std::lock_guard<std::mutex> lock(view.dataSet()->mutex);
        energy = view.dataSet()->averageEnergy(0);
    }
    EXPECT_EQ(view.averageEnergyText(),
              QString("<html><head/><body><p><span style=\" font-size:14pt;\">%1 </span><span "
                      "style=\" font-size:9pt;\">eV</span></p></body></html>")
                  .arg(QString::number(energy, 'f', 1)));
    EXPECT_TRUE(view.ionFluxText().contains("A/m²"));
    EXPECT_EQ(view.peaksLabelText(), "none");  // straight currents have no peaks
    iedfPeaks two;
    two.peaks = {{19.53, 4.2e-8, 7.08}, {39.04, 3.1e-8, NAN}};
    two.separation = 19.51;
    const QString text = mainDataView::peaksText(two);
    for (const char* part : {"<b>Peak 1</b>", "19.5 eV", "7.1 eV", "4.2e-08 A/eV", "<b>Peak 2</b>",
                             "39.0 eV", ">-<", "\u0394E"}) {
        EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part << " in " << text.toStdString();
    }
}

// The scan selector picks the scan the trace plot shows, the newest one making the display
// follow new scans; the crop reaches the sweeps (a crop they cannot take leaves theirs).
TEST_F(WindowTest, ScanSelectionAndCrop) {
    mainDataView& view = *window->dataView();
    view.setDataSet(makeDataSet(1, 30, 3).release());
    tarvoDataSet* data = view.dataSet();
    auto* selector = view.findChild<QComboBox*>("scanSelector");
    ASSERT_EQ(selector->count(), 3);
    EXPECT_EQ(selector->currentIndex(), 2);
    view.selectMainScan(0);
    EXPECT_EQ(data->mainScanIndex, 0);
    // The first scan's first sweep (t = 0).
    EXPECT_DOUBLE_EQ(view.plot()->shownCurves()[0]->sample(3).y(), knownCurrent(0, 0, 3));
    view.selectMainScan(2);
    EXPECT_EQ(data->mainScanIndex, -1);

    view.updateCrop(2, 3);
    EXPECT_EQ(data->cropStart, 2);
    EXPECT_EQ(data->sweepScans[0]->traces->first()->cropStart, 2u);
    EXPECT_EQ(view.plot()->shownCurves()[0]->dataSize(), 25u);
    view.updateCrop(20, 15);
    EXPECT_EQ(data->sweepScans[0]->traces->first()->cropStart, 2u);
}

// A scan hands over an empty data set; its first data decide the page: temperatures open on
// the map, which offers only their type; IV data offer two value types.
TEST_F(WindowTest, TheFirstDataOfAScanChoosesThePage) {
    mainDataView& view = *window->dataView();
    auto* data = new tarvoDataSet(13, 4, -1);
    view.setDataSet(data);
    EXPECT_EQ(view.currentPage(), mainDataView::MainPlotPage);
    const double row[13] = {20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
    data->addTemperatureRow(row, 1.0, 13, 0);
    EXPECT_EQ(view.currentPage(), mainDataView::ContourPage);
    EXPECT_EQ(view.channelCount(), 13);
    auto* types = view.findChild<QComboBox*>("contourTypeSelector");
    ASSERT_EQ(types->count(), 1);
    EXPECT_EQ(types->itemText(0), "Temperature");
    EXPECT_EQ(view.contourMap()->dataType(), MultiSensorSpectrogramDisplay::Temperature);
    view.setDataSet(makeDataSet(13, 20).release());
    ASSERT_EQ(types->count(), 2);
    EXPECT_EQ(types->itemText(0), "Average Energy");
    view.switchContourDataType(1);
    EXPECT_EQ(view.contourMap()->dataType(), MultiSensorSpectrogramDisplay::IonFlux);
}

// The derivative method chosen; the data properties listing the settings map, with the flux
// factors of the sensors (those of the file, the default for the rest) to edit.
TEST_F(WindowTest, DialogsChangeTheDerivativeAndTheFluxFactors) {
    window->dataView()->setDataSet(makeDataSet(7, 20, 2, 3).release());
    tarvoDataSet* data = window->dataView()->dataSet();
    data->settingsMap["scanDate"] = "2026-01-02T03:04:05";
    data->settingsMap["biasEnd"] = "250";
    data->settingsMap["activeSensors"] = 3;
    data->settingsMap["ionFluxFactor"] = QVariantList{1000.0, 2000.0};
    data->settingsMap["tempBeta"] = QVariantList{3950.0, 3960.0, 3970.0};
    const int previous = ivTrace::derivativeMethod();
    modalScript script;
    script.on("derivativeChoiceDialog", [](QWidget* w) {
        w->findChild<QRadioButton*>("method4")->setChecked(true);
        QMetaObject::invokeMethod(w, "accept");
    });
    QStringList texts;
    script.on([](QWidget* w) { return qobject_cast<dataPropertiesDialog*>(w) != nullptr; },
              [&](QWidget* w) {
                  auto* dialog = qobject_cast<dataPropertiesDialog*>(w);
                  texts = dialog->texts();
                  ASSERT_EQ(dialog->fluxFactorEdits().size(), 3);
                  texts << dialog->fluxFactorEdits()[2]->text();
                  dialog->fluxFactorEdits()[2]->setText("4321");
                  dialog->accept();
              });
    window->action("actionDerivative_Options")->trigger();
    EXPECT_EQ(ivTrace::derivativeMethod(), 3);
    ivTrace::selectDerivativeMethod(previous);
    window->action("actionFile_Properties")->setEnabled(true);
    window->action("actionFile_Properties")->trigger();
    EXPECT_TRUE(script.finished());
    for (const char* line :
         {"Time Averaged IV Scan", "Scan started on : 2026-01-02T03:04:05", "Multi Scan", "2 scans",
          "3 traces per scan", "Current Channels : 7", "Voltage Channels : 4",
          "Bias grid voltages, Start : -10.0 V, Step : 1 V, End : 250 V",
          "Collector voltage : -60 V", "Suppression grid voltage : -60 V",
          "File Path :", "File Size : 0 bytes", "860000"}) {
        EXPECT_TRUE(texts.contains(line)) << line << "\n" << texts.join("\n").toStdString();
    }
    EXPECT_EQ(data->settingsMap.value("ionFluxFactor").toList(),
              QVariantList({1000.0, 2000.0, 4321.0}));
    // One scan of one trace, and at most 24 factors.
    auto one = makeDataSet(1, 20);
    one->settingsMap["activeSensors"] = 40;
    dataPropertiesDialog single(one.get());
    EXPECT_EQ(single.fluxFactorEdits().size(), 24);
    for (const char* line : {"Single Scan", "1 scan", "1 trace per scan"}) {
        EXPECT_TRUE(single.texts().contains(line)) << line;
    }
}

// The first request runs at once, later ones fold into one that waits for the interval (or
// now()); without an interval every request runs.
TEST(RedrawLimiter, RunsAtOnceThenFoldsRequests) {
    int runs = 0, every = 0;
    redrawLimiter hour([&] { ++runs; }, 3600 * 1000);
    redrawLimiter unlimited([&] { ++every; }, 0);
    for (int i = 0; i < 3; ++i) {
        hour.request();
        unlimited.request();
    }
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(every, 3);
    ASSERT_TRUE(hour.pending());
    hour.now();
    EXPECT_EQ(runs, 2);
    EXPECT_FALSE(hour.pending());
}

bool fitsSmallScreen(const QWidget* w) {
    const QSize least = w->minimumSizeHint().expandedTo(w->minimumSize());
    return least.width() <= 1280 && least.height() <= 720;
}

TEST_F(WindowTest, EveryDialogFitsASmallScreen) {
    // The largest forms: the time-resolved settings of the aspect-ratio family, a record of the
    // most probes, a data set of the most sensors with their temperature factors.
    scanWizard& wizard = window->panel()->wizard();
    wizard.settingsDialog().setAspectRatioFamily(true);
    wizard.settingsDialog().setTimeResolved(true);
    window->controller().nExtProbes = TolmarCntrl::MAX_TEMP_ROWS;
    instrumentSettingsDialog instrument(&window->controller());
    auto data = makeDataSet(1, 20);
    const QVariantList factors = QVector<QVariant>(dataPropertiesDialog::MAX_FACTORS, 1.0).toList();
    for (const char* key : {"ionFluxFactor", "tempBeta", "tempRo", "tempRs"}) {
        data->settingsMap[key] = factors;
    }
    dataPropertiesDialog properties(data.get());
    AboutDialog about;
    aboutHardwareDialog hardware;
    derivativeChoiceDialog derivative;
    for (QWidget* dialog : std::vector<QWidget*>{
             &wizard.selectionDialog(), &wizard.modeDialog(), &wizard.settingsDialog(),
             &wizard.preferences(), &window->panel()->idleDialog(), &instrument, &properties,
             &about, &hardware, &derivative, &window->exportDialog(), window->graphicControls()}) {
        EXPECT_TRUE(fitsSmallScreen(dialog))
            << dialog->metaObject()->className() << " " << dialog->minimumSizeHint().width()
            << " x " << dialog->minimumSizeHint().height();
    }
}

TEST_F(WindowTest, TheWindowFitsASmallScreenWithItsControlsInView) {
    EXPECT_TRUE(fitsSmallScreen(window.get()));
    window->resize(1280, 720);
    window->show();
    QApplication::processEvents();
    for (const char* name :
         {"idleVoltages", "enableHV", "setScanButton", "scanButton", "stopScanButton"}) {
        auto* control = window->panel()->findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << name;
        const QRect inWindow(control->mapTo(window.get(), QPoint(0, 0)), control->size());
        EXPECT_TRUE(window->rect().contains(inWindow)) << name;
        // Whole, not scrolled or clipped away.
        EXPECT_EQ(control->visibleRegion(), QRegion(control->rect())) << name;
    }
    // The trace plot has half the central area at least; with the monitor maximised it keeps
    // the height its axis titles need.
    QWidget* plot = window->dataView()->plot();
    EXPECT_GE(2 * plot->height(), window->centralWidget()->height());
    window->dataView()->switchPlotMode();
    QApplication::processEvents();
    EXPECT_GE(plot->height(), plot->minimumSizeHint().height());
    // The map keeps its square shape inside the low page, whole.
    window->dataView()->displayContour();
    QApplication::processEvents();
    auto* map = window->dataView()->findChild<QWidget*>("contourMap");
    EXPECT_EQ(map->width(), map->height());
    EXPECT_TRUE(map->parentWidget()->rect().contains(map->geometry()));
    // The tall service box scrolls within the panel instead of making the window taller.
    QMetaObject::invokeMethod(window->panel(), "toggleSecretDisplay");
    QApplication::processEvents();
    EXPECT_TRUE(fitsSmallScreen(window.get()));
}

TEST(WindowPlacement, FitOnScreen) {
    const QRect laptop(0, 0, 1366, 738);
    struct Case {
        QRect saved, available, fitted;
    };
    const Case cases[] = {
        {{100, 100, 800, 600}, laptop, {100, 100, 800, 600}},   // fits: unchanged
        {{0, 0, 1920, 1050}, laptop, {0, 0, 1366, 738}},        // from a larger monitor
        {{2000, 100, 800, 600}, laptop, {566, 100, 800, 600}},  // the second monitor gone
        {{-300, -50, 800, 600}, laptop, {0, 0, 800, 600}},      // above and left of it
        {{100, 0, 800, 800}, QRect(0, 30, 1366, 738), {100, 30, 800, 738}},  // task bar on top
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mainWindow::fitOnScreen(c.saved, c.available), c.fitted) << c.saved.x();
    }
}

// A first start asks for more than the test screen has and is maximised; the splitters are kept,
// and a window left far outside the screen (a monitor since unplugged) comes back onto it.
TEST_F(WindowTest, TheLayoutIsKeptFromOneStartToTheNext) {
    auto sizes = [](const mainWindow& w) {
        return w.findChild<QSplitter*>("workSplitter")->sizes() +
               w.findChild<QSplitter*>("plotSplitter")->sizes();
    };
    QList<int> kept;
    for (int start = 0; start < 3; ++start) {
        window = std::make_unique<mainWindow>(nullptr, false);
        window->restoreLayout();
        if (start == 2) {
            break;
        }
        EXPECT_TRUE(window->windowState() & Qt::WindowMaximized) << start;
        window->show();
        QApplication::processEvents();
        if (start == 0) {
            window->findChild<QSplitter*>("workSplitter")->setSizes({600, 500});
            window->findChild<QSplitter*>("plotSplitter")->setSizes({300, 150});
            kept = sizes(*window);
        } else {
            EXPECT_EQ(sizes(*window), kept);
            window->setWindowState(Qt::WindowNoState);
            window->setGeometry(3000, 2000, 1150, 560);
        }
        window->close();
    }
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window->geometry().topLeft())) << window->geometry().x();
}

}  // namespace
