// How the program ends, with the real event loop running.
#include "fake_comm.h"
#include "modal.h"
#include "uATU.h"
#include "uMSG.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using kronex::test::whenModalUp;

namespace {

constexpr int kHung = 2;

// Runs the application's event loop; a loop that does not end by itself
// within a few seconds answers kHung.
int runEventLoop() {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->done(QDialog::Rejected);
        QCoreApplication::exit(kHung);
    });
    guard.start(5000);
    return QApplication::exec();
}

} // namespace

class TerminationTest : public QObject {
    Q_OBJECT

  private slots:
    void closeDuringARunEndsWhenTheRunReturns();
    void closeWhileIdleEndsTheProgram();
};

void TerminationTest::closeDuringARunEndsWhenTheRunReturns() {
    kronex::test::FakeComm comm;
    kronex::SerialLink link(comm);
    TfmATU window(link);
    TfmMSG dialog;
    window.setMessageDialog(&dialog);
    window.show();

    bool refused = false;
    whenModalUp([&](QWidget&) {
        refused = !window.close();
        dialog.Button2->click();
    });
    QTimer::singleShot(0, [&] { QTest::mouseClick(window.sbATU, Qt::LeftButton); });
    QCOMPARE(runEventLoop(), 0);
    QVERIFY(refused);
    QVERIFY(window.terminationRequested());
}

void TerminationTest::closeWhileIdleEndsTheProgram() {
    kronex::test::FakeComm comm;
    kronex::SerialLink link(comm);
    TfmATU window(link);
    TfmMSG dialog;
    window.setMessageDialog(&dialog);
    window.show();
    QTimer::singleShot(0, [&] { window.close(); });
    QCOMPARE(runEventLoop(), 0);
}

QTEST_MAIN(TerminationTest)
#include "termination_test.moc"
