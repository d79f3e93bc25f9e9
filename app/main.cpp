// Start-up: toolkit, title, the main window, the message dialog, event loop.
#include "app_title.h"
#include "comm_api.h"
#include "serial_link.h"
#include "uATU.h"
#include "uMSG.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The application name, not the display name: Qt appends a display name
    // to every window caption.
    QApplication::setApplicationName(QString::fromUtf8(kronex::kApplicationTitle));

    kronex::SerialLink link(kronex::systemCommApi()); // the one link, for the whole run
    TfmATU fmATU(link);
    TfmMSG fmMSG; // hidden until the first message
    fmATU.setMessageDialog(&fmMSG);

    // Showing raises FormShow, then activation raises FormActivate, which
    // loads the release before the start button can be clicked.
    fmATU.show();
    fmATU.activateWindow();
    return QApplication::exec();
}
