#pragma once
// Hands the figures of each bred generation from the run's worker thread to
// the window without a signal per generation: the worker only appends, and
// announces a batch when the queue was empty, so however fast the search
// runs, at most one notification waits in the window's event queue.

#include <QMutex>
#include <QObject>

#include <vector>

#include "app/run_driver.hpp"

namespace velmora::gui {

class ProgressQueue : public QObject {
    Q_OBJECT
  public:
    explicit ProgressQueue(QObject* parent = nullptr) : QObject(parent) {}

    // Any thread.
    void push(const RunProgress& bred);
    // Everything pushed since the last take, oldest first.
    std::vector<RunProgress> take();

  signals:
    // The queue went from empty to holding a record.
    void ready();

  private:
    QMutex mutex_;
    std::vector<RunProgress> pending_;
};

}  // namespace velmora::gui
