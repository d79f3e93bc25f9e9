#include "uMSG.h"

#include "look.h"
#include "message_table.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStringList>

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption,
                        const QRect& at) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(at);
    // Enter must act only on the focused button, never on a default one.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

TfmMSG::TfmMSG(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("fmMSG"));
    setWindowTitle(QStringLiteral("fmMSG"));
    setFixedSize(338, 168);
    setFont(kronex::ui::arial(11));
    kronex::ui::useButtonFaceBackground(*this);

    // Disabled so that nothing in the text area takes focus, a caret or input.
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(8, 8, 322, 124);
    Panel1->setEnabled(false);

    Memo1 = new QPlainTextEdit(Panel1);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(0, 0, 322, 124);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setReadOnly(true);
    Memo1->setTextInteractionFlags(Qt::NoTextInteraction);
    Memo1->setFocusPolicy(Qt::NoFocus);
    Memo1->setContextMenuPolicy(Qt::NoContextMenu);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->document()->setDocumentMargin(2);
    QFont memoFont = kronex::ui::arial(13);
    memoFont.setItalic(true);
    Memo1->setFont(memoFont);
    // The disabled panel must not grey the message: window text on button face
    // in every state.
    QPalette memoPalette = Memo1->palette();
    const QColor text = memoPalette.color(QPalette::Active, QPalette::WindowText);
    const QColor face = memoPalette.color(QPalette::Active, QPalette::Button);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        memoPalette.setColor(group, QPalette::Text, text);
        memoPalette.setColor(group, QPalette::Base, face);
    }
    Memo1->setPalette(memoPalette);

    Button1 = makeButton(this, "Button1", QStringLiteral("OK"), QRect(267, 138, 66, 25));
    Button2 = makeButton(this, "Button2", QStringLiteral("Cancelar"), QRect(200, 138, 66, 25));
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    setTabOrder(Button1, Button2);
}

void TfmMSG::setMessage(kronex::MessageCode code) {
    code_ = code;
    const kronex::MessageEntry* entry = kronex::findMessage(code);
    // A code outside the table can still be dismissed, and never confirms.
    setWindowTitle(entry != nullptr ? fromUtf8(entry->title) : QString());
    Button1->setEnabled(entry != nullptr && entry->okEnabled);
    Button2->setEnabled(entry == nullptr || entry->cancelEnabled);
}

void TfmMSG::FormActivate() {
    QStringList lines;
    if (const kronex::MessageEntry* entry = kronex::findMessage(code_)) {
        for (const std::string_view line : entry->lines)
            lines.append(fromUtf8(line));
    }
    // One block per table line; setting the whole text keeps a leading empty
    // line, which appending would fold away.
    Memo1->setPlainText(lines.join(QLatin1Char('\n')));
}

void TfmMSG::showEvent(QShowEvent* event) {
    if (!event->spontaneous())
        kronex::ui::centreOnScreen(*this);
    FormActivate();
    (Button1->isEnabled() ? Button1 : Button2)->setFocus(Qt::OtherFocusReason);
    // The caller may have set the hourglass; the user answers with the arrow.
    if (!arrowPushed_) {
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
        arrowPushed_ = true;
    }
    QDialog::showEvent(event);
    if (terminationRequested_) {
        // Queued, so that the modal loop is running when the dialog leaves.
        QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
    }
}

void TfmMSG::hideEvent(QHideEvent* event) {
    if (arrowPushed_) {
        QGuiApplication::restoreOverrideCursor();
        arrowPushed_ = false;
    }
    QDialog::hideEvent(event);
}

void TfmMSG::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Enter:
    case Qt::Key_Return:
        // Buttons without auto-default pass Enter up to here.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget());
            button != nullptr && button->isEnabled())
            button->click();
        event->accept();
        return;
    case Qt::Key_Escape:
        // Escape triggers no button, not even "Cancelar": it must not close
        // the dialog.
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void TfmMSG::closeEvent(QCloseEvent* event) {
    // Only the buttons close the dialog (accept and reject bypass this).
    event->ignore();
}
