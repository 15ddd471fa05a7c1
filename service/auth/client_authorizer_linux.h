#pragma once

#include <sys/types.h>

#include <string>

#include "auth/client_authorizer.h"
#include "auth/client_manifest.h"
#include "auth/executable_hash.h"

namespace orlune {

// Linux authorization: the kernel's peer credentials, a pidfd as the identity of exactly the
// connecting process, and the program behind /proc/PID/exe checked and hashed through the
// descriptor opened from it, never re-resolved by path.
class LinuxClientAuthorizer final : public ClientAuthorizer {
public:
    struct Options {
        // Where the process directories live; tests point this at a prepared tree.
        std::string procRoot = "/proc";
        // The only owner an authorized program file may have.
        uid_t codeOwner = 0;
    };

    explicit LinuxClientAuthorizer(ClientManifest manifest) : LinuxClientAuthorizer(std::move(manifest), Options{}) {}
    LinuxClientAuthorizer(ClientManifest manifest, Options options);

    PeerIdentity peer(int fd) override;

    // The checks that follow the credentials, for the process `pid` whose pidfd is `pidfd`:
    // its program intact and unmodified, then the program's path and hash against the
    // manifest, then the pidfd still naming a live process, so that everything read under
    // /proc/PID belonged to that process. Throws ServiceFailure with the refusal text.
    void checkProcess(pid_t pid, int pidfd);

private:
    ClientManifest manifest_;
    Options options_;
    ExecutableHashCache hashes_;
};

}  // namespace orlune
