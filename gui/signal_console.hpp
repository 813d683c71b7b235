#pragma once
// A Console that turns every piece of text into a signal. Signals may be
// emitted from any thread; a receiver living in the GUI thread gets them
// queued, in the order they were written.

#include <QObject>
#include <QString>

#include "support/console.hpp"

namespace velmora::gui {

class SignalConsole final : public QObject, public Console {
    Q_OBJECT
  public:
    explicit SignalConsole(QObject* parent = nullptr) : QObject(parent) {}

    void out(std::string_view text) override;
    void err(std::string_view text) override;

  signals:
    // `error` is true for what the core writes to standard error.
    void written(const QString& text, bool error);
};

}  // namespace velmora::gui
