// The start button's whole run in the real window: the prompt, the scan of
// the ports, the update of a simulated unit, the closing message and the
// request to end the program. Every serial wait runs on the fake ports'
// virtual clock, so a whole update takes a fraction of a second. The window
// shows the sample release, whatever release the build embeds.
#include "device_model.h"
#include "device_peer.h"
#include "dump_file.h"
#include "expected_update.h"
#include "fake_comm.h"
#include "modal.h"
#include "release_fixture.h"
#include "uATU.h"
#include "uMSG.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using kronex::MessageCode;
using kronex::devsim::DeviceModel;
using kronex::devsim::Faults;
using kronex::test::commandsOf;
using Codes = std::vector<MessageCode>;

namespace {

const QString kSerialStatus = QStringLiteral("Número de série: 290A1BC2");
const QString kDoneStatus = QStringLiteral("Atualização concluída!");
const QString kWaitCaption = QStringLiteral("Aguarde...");
const QString kStartCaption = QStringLiteral("Iniciar");
constexpr int kProgressMax = 865;
// Bar position once all the work is done, before it is filled.
constexpr int kProgressOfTheWork = 1 + 72 + 1 + 626 + 85;
// Bar position after the main image, the erases and the whole data part.
constexpr int kProgressAfterTheData = 1 + 72 + 1 + 626;
// How long a message may stay up before the test gives up on it.
constexpr int kDialogPatienceMs = 3000;

const kronex::test::ExpectedUpdate& expected() {
    return kronex::test::expectedSampleUpdate();
}

using kronex::test::exchangeOf;

std::string fileText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> portsOpened(const kronex::test::FakeComm& comm) {
    std::vector<std::string> names;
    for (const auto& c : comm.callsNamed("CreateFileA"))
        names.push_back(c.port);
    return names;
}

std::vector<std::string> comNames(int first, int last) {
    std::vector<std::string> names;
    for (int n = first; n <= last; ++n)
        names.push_back(kronex::test::comName(n));
    return names;
}

// Takes the calls queued for the application object without running them
// and counts them. The window asks the event loop to end by queueing a
// quit there; running it here would end the test's own loops.
int takeQueuedApplicationCalls() {
    class Catcher : public QObject {
      public:
        int count = 0;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (watched != qApp || event->type() != QEvent::MetaCall)
                return false;
            ++count;
            return true;
        }
    } catcher;
    qApp->installEventFilter(&catcher);
    QCoreApplication::sendPostedEvents(qApp, QEvent::MetaCall);
    qApp->removeEventFilter(&catcher);
    return catcher.count;
}

// One showing of the message dialog: what it offered, what the main window
// showed behind it, and how it went away.
struct Shown {
    MessageCode code = 0;
    QString title;
    bool okEnabled = false;
    bool cancelEnabled = false;
    int bar = -1;
    QString status;
    int result = -1;     // the dialog's result once it closed
    bool gaveUp = false; // nobody closed it: the test's patience ran out
};

enum class Answer { Ok, Cancel, None };

// Answers the message dialog as a user would: once it is up, one click on a
// button. A message nobody closes is closed after a while as given up, so a
// hang fails the test instead of stalling it.
class Responder : public QObject {
  public:
    Responder(TfmMSG& dialog, const TfmATU& window) : dialog_(dialog), window_(window) {
        dialog_.installEventFilter(this);
        connect(&dialog_, &QDialog::finished, this, [this](int result) {
            if (!shown.empty())
                shown.back().result = result;
        });
        patience_.setSingleShot(true);
        connect(&patience_, &QTimer::timeout, this, [this] {
            if (!dialog_.isVisible() || shown.empty())
                return;
            shown.back().gaveUp = true;
            dialog_.done(kronex::test::Watchdog::kGaveUp);
        });
    }

    // Answers in order of showing; past the end, OK where it is enabled and
    // Cancelar otherwise.
    std::vector<Answer> script;
    std::vector<Shown> shown;

