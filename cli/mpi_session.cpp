#include "cli/mpi_session.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/errors.hpp"

#ifdef VELMORA_HAVE_MPI
#define OMPI_SKIP_MPICXX 1
#define MPICH_SKIP_MPICXX 1
#include <mpi.h>
#endif

namespace velmora::cli {

namespace {

int environment_number(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? 0 : std::atoi(value);
}

}  // namespace

void ProbePauses::pause() {
    std::this_thread::sleep_for(pause_);
    pause_ = std::min(pause_ * 2, kLongest);
}

bool MpiSession::launched() {
    for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMI_SIZE", "PMIX_RANK", "PMI_RANK"}) {
        if (std::getenv(name) != nullptr) {
            return true;
        }
    }
    return false;
}

int MpiSession::local_ranks() {
    for (const char* name :
         {"OMPI_COMM_WORLD_LOCAL_SIZE", "SLURM_NTASKS_PER_NODE", "MPI_LOCALNRANKS"}) {
        if (const int n = environment_number(name); n > 0) {
            return n;
        }
    }
    return 1;
}

int MpiSession::cores_per_rank() {
    const unsigned online = std::thread::hardware_concurrency();
    const int cores = online == 0 ? 1 : static_cast<int>(online);
    int usable = cores;
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        usable = CPU_COUNT(&allowed);
    }
    return std::max(1, std::min(usable, cores / local_ranks()));
}

#ifdef VELMORA_HAVE_MPI

namespace {

// Open MPI's default messaging layers probe for fast networks (UCX, PSM,
// PSM2) before they fall back to the plain one: about 0.2 s of waiting at
// every start on a machine without such hardware, longer than the tests of a
// small run take on a rank. Velmora's messages are a few kilobytes (a job's
// index and row, a step's results), so when every rank runs on this node the
// plain layer over shared memory serves as well. A layer chosen by the user
// (OMPI_MCA_pml, which `mpirun --mca pml` sets too) is kept, and so is the
// site's choice for ranks spread over several nodes.
void prefer_plain_messaging() {
    const int world = environment_number("OMPI_COMM_WORLD_SIZE");
    if (std::getenv("OMPI_MCA_pml") == nullptr && world > 0 &&
        environment_number("OMPI_COMM_WORLD_LOCAL_SIZE") == world) {
        ::setenv("OMPI_MCA_pml", "ob1", 0);
    }
}

// PMIx, through which a rank talks to its launcher, keeps a TCP connection
// to it without TCP_NODELAY. At MPI_Finalize a rank sends several small
// messages in a row; the second waits under Nagle's rule for the launcher's
// acknowledgement of the first, which the launcher delays by 40 ms: every
// launch ended 40 ms late, a tenth of a small run. The rank's TCP sockets
// after MPI_Init are all MPI's own (velmora opens none), and messages that go
// out at once cost nothing here: they are few and small.
void send_small_messages_at_once() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        int fd = -1;
        const std::string name = entry.path().filename().string();
        if (std::from_chars(name.data(), name.data() + name.size(), fd).ec != std::errc()) {
            continue;
        }
        int type = 0;
        socklen_t type_size = sizeof type;
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &type_size) != 0 || type != SOCK_STREAM) {
            continue;
        }
        sockaddr_storage address{};
        socklen_t address_size = sizeof address;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &address_size) != 0 ||
            (address.ss_family != AF_INET && address.ss_family != AF_INET6)) {
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
}

// Open MPI's probe advances its progress engine only after it has looked
// for a match, so a message that the progress brings in is found by the next
// probe, a whole pause later; a second probe at once finds it.
bool probe(int source, int tag, MPI_Status& status) {
    int arrived = 0;
    MPI_Iprobe(source, tag, MPI_COMM_WORLD, &arrived, &status);
    if (arrived == 0) {
        MPI_Iprobe(source, tag, MPI_COMM_WORLD, &arrived, &status);
    }
    return arrived != 0;
}

}  // namespace

MpiSession::MpiSession() {
    prefer_plain_messaging();
    // Threads compute a step's tasks; only this one calls MPI.
    int provided = 0;
    MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &provided);
    send_small_messages_at_once();
    MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
    MPI_Comm_size(MPI_COMM_WORLD, &size_);
}

MpiSession::~MpiSession() {
    MPI_Finalize();
}

void MpiSession::send(int destination, int tag, const std::string& text) {
    MPI_Request request;
    MPI_Isend(text.data(), static_cast<int>(text.size()), MPI_CHAR, destination, tag,
              MPI_COMM_WORLD, &request);
    ProbePauses backoff;
    for (int done = 0;;) {
        MPI_Test(&request, &done, MPI_STATUS_IGNORE);
        if (done != 0) {
            return;
        }
        backoff.pause();
    }
}

std::optional<MpiSession::Message> MpiSession::try_receive(int tag) {
    MPI_Status status;
    if (!probe(MPI_ANY_SOURCE, tag, status)) {
        return std::nullopt;
    }
    int count = 0;
    MPI_Get_count(&status, MPI_CHAR, &count);
    Message message;
    message.source = status.MPI_SOURCE;
    message.text.resize(static_cast<std::size_t>(count));
    MPI_Recv(message.text.data(), count, MPI_CHAR, status.MPI_SOURCE, tag, MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
    return message;
}

std::string MpiSession::receive(int source, int tag) {
    ProbePauses backoff;
    for (;;) {
        MPI_Status status;
        if (probe(source, tag, status)) {
            int count = 0;
            MPI_Get_count(&status, MPI_CHAR, &count);
            std::string text(static_cast<std::size_t>(count), '\0');
            MPI_Recv(text.data(), count, MPI_CHAR, source, tag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            return text;
        }
        backoff.pause();
    }
}

int MpiSession::broadcast(int value) {
    MPI_Request request;
    MPI_Ibcast(&value, 1, MPI_INT, 0, MPI_COMM_WORLD, &request);
    ProbePauses backoff;
    for (int done = 0;;) {
        MPI_Test(&request, &done, MPI_STATUS_IGNORE);
        if (done != 0) {
            return value;
        }
        backoff.pause();
    }
}

#else

MpiSession::MpiSession() {
    throw ConfigError(
        "This velmora was built without MPI, yet an MPI launcher started it: run the batch "
        "without mpirun or srun, or build velmora with Open MPI (libopenmpi-dev)");
}

MpiSession::~MpiSession() = default;

void MpiSession::send(int, int, const std::string&) {}

std::optional<MpiSession::Message> MpiSession::try_receive(int) {
    return std::nullopt;
}

std::string MpiSession::receive(int, int) {
    return {};
}

int MpiSession::broadcast(int value) {
    return value;
}

#endif

}  // namespace velmora::cli
