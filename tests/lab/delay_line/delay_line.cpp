// The lab's wide-area link: a delay line between the client host and everything else.
//
// The internet host routes every packet from and to the client host into one tun device; this
// program reads each one, gives it the distance of the far end's class (propagation delay with
// jitter, random loss, a bottleneck of limited rate with a bounded tail-drop queue) and writes it
// back into the same device, where the kernel routes it on. The kernel has no netem here.
//
// A class holds two independent directions (up: from the client, down: to it), each one FIFO:
// jitter varies smoothly over time and a packet never leaves before the one ahead of it, so the
// line reorders nothing. Memory is bounded by each bottleneck's queue and by a global cap, and the
// loop sleeps until the next packet is due or one arrives.
//
// usage: lab-delay-line --dev NAME --client PREFIX [--client PREFIX]... --config FILE [--seed N]
// SIGUSR1 prints the counters, SIGTERM/SIGINT end it (the tun device goes with it).

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Nanos = std::int64_t;
constexpr Nanos kMilli = 1'000'000;
constexpr Nanos kSecond = 1'000'000'000;
// How long the jitter stays correlated: packets of one burst see almost the same delay (as on a
// real path, where jitter comes from queues that change slowly), pings a second apart do not.
constexpr double kJitterCorrelationNs = 50.0 * kMilli;
constexpr std::size_t kMaxHeldBytes = 32u << 20;
constexpr std::size_t kMaxPacket = 65535;

Nanos monotonicNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos{ts.tv_sec} * kSecond + ts.tv_nsec;
}

struct Prefix {
    int family = AF_INET;
    std::array<std::uint8_t, 16> bytes{};
    int length = 0;

    bool contains(int fam, const std::uint8_t* addr) const {
        if (fam != family) return false;
        int full = length / 8, rest = length % 8;
        if (std::memcmp(bytes.data(), addr, static_cast<std::size_t>(full)) != 0) return false;
        if (rest == 0) return true;
        auto mask = static_cast<std::uint8_t>(0xff << (8 - rest));
        return (bytes[static_cast<std::size_t>(full)] & mask) == (addr[full] & mask);
    }
};

Prefix parsePrefix(const std::string& text) {
    Prefix p;
    auto slash = text.find('/');
    std::string addr = text.substr(0, slash);
    p.family = addr.find(':') == std::string::npos ? AF_INET : AF_INET6;
    int max = p.family == AF_INET ? 32 : 128;
    if (inet_pton(p.family, addr.c_str(), p.bytes.data()) != 1)
        throw std::runtime_error("'" + text + "' is not an address or prefix");
    p.length = max;
    if (slash != std::string::npos) {
        std::string len = text.substr(slash + 1);
        if (len.empty() || len.size() > 3 || len.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(len) > max)
            throw std::runtime_error("'" + text + "' has a bad prefix length");
        p.length = std::stoi(len);
    }
    return p;
}

struct Held {
    Nanos due;
    std::vector<std::uint8_t> packet;
};

// One direction of one class: a bottleneck (rate, queue) followed by the propagation delay.
struct Direction {
    Nanos delay = 0;              // one way
    double jitterSigma = 0;       // ns, one way
    double loss = 0;              // probability
    double rate = 0;              // bit/s, 0: unlimited
    Nanos buffer = 100 * kMilli;  // longest wait for the bottleneck before a tail drop

    Nanos busyUntil = 0, lastDue = 0, jitterAt = 0;
    double jitter = 0;
    std::deque<Held> held;
    std::uint64_t packets = 0, bytes = 0, lost = 0, overflowed = 0;

    double nextJitter(Nanos now, std::mt19937_64& rng) {
        if (jitterSigma <= 0) return 0;
        std::normal_distribution<double> normal;
        double a = jitterAt == 0 ? 0 : std::exp(-static_cast<double>(now - jitterAt) / kJitterCorrelationNs);
        jitterAt = now;
        jitter = a * jitter + std::sqrt(1 - a * a) * jitterSigma * normal(rng);
        return std::clamp(jitter, -3 * jitterSigma, 3 * jitterSigma);
    }

