#include "engine/engine_supervisor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "core/descriptor_reading.h"
#include "core/file_writer.h"
#include "core/service_failure.h"
#include "engine/state_files.h"
#include "engine/transport_observation.h"

namespace orlune {

EngineSupervisor::EngineSupervisor(EnginePaths paths, ProcessControl& processes, Clock& clock, EngineHost& host,
                                   SupervisionTimings timings)
    : paths_(std::move(paths)),
      heartbeat_(clock.now()),
      processes_(processes),
      clock_(clock),
      host_(host),
      timings_(timings) {}

bool EngineSupervisor::engineRunning() {
    return engine_ && engine_->isRunning();
}

void EngineSupervisor::tick() {
    if (!engine_) return;
    const bool running = engine_->isRunning();
    if (ownerAlive() && running && clock_.now() - heartbeat_ <= timings_.heartbeatLimit) {
        return;
    }
    const std::string tail = logTail();
    if (running) {
        lastFailure_.clear();
    } else if (engineRefusal(tail) == EngineRefusal::authentication) {
        lastFailure_ = kEngineAuthenticationFailed;
    } else {
        lastFailure_ = kEngineDisconnected;
    }
    try {
        stop();
    } catch (const std::exception&) {
        lastFailure_ = kEngineStopNeedsAttention;
    }
}

bool EngineSupervisor::ownerAlive() {
    if (!ownerPID_) return false;
    if (!ownerWatch_) return processes_.exists(*ownerPID_);
    pollfd ended{ownerWatch_.get(), POLLIN, 0};
    return ::poll(&ended, 1, 0) == 0;
}

void EngineSupervisor::stop() {
    if (engine_ && engine_->isRunning()) {
        engine_->signal(SIGTERM);
        const Clock::TimePoint requested = clock_.now();
        bool hurried = false;
        while (engine_->isRunning() && clock_.now() - requested < timings_.stopGrace) {
            // Its last lines are taken as it writes them, so a full pipe never holds up its end.
            drainLog();
            // Over UDP the first SIGTERM makes the engine tell the relay that it leaves, and then
            // wait a second to repeat that; the notice goes out at once, and a second SIGTERM
            // ends the wait, so the routes and DNS come back without it.
            if (!hurried && clock_.now() - requested >= timings_.exitNotice) {
                engine_->signal(SIGTERM);
                hurried = true;
            }
            // Waiting for the end itself, where the child allows it, replaces the pause.
            if (!engine_->waitForExitWithin(timings_.stopPoll)) clock_.sleepFor(timings_.stopPoll);
        }
        if (engine_->isRunning()) engine_->signal(SIGKILL);
        engine_->waitForExit();
    }
    drainLog();
    log_.reset();
    engine_.reset();
    host_.engineStopped();
    logHandle_.reset();
    host_.restoreDNS();
    removeEngineFiles();
    ownerUID_.reset();
    ownerPID_.reset();
    ownerWatch_.reset();
}

void EngineSupervisor::recover() {
    std::error_code error;
    std::filesystem::create_directories(paths_.state, error);
    if (error) {
        throw ServiceFailure::failed(kStateFileFailed, "Could not create " + paths_.state + ": " + error.message());
    }
    (void)::chmod(paths_.state.c_str(), 0700);

    if (std::optional<std::string> text = readPidFile()) {
        std::optional<std::int32_t> pid = parsePidFile(*text);
        std::optional<std::string> command = pid ? processes_.commandLine(*pid) : std::nullopt;
        // A reused process id names somebody else's process, which must not be touched.
        if (command && command->find(paths_.engine) != std::string::npos &&
            command->find(paths_.configuration()) != std::string::npos) {
            processes_.signal(*pid, SIGTERM);
            const Clock::TimePoint requested = clock_.now();
            while (processes_.exists(*pid) && clock_.now() - requested < timings_.recoveryGrace) {
                clock_.sleepFor(timings_.recoveryPoll);
            }
            if (processes_.exists(*pid)) processes_.signal(*pid, SIGKILL);
        }
    }
    host_.restoreDNS();
    removeEngineFiles();
}

std::string EngineSupervisor::logTail() {
    drainLog();
    return readLogTail(paths_.log());
}

std::optional<std::string> EngineSupervisor::readPidFile() const {
    try {
        return readFile(paths_.pid(), kPidFileLimit, kStateFileFailed);
    } catch (const ServiceFailure& failure) {
        // An unreadable pid file names no process; the engine it may have named is left alone.
        logFailure("recovery", failure.what());
        return std::nullopt;
    }
}

void EngineSupervisor::writeConfiguration(const std::string& text) const {
    writeFileAtomically(paths_.configuration(), text);
}

UniqueFd EngineSupervisor::createLog() {
    UniqueFd engineEnd;
    log_ = std::make_unique<EngineLog>(paths_.log(), engineEnd);
    return engineEnd;
}

void EngineSupervisor::adopt(std::uint32_t uid, std::int32_t pid, UniqueFd log) {
    ownerUID_ = uid;
    ownerPID_ = pid;
    ownerWatch_ = processes_.watch(pid);
    heartbeat_ = clock_.now();
    logHandle_ = std::move(log);
}

void EngineSupervisor::launch(LaunchRequest request) {
    request.output = logHandle_.get();
    engine_ = processes_.launch(request);
    // Once the engine alone holds the pipe's write end, its end shows as the end of the pipe.
    logHandle_.reset();
    writeFileAtomically(paths_.pid(), std::to_string(engine_->pid()));
}

void EngineSupervisor::removeEngineFiles() const {
    (void)::unlink(paths_.pid().c_str());
    (void)::unlink(paths_.management().c_str());
    (void)::unlink(paths_.configuration().c_str());
}

}  // namespace orlune
