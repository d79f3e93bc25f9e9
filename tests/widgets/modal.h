// Driving modal dialogs from a test: the dialog's own event loop runs the
// queued action once the dialog is up.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>

namespace kronex::test {

// Runs `action` on the modal widget as soon as one is shown; the action is
// expected to close it.
inline void whenModalUp(std::function<void(QWidget&)> action, int triesLeft = 400) {
    QTimer::singleShot(triesLeft == 400 ? 0 : 5, [action = std::move(action), triesLeft]() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->isVisible())
            action(*modal);
        else if (triesLeft > 0)
            whenModalUp(action, triesLeft - 1);
    });
}

// Ends a modal dialog that nobody closes, so that a broken dialog fails the
// test instead of hanging it. Only armed while it exists.
class Watchdog {
  public:
    explicit Watchdog(int milliseconds = 3000) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            fired_ = true;
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                dialog->done(kGaveUp);
        });
        timer_.start(milliseconds);
    }
    bool fired() const { return fired_; }

    static constexpr int kGaveUp = 99;

  private:
    QTimer timer_;
    bool fired_ = false;
};

} // namespace kronex::test