    // When a packet arriving now leaves the line, or -1 when it is lost or finds the queue full.
    Nanos admit(Nanos now, std::size_t size, std::mt19937_64& rng) {
        if (loss > 0 && std::uniform_real_distribution<double>(0, 1)(rng) < loss) {
            ++lost;
            return -1;
        }
        Nanos sent = now;
        if (rate > 0) {
            Nanos start = std::max(now, busyUntil);
            if (start - now > buffer) {
                ++overflowed;
                return -1;
            }
            sent = start + static_cast<Nanos>(static_cast<double>(size) * 8 * kSecond / rate);
            busyUntil = sent;
        }
        double wander = nextJitter(now, rng);
        Nanos due = std::max(sent + std::max<Nanos>(0, delay + static_cast<Nanos>(wander)), lastDue);
        lastDue = due;
        ++packets;
        bytes += size;
        return due;
    }
};

struct LinkClass {
    std::string name;
    std::vector<Prefix> prefixes;
    Direction up, down;
};

double number(const std::string& key, const std::string& value, double max) {
    std::size_t used = 0;
    double v = 0;
    try {
        v = std::stod(value, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (value.empty() || used != value.size() || !std::isfinite(v) || v < 0 || v > max)
        throw std::runtime_error(key + "=" + value + " is not a number from 0 to " +
                                 std::to_string(static_cast<long long>(max)));
    return v;
}

// Lines: class NAME PREFIX[,PREFIX...] [rtt=MS] [jitter=MS] [loss=PERCENT] [rate=KBIT] [buffer=MS]
// rtt and jitter are round-trip figures (each direction gets half the delay and 1/sqrt(2) of the
// jitter's standard deviation); loss and rate hold for each direction.
std::vector<LinkClass> readConfig(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<LinkClass> classes;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        try {
            if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
            std::istringstream words(line);
            std::string kind, name, prefixes, setting;
            if (!(words >> kind)) continue;
            if (kind != "class") throw std::runtime_error("unknown line '" + kind + "' (class)");
            if (!(words >> name >> prefixes)) throw std::runtime_error("class NAME PREFIX[,PREFIX...] expected");
            LinkClass c;
            c.name = name;
            std::istringstream list(prefixes);
            for (std::string p; std::getline(list, p, ',');) c.prefixes.push_back(parsePrefix(p));
            Direction d;
            while (words >> setting) {
                auto eq = setting.find('=');
                std::string key = setting.substr(0, eq), value = eq == std::string::npos ? "" : setting.substr(eq + 1);
                if (key == "rtt")
                    d.delay = static_cast<Nanos>(number(key, value, 60'000) * kMilli / 2);
                else if (key == "jitter")
                    d.jitterSigma = number(key, value, 10'000) * kMilli / std::sqrt(2.0);
                else if (key == "loss")
                    d.loss = number(key, value, 100) / 100;
                else if (key == "rate")
                    d.rate = number(key, value, 100'000'000) * 1000;
                else if (key == "buffer")
                    d.buffer = static_cast<Nanos>(number(key, value, 10'000) * kMilli);
                else
                    throw std::runtime_error("unknown setting '" + key + "' (rtt, jitter, loss, rate, buffer)");
            }
            c.up = c.down = d;
            classes.push_back(std::move(c));
        } catch (const std::exception& e) {
            throw std::runtime_error(path + ":" + std::to_string(n) + ": " + e.what());
        }
    }
    return classes;
}

volatile std::sig_atomic_t stopSignal = 0;
volatile std::sig_atomic_t dumpWanted = 0;

class DelayLine {
public:
    DelayLine(std::vector<LinkClass> classes, std::vector<Prefix> client, std::uint64_t seed)
        : classes_(std::move(classes)), client_(std::move(client)), rng_(seed) {}

    // Takes one packet read from the device: held for its class, or written back at once when it
    // has none.
    void take(int fd, const std::uint8_t* data, std::size_t size, Nanos now) {
        Direction* d = directionOf(data, size);
        if (d == nullptr) {
            ++passed_;
            writeOut(fd, data, size);
            return;
        }
        if (heldBytes_ + size > kMaxHeldBytes) {
            ++d->overflowed;
            return;
        }
        Nanos due = d->admit(now, size, rng_);
        if (due < 0) return;
        d->held.push_back({due, std::vector<std::uint8_t>(data, data + size)});
        heldBytes_ += size;
    }

    // Writes every packet that is due; returns when the next one is (or -1 when none is held).
    Nanos release(int fd, Nanos now) {
        Nanos next = -1;
        for (auto& c : classes_) {
            for (Direction* d : {&c.up, &c.down}) {
                while (!d->held.empty() && d->held.front().due <= now) {
                    writeOut(fd, d->held.front().packet.data(), d->held.front().packet.size());
                    heldBytes_ -= d->held.front().packet.size();
                    d->held.pop_front();
                }
                if (!d->held.empty() && (next < 0 || d->held.front().due < next)) next = d->held.front().due;
            }
        }
        return next;
    }

    void dump() const {
        std::printf("delay line: %llu packets passed unclassified, %llu write errors, %zu bytes held\n",
                    static_cast<unsigned long long>(passed_), static_cast<unsigned long long>(writeErrors_),
                    heldBytes_);
        for (const auto& c : classes_) {
            for (const auto& [label, d] : {std::pair{"up", &c.up}, std::pair{"down", &c.down}}) {
                std::printf("class %s %s packets=%llu bytes=%llu lost=%llu overflowed=%llu\n", c.name.c_str(), label,
                            static_cast<unsigned long long>(d->packets), static_cast<unsigned long long>(d->bytes),
                            static_cast<unsigned long long>(d->lost), static_cast<unsigned long long>(d->overflowed));
            }
        }
        std::fflush(stdout);
    }

private:
    // The client's packets are classed by their destination, all others by their source.
    Direction* directionOf(const std::uint8_t* p, std::size_t size) {
        int family = 0;
        const std::uint8_t *src = nullptr, *dst = nullptr;
        if (size >= 20 && (p[0] >> 4) == 4) {
            family = AF_INET, src = p + 12, dst = p + 16;
        } else if (size >= 40 && (p[0] >> 4) == 6) {
            family = AF_INET6, src = p + 8, dst = p + 24;
        } else {
            return nullptr;
        }
        bool fromClient =
            std::any_of(client_.begin(), client_.end(), [&](const Prefix& c) { return c.contains(family, src); });
        const std::uint8_t* far = fromClient ? dst : src;
        LinkClass* best = nullptr;
        int bestLength = -1;
        for (auto& c : classes_) {
            for (const auto& prefix : c.prefixes) {
                if (prefix.length > bestLength && prefix.contains(family, far)) best = &c, bestLength = prefix.length;
            }
        }
        if (best == nullptr) return nullptr;
        return fromClient ? &best->up : &best->down;
    }

    void writeOut(int fd, const std::uint8_t* data, std::size_t size) {
        if (write(fd, data, size) != static_cast<ssize_t>(size)) ++writeErrors_;
    }

    std::vector<LinkClass> classes_;
    std::vector<Prefix> client_;
    std::mt19937_64 rng_;
    std::size_t heldBytes_ = 0;
    std::uint64_t passed_ = 0, writeErrors_ = 0;
};

int openTun(const std::string& name) {
    if (name.empty() || name.size() >= IFNAMSIZ) throw std::runtime_error("bad device name '" + name + "'");
    int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(std::string("cannot open /dev/net/tun: ") + std::strerror(errno));
    ifreq ifr{};
    ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::memcpy(ifr.ifr_name, name.c_str(), name.size());
    if (ioctl(fd, TUNSETIFF, &ifr) < 0) {
        int err = errno;
        close(fd);
        throw std::runtime_error("cannot make tun device " + name + ": " + std::strerror(err));
    }
    // No offloads: every packet the line reads carries its final checksums, so what it writes back
    // is valid wherever the kernel sends it next.
    if (ioctl(fd, TUNSETOFFLOAD, 0) < 0) {
        int err = errno;
        close(fd);
        throw std::runtime_error("cannot switch off offloads of " + name + ": " + std::strerror(err));
    }
    return fd;
}

// Delays are only as exact as the line's wake-ups. On a busy machine (builds on every core) an
// ordinary process wakes tens of milliseconds late, so the line takes the lowest real-time
// priority; it sleeps between packets and does little per packet, so it never holds a core.
void preferPromptWakeUps() {
    sched_param param{};
    param.sched_priority = 1;
    if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) != 0) setpriority(PRIO_PROCESS, 0, -20);
}

// Once the device is open nothing needs root: the line runs as nobody, without a way back.
void dropPrivileges() {
    constexpr uid_t kNobody = 65534;
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        throw std::runtime_error(std::string("cannot drop privileges: ") + std::strerror(errno));
}

void onSignal(int sig) {
    if (sig == SIGUSR1)
        dumpWanted = 1;
    else
        stopSignal = sig;
}

int run(int argc, char** argv) {
    std::string dev, config;
    std::vector<Prefix> client;
    std::uint64_t seed = std::random_device{}();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) throw std::runtime_error("option " + arg + " needs a value");
        std::string value = argv[++i];
        if (arg == "--dev")
            dev = value;
        else if (arg == "--client")
            client.push_back(parsePrefix(value));
        else if (arg == "--config")
            config = value;
        else if (arg == "--seed") {
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos || value.size() > 19)
                throw std::runtime_error("--seed needs a whole number");
            seed = std::stoull(value);
        } else
            throw std::runtime_error("unknown option " + arg);
    }
    if (dev.empty() || config.empty() || client.empty())
        throw std::runtime_error("usage: lab-delay-line --dev NAME --client PREFIX... --config FILE [--seed N]");
    DelayLine line(readConfig(config), std::move(client), seed);

    // Its own session: a Ctrl-C meant for whoever started the lab must not cut the client's link.
    setsid();
    int fd = openTun(dev);
    preferPromptWakeUps();
    dropPrivileges();

    sigset_t handled, during;
    sigemptyset(&handled);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&handled, sig);
    sigprocmask(SIG_BLOCK, &handled, &during);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaction(sig, &sa, nullptr);

    std::vector<std::uint8_t> buf(kMaxPacket);
    while (stopSignal == 0) {
        Nanos next = line.release(fd, monotonicNow());
        timespec wait{};
        timespec* timeout = nullptr;
        if (next >= 0) {
            Nanos left = std::max<Nanos>(0, next - monotonicNow());
            wait.tv_sec = left / kSecond;
            wait.tv_nsec = left % kSecond;
            timeout = &wait;
        }
        pollfd pfd{fd, POLLIN, 0};
        int ready = ppoll(&pfd, 1, timeout, &during);
        if (ready < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        if (dumpWanted != 0) {
            dumpWanted = 0;
            line.dump();
        }
        if (ready <= 0) continue;
        if ((pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) throw std::runtime_error("the tun device went away");
        // A bounded batch per wake-up, so due packets are never starved by a flood.
        for (int n = 0; n < 256; ++n) {
            ssize_t got = read(fd, buf.data(), buf.size());
            if (got < 0) {
                if (errno == EAGAIN || errno == EINTR) break;
                throw std::runtime_error(std::string("reading the tun device: ") + std::strerror(errno));
            }
            line.take(fd, buf.data(), static_cast<std::size_t>(got), monotonicNow());
        }
    }
    line.dump();
    close(fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lab-delay-line: %s\n", e.what());
        return 1;
    }
}