    Codes codes() const {
        Codes out;
        for (const Shown& s : shown)
            out.push_back(s.code);
        return out;
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &dialog_ && !event->spontaneous()) {
            if (event->type() == QEvent::Show)
                up();
            else if (event->type() == QEvent::Hide)
                patience_.stop();
        }
        return false;
    }

  private:
    void up() {
        Shown s;
        s.code = dialog_.message();
        s.title = dialog_.windowTitle();
        s.okEnabled = dialog_.Button1->isEnabled();
        s.cancelEnabled = dialog_.Button2->isEnabled();
        s.bar = window_.pbAND->value();
        s.status = window_.lbGG->text();
        shown.push_back(s);
        patience_.start(kDialogPatienceMs);

        const std::size_t index = shown.size() - 1;
        Answer answer = s.okEnabled ? Answer::Ok : Answer::Cancel;
        if (index < script.size())
            answer = script[index];
        if (answer == Answer::None)
            return;
        QPushButton* button = answer == Answer::Ok ? dialog_.Button1 : dialog_.Button2;
        // Run by the dialog's own loop, once it is up.
        QTimer::singleShot(0, this, [button] { QTest::mouseClick(button, Qt::LeftButton); });
    }

    TfmMSG& dialog_;
    const TfmATU& window_;
    QTimer patience_;
};

// The main window as one pass of the event loop found it during a run.
struct Sample {
    int bar = 0;
    QString caption;
    bool startEnabled = false;
    QString status;
    bool overrideCursor = false;
    bool visible = false;
};

} // namespace

class UpdateFlowTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void fullUpdateOfTheUnitOnTheThirdPort();
    void cancelAtThePromptTouchesNoPort();
    void noUnitAnywhereReportsOnceAndAllowsAnotherTry();
    void incompatibleUnitIsReportedOnEveryTryThenTheScanEnds();
    void unitAnsweringFromTheSeventhHandshakeIsUpdated();
    void silenceInTheDataPartStopsTheRunThere();
    void failedGuardedStepEndsTheRun_data();
    void failedGuardedStepEndsTheRun();
    void closingTheWindowMidUpdateLetsItFinish();

  private:
    DeviceModel& unitOn(int n, Faults faults = {});
    // Clicks "Iniciar" and returns once its handler has; the window is
    // sampled at every pass of the event loop meanwhile.
    void clickStart();
    void expectEndedWithoutSuccess(int bar);

    std::unique_ptr<QTemporaryDir> stateHome_;
    std::filesystem::path dumpFile_;
    std::unique_ptr<kronex::test::FakeComm> comm_;
    std::unique_ptr<kronex::SerialLink> link_;
    std::map<int, std::unique_ptr<DeviceModel>> units_;
    std::unique_ptr<TfmMSG> dialog_;
    std::unique_ptr<TfmATU> window_;
    std::unique_ptr<Responder> responder_;
    std::vector<Sample> samples_;
    std::function<void(const Sample&)> onSample_;
};

void UpdateFlowTest::init() {
    // The diagnostic file goes below the per-user state folder: a fresh one
    // for every case, so no case sees another's file.
    stateHome_ = std::make_unique<QTemporaryDir>();
    QVERIFY(stateHome_->isValid());
    qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome_->path()));
    dumpFile_ = kronex::dumpFilePath();
    QVERIFY(QString::fromStdString(dumpFile_.string()).startsWith(stateHome_->path() + "/"));

    comm_ = std::make_unique<kronex::test::FakeComm>();
    comm_->recordTransfers = false;
    link_ = std::make_unique<kronex::SerialLink>(*comm_);
    dialog_ = std::make_unique<TfmMSG>();
    window_ = std::make_unique<TfmATU>(*link_);
    window_->setMessageDialog(dialog_.get());
    responder_ = std::make_unique<Responder>(*dialog_, *window_);
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    window_->applyRelease(kronex::test::sampleRelease());
    QCOMPARE(window_->progressMax(), kProgressMax);
}

