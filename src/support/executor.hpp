#pragma once
// Runs indexed tasks whose results are byte strings, gathered in index
// order. The default runs them on this process's threads; a front end may
// spread them over processes instead, each computing a share and sending its
// results back, and every process then sees all the results. So a task
// computes from its index and shared read-only state alone, and returns all
// that its caller needs as its result.

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/parallel.hpp"

namespace velmora {

// Task i's result; nothing when it saw a stop request and did not run.
using SerialTask = std::function<std::optional<std::string>(long long index, int worker)>;

struct TaskResults {
    std::vector<std::string> results;  // by index; empty where the task did not run
    std::vector<char> ran;             // 1 where the task ran to its end
    bool completed = false;            // every task ran and nobody asked to stop
};

class TaskExecutor {
  public:
    virtual ~TaskExecutor() = default;
    // Runs task(i, worker) for i in 0..count-1 on `threads` threads of each
    // process; progress as run_tasks gives it (the shares of this process).
    // A task's exception is thrown again here, in every process alike.
    virtual TaskResults run(long long count, int threads, const SerialTask& task,
                            const SimulationProgress& progress) = 0;
};

// This process's threads.
class ThreadExecutor final : public TaskExecutor {
  public:
    TaskResults run(long long count, int threads, const SerialTask& task,
                    const SimulationProgress& progress) override;
};

// Runs on executor, or on this process's threads when it is null.
TaskResults run_serial_tasks(TaskExecutor* executor, long long count, int threads,
                             const SerialTask& task, const SimulationProgress& progress = {});

// Numbers and strings as bytes, for results that cross processes of one
// program on one kind of machine (the bytes are the values' own).
class ByteWriter {
  public:
    void u64(std::uint64_t value);
    void f64(double value);
    void text(std::string_view value);  // its length, then its bytes
    void doubles(std::span<const double> values);
    void ints(std::span<const int> values);
    std::string& bytes() noexcept { return bytes_; }

  private:
    std::string bytes_;
};

// Reads what a ByteWriter wrote, in the same order; throws
// std::invalid_argument past the end.
class ByteReader {
  public:
    explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t u64();
    double f64();
    std::string text();
    std::vector<double> doubles();
    std::vector<int> ints();
    bool done() const noexcept { return at_ == bytes_.size(); }

  private:
    void take(void* out, std::size_t size);
    template <typename T>
    std::vector<T> values();
    std::string_view bytes_;
    std::size_t at_ = 0;
};

// A failure as bytes, and thrown again from them: velmora's own failures
// keep their text, exit status and kind of text; std::domain_error,
// std::invalid_argument and std::bad_alloc keep their type, so that the
// handlers that tell failures apart by type see the same one in every
// process; anything else becomes a std::runtime_error with its text.
void write_failure(ByteWriter& out, const std::exception_ptr& failure);
// Reads a failure written by write_failure: null when none was written.
std::exception_ptr read_failure(ByteReader& in);

}  // namespace velmora
