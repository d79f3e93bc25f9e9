// The message dialog on its own: texts, buttons, keys, cursor, termination.
#include "modal.h"
#include "uMSG.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

using kronex::test::Watchdog;
using kronex::test::whenModalUp;

namespace {

// What the user sees while the dialog is up.
struct Seen {
    QString title;
    bool okEnabled = false;
    bool cancelEnabled = false;
    QStringList lines;
    bool eachLineFits = false;
    Qt::CursorShape cursor = Qt::BitmapCursor;
    bool hasOverride = false;
};

Seen look(TfmMSG& dialog) {
    Seen seen;
    seen.title = dialog.windowTitle();
    seen.okEnabled = dialog.Button1->isEnabled();
    seen.cancelEnabled = dialog.Button2->isEnabled();
    seen.lines = dialog.Memo1->toPlainText().split(QLatin1Char('\n'));
    seen.eachLineFits = true;
    for (QTextBlock block = dialog.Memo1->document()->begin(); block.isValid();
         block = block.next())
        seen.eachLineFits = seen.eachLineFits && block.layout()->lineCount() == 1;
    if (const QCursor* cursor = QGuiApplication::overrideCursor()) {
        seen.hasOverride = true;
        seen.cursor = cursor->shape();
    }
    return seen;
}

// Closes with whichever button the message allows, Cancelar first.
void closeWithEnabledButton(TfmMSG& dialog) {
    (dialog.Button2->isEnabled() ? dialog.Button2 : dialog.Button1)->click();
}

// Shows `code`, looks at the dialog, closes it; answers what was seen.
Seen showAndLook(TfmMSG& dialog, kronex::MessageCode code, int* result = nullptr) {
    Seen seen;
    whenModalUp([&](QWidget&) {
        seen = look(dialog);
        closeWithEnabledButton(dialog);
    });
    Watchdog watchdog;
    dialog.setMessage(code);
    const int answer = dialog.exec();
    if (result != nullptr)
        *result = answer;
    return seen;
}

} // namespace

class MessageDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void showsTheTableEntry_data();
    void showsTheTableEntry();
    void nothingCarriesOverToTheNextCode();
    void sameCodeTwiceShowsTheTextOnce();
    void buttonsGiveTheirResults();
    void escapeAndCloseRequestsDoNotClose();
    void enterActsOnlyOnTheFocusedButton();
    void closesByItselfOnceTerminationWasRequested();
    void arrowWhileShownCallersCursorAfter();
    void codeOutsideTheTableCanOnlyBeDismissed();
    void layoutAndWindowKind();
};

void MessageDialogTest::showsTheTableEntry_data() {
    QTest::addColumn<unsigned>("code");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("MSG_INICIAR")
        << 0u << QStringLiteral("Mensagem") << true << true
        << QStringList{QStringLiteral("Para iniciar a atualização do KRONEX, coloque-o"),
                       QStringLiteral("em MODO DE ATUALIZAÇÃO e pressione OK para"),
                       QStringLiteral("iniciar o procedimento."),
                       QString(),
                       QStringLiteral("MODO DE ATUALIZAÇÃO: ligue o aparelho com a"),
                       QStringLiteral("tecla F2 pressionada.")};
    QTest::newRow("MSG_PORTA")
        << 1u << QStringLiteral("Erro de comunicação") << false << true
        << QStringList{QStringLiteral("Não foi possível abrir a porta serial definida para"),
                       QStringLiteral("a comunicação com o aparelho. Verifique se a porta"),
                       QStringLiteral("está correta ou se ela não está sendo utilizada por"),
                       QStringLiteral("outro software.")};
    QTest::newRow("MSG_VERSAO")
        << 4u << QStringLiteral("Incompatibilidade de Versão") << false << true
        << QStringList{QStringLiteral("Esta atualização não pode ser executada neste"),
                       QStringLiteral("aparelho por incompatibilidade de versões.")};
    QTest::newRow("MSG_CONCLUIDO")
        << 7u << QStringLiteral("Mensagem") << true << false
        << QStringList{QStringLiteral("Atualização concluída com sucesso!!")};
}