void UpdateFlowTest::cleanup() {
    takeQueuedApplicationCalls();
    responder_.reset();
    window_.reset();
    dialog_.reset();
    link_.reset();
    comm_.reset();
    units_.clear();
    samples_.clear();
    onSample_ = nullptr;
    while (QGuiApplication::overrideCursor() != nullptr)
        QGuiApplication::restoreOverrideCursor();
    stateHome_.reset();
}

DeviceModel& UpdateFlowTest::unitOn(int n, Faults faults) {
    auto& unit = units_[n] = std::make_unique<DeviceModel>(faults);
    comm_->port(n).peer = kronex::test::devicePeer(*unit);
    return *unit;
}

void UpdateFlowTest::clickStart() {
    // A zero-interval timer runs at every pass of the event loop, the
    // workflow's own pumps included. Passes inside a message's loop are left
    // out: the responder sees those.
    QTimer pass;
    connect(&pass, &QTimer::timeout, this, [this] {
        if (QApplication::activeModalWidget() != nullptr)
            return;
        const TfmATU& w = *window_;
        Sample s;
        s.bar = w.pbAND->value();
        s.caption = w.sbATU->text();
        s.startEnabled = w.sbATU->isEnabled();
        s.status = w.lbGG->text();
        s.overrideCursor = QGuiApplication::overrideCursor() != nullptr;
        s.visible = w.isVisible();
        samples_.push_back(s);
        if (onSample_)
            onSample_(s);
    });
    pass.start(0);
    QTest::mouseClick(window_->sbATU, Qt::LeftButton);
}

// A session that stopped at a failure: no message after the prompt, the
// window as the failure left it, no diagnostic file, and the program ends.
void UpdateFlowTest::expectEndedWithoutSuccess(int bar) {
    const TfmATU& w = *window_;
    QCOMPARE(responder_->codes(), Codes{kronex::MSG_INICIAR});
    QCOMPARE(w.pbAND->value(), bar);
    QCOMPARE(w.lbGG->text(), kSerialStatus);
    QCOMPARE(w.sbATU->text(), kWaitCaption);
    QVERIFY(!w.sbATU->isEnabled());
    QVERIFY(!std::filesystem::exists(dumpFile_));
    QVERIFY(w.terminationRequested());
    QCOMPARE(takeQueuedApplicationCalls(), 1);
    QCOMPARE(comm_->openHandles(), 0);
}

