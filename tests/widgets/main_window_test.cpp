// The main window after start-up and on the paths that need no unit. Start-up
// shows whatever release the build embeds; the tests that need a long module
// list show the sample release.
#include "embedded_release.h"
#include "fake_comm.h"
#include "loaded_catalog.h"
#include "modal.h"
#include "release_fixture.h"
#include "uATU.h"
#include "uMSG.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <limits>
#include <memory>

using kronex::test::Watchdog;
using kronex::test::whenModalUp;

namespace {

QStringList moduleListLines(const TfmATU& window) {
    return window.mmA->toPlainText().split(QLatin1Char('\n'));
}

QColor pixel(QWidget* widget, int x, int y) {
    return widget->grab().toImage().pixelColor(x, y);
}

kronex::LoadedCatalog embeddedCatalog() {
    return std::get<kronex::LoadedCatalog>(kronex::loadCatalog(kronex::embeddedRelease()));
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void windowAfterStart();
    void controlsAfterStart();
    void moduleListAfterStart();
    void laterActivationsDoNotReload();
    void cancelAtThePromptReturnsToIdle();
    void showMsgAnswersOkOnly();
    void progressStepsAreClamped();
    void busyCursorIsAStateNotAStack();
    void moduleListCanBeScrolledNotEditedOrTabbedInto();
    void closeDuringARunIsDeferred();
    void closeWhileIdleCloses();
    void brokenReleaseKeepsTheButtonDisabled();

  private:
    kronex::test::FakeComm comm_;
    kronex::SerialLink link_{comm_};
    std::unique_ptr<TfmATU> window_;
    std::unique_ptr<TfmMSG> dialog_;
};

void MainWindowTest::init() {
    window_ = std::make_unique<TfmATU>(link_);
    dialog_ = std::make_unique<TfmMSG>();
    window_->setMessageDialog(dialog_.get());
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

void MainWindowTest::cleanup() {
    window_.reset();
    dialog_.reset();
    while (QGuiApplication::overrideCursor() != nullptr)
        QGuiApplication::restoreOverrideCursor();
}

void MainWindowTest::windowAfterStart() {
    TfmATU& w = *window_;
    QCOMPARE(w.objectName(), QStringLiteral("fmATU"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Atualização KRONEX"));
    QCOMPARE(w.size(), QSize(349, 537));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    const Qt::WindowFlags flags = w.windowFlags();
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QCOMPARE(w.font().family(), QStringLiteral("Arial"));
    QCOMPARE(w.font().pixelSize(), 11);
    QVERIFY(w.release() != nullptr);
    // Nothing holds the keyboard focus after the load.
    QCOMPARE(w.focusWidget(), nullptr);
    QCOMPARE(QApplication::focusWidget(), nullptr);
    // Centred on the screen.
    const QPoint offset = w.frameGeometry().center() - w.screen()->availableGeometry().center();
    QVERIFY(offset.manhattanLength() <= 1);
}

void MainWindowTest::controlsAfterStart() {
    TfmATU& w = *window_;
    struct Placed {
        QWidget* control;
        QWidget* parent;
        QRect geometry;
    };
    const Placed placed[] = {
        {w.Panel1, &w, QRect(0, 0, 349, 41)},      {w.Panel2, &w, QRect(0, 41, 349, 368)},
        {w.mmA, w.Panel2, QRect(1, 1, 347, 366)},  {w.Panel9, &w, QRect(0, 409, 349, 128)},
        {w.sbATU, w.Panel9, QRect(6, 6, 334, 60)}, {w.pbAND, w.Panel9, QRect(6, 89, 330, 24)},
    };
    for (const Placed& p : placed) {
        QCOMPARE(p.control->parentWidget(), p.parent);
        QCOMPARE(p.control->geometry(), p.geometry);
    }
    // The captions keep their design boxes, which may only grow leftwards
    // where the font draws wider than Arial on Windows: the right edge stays.
    const Placed captions[] = {
        {w.Label3, w.Panel1, QRect(10, 4, 65, 14)},
        {w.Label4, w.Panel1, QRect(49, 18, 26, 14)},
    };
    for (const Placed& c : captions) {
        QCOMPARE(c.control->parentWidget(), c.parent);
        const QRect at = c.control->geometry();
        QCOMPARE(at.right(), c.geometry.right());
        QCOMPARE(at.top(), c.geometry.top());
        QCOMPARE(at.height(), c.geometry.height());
        QVERIFY(at.left() <= c.geometry.left());
        QVERIFY(at.left() >= c.geometry.left() - 3);
    }
    QCOMPARE(w.lbATU->pos(), QPoint(83, 4));
    QCOMPARE(w.lbDATA->pos(), QPoint(83, 18));
    QCOMPARE(w.lbGG->pos(), QPoint(10, 69));
    // Every label shows its whole text; the captions end at 75.
    for (QLabel* label : {w.lbATU, w.lbDATA, w.lbGG})
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->objectName()));
    for (QLabel* label : {w.Label3, w.Label4}) {
        const QFontMetrics metrics = label->fontMetrics();
        QVERIFY2(metrics.tightBoundingRect(label->text()).width() <= label->width() &&
                     metrics.horizontalAdvance(label->text()) <= label->width(),
                 qPrintable(label->objectName()));
        QVERIFY(label->alignment() & Qt::AlignRight);
    }

    QCOMPARE(w.Label3->text(), QStringLiteral("Atualização:"));
    QCOMPARE(w.Label4->text(), QStringLiteral("Data:"));
    const auto release = embeddedCatalog();
    QCOMPARE(w.lbATU->text(), QString::fromStdString(release.releaseCaption));
    QCOMPARE(w.lbDATA->text(), QString::fromStdString(release.releaseDate));
    QCOMPARE(w.lbGG->text(), QStringLiteral("Atualização não executada"));
    QCOMPARE(w.sbATU->text(), QStringLiteral("Iniciar"));
    QVERIFY(w.sbATU->isEnabled());
    QCOMPARE(w.sbATU->font().pixelSize(), 16);
    QCOMPARE(w.sbATU->focusPolicy(), Qt::NoFocus);
    QCOMPARE(w.pbAND->value(), 0);
    QCOMPARE(w.pbAND->minimum(), 0);
    QCOMPARE(w.pbAND->maximum(), release.progressMax);
    QCOMPARE(w.progressMax(), release.progressMax);
    QVERIFY(!w.pbAND->isTextVisible());

    // Colours as drawn, away from any text.
    QCOMPARE(pixel(w.Panel1, 340, 30), QColor(0, 0, 128));
    QCOMPARE(w.Label3->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    QCOMPARE(w.lbATU->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    QWidget* viewport = w.mmA->viewport();
    QCOMPARE(pixel(viewport, viewport->width() - 2, viewport->height() - 2), QColor(255, 255, 204));
}

void MainWindowTest::moduleListAfterStart() {
    const QStringList lines = moduleListLines(*window_);
    const auto expected = embeddedCatalog().moduleLines;
    QCOMPARE(lines.size(), qsizetype(expected.size()));
    for (qsizetype i = 0; i < lines.size(); ++i)
        QCOMPARE(lines[i], QString::fromStdString(expected[static_cast<std::size_t>(i)]));
    // The list opens at its first module.
    QCOMPARE(window_->mmA->verticalScrollBar()->value(), 0);
}

void MainWindowTest::laterActivationsDoNotReload() {
    TfmATU& w = *window_;
    w.applyRelease(kronex::test::sampleRelease()); // 41 lines: the list scrolls
    QScrollBar* bar = w.mmA->verticalScrollBar();
    QVERIFY(bar->maximum() > 5);
    bar->setValue(5);

    // A message comes and goes.
    whenModalUp([&](QWidget&) { dialog_->Button2->click(); });
    Watchdog watchdog;
    w.SHOW_MSG(kronex::MSG_PORTA);
    QVERIFY(!watchdog.fired());
    // Another application takes the focus and gives it back.
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));

    QCOMPARE(bar->value(), 5);
    QCOMPARE(moduleListLines(w).size(), 41);
}

void MainWindowTest::cancelAtThePromptReturnsToIdle() {
    TfmATU& w = *window_;
    w.stepProgress(300);

    QString title;
    bool buttonEnabled = true;
    int barDuringPrompt = -1;
    bool running = false;
    Qt::CursorShape cursorDuringPrompt = Qt::BitmapCursor;
    whenModalUp([&](QWidget&) {
        title = dialog_->windowTitle();
        buttonEnabled = w.sbATU->isEnabled();
        barDuringPrompt = w.pbAND->value();
        running = w.running();
        if (const QCursor* cursor = QGuiApplication::overrideCursor())
            cursorDuringPrompt = cursor->shape();
        QTest::mouseClick(dialog_->Button2, Qt::LeftButton);
    });
    Watchdog watchdog;
    QTest::mouseClick(w.sbATU, Qt::LeftButton);
    QVERIFY(!watchdog.fired());

    QCOMPARE(title, QStringLiteral("Mensagem"));
    QVERIFY(!buttonEnabled);
    QCOMPARE(barDuringPrompt, 0);
    QVERIFY(running);
    QCOMPARE(cursorDuringPrompt, Qt::ArrowCursor);

    QVERIFY(w.sbATU->isEnabled());
    QCOMPARE(w.sbATU->text(), QStringLiteral("Iniciar"));
    QCOMPARE(w.pbAND->value(), 0);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QVERIFY(!w.running());
    QVERIFY(!w.terminationRequested());
    QVERIFY(w.isVisible());
}

void MainWindowTest::showMsgAnswersOkOnly() {
    TfmATU& w = *window_;
    const auto answer = [&](kronex::MessageCode code, QPushButton* button) {
        whenModalUp([button](QWidget&) { QTest::mouseClick(button, Qt::LeftButton); });
        Watchdog watchdog;
        const bool result = w.SHOW_MSG(code);
        return !watchdog.fired() && result;
    };
    QVERIFY(answer(kronex::MSG_INICIAR, dialog_->Button1));
    QVERIFY(!answer(kronex::MSG_INICIAR, dialog_->Button2));
    QVERIFY(!answer(kronex::MSG_PORTA, dialog_->Button2));
    QVERIFY(!answer(kronex::MSG_VERSAO, dialog_->Button2));
    QVERIFY(answer(kronex::MSG_CONCLUIDO, dialog_->Button1));
}

void MainWindowTest::progressStepsAreClamped() {
    TfmATU& w = *window_;
    w.setProgressMax(865);
    const int max = w.progressMax();
    w.stepProgress(100);
    QCOMPARE(w.pbAND->value(), 100);
    w.stepProgress(0);
    QCOMPARE(w.pbAND->value(), 100);
    w.stepProgress(-max);
    QCOMPARE(w.pbAND->value(), 0);
    w.stepProgress(-1);
    QCOMPARE(w.pbAND->value(), 0);
    w.stepProgress(max);
    QCOMPARE(w.pbAND->value(), max);
    w.stepProgress(1);
    QCOMPARE(w.pbAND->value(), max);
    w.stepProgress(std::numeric_limits<int>::min());
    QCOMPARE(w.pbAND->value(), 0);
    w.stepProgress(std::numeric_limits<int>::max());
    QCOMPARE(w.pbAND->value(), max);

    // A smaller maximum keeps the bar full instead of emptying it.
    w.setProgressMax(500);
    QCOMPARE(w.progressMax(), 500);
    QCOMPARE(w.pbAND->value(), 500);
    w.stepProgress(-200);
    w.setProgressMax(865);
    QCOMPARE(w.pbAND->value(), 300);
}

void MainWindowTest::busyCursorIsAStateNotAStack() {
    TfmATU& w = *window_;
    // Someone else's cursor underneath must survive repeated restores.
    QGuiApplication::setOverrideCursor(Qt::IBeamCursor);
    w.setBusyCursor();
    w.setBusyCursor();
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    w.restoreCursor();
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::IBeamCursor);
    w.restoreCursor();
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::IBeamCursor);
    QGuiApplication::restoreOverrideCursor();
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void MainWindowTest::moduleListCanBeScrolledNotEditedOrTabbedInto() {
    TfmATU& w = *window_;
    w.applyRelease(kronex::test::sampleRelease());
    QTest::keyClick(&w, Qt::Key_Tab);
    QTest::keyClick(&w, Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != w.mmA);
    QVERIFY(QApplication::focusWidget() != w.sbATU);

    const QString before = w.mmA->toPlainText();
    QTest::mouseClick(w.mmA->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QTest::keyClicks(w.mmA->viewport(), QStringLiteral("xyz"));
    QTest::keyClick(w.mmA->viewport(), Qt::Key_Delete);
    QCOMPARE(w.mmA->toPlainText(), before);

    QScrollBar* bar = w.mmA->verticalScrollBar();
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QVERIFY(bar->value() > 0);
}

void MainWindowTest::closeDuringARunIsDeferred() {
    TfmATU& w = *window_;
    bool closed = true;
    bool visibleAfterClose = false;
    whenModalUp([&](QWidget&) {
        closed = w.close();
        visibleAfterClose = w.isVisible();
        dialog_->Button2->click();
    });
    Watchdog promptWatch;
    QTest::mouseClick(w.sbATU, Qt::LeftButton);
    QVERIFY(!promptWatch.fired());
    QVERIFY(!closed);
    QVERIFY(visibleAfterClose);
    QVERIFY(w.isVisible());
    QVERIFY(w.terminationRequested());

    // From now on every message goes again by itself, not confirmed.
    Watchdog messageWatch;
    QVERIFY(!w.SHOW_MSG(kronex::MSG_CONCLUIDO));
    QVERIFY(!messageWatch.fired());
}

void MainWindowTest::closeWhileIdleCloses() {
    QVERIFY(window_->close());
    QVERIFY(!window_->isVisible());
    QVERIFY(!window_->terminationRequested());
}

void MainWindowTest::brokenReleaseKeepsTheButtonDisabled() {
    const kronex::ReleaseTable empty;
    const auto loaded = kronex::loadCatalog(empty);
    const auto* problem = std::get_if<kronex::LayoutProblem>(&loaded);
    QVERIFY(problem != nullptr);

    TfmATU& w = *window_;
    w.applyRelease(empty);
    QCOMPARE(w.lbGG->text(), QString::fromStdString(problem->describe()));
    QVERIFY(!w.sbATU->isEnabled());
    QCOMPARE(w.release(), nullptr);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
