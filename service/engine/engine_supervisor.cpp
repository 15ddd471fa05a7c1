#include "engine/engine_supervisor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "engine/state_files.h"
#include "engine/transport_observation.h"

namespace orlune {

EngineSupervisor::EngineSupervisor(EnginePaths paths, ProcessControl& processes, Clock& clock, EngineHost& host,
                                   SupervisionTimings timings)
    : heartbeat(clock.now()),
      paths_(std::move(paths)),
      processes_(processes),
      clock_(clock),
      host_(host),
      timings_(timings) {}

bool EngineSupervisor::engineRunning() { return engine && engine->isRunning(); }

void EngineSupervisor::tick() {
    if (!engine) return;
    const bool running = engine->isRunning();
    if (ownerAlive() && running && clock_.now() - heartbeat <= timings_.heartbeatLimit) {
        return;
    }
    const std::string tail = logTail();
    if (running) {
        lastFailure.clear();
    } else if (engineLogHas(tail, kEngineAuthFailedLine)) {
        lastFailure = kEngineAuthenticationFailed;
    } else {
        lastFailure = kEngineDisconnected;
    }
    try {
        stop();
    } catch (const std::exception&) {
        lastFailure = kEngineStopNeedsAttention;
    }
}

bool EngineSupervisor::ownerAlive() {
    if (!ownerPID) return false;
    if (!ownerWatch_) return processes_.exists(*ownerPID);
    pollfd ended{ownerWatch_.get(), POLLIN, 0};
    return ::poll(&ended, 1, 0) == 0;
}

void EngineSupervisor::stop() {
    if (engine && engine->isRunning()) {
        engine->signal(SIGTERM);
        const Clock::TimePoint requested = clock_.now();
        bool hurried = false;
        while (engine->isRunning() && clock_.now() - requested < timings_.stopGrace) {
            // Its last lines are taken as it writes them, so a full pipe never holds up its end.
            drainLog();
            // Over UDP the first SIGTERM makes the engine tell the relay that it leaves, and then
            // wait a second to repeat that; the notice goes out at once, and a second SIGTERM
            // ends the wait, so the routes and DNS come back without it.
            if (!hurried && clock_.now() - requested >= timings_.exitNotice) {
                engine->signal(SIGTERM);
                hurried = true;
            }
            // Waiting for the end itself, where the child allows it, replaces the pause.
            if (!engine->waitForExitWithin(timings_.stopPoll)) clock_.sleepFor(timings_.stopPoll);
        }
        if (engine->isRunning()) engine->signal(SIGKILL);
        engine->waitForExit();
    }
    drainLog();
    log_.reset();
    engine.reset();
    host_.engineStopped();
    logHandle.reset();
    host_.restoreDNS();
    removeEngineFiles();
    ownerUID.reset();
    ownerPID.reset();
    ownerWatch_.reset();
}

void EngineSupervisor::recover() {
    std::error_code error;
    std::filesystem::create_directories(paths_.state, error);
    if (error) throw std::system_error(error, "Could not create " + paths_.state);
    (void)::chmod(paths_.state.c_str(), 0700);

    std::ifstream file(paths_.pid(), std::ios::binary);
    if (file) {
        std::ostringstream text;
        text << file.rdbuf();
        std::optional<std::int32_t> pid = parsePidFile(text.str());
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

void EngineSupervisor::writeConfiguration(const std::string& text) const {
    writeStateFile(paths_.configuration(), text);
}

UniqueFd EngineSupervisor::createLog() {
    UniqueFd engineEnd;
    log_ = std::make_unique<EngineLog>(paths_.log(), engineEnd);
    return engineEnd;
}

void EngineSupervisor::adopt(std::uint32_t uid, std::int32_t pid, UniqueFd log) {
    ownerUID = uid;
    ownerPID = pid;
    ownerWatch_ = processes_.watch(pid);
    heartbeat = clock_.now();
    logHandle = std::move(log);
}

void EngineSupervisor::launch(LaunchRequest request) {
    request.output = logHandle.get();
    engine = processes_.launch(request);
    // Once the engine alone holds the pipe's write end, its end shows as the end of the pipe.
    logHandle.reset();
    writeStateFile(paths_.pid(), std::to_string(engine->pid()));
}

void EngineSupervisor::removeEngineFiles() const {
    (void)::unlink(paths_.pid().c_str());
    (void)::unlink(paths_.management().c_str());
    (void)::unlink(paths_.configuration().c_str());
}

}  // namespace orlune
