// The one modal dialog through which every question and message passes.
#pragma once

#include "window_ops.h"

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

class TfmMSG : public QDialog {
    Q_OBJECT

  public:
    explicit TfmMSG(QWidget* parent = nullptr);

    // Stores the code and sets the title and both buttons from the message
    // table; the text follows when the dialog comes up.
    void setMessage(kronex::MessageCode code);
    kronex::MessageCode message() const { return code_; }

    // Once the program is ending, every showing closes at once as Cancel.
    void setTerminationRequested(bool requested) { terminationRequested_ = requested; }
    bool terminationRequested() const { return terminationRequested_; }

    QWidget* Panel1;
    QPlainTextEdit* Memo1;
    QPushButton* Button1; // OK
    QPushButton* Button2; // Cancelar

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // Rebuilds the text for the current code.
    void FormActivate();

    kronex::MessageCode code_ = kronex::MSG_INICIAR;
    bool terminationRequested_ = false;
    bool arrowPushed_ = false;
};
