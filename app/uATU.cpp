#include "uATU.h"

#include "detection.h"
#include "start_button.h"
#include "dump_file.h"
#include "embedded_release.h"
#include "look.h"
#include "show_release.h"
#include "uMSG.h"
#include "unit_records.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTextCursor>
#include <algorithm>

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void setAutoSizedText(QLabel* label, std::string_view text) {
    label->setText(fromUtf8(text));
    label->adjustSize();
}

} // namespace

TfmATU::TfmATU(kronex::SerialLink& link, QWidget* parent) : QWidget(parent), link_(link) {
    buildLayout();
}

TfmATU::~TfmATU() {
    restoreCursor();
}

void TfmATU::applyRelease(const kronex::ReleaseTable& table) {
    auto loaded = kronex::loadCatalog(table);
    if (const auto* problem = std::get_if<kronex::LayoutProblem>(&loaded)) {
        release_.reset();
        setStatusText(problem->describe());
        setStartEnabled(false);
        return;
    }
    release_ = std::move(std::get<kronex::LoadedCatalog>(loaded));
    releaseTable_ = &table;
    kronex::showRelease(*release_, *this);
}

// --- MainWindowOps ---

void TfmATU::setHeaderTexts(std::string_view date, std::string_view caption) {
    setAutoSizedText(lbDATA, date);
    setAutoSizedText(lbATU, caption);
}

void TfmATU::clearModuleList() {
    mmA->clear();
    moduleLineCount_ = 0;
}

void TfmATU::appendModuleLine(std::string_view line) {
    // Inserted through a cursor: appendPlainText would drop a leading empty
    // line and scroll the list to its end.
    QTextCursor cursor(mmA->document());
    cursor.movePosition(QTextCursor::End);
    if (moduleLineCount_ > 0)
        cursor.insertBlock();
    cursor.insertText(fromUtf8(line));
    ++moduleLineCount_;
}

void TfmATU::setProgressMax(int maximum) {
    maximum = std::max(maximum, 0);
    // QProgressBar would reset a position beyond the new range; clamp instead.
    const int position = std::min(std::max(pbAND->value(), 0), maximum);
    pbAND->setRange(0, maximum);
    pbAND->setValue(position);
}

int TfmATU::progressMax() const {
    return pbAND->maximum();
}

void TfmATU::stepProgress(int amount) {
    const long long position = static_cast<long long>(std::max(pbAND->value(), 0)) + amount;
    pbAND->setValue(static_cast<int>(std::clamp<long long>(position, 0, pbAND->maximum())));
}

void TfmATU::setStartEnabled(bool enabled) {
    sbATU->setEnabled(enabled);
}

void TfmATU::setStartCaption(std::string_view caption) {
    sbATU->setText(fromUtf8(caption));
}

void TfmATU::setStatusText(std::string_view text) {
    setAutoSizedText(lbGG, text);
}

// The cursor is a state, not a stack: setting it twice needs one restore.
void TfmATU::setBusyCursor() {
    if (busy_)
        return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    busy_ = true;
}

void TfmATU::restoreCursor() {
    if (!busy_)
        return;
    QGuiApplication::restoreOverrideCursor();
    busy_ = false;
}

void TfmATU::pumpEvents() {
    QCoreApplication::processEvents();
}

void TfmATU::requestTermination() {
    terminationRequested_ = true;
    // Inside a run the program ends once the click handler has returned.
    if (!running_)
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

bool TfmATU::SHOW_MSG(kronex::MessageCode code) {
    if (fmMSG_ == nullptr)
        return false;
    fmMSG_->setTerminationRequested(terminationRequested_);
    fmMSG_->setMessage(code);
    return fmMSG_->exec() == QDialog::Accepted;
}

// --- Events ---

bool TfmATU::event(QEvent* event) {
    // Only the first activation loads: closing the dialog or coming back from
    // another application activates the window again.
    if (event->type() == QEvent::WindowActivate && !activated_) {
        activated_ = true;
        FormActivate();
    }
    return QWidget::event(event);
}

void TfmATU::showEvent(QShowEvent* event) {
    // Placed once the frame is known; restoring from the task bar (a
    // spontaneous show) keeps the user's position.
    if (!event->spontaneous())
        kronex::ui::centreOnScreen(*this);
    QWidget::showEvent(event);
    FormShow();
}

void TfmATU::closeEvent(QCloseEvent* event) {
    if (running_) {
        // The run goes on to its end; later messages close by themselves.
        terminationRequested_ = true;
        event->ignore();
        return;
    }
    event->accept();
}

void TfmATU::FormShow() {
    pumpEvents();
}

void TfmATU::FormActivate() {
    applyRelease(kronex::embeddedRelease());
    if (QWidget* focused = focusWidget())
        focused->clearFocus();
}

void TfmATU::sbATUClick() {
    // The release is loaded on the first activation, which comes before any
    // click; a click that somehow comes first loads it itself.
    if (!activated_) {
        activated_ = true;
        FormActivate();
    }
    if (!release_)
        return;
    running_ = true;
    kronex::Workflow workflow{*this, link_, *releaseTable_, *release_, kronex::dumpFilePath(), {}};
    workflow.unitRecords = kronex::defaultUnitRecordFolder();
    kronex::sbATUClick(*this, workflow);
    running_ = false;
    if (terminationRequested_)
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}
