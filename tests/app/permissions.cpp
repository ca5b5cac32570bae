#include "permissions.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Overriding read, write and search permissions, and acting as the owner.
constexpr unsigned kOverrides =
    (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);

__user_cap_header_struct Header()
{
    __user_cap_header_struct header = {};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0; // this thread
    return header;
}

} // namespace

PermissionsApply::PermissionsApply()
{
    if (geteuid() != 0)
        return;
    __user_cap_header_struct header = Header();
    if (syscall(SYS_capget, &header, m_saved) != 0)
        return;
    __user_cap_data_struct lowered[_LINUX_CAPABILITY_U32S_3];
    for (int i = 0; i < _LINUX_CAPABILITY_U32S_3; ++i)
        lowered[i] = m_saved[i];
    lowered[0].effective &= ~kOverrides;
    header = Header();
    m_changed = syscall(SYS_capset, &header, lowered) == 0;
}

PermissionsApply::~PermissionsApply()
{
    if (!m_changed)
        return;
    __user_cap_header_struct header = Header();
    syscall(SYS_capset, &header, m_saved);
}
