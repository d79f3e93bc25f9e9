// Controls of the main window, placed at fixed positions (96 dpi).
#include "app_title.h"
#include "look.h"
#include "panel.h"
#include "uATU.h"

#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QColor& colour,
                  bool bold) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

// Right-aligned caption in its design box; where the font draws the text
// wider than the box, the box grows to the left so that the right edge stays.
void placeCaption(QLabel* label, const QRect& box) {
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    const int needed = label->fontMetrics().horizontalAdvance(label->text());
    QRect placed = box;
    if (needed > box.width())
        placed.setLeft(box.right() + 1 - needed);
    label->setGeometry(placed);
}

} // namespace

void TfmATU::buildLayout() {
    using kronex::ui::makePanel;

    setObjectName(QStringLiteral("fmATU"));
    setWindowTitle(QString::fromUtf8(kronex::kApplicationTitle));
    // Fixed size: the title bar offers the system menu, minimise and close.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(349, 537);
    setFont(kronex::ui::arial(11));
    kronex::ui::useButtonFaceBackground(*this);

    Panel1 = makePanel(this, "Panel1", QRect(0, 0, 349, 41));
    QPalette navy = Panel1->palette();
    navy.setColor(QPalette::Window, QColor(0, 0, 128));
    Panel1->setPalette(navy);
    Panel1->setAutoFillBackground(true);

    const QColor yellow(255, 255, 0);
    const QColor white(255, 255, 255);
    // The two captions end at the same right edge (75).
    Label3 = makeLabel(Panel1, "Label3", QStringLiteral("Atualização:"), yellow, true);
    placeCaption(Label3, QRect(10, 4, 65, 14));
    Label4 = makeLabel(Panel1, "Label4", QStringLiteral("Data:"), yellow, true);
    placeCaption(Label4, QRect(49, 18, 26, 14));
    lbATU = makeLabel(Panel1, "lbATU", QString(), white, false);
    lbATU->move(83, 4);
    lbATU->adjustSize();
    lbDATA = makeLabel(Panel1, "lbDATA", QString(), white, false);
    lbDATA->move(83, 18);
    lbDATA->adjustSize();

    Panel2 = makePanel(this, "Panel2", QRect(0, 41, 349, 368));
    mmA = new QPlainTextEdit(Panel2);
    mmA->setObjectName(QStringLiteral("mmA"));
    mmA->setGeometry(Panel2->contentsRect());
    mmA->setFrameShape(QFrame::NoFrame);
    mmA->setReadOnly(true);
    mmA->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmA->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mmA->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Scrollable and clickable, but Tab passes it by.
    mmA->setFocusPolicy(Qt::ClickFocus);
    QPalette cream = mmA->palette();
    cream.setColor(QPalette::Base, QColor(255, 255, 204));
    mmA->setPalette(cream);

    Panel9 = makePanel(this, "Panel9", QRect(0, 409, 349, 128));
    sbATU = new QPushButton(QStringLiteral("Iniciar"), Panel9);
    sbATU->setObjectName(QStringLiteral("sbATU"));
    sbATU->setGeometry(6, 6, 334, 60);
    sbATU->setFont(kronex::ui::arial(16));
    // Mouse only: the keyboard can neither focus nor press it.
    sbATU->setFocusPolicy(Qt::NoFocus);
    sbATU->setAutoDefault(false);
    connect(sbATU, &QPushButton::clicked, this, &TfmATU::sbATUClick);

    lbGG = new QLabel(QStringLiteral("Atualização não executada"), Panel9);
    lbGG->setObjectName(QStringLiteral("lbGG"));
    lbGG->move(10, 69);
    lbGG->adjustSize();

    pbAND = new QProgressBar(Panel9);
    pbAND->setObjectName(QStringLiteral("pbAND"));
    pbAND->setGeometry(6, 89, 330, 24);
    pbAND->setRange(0, 1000);
    pbAND->setValue(0);
    pbAND->setTextVisible(false);
}