void UpdateFlowTest::fullUpdateOfTheUnitOnTheThirdPort() {
    comm_->port(1); // there, but nothing answers; COM2 does not exist
    DeviceModel& unit = unitOn(3);
    clickStart();
    const TfmATU& w = *window_;

    // The prompt, confirmed; then the completion message, confirmed, shown
    // over a full bar and the final status.
    const auto& shown = responder_->shown;
    QCOMPARE(responder_->codes(), (Codes{kronex::MSG_INICIAR, kronex::MSG_CONCLUIDO}));
    QCOMPARE(shown[0].title, QStringLiteral("Mensagem"));
    QVERIFY(shown[0].okEnabled && shown[0].cancelEnabled);
    QCOMPARE(shown[0].result, int(QDialog::Accepted));
    QCOMPARE(shown[1].title, QStringLiteral("Mensagem"));
    QVERIFY(shown[1].okEnabled);
    QVERIFY(!shown[1].cancelEnabled);
    QCOMPARE(shown[1].bar, kProgressMax);
    QCOMPARE(shown[1].status, kDoneStatus);
    QCOMPARE(shown[1].result, int(QDialog::Accepted));
    for (const Shown& s : shown)
        QVERIFY(!s.gaveUp);

    // While the unit is written: "Aguarde...", disabled, the serial number,
    // the arrow, and a bar that only moves forward.
    int working = 0;
    int lastBelowFull = -1;
    int previous = 0;
    for (const Sample& s : samples_) {
        QVERIFY(s.bar >= previous);
        previous = s.bar;
        if (s.bar < 1 || s.bar >= kProgressMax)
            continue;
        ++working;
        lastBelowFull = s.bar;
        QCOMPARE(s.caption, kWaitCaption);
        QVERIFY(!s.startEnabled);
        QCOMPARE(s.status, kSerialStatus);
        QVERIFY(!s.overrideCursor);
    }
    QVERIFY2(working > 500, qPrintable(QString::number(working)));
    QCOMPARE(lastBelowFull, kProgressOfTheWork);

    QCOMPARE(w.pbAND->value(), kProgressMax);
    QCOMPARE(w.pbAND->maximum(), kProgressMax);
    QCOMPARE(w.lbGG->text(), kDoneStatus);
    QCOMPARE(w.sbATU->text(), kWaitCaption);
    QVERIFY(!w.sbATU->isEnabled());
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    // The whole release went in, and the identity block as written is on disk.
    QCOMPARE(commandsOf(unit), expected().commands);
    const std::string dump = fileText(dumpFile_);
    QCOMPARE(dump.size(), std::size_t(384 + 2));
    QCOMPARE(dump, kronex::dumpText(expected().identity) + "\r\n");

    // Found on COM3 after eleven tries on COM1; nothing beyond was touched.
    QCOMPARE(portsOpened(*comm_), comNames(1, 3));
    QCOMPARE(comm_->port(1).sent, std::vector<std::uint8_t>(11, 0xBC));
    QCOMPARE(comm_->openHandles(), 0);

    // The program is to end now that the handler has returned.
    QVERIFY(w.terminationRequested());
    QCOMPARE(takeQueuedApplicationCalls(), 1);
    QVERIFY(w.isVisible());
}

void UpdateFlowTest::cancelAtThePromptTouchesNoPort() {
    unitOn(1);
    TfmATU& w = *window_;
    w.stepProgress(250);
    responder_->script = {Answer::Cancel};
    clickStart();

    QCOMPARE(responder_->codes(), Codes{kronex::MSG_INICIAR});
    QCOMPARE(responder_->shown[0].bar, 0);
    QCOMPARE(responder_->shown[0].result, int(QDialog::Rejected));
    QVERIFY(!responder_->shown[0].gaveUp);
    QVERIFY(comm_->calls.empty());
    QVERIFY(units_[1]->transcript().empty());

    QVERIFY(w.sbATU->isEnabled());
    QCOMPARE(w.sbATU->text(), kStartCaption);
    QCOMPARE(w.pbAND->value(), 0);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!w.terminationRequested());
    QCOMPARE(takeQueuedApplicationCalls(), 0);
}

