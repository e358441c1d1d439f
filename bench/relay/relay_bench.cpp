// orvane-relay benchmark on loopback, printing its figures:
//   1. throughput of one joined pair against, in the same run, a plain TCP
//      transfer, a plain blocking copying hop and a zero-copy splice hop (the
//      ratios are the figures);
//   2. the processor time each spends per GiB (sender, hop or relay, and
//      receiver together), which bounds the relay's rate on few cores;
//   3. how many idle registrations one relay process holds, and its resident
//      memory per registration and per idle joined pair.
// Usage: relay_bench [RELAY_BINARY] [--mb N] [--rounds N] [--registrations N]
//                    [--pairs N]
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef RELAY_BINARY
#define RELAY_BINARY "orvane-relay"
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t chunk_bytes = 256 * 1024;

struct Settings {
    std::string relay = RELAY_BINARY;
    std::size_t megabytes = 1024;
    std::size_t registrations = 10000;
    std::size_t pairs = 1000;
    int rounds = 5;
};

// One timed transfer: its rate and the processor time it cost (this process,
// plus the relay's when one is in the path).
struct Run {
    double mib_per_s = 0;
    double cpu_s_per_gib = 0;
};

struct Relay {
    pid_t pid = -1;
    std::uint16_t port = 0;
    std::string log_path;
};

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "relay_bench: %s (%s)\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void raise_file_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::size_t file_limit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    return static_cast<std::size_t>(limit.rlim_cur);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Relay start_relay(const Settings& s) {
    Relay relay;
    char path[] = "/tmp/orvane-relay-bench-XXXXXX";
    const int log_fd = mkstemp(path);
    if (log_fd < 0) die("mkstemp");
    relay.log_path = path;
    const std::string max = std::to_string(s.registrations + 2 * s.pairs + 64);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(log_fd, 1);
        dup2(log_fd, 2);
        execl(s.relay.c_str(), s.relay.c_str(), "--listen", "127.0.0.1:0", "--max-connections",
              max.c_str(), "--max-per-address", "0", "--max-lookups", "0",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(log_fd);
    relay.pid = pid;
    const std::string marker = "listening on 127.0.0.1:";
    for (int i = 0; i < 500 && relay.port == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::string log = read_file(relay.log_path);
        const auto at = log.find(marker);
        if (at != std::string::npos) relay.port = static_cast<std::uint16_t>(std::atoi(log.c_str() + at + marker.size()));
    }
    if (relay.port == 0) die("relay did not start: " + read_file(relay.log_path));
    return relay;
}

void stop_relay(Relay& relay) {
    kill(relay.pid, SIGTERM);
    int status = 0;
    waitpid(relay.pid, &status, 0);
    unlink(relay.log_path.c_str());
}

long resident_kib(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

int connect_loopback(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) die("socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) die("connect");
    return fd;
}

void send_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) die("send");
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::string read_line(int fd) {
    std::string line;
    char c = 0;
    while (recv(fd, &c, 1, 0) == 1 && c != '\n') line.push_back(c);
    return line;
}

std::size_t drain(int fd) {
    std::vector<char> buffer(chunk_bytes);
    std::size_t total = 0;
    for (;;) {
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) return total;
        total += static_cast<std::size_t>(n);
    }
}