void MessageDialogTest::showsTheTableEntry() {
    QFETCH(unsigned, code);
    QFETCH(QString, title);
    QFETCH(bool, ok);
    QFETCH(bool, cancel);
    QFETCH(QStringList, lines);

    TfmMSG dialog;
    const Seen seen = showAndLook(dialog, code);
    QCOMPARE(seen.title, title);
    QCOMPARE(seen.okEnabled, ok);
    QCOMPARE(seen.cancelEnabled, cancel);
    QCOMPARE(seen.lines, lines);
    // The table's line breaks are the only ones: no line wraps.
    QVERIFY(seen.eachLineFits);
    QVERIFY(!dialog.isVisible());
}

void MessageDialogTest::nothingCarriesOverToTheNextCode() {
    TfmMSG dialog;
    showAndLook(dialog, 0);
    const Seen seen = showAndLook(dialog, 1);
    QCOMPARE(seen.title, QStringLiteral("Erro de comunicação"));
    QVERIFY(!seen.okEnabled);
    QVERIFY(seen.cancelEnabled);
    QCOMPARE(seen.lines.size(), 4);
    QCOMPARE(seen.lines.first(),
             QStringLiteral("Não foi possível abrir a porta serial definida para"));
    QVERIFY(!seen.lines.join(QLatin1Char(' ')).contains(QStringLiteral("F2")));

    // And back: code 0 after code 1 enables OK again.
    const Seen again = showAndLook(dialog, 0);
    QVERIFY(again.okEnabled);
    QCOMPARE(again.lines.size(), 6);
}

void MessageDialogTest::sameCodeTwiceShowsTheTextOnce() {
    TfmMSG dialog;
    showAndLook(dialog, 7);
    const Seen seen = showAndLook(dialog, 7);
    QCOMPARE(seen.lines, QStringList{QStringLiteral("Atualização concluída com sucesso!!")});
}

void MessageDialogTest::buttonsGiveTheirResults() {
    TfmMSG dialog;
    dialog.setMessage(0);
    whenModalUp([&](QWidget&) { QTest::mouseClick(dialog.Button1, Qt::LeftButton); });
    Watchdog okWatch;
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));

    whenModalUp([&](QWidget&) { QTest::mouseClick(dialog.Button2, Qt::LeftButton); });
    Watchdog cancelWatch;
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));

    // A disabled button is no way out: code 7 ignores Cancelar.
    bool stillUp = false;
    whenModalUp([&](QWidget&) {
        QTest::mouseClick(dialog.Button2, Qt::LeftButton);
        stillUp = dialog.isVisible();
        dialog.Button1->click();
    });
    Watchdog disabledWatch;
    dialog.setMessage(7);
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(stillUp);
}

void MessageDialogTest::escapeAndCloseRequestsDoNotClose() {
    TfmMSG dialog;
    bool upAfterEscape = false;
    bool closeRefused = false;
    bool upAfterClose = false;
    whenModalUp([&](QWidget&) {
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Escape);
        upAfterEscape = dialog.isVisible();
        closeRefused = !dialog.close();
        upAfterClose = dialog.isVisible();
        dialog.Button1->click();
    });
    Watchdog watchdog;
    dialog.setMessage(0);
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(upAfterEscape);
    QVERIFY(closeRefused);
    QVERIFY(upAfterClose);
}

void MessageDialogTest::enterActsOnlyOnTheFocusedButton() {
    TfmMSG dialog;
    for (QPushButton* button : {dialog.Button1, dialog.Button2}) {
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    }

    // Cancelar focused: Enter cancels although OK is enabled and first.
    bool defaultSeen = true;
    whenModalUp([&](QWidget&) {
        dialog.Button2->setFocus();
        defaultSeen = dialog.Button1->isDefault() || dialog.Button2->isDefault();
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
    });
    Watchdog cancelWatch;
    dialog.setMessage(0);
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(!defaultSeen);
    QVERIFY(!cancelWatch.fired());

    whenModalUp([&](QWidget&) {
        dialog.Button1->setFocus();
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
    });
    Watchdog okWatch;
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(!okWatch.fired());

    // When only Cancelar is enabled, the dialog comes up with the focus on it.
    QWidget* focused = nullptr;
    whenModalUp([&](QWidget&) {
        focused = dialog.focusWidget();
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
    });
    Watchdog onlyCancelWatch;
    dialog.setMessage(1);
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QCOMPARE(focused, dialog.Button2);
    QVERIFY(!onlyCancelWatch.fired());
}

