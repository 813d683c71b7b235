#include "support/executor.hpp"

#include <cstring>
#include <stdexcept>

namespace velmora {

TaskResults ThreadExecutor::run(long long count, int threads, const SerialTask& task,
                                const SimulationProgress& progress) {
    TaskResults out;
    const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0;
    out.results.resize(n);
    out.ran.assign(n, 0);
    const bool finished = run_tasks(
        count, threads,
        [&](long long i, int worker) {
            std::optional<std::string> result = task(i, worker);
            if (result) {
                out.results[static_cast<std::size_t>(i)] = std::move(*result);
                out.ran[static_cast<std::size_t>(i)] = 1;
            }
        },
        progress);
    out.completed = finished;
    for (const char ran : out.ran) {
        out.completed = out.completed && ran != 0;
    }
    return out;
}

TaskResults run_serial_tasks(TaskExecutor* executor, long long count, int threads,
                             const SerialTask& task, const SimulationProgress& progress) {
    if (executor != nullptr) {
        return executor->run(count, threads, task, progress);
    }
    ThreadExecutor local;
    return local.run(count, threads, task, progress);
}

void ByteWriter::u64(std::uint64_t value) {
    bytes_.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void ByteWriter::f64(double value) {
    bytes_.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void ByteWriter::text(std::string_view value) {
    u64(value.size());
    bytes_.append(value);
}

void ByteWriter::doubles(std::span<const double> values) {
    u64(values.size());
    bytes_.append(reinterpret_cast<const char*>(values.data()), values.size_bytes());
}

void ByteWriter::ints(std::span<const int> values) {
    u64(values.size());
    bytes_.append(reinterpret_cast<const char*>(values.data()), values.size_bytes());
}

void ByteReader::take(void* out, std::size_t size) {
    if (size > bytes_.size() - at_) {
        throw std::invalid_argument("A task's result ends before its last value");
    }
    std::memcpy(out, bytes_.data() + at_, size);
    at_ += size;
}

std::uint64_t ByteReader::u64() {
    std::uint64_t value = 0;
    take(&value, sizeof value);
    return value;
}

double ByteReader::f64() {
    double value = 0.0;
    take(&value, sizeof value);
    return value;
}

std::string ByteReader::text() {
    const std::uint64_t size = u64();
    if (size > bytes_.size() - at_) {
        throw std::invalid_argument("A task's result ends before its last value");
    }
    std::string value(bytes_.substr(at_, size));
    at_ += size;
    return value;
}

template <typename T>
std::vector<T> ByteReader::values() {
    const std::uint64_t size = u64();
    if (size > (bytes_.size() - at_) / sizeof(T)) {
        throw std::invalid_argument("A task's result ends before its last value");
    }
    std::vector<T> out(size);
    take(out.data(), size * sizeof(T));
    return out;
}

std::vector<double> ByteReader::doubles() {
    return values<double>();
}

std::vector<int> ByteReader::ints() {
    return values<int>();
}

}  // namespace velmora