void UpdateFlowTest::noUnitAnywhereReportsOnceAndAllowsAnotherTry() {
    for (int n = 1; n <= 16; ++n)
        comm_->port(n);
    TfmATU& w = *window_;
    // The end of a fruitless scan sets the caption, whatever it read before.
    w.setStartCaption("Aguarde...");
    clickStart();

    const auto& shown = responder_->shown;
    QCOMPARE(responder_->codes(), (Codes{kronex::MSG_INICIAR, kronex::MSG_PORTA}));
    QCOMPARE(shown[1].title, QStringLiteral("Erro de comunicação"));
    QVERIFY(!shown[1].okEnabled);
    QVERIFY(shown[1].cancelEnabled);
    QCOMPARE(shown[1].result, int(QDialog::Rejected));
    QVERIFY(!shown[1].gaveUp);
    QCOMPARE(portsOpened(*comm_), comNames(1, 16));
    QCOMPARE(comm_->now(), std::uint64_t(16 * 11 * 100)); // one read time-out per try
    QCOMPARE(comm_->openHandles(), 0);

    QVERIFY(w.sbATU->isEnabled());
    QCOMPARE(w.sbATU->text(), kStartCaption);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QVERIFY(!w.terminationRequested());
    QCOMPARE(takeQueuedApplicationCalls(), 0);

    // Another try starts from an empty bar and asks again.
    w.stepProgress(400);
    clickStart();
    QCOMPARE(responder_->codes(), (Codes{kronex::MSG_INICIAR, kronex::MSG_PORTA,
                                         kronex::MSG_INICIAR, kronex::MSG_PORTA}));
    QCOMPARE(shown[2].bar, 0);
    QCOMPARE(shown[2].title, QStringLiteral("Mensagem"));
    QCOMPARE(portsOpened(*comm_).size(), std::size_t(32));
    QVERIFY(w.sbATU->isEnabled());
    QCOMPARE(w.pbAND->value(), 0);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void UpdateFlowTest::incompatibleUnitIsReportedOnEveryTryThenTheScanEnds() {
    DeviceModel& unit = unitOn(1, Faults{.incompatible = true});
    clickStart();

    Codes codes{kronex::MSG_INICIAR};
    codes.insert(codes.end(), 11, kronex::MSG_VERSAO);
    codes.push_back(kronex::MSG_PORTA);
    QCOMPARE(responder_->codes(), codes);
    for (std::size_t i = 1; i <= 11; ++i) {
        const Shown& s = responder_->shown[i];
        QCOMPARE(s.title, QStringLiteral("Incompatibilidade de Versão"));
        QVERIFY(!s.okEnabled);
        QVERIFY(s.cancelEnabled);
        QVERIFY(!s.gaveUp);
    }
    QCOMPARE(responder_->shown.back().title, QStringLiteral("Erro de comunicação"));
    QCOMPARE(unit.handshakes(), 11);
    QCOMPARE(portsOpened(*comm_), comNames(1, 16));

    const TfmATU& w = *window_;
    QVERIFY(w.sbATU->isEnabled());
    QCOMPARE(w.sbATU->text(), kStartCaption);
    QCOMPARE(w.pbAND->value(), 0);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QVERIFY(!w.terminationRequested());
    QVERIFY(!std::filesystem::exists(dumpFile_));
}

void UpdateFlowTest::unitAnsweringFromTheSeventhHandshakeIsUpdated() {
    DeviceModel& unit = unitOn(1, Faults{.handshakeFrom = 7});
    clickStart();

    QCOMPARE(responder_->codes(), (Codes{kronex::MSG_INICIAR, kronex::MSG_CONCLUIDO}));
    const auto& t = unit.transcript();
    QVERIFY(t.size() >= 8);
    for (std::size_t i = 0; i < 6; ++i)
        QCOMPARE(t[i], std::string("HANDSHAKE unanswered"));
    QCOMPARE(t[6], std::string("HANDSHAKE"));
    QCOMPARE(t[7], std::string("READ t0 2000"));
    QCOMPARE(commandsOf(unit), expected().commands);
    QCOMPARE(window_->pbAND->value(), kProgressMax);
    QCOMPARE(window_->lbGG->text(), kDoneStatus);
    QVERIFY(std::filesystem::exists(dumpFile_));
    QVERIFY(window_->terminationRequested());
}

void UpdateFlowTest::silenceInTheDataPartStopsTheRunThere() {
    const int k = exchangeOf("DATA 0064+00"); // block 100
    QVERIFY(k > 0);
    DeviceModel& unit = unitOn(1, Faults{.silentFromExchange = k});
    clickStart();

    expectEndedWithoutSuccess(1 + 72 + 1 + 100);
    // The attention byte that went unanswered is the last byte sent.
    QCOMPARE(comm_->port(1).sent.back(), std::uint8_t(0x87));
    QCOMPARE(commandsOf(unit).size(), std::size_t(k - 1));
    QVERIFY(window_->isVisible());
}

void UpdateFlowTest::failedGuardedStepEndsTheRun_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("lastCommand");
    // The block of target 0 the failed read was to be the base of: it must
    // be left as the unit had it.
    QTest::addColumn<int>("keptBlock");

    QTest::newRow("read of the target-0 top block") << "READ t0 FF80" << 1 << "short"
                                                    << "READ t0 FF80 [short]" << 0xFF80;
    QTest::newRow("second read of the identity") << "READ t0 2000" << 2 << "cut"
                                                 << "READ t0 2000 [cut]" << 0x2000;
    QTest::newRow("write in the first target-1 segment") << "WRITE t1 1280" << 1 << "nak"
                                                         << "WRITE t1 1280 [nak]" << -1;
}

