#pragma once
// Lets a test answer a modal window (a message box, a dialog) that the code
// under test opens with exec(): the action runs from the nested event loop
// once the window is the active modal widget.

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace velmora::gui::test {

// Calls `act` with the first modal widget of type T that appears within
// `timeout_ms`. The returned flag becomes true once `act` has run. The watch
// lasts as long as a run may take on a loaded machine (a box that opens after
// the watch has given up waits for a click that never comes), and it ends by
// the clock, checked before any box: on a loaded machine the ticks come late,
// and a watch that outlived its test must not answer the next test's box.
template <class T>
std::shared_ptr<bool> when_modal(std::function<void(T*)> act, int timeout_ms = 120000) {
    auto done = std::make_shared<bool>(false);
    auto* timer = new QTimer(qApp);
    auto since = std::make_shared<QElapsedTimer>();
    since->start();
    constexpr int kStep = 10;
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        if (since->elapsed() > timeout_ms) {
            timer->stop();
            timer->deleteLater();
        } else if (T* widget = qobject_cast<T*>(QApplication::activeModalWidget());
                   widget && widget->isVisible()) {
            timer->stop();
            timer->deleteLater();
            *done = true;
            act(widget);
        }
    });
    timer->start(kStep);
    return done;
}

// What a message box showed before the test dismissed it.
struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
};

// Records the next message box and presses `button` on it.
inline std::shared_ptr<SeenBox> answer_box(QMessageBox::StandardButton button = QMessageBox::Ok) {
    auto seen = std::make_shared<SeenBox>();
    when_modal<QMessageBox>([seen, button](QMessageBox* box) {
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        seen->buttons = static_cast<int>(box->buttons().size());
        if (QAbstractButton* b = box->button(button)) {
            b->click();
        } else {
            box->reject();
        }
    });
    return seen;
}

}  // namespace velmora::gui::test