double own_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// User plus system time of another process, from /proc/PID/stat.
double process_cpu_seconds(pid_t pid) {
    if (pid <= 0) return 0;
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const auto close_paren = stat.rfind(')');
    if (close_paren == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close_paren + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Sends `bytes` from `from` and times until `to` has read them all and seen
// the end of the stream; relay_pid, when given, is charged too.
Run timed_transfer(int from, int to, std::size_t bytes, pid_t relay_pid = -1) {
    const std::vector<char> chunk(chunk_bytes, 'x');
    std::size_t received = 0;
    const double cpu_start = own_cpu_seconds() + process_cpu_seconds(relay_pid);
    const auto start = Clock::now();
    std::thread reader([&] { received = drain(to); });
    for (std::size_t sent = 0; sent < bytes; sent += chunk_bytes) send_all(from, chunk.data(), chunk_bytes);
    shutdown(from, SHUT_WR);
    reader.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = own_cpu_seconds() + process_cpu_seconds(relay_pid) - cpu_start;
    if (received != bytes) die("transfer lost bytes: " + std::to_string(received));
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    return Run{mib / seconds, cpu / (mib / 1024.0)};
}

int listen_loopback(std::uint16_t& port) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
        die("listen");
    }
    port = ntohs(a.sin_port);
    return listener;
}

Run direct_throughput(std::size_t bytes) {
    std::uint16_t port = 0;
    const int listener = listen_loopback(port);
    const int sender = connect_loopback(port);
    const int receiver = accept(listener, nullptr, nullptr);
    const Run rate = timed_transfer(sender, receiver, bytes);
    close(sender);
    close(receiver);
    close(listener);
    return rate;
}

// How the middle hop moves the bytes.
enum class Hop { copying, splicing };

// Copies with blocking calls and the relay's buffer size.
void copy_hop(int in, int out) {
    std::vector<char> buffer(chunk_bytes);
    for (;;) {
        const ssize_t n = recv(in, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        send_all(out, buffer.data(), static_cast<std::size_t>(n));
    }
}

// Moves socket pages through a kernel pipe without copying them into the hop
// (Linux splice): the cheapest any user-space hop can be on this machine.
void splice_hop(int in, int out) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) die("pipe");
    fcntl(pipe_ends[1], F_SETPIPE_SZ, 1 << 20);
    for (;;) {
        ssize_t n = splice(in, nullptr, pipe_ends[1], nullptr, 1 << 20, SPLICE_F_MOVE | SPLICE_F_MORE);
        if (n <= 0) break;
        while (n > 0) {
            const ssize_t m = splice(pipe_ends[0], nullptr, out, nullptr, static_cast<std::size_t>(n),
                                     SPLICE_F_MOVE | SPLICE_F_MORE);
            if (m <= 0) die("splice out");
            n -= m;
        }
    }
    close(pipe_ends[0]);
    close(pipe_ends[1]);
}

// The simplest middle hop: a thread that forwards one socket into another.
Run forwarded_throughput(std::size_t bytes, Hop how) {
    std::uint16_t in_port = 0, out_port = 0;
    const int in_listener = listen_loopback(in_port);
    const int out_listener = listen_loopback(out_port);
    const int sender = connect_loopback(in_port);
    const int hop_in = accept(in_listener, nullptr, nullptr);
    const int hop_out = connect_loopback(out_port);
    const int receiver = accept(out_listener, nullptr, nullptr);
    std::thread hop([&] {
        if (how == Hop::copying) copy_hop(hop_in, hop_out);
        else splice_hop(hop_in, hop_out);
        shutdown(hop_out, SHUT_WR);
    });
    const Run rate = timed_transfer(sender, receiver, bytes);
    hop.join();
    for (int fd : {sender, hop_in, hop_out, receiver, in_listener, out_listener}) close(fd);
    return rate;
}

struct Pair {
    int agent = -1;
    int viewer = -1;
};

Pair join_pair(const Relay& relay) {
    Pair pair;
    pair.agent = connect_loopback(relay.port);
    const char* reg = "OVRELAY1 A -\n";
    send_all(pair.agent, reg, std::strlen(reg));
    const std::string id_line = read_line(pair.agent);
    if (id_line.rfind("ID ", 0) != 0) die("register answer: " + id_line);
    pair.viewer = connect_loopback(relay.port);
    const std::string request = "OVRELAY1 C " + id_line.substr(3) + "\n";
    send_all(pair.viewer, request.data(), request.size());
    if (read_line(pair.viewer) != "OK" || read_line(pair.agent) != "OK") die("join failed");
    return pair;
}

