#include "core/file_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "control/unique_fd.h"
#include "core/service_failure.h"

namespace orlune {
namespace {

[[noreturn]] void throwErrno(int error, const std::filesystem::path& path) {
    throw ServiceFailure::system(kStateFileFailed, error, "Could not write " + path.string());
}

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!kept_) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    void keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
};

void writeAll(int fd, std::string_view bytes, const std::filesystem::path& path) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throwErrno(errno, path);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

void save(const nlohmann::json& value, const std::filesystem::path& path) {
    std::string bytes;
    try {
        bytes = value.dump();
    } catch (const nlohmann::json::exception& error) {
        throw ServiceFailure::failed(kStateFileFailed,
                                     "Could not encode " + path.string() + " as JSON: " + error.what());
    }
    writeFileAtomically(path, bytes);
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    // The new file is complete, private and on disk before it takes the old one's place.
    const std::filesystem::path directory = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string temporary = (directory / ("." + path.filename().string() + ".XXXXXX")).string();
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd) throwErrno(errno, path);
    TemporaryFile cleanup(temporary);
    if (::fchmod(fd.get(), 0600) != 0) throwErrno(errno, path);
    writeAll(fd.get(), bytes, path);
    if (::fsync(fd.get()) != 0) throwErrno(errno, path);
    if (::close(fd.release()) != 0) throwErrno(errno, path);
    if (::rename(temporary.c_str(), path.c_str()) != 0) throwErrno(errno, path);
    cleanup.keep();

    // Make the rename itself durable; the file is in place either way, so a failure here is ignored.
    UniqueFd directoryFd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directoryFd) ::fsync(directoryFd.get());
}

}  // namespace orlune
