#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// Tests run as root ignore file modes. While one of these lives, the calling thread (and every thread it
// starts) loses the capabilities that override them, so a folder with mode 000 really cannot be read.
class FileModesEnforced
{
public:
    FileModesEnforced()
    {
        header.version = _LINUX_CAPABILITY_VERSION_3;
        if (syscall(SYS_capget, &header, saved) != 0) {
            return;
        }
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~FileModesEnforced()
    {
        if (active) {
            syscall(SYS_capset, &header, saved);
        }
    }
    FileModesEnforced(const FileModesEnforced&) = delete;
    FileModesEnforced& operator=(const FileModesEnforced&) = delete;

private:
    __user_cap_header_struct header {};
    __user_cap_data_struct saved[2] {};
    bool active = false;
};
