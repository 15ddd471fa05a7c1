#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orlune {
namespace {

const QByteArray kShow = QByteArrayLiteral("show\n");
const QByteArray kShown = QByteArrayLiteral("shown\n");

QString runtimeDirectory() {
    const QString fromSession = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!fromSession.isEmpty()) return fromSession;
    // Qt's fallback is a private directory of the user's own.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

}  // namespace

SingleInstance::SingleInstance(QString directory, QObject* parent)
    : QObject(parent), directory_(directory.isEmpty() ? runtimeDirectory() : std::move(directory)) {
    if (directory_.isEmpty() || !QDir().mkpath(directory_)) {
        problem_ = QStringLiteral("no runtime directory for the single-window lock");
        return;
    }
    const QByteArray lockPath = QFile::encodeName(directory_ + QStringLiteral("/orlune-vpn.lock"));
    lock_.reset(::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock_) {
        problem_ = QStringLiteral("cannot open %1: %2")
                       .arg(QFile::decodeName(lockPath), QString::fromUtf8(std::strerror(errno)));
        return;
    }
    int result;
    do {
        result = ::flock(lock_.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        if (errno == EWOULDBLOCK) {
            role_ = Role::second;
        } else {
            problem_ = QStringLiteral("cannot lock %1: %2")
                           .arg(QFile::decodeName(lockPath), QString::fromUtf8(std::strerror(errno)));
        }
        lock_.reset();
        return;
    }
    // The lock is ours, so a socket left there belongs to a start that has ended.
    QLocalServer::removeServer(socketPath());
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath())) {
        problem_ = QStringLiteral("cannot listen on %1: %2").arg(socketPath(), server_->errorString());
        server_.reset();
        return;
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (!peer->canReadLine()) {
                    // Nothing but one short line is expected.
                    if (peer->bytesAvailable() > 64) peer->abort();
                    return;
                }
                const QByteArray line = peer->readLine(64);
                if (line == kShow) {
                    peer->write(kShown);
                    peer->flush();
                    emit activationRequested();
                }
                peer->disconnectFromServer();
            });
        }
    });
}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();  // removes the socket file before the lock is let go
}

QString SingleInstance::socketPath() const {
    return directory_ + QStringLiteral("/orlune-vpn.window");
}

bool SingleInstance::activateFirst(int timeoutMs) const {
    QElapsedTimer elapsed;
    elapsed.start();
    auto remaining = [&] { return std::max(0, timeoutMs - int(elapsed.elapsed())); };
    // The first start may hold the lock a moment before it listens.
    while (remaining() > 0) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (!socket.waitForConnected(remaining())) {
            QThread::msleep(50);
            continue;
        }
        socket.write(kShow);
        if (!socket.waitForBytesWritten(remaining())) return false;
        QByteArray answer;
        while (!answer.endsWith('\n') && answer.size() < 64 && socket.waitForReadyRead(remaining())) {
            answer += socket.readAll();
        }
        return answer == kShown;
    }
    return false;
}

}  // namespace orlune