void MessageDialogTest::closesByItselfOnceTerminationWasRequested() {
    TfmMSG dialog;
    dialog.setTerminationRequested(true);
    dialog.setMessage(7);
    Watchdog watchdog;
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(!watchdog.fired());
    QVERIFY(!dialog.isVisible());
    // The text was still built as it came up.
    QCOMPARE(dialog.Memo1->toPlainText(), QStringLiteral("Atualização concluída com sucesso!!"));
}

void MessageDialogTest::arrowWhileShownCallersCursorAfter() {
    TfmMSG dialog;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const Seen seen = showAndLook(dialog, 0);
    QVERIFY(seen.hasOverride);
    QCOMPARE(seen.cursor, Qt::ArrowCursor);
    QVERIFY(QGuiApplication::overrideCursor() != nullptr);
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QGuiApplication::restoreOverrideCursor();

    // Without a caller's cursor nothing is left behind.
    showAndLook(dialog, 1);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void MessageDialogTest::codeOutsideTheTableCanOnlyBeDismissed() {
    TfmMSG dialog;
    showAndLook(dialog, 0);
    int result = -1;
    const Seen seen = showAndLook(dialog, 2, &result);
    QVERIFY(!seen.okEnabled);
    QVERIFY(seen.cancelEnabled);
    QCOMPARE(seen.title, QString());
    QCOMPARE(seen.lines, QStringList{QString()});
    QCOMPARE(result, int(QDialog::Rejected));
}

void MessageDialogTest::layoutAndWindowKind() {
    TfmMSG dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("fmMSG"));
    QCOMPARE(dialog.size(), QSize(338, 168));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(!(flags & Qt::WindowCloseButtonHint));
    QVERIFY(!(flags & Qt::WindowSystemMenuHint));
    QVERIFY(flags & Qt::WindowTitleHint);

    QCOMPARE(dialog.Panel1->geometry(), QRect(8, 8, 322, 124));
    QVERIFY(!dialog.Panel1->isEnabled());
    QCOMPARE(dialog.Memo1->parentWidget(), dialog.Panel1);
    QCOMPARE(dialog.Memo1->geometry(), QRect(0, 0, 322, 124));
    QCOMPARE(dialog.Button1->geometry(), QRect(267, 138, 66, 25));
    QCOMPARE(dialog.Button2->geometry(), QRect(200, 138, 66, 25));
    QCOMPARE(dialog.Button1->text(), QStringLiteral("OK"));
    QCOMPARE(dialog.Button2->text(), QStringLiteral("Cancelar"));
    QCOMPARE(dialog.Button1->nextInFocusChain(), dialog.Button2);

    QCOMPARE(dialog.font().family(), QStringLiteral("Arial"));
    QCOMPARE(dialog.font().pixelSize(), 11);
    QVERIFY(dialog.Memo1->font().italic());
    QCOMPARE(dialog.Memo1->font().pixelSize(), 13);
    QCOMPARE(dialog.Memo1->focusPolicy(), Qt::NoFocus);
    QCOMPARE(dialog.Memo1->textInteractionFlags(), Qt::NoTextInteraction);
    QCOMPARE(dialog.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    // The disabled panel must not grey the message out.
    const QPalette palette = dialog.Memo1->palette();
    QCOMPARE(palette.color(QPalette::Disabled, QPalette::Text),
             dialog.palette().color(QPalette::Active, QPalette::WindowText));
    QCOMPARE(palette.color(QPalette::Disabled, QPalette::Base),
             dialog.palette().color(QPalette::Active, QPalette::Button));

    // Centred on the screen when it comes up.
    QPoint centre;
    whenModalUp([&](QWidget&) {
        centre = dialog.frameGeometry().center();
        dialog.Button2->click();
    });
    Watchdog watchdog;
    dialog.setMessage(0);
    dialog.exec();
    const QPoint screenCentre = dialog.screen()->availableGeometry().center();
    QVERIFY2((centre - screenCentre).manhattanLength() <= 1,
             qPrintable(QStringLiteral("centre %1,%2").arg(centre.x()).arg(centre.y())));
}

QTEST_MAIN(MessageDialogTest)
#include "message_dialog_test.moc"