Run relay_throughput(const Relay& relay, std::size_t bytes) {
    const Pair pair = join_pair(relay);
    const Run rate = timed_transfer(pair.viewer, pair.agent, bytes, relay.pid);
    close(pair.viewer);
    close(pair.agent);
    return rate;
}

void print_runs(const char* name, std::vector<Run>& runs) {
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.mib_per_s < b.mib_per_s; });
    const Run& median = runs[runs.size() / 2];
    std::printf("  %-22s %9.1f  %6.2f s   (runs", name, median.mib_per_s, median.cpu_s_per_gib);
    for (const Run& run : runs) std::printf(" %.0f", run.mib_per_s);
    std::printf(")\n");
}

void throughput(const Settings& s, const Relay& relay) {
    const std::size_t bytes = s.megabytes * 1024 * 1024;
    std::vector<Run> direct, forwarded, spliced, relayed;
    for (int round = 0; round < s.rounds; ++round) {
        direct.push_back(direct_throughput(bytes));
        forwarded.push_back(forwarded_throughput(bytes, Hop::copying));
        spliced.push_back(forwarded_throughput(bytes, Hop::splicing));
        relayed.push_back(relay_throughput(relay, bytes));
    }
    std::printf("throughput, %zu MiB one way, median of %d runs:\n", s.megabytes, s.rounds);
    std::printf("  %-22s %9s  %8s\n", "", "MiB/s", "CPU/GiB");
    print_runs("plain TCP on loopback", direct);
    print_runs("plain copying hop", forwarded);
    print_runs("zero-copy splice hop", spliced);
    print_runs("through orvane-relay", relayed);
    const Run& d = direct[direct.size() / 2];
    const Run& f = forwarded[forwarded.size() / 2];
    const Run& z = spliced[spliced.size() / 2];
    const Run& r = relayed[relayed.size() / 2];
    std::printf("  ratio relay/plain TCP:   %6.2f\n", r.mib_per_s / d.mib_per_s);
    std::printf("  ratio relay/copying hop: %6.2f\n", r.mib_per_s / f.mib_per_s);
    std::printf("  ratio splice hop/plain TCP: %4.2f (the best a middle hop reaches here)\n",
                z.mib_per_s / d.mib_per_s);
    // Time is at least processor time over cores: even with every core on
    // this transfer alone the relayed path could not be faster than this.
    const double cores = std::thread::hardware_concurrency();
    const double ceiling = cores / r.cpu_s_per_gib * 1024.0;
    std::printf("  cores: %.0f; the relayed path costs %.2fx the processor time of plain TCP,\n"
                "  so it cannot pass %.0f MiB/s (ratio %.2f) even with every core on it alone\n",
                cores, r.cpu_s_per_gib / d.cpu_s_per_gib, ceiling, ceiling / d.mib_per_s);
}

