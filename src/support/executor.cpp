#include "support/executor.hpp"

#include <cstring>
#include <new>
#include <stdexcept>

#include "support/errors.hpp"

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
    if (size == 0) {
        return;  // an empty list's storage may be null, which memcpy may not take
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

namespace {

enum class FailureKind : std::uint64_t {
    none,
    failure,
    domain_error,
    invalid_argument,
    out_of_memory,
    other
};

}  // namespace

void write_failure(ByteWriter& out, const std::exception_ptr& failure) {
    FailureKind kind = FailureKind::none;
    int status = 0;
    bool verbatim = false;
    std::string text;
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const Failure& e) {
            kind = FailureKind::failure;
            status = e.exit_status();
            verbatim = e.verbatim();
            text = e.what();
        } catch (const std::domain_error& e) {
            kind = FailureKind::domain_error;
            text = e.what();
        } catch (const std::invalid_argument& e) {
            kind = FailureKind::invalid_argument;
            text = e.what();
        } catch (const std::bad_alloc&) {
            kind = FailureKind::out_of_memory;
        } catch (const std::exception& e) {
            kind = FailureKind::other;
            text = e.what();
        } catch (...) {
            kind = FailureKind::other;
            text = "a task failed";
        }
    }
    out.u64(static_cast<std::uint64_t>(kind));
    out.u64(static_cast<std::uint64_t>(static_cast<std::int64_t>(status)));
    out.u64(verbatim ? 1 : 0);
    out.text(text);
}

std::exception_ptr read_failure(ByteReader& in) {
    const auto kind = static_cast<FailureKind>(in.u64());
    const int status = static_cast<int>(static_cast<std::int64_t>(in.u64()));
    const bool verbatim = in.u64() != 0;
    const std::string text = in.text();
    switch (kind) {
        case FailureKind::none:
            return nullptr;
        case FailureKind::failure:
            return std::make_exception_ptr(Failure(text, status, verbatim));
        case FailureKind::domain_error:
            return std::make_exception_ptr(std::domain_error(text));
        case FailureKind::invalid_argument:
            return std::make_exception_ptr(std::invalid_argument(text));
        case FailureKind::out_of_memory:
            return std::make_exception_ptr(std::bad_alloc());
        default:
            return std::make_exception_ptr(std::runtime_error(text));
    }
}

}  // namespace velmora
