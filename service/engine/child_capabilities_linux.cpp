#include "engine/child_capabilities_linux.h"

#include <linux/capability.h>
#include <linux/securebits.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace orlune {
namespace {

constexpr int kKept = CAP_NET_ADMIN;

bool readSets(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

}  // namespace

void confineChildCapabilities() {
    // Where the bits are already set and locked (the unit sets them), this changes nothing.
    const int bits = ::prctl(PR_GET_SECUREBITS);
    if (bits >= 0) {
        (void)::prctl(PR_SET_SECUREBITS, bits | SECBIT_NOROOT | SECBIT_NOROOT_LOCKED);
    }
    for (int cap = 0; cap <= CAP_LAST_CAP; ++cap) {
        if (cap != kKept) (void)::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    }

    __user_cap_data_struct data[2]{};
    if (!readSets(data)) return;
    const bool holdsKept = (data[0].permitted & CAP_TO_MASK(kKept)) != 0;
    data[0].inheritable = holdsKept ? CAP_TO_MASK(kKept) : 0;
    data[1].inheritable = 0;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    (void)::syscall(SYS_capset, &header, data);
    (void)::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    if (holdsKept) (void)::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, kKept, 0, 0);
}

}  // namespace orlune