// Resident memory of joined pairs that carry nothing, first fresh, then after
// each has carried some data both ways.
void idle_pairs(const Settings& s, const Relay& relay) {
    if (s.pairs == 0) return;
    const long before = resident_kib(relay.pid);
    std::vector<Pair> pairs;
    pairs.reserve(s.pairs);
    for (std::size_t i = 0; i < s.pairs; ++i) pairs.push_back(join_pair(relay));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long joined = resident_kib(relay.pid);
    const std::vector<char> chunk(64 * 1024, 'y');
    std::vector<char> back(chunk.size());
    for (const Pair& pair : pairs) {
        for (const auto& [from, to] : {std::pair{pair.viewer, pair.agent}, std::pair{pair.agent, pair.viewer}}) {
            send_all(from, chunk.data(), chunk.size());
            for (std::size_t got = 0; got < back.size();) {
                const ssize_t n = recv(to, back.data(), back.size() - got, 0);
                if (n <= 0) die("idle pair lost its data");
                got += static_cast<std::size_t>(n);
            }
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long used = resident_kib(relay.pid);
    const double count = static_cast<double>(s.pairs);
    std::printf("idle joined pairs (%zu):\n", s.pairs);
    std::printf("  resident per pair, fresh:          %7.2f KiB\n", static_cast<double>(joined - before) / count);
    std::printf("  resident per pair, after 64 KiB each way: %.2f KiB\n", static_cast<double>(used - before) / count);
    for (const Pair& pair : pairs) {
        close(pair.agent);
        close(pair.viewer);
    }
}

void idle_registrations(const Settings& s, const Relay& relay) {
    const long before = resident_kib(relay.pid);
    std::vector<int> agents;
    agents.reserve(s.registrations);
    const char* reg = "OVRELAY1 A -\n";
    const auto start = Clock::now();
    for (std::size_t i = 0; i < s.registrations; ++i) {
        const int fd = connect_loopback(relay.port);
        send_all(fd, reg, std::strlen(reg));
        agents.push_back(fd);
    }
    std::size_t registered = 0;
    for (int fd : agents) registered += read_line(fd).rfind("ID ", 0) == 0;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long after = resident_kib(relay.pid);

    // A registration's status still answers at once with everything held.
    const auto ask_start = Clock::now();
    const int probe = connect_loopback(relay.port);
    const char* version = "OVRELAY1 V -\n";
    send_all(probe, version, std::strlen(version));
    const std::string answer = read_line(probe);
    const double ask_ms = std::chrono::duration<double, std::milli>(Clock::now() - ask_start).count();
    close(probe);

    std::printf("idle registrations:\n");
    std::printf("  registered:              %9zu of %zu in %.2f s\n", registered, s.registrations, seconds);
    std::printf("  relay VmRSS:             %9ld KiB before, %ld KiB after\n", before, after);
    if (registered > 0) {
        std::printf("  resident per registration: %7.2f KiB (user space only; kernel socket\n"
                    "                             buffers are not in VmRSS)\n",
                    static_cast<double>(after - before) / static_cast<double>(registered));
    }
    std::printf("  version request while held: %.2f ms, answer \"%s\"\n", ask_ms, answer.c_str());
    for (int fd : agents) close(fd);
}

Settings parse(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mb" && i + 1 < argc) s.megabytes = std::strtoul(argv[++i], nullptr, 10);
        else if (arg == "--registrations" && i + 1 < argc) s.registrations = std::strtoul(argv[++i], nullptr, 10);
        else if (arg == "--pairs" && i + 1 < argc) s.pairs = std::strtoul(argv[++i], nullptr, 10);
        else if (arg == "--rounds" && i + 1 < argc) s.rounds = std::max(1, std::atoi(argv[++i]));
        else s.relay = arg;
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    Settings s = parse(argc, argv);
    raise_file_limit();
    // Each registration costs this process one descriptor and the relay one;
    // each pair two of each.
    const std::size_t room = file_limit() > 64 ? file_limit() - 64 : 0;
    if (s.registrations > room) {
        std::printf("file limit %zu: registrations lowered from %zu to %zu\n", file_limit(), s.registrations, room);
        s.registrations = room;
    }
    if (s.pairs > room / 2) {
        std::printf("file limit %zu: pairs lowered from %zu to %zu\n", file_limit(), s.pairs, room / 2);
        s.pairs = room / 2;
    }
    std::printf("relay: %s\n", s.relay.c_str());
    // A fresh relay for each part, so one part's freed memory does not hide
    // the next part's.
    Relay relay = start_relay(s);
    throughput(s, relay);
    stop_relay(relay);
    relay = start_relay(s);
    idle_registrations(s, relay);
    stop_relay(relay);
    relay = start_relay(s);
    idle_pairs(s, relay);
    stop_relay(relay);
    return 0;
}
