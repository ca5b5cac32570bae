// Lets permission bits bind the test even when it runs as root.
#pragma once

#include <linux/capability.h>

// While it lives, the calling thread's effective capabilities lack those
// that let root write into read-only files and folders, so a read-only
// folder refuses new files as it does for any user. Does nothing when the
// process is not root.
class PermissionsApply {
public:
    PermissionsApply();
    ~PermissionsApply();
    PermissionsApply(const PermissionsApply&) = delete;
    PermissionsApply& operator=(const PermissionsApply&) = delete;

private:
    bool m_changed = false;
    __user_cap_data_struct m_saved[_LINUX_CAPABILITY_U32S_3] = {};
};
