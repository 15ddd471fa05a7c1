#include "cli/unix_signals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace orlune {
namespace {

int writeEnd = -1;

void forward(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    (void)!::write(writeEnd, &byte, 1);
    errno = saved;
}

}  // namespace

UnixSignalWatcher::UnixSignalWatcher(std::initializer_list<int> signalNumbers, QObject* parent) : QObject(parent) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) return;
    readEnd_.reset(fds[0]);
    writeEnd = fds[1];
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_.get(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte;
        while (::read(readEnd_.get(), &byte, 1) == 1) emit received(byte);
    });
    struct sigaction action {};
    action.sa_handler = forward;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : signalNumbers) ::sigaction(signal, &action, nullptr);
}

UnixSignalWatcher::~UnixSignalWatcher() {
    // The handlers stay installed for the process's life; they only ever write to writeEnd.
}

}  // namespace orlune
