// Renders the main window with the release loaded and each message of the
// message table to PNG files, for the documentation.
//
//   kronex-screens <directory>
#include "app_title.h"
#include "comm_api.h"
#include "embedded_release.h"
#include "message_table.h"
#include "uATU.h"
#include "uMSG.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPixmap>
#include <cstdio>

namespace {

bool save(QWidget& widget, const QDir& directory, const QString& name) {
    const QString path = directory.filePath(name);
    if (!widget.grab().save(path, "PNG")) {
        std::fprintf(stderr, "kronex-screens: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The release loads on the window's first activation.
void waitUntilLoaded(TfmATU& window) {
    const QDeadlineTimer deadline(2000);
    while (window.release() == nullptr && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (window.release() == nullptr)
        window.applyRelease(kronex::embeddedRelease());
}

} // namespace

int main(int argc, char* argv[]) {
    // Pictures only: no display needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kronex::kApplicationTitle));

    if (argc != 2) {
        std::fprintf(stderr, "usage: kronex-screens <directory>\n");
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    if (!directory.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "kronex-screens: cannot create %s\n", argv[1]);
        return 1;
    }

    kronex::SerialLink link(kronex::systemCommApi()); // never used: nothing is clicked
    TfmATU window(link);
    TfmMSG dialog;
    window.setMessageDialog(&dialog);
    window.show();
    window.activateWindow();
    waitUntilLoaded(window);
    bool ok = save(window, directory, QStringLiteral("main-window.png"));

    // Shown without a modal loop, so that the picture can be taken.
    for (const kronex::MessageEntry& entry : kronex::messageTable()) {
        dialog.setMessage(entry.code);
        dialog.show();
        QCoreApplication::processEvents();
        ok = save(dialog, directory, QStringLiteral("msg-%1.png").arg(entry.code)) && ok;
        dialog.hide();
    }
    return ok ? 0 : 1;
}
