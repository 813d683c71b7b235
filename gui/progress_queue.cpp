#include "progress_queue.hpp"

#include <QMutexLocker>

namespace velmora::gui {

void ProgressQueue::push(const RunProgress& bred) {
    bool was_empty = false;
    {
        QMutexLocker lock(&mutex_);
        was_empty = pending_.empty();
        pending_.push_back(bred);
    }
    if (was_empty) {
        emit ready();
    }
}

std::vector<RunProgress> ProgressQueue::take() {
    std::vector<RunProgress> taken;
    QMutexLocker lock(&mutex_);
    taken.swap(pending_);
    return taken;
}

}  // namespace velmora::gui
