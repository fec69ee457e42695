// A device mode handed on as a movable global memory handle or as a plain pointer: locked while
// the scope lasts when it is a handle, used as it is otherwise.
#pragma once

#include "platform/kernel/kernel.h"
#include "platform/spooler/spooler.h"

namespace aio {

class DevModeLock final {
public:
    explicit DevModeLock(DEVMODEW* devmode) : value_(devmode), locked_(static_cast<DEVMODEW*>(GlobalLock(devmode))) {}
    ~DevModeLock()
    {
        if (locked_)
            GlobalUnlock(value_);
    }
    DevModeLock(const DevModeLock&) = delete;
    DevModeLock& operator=(const DevModeLock&) = delete;

    // The device mode itself; null when the value was null.
    DEVMODEW* Get() const { return locked_ ? locked_ : value_; }

private:
    DEVMODEW* value_;
    DEVMODEW* locked_;
};

} // namespace aio
