#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "control/unique_fd.h"
#include "engine/engine_interface.h"
#include "engine/engine_log.h"
#include "engine/process_control.h"

namespace orlune {

// A pid file holds a number and a line break; anything much larger is not one.
inline constexpr std::size_t kPidFileLimit = 64;

// Texts recorded in `lastFailure` when an engine ends without a client asking for it.
inline constexpr const char* kEngineAuthenticationFailed = "The relay rejected VPN authentication (AUTH_FAILED).";
inline constexpr const char* kEngineDisconnected = "The VPN relay disconnected or timed out.";
inline constexpr const char* kEngineStopNeedsAttention = "The VPN stopped, but DNS restoration needs attention.";

struct SupervisionTimings {
    // A heartbeat older than this ends the engine.
    std::chrono::milliseconds heartbeatLimit{90'000};
    std::chrono::milliseconds stopGrace{6'000};
    std::chrono::milliseconds stopPoll{50};
    // How long an engine that tells the relay it leaves is given to send that notice before a
    // second SIGTERM ends it without the second of repeats it would otherwise wait.
    std::chrono::milliseconds exitNotice{100};
    std::chrono::milliseconds recoveryGrace{6'000};
    std::chrono::milliseconds recoveryPoll{100};
};

// Where the engine and its files are. The service uses the fixed paths; tests use a directory
// of their own.
struct EnginePaths {
    std::string engine;
    std::string state;

    std::string configuration() const { return inState(kEngineConfigurationName); }
    std::string log() const { return inState(kEngineLogName); }
    std::string pid() const { return inState(kEnginePidName); }
    std::string management() const { return inState(kEngineManagementName); }

private:
    std::string inState(std::string_view name) const { return state + "/" + std::string(name); }
};

// What supervision asks of the service around it.
class EngineHost {
public:
    virtual ~EngineHost() = default;
    // Undo a recorded DNS switch; throws when that fails (the record then stays).
    virtual void restoreDNS() = 0;
    // Forget what the log said about the tunnel: a stopped engine has no tunnel.
    virtual void engineStopped() = 0;
};

// The one engine process and its owner. Single-threaded: every call runs on the service loop,
// and the waits in stop() and recover() block it (about 6 s at most each).
class EngineSupervisor {
public:
    EngineSupervisor(EnginePaths paths, ProcessControl& processes, Clock& clock, EngineHost& host,
                     SupervisionTimings timings = {});

    // One supervision step; never throws. Stops the engine when it has ended by itself, when its
    // owner process is gone or silent for longer than the heartbeat limit, and records why.
    void tick();
    // Ends the engine (SIGTERM, a second one once its exit notice is out, SIGKILL after the
    // grace period), restores DNS, removes the pid
    // file, the management path and the configuration, and clears the owner. A failed DNS
    // restore throws at once: the files and the owner stay, so a later stop tries again.
    void stop();
    // Start-up clean-up after an earlier instance: ends the engine its pid file names (only
    // when that process's command line shows the engine and its configuration), restores DNS
    // and removes the same files as stop(). Throws when the state directory cannot be made or
    // DNS cannot be restored.
    void recover();
    // The end of the engine log, with what the engine has written up to now; never throws.
    std::string logTail();
    // The engine output's descriptor to wait on (-1 without one), and moving that output into
    // the log file; drainLog never waits and never throws.
    int logDescriptor() const { return log_ ? log_->descriptor() : -1; }
    void drainLog() {
        if (log_) log_->drain();
    }

    // Connect's steps around the launch. The configuration is written atomically with mode
    // 0600; the log is made anew, empty, 0600, and the write end of the pipe that feeds it is
    // returned (throws on failure).
    void writeConfiguration(const std::string& text) const;
    UniqueFd createLog();
    // Records the owner and the log handle, starting a fresh heartbeat.
    void adopt(std::uint32_t uid, std::int32_t pid, UniqueFd log);
    // Starts the engine with the log handle as its output, then lets go of that handle so the
    // engine holds the only one, and writes its pid file; throws on failure, leaving clean-up to
    // the caller's stop().
    void launch(LaunchRequest request);

    bool engineRunning();
    // Whether an engine is held, running or not yet reaped.
    bool hasEngine() const { return engine_ != nullptr; }
    void refreshHeartbeat() { heartbeat_ = clock_.now(); }
    // The service itself did not run for a while (frozen or stopped; a suspend stops its clock
    // instead): the owner could not be heard meanwhile, so its silence counts afresh from now.
    void resumeAfterPause() { heartbeat_ = clock_.now(); }
    const EnginePaths& paths() const { return paths_; }

    // The user and process that started the engine, until a stop succeeds.
    std::optional<std::uint32_t> ownerUID() const { return ownerUID_; }
    std::optional<std::int32_t> ownerPID() const { return ownerPID_; }
    // Why the last engine ended without a client asking for it (one of the texts above), or
    // empty; kept until a client's connect or disconnect clears it.
    const std::string& lastFailure() const { return lastFailure_; }
    void clearFailure() { lastFailure_.clear(); }

private:
    void removeEngineFiles() const;
    std::optional<std::string> readPidFile() const;
    bool ownerAlive();

    EnginePaths paths_;
    std::unique_ptr<ChildProcess> engine_;
    // The engine output's write end between createLog() and launch().
    UniqueFd logHandle_;
    std::optional<std::uint32_t> ownerUID_;
    std::optional<std::int32_t> ownerPID_;
    Clock::TimePoint heartbeat_;
    std::string lastFailure_;
    std::unique_ptr<EngineLog> log_;
    // The owner's pidfd: a reused process id cannot pass for the owner, and no signal is needed.
    UniqueFd ownerWatch_;
    ProcessControl& processes_;
    Clock& clock_;
    EngineHost& host_;
    SupervisionTimings timings_;
};

}  // namespace orlune