void UpdateFlowTest::failedGuardedStepEndsTheRun() {
    QFETCH(QString, command);
    QFETCH(int, occurrence);
    QFETCH(QString, fault);
    QFETCH(QString, lastCommand);
    QFETCH(int, keptBlock);

    const int k = exchangeOf(command.toStdString(), occurrence);
    QVERIFY(k > 0);
    Faults faults;
    if (fault == "short")
        faults.shortReplyAtExchange = k;
    else if (fault == "cut")
        faults.cutReplyAtExchange = k;
    else
        faults.nakAtExchange = k;
    DeviceModel& unit = unitOn(1, faults);
    const DeviceModel fresh;
    clickStart();

    expectEndedWithoutSuccess(kProgressAfterTheData);
    // The failed command is the last the unit got: nothing was written
    // from what a broken reply left behind.
    const auto commands = commandsOf(unit);
    QCOMPARE(commands.size(), std::size_t(k));
    QCOMPARE(QString::fromStdString(commands.back()), lastCommand);
    if (keptBlock >= 0) {
        const auto before = fresh.program(0).begin() + keptBlock;
        QVERIFY(std::equal(before, before + 128, unit.program(0).begin() + keptBlock));
    }
}

void UpdateFlowTest::closingTheWindowMidUpdateLetsItFinish() {
    DeviceModel& unit = unitOn(1);
    TfmATU& w = *window_;
    // The completion message is left alone: it must go by itself.
    responder_->script = {Answer::Ok, Answer::None};
    int barAtClose = -1;
    bool closed = true;
    bool visibleAfterClose = false;
    onSample_ = [&](const Sample& s) {
        if (barAtClose < 0 && s.bar > 300) {
            barAtClose = s.bar;
            closed = w.close();
            visibleAfterClose = w.isVisible();
        }
    };
    clickStart();

    QVERIFY(barAtClose > 300);
    QVERIFY(barAtClose < kProgressOfTheWork);
    QVERIFY(!closed);
    QVERIFY(visibleAfterClose);
    // The bar went on moving after the close, with the window on screen.
    int advancedAfterClose = 0;
    for (const Sample& s : samples_) {
        if (s.bar > barAtClose) {
            QVERIFY(s.visible);
            if (s.bar < kProgressMax)
                ++advancedAfterClose;
        }
    }
    QVERIFY(advancedAfterClose > 100);

    QCOMPARE(commandsOf(unit), expected().commands);
    QCOMPARE(w.pbAND->value(), kProgressMax);
    QCOMPARE(w.lbGG->text(), kDoneStatus);
    QVERIFY(std::filesystem::exists(dumpFile_));

    // The completion message came up and went again by itself, unconfirmed.
    const auto& shown = responder_->shown;
    QCOMPARE(responder_->codes(), (Codes{kronex::MSG_INICIAR, kronex::MSG_CONCLUIDO}));
    QCOMPARE(shown[1].title, QStringLiteral("Mensagem"));
    QVERIFY(!shown[1].gaveUp);
    QCOMPARE(shown[1].result, int(QDialog::Rejected));

    // Still on screen until the event loop ends the program.
    QVERIFY(w.isVisible());
    QVERIFY(w.terminationRequested());
    QCOMPARE(takeQueuedApplicationCalls(), 1);
}

QTEST_MAIN(UpdateFlowTest)
#include "update_flow_test.moc"
