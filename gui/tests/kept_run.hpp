#pragma once
// The core's real run, keeping a copy of its result for the test to compare
// the window's pages with.

#include <memory>
#include <mutex>

#include "app/run_driver.hpp"
#include "run_thread.hpp"

namespace velmora::gui::test {

struct KeptRun {
    std::shared_ptr<RunResult> result = std::make_shared<RunResult>();
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();

    RunFunction function() const {
        return [kept = result, lock = mutex](const RunConfig& c, const RunOptions& o) {
            RunResult r = run_search(c, o);
            std::lock_guard guard(*lock);
            *kept = r;
            return r;
        };
    }

    // The last run's result (the run must have ended).
    RunResult last() const {
        std::lock_guard guard(*mutex);
        return *result;
    }
};

}  // namespace velmora::gui::test
