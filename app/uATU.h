// The main window: release header, module list, start button, status line
// and progress bar, driven by the workflow through MainWindowOps.
#pragma once

#include "loaded_catalog.h"
#include "serial_link.h"
#include "window_ops.h"

#include <QWidget>
#include <optional>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class TfmMSG;

class TfmATU : public QWidget, public kronex::MainWindowOps {
    Q_OBJECT

  public:
    // `link` is the program's one link to the unit.
    explicit TfmATU(kronex::SerialLink& link, QWidget* parent = nullptr);
    ~TfmATU() override;

    // The dialog behind SHOW_MSG; set before the first message.
    void setMessageDialog(TfmMSG* dialog) { fmMSG_ = dialog; }

    // Loads `table` and shows it. A release that breaks a layout rule names
    // the problem in the status line and leaves the start button disabled.
    void applyRelease(const kronex::ReleaseTable& table);
    // The loaded release, once a load succeeded.
    const kronex::LoadedCatalog* release() const { return release_ ? &*release_ : nullptr; }

    bool terminationRequested() const { return terminationRequested_; }
    bool running() const { return running_; }

    // MainWindowOps
    void setHeaderTexts(std::string_view date, std::string_view caption) override;
    void clearModuleList() override;
    void appendModuleLine(std::string_view line) override;
    void setProgressMax(int maximum) override;
    int progressMax() const override;
    void stepProgress(int amount) override;
    void setStartEnabled(bool enabled) override;
    void setStartCaption(std::string_view caption) override;
    void setStatusText(std::string_view text) override;
    void setBusyCursor() override;
    void restoreCursor() override;
    void pumpEvents() override;
    void requestTermination() override;
    bool SHOW_MSG(kronex::MessageCode code) override;

    QFrame* Panel1;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* lbATU;
    QLabel* lbDATA;
    QFrame* Panel2;
    QPlainTextEdit* mmA;
    QFrame* Panel9;
    QPushButton* sbATU;
    QLabel* lbGG;
    QProgressBar* pbAND;

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildLayout();
    void FormShow();
    void FormActivate();
    void sbATUClick();

    kronex::SerialLink& link_;
    TfmMSG* fmMSG_ = nullptr;
    const kronex::ReleaseTable* releaseTable_ = nullptr;
    std::optional<kronex::LoadedCatalog> release_;
    int moduleLineCount_ = 0;
    bool activated_ = false;
    bool busy_ = false;
    bool running_ = false;
    bool terminationRequested_ = false;
};
