// An application object that counts the wait cursor's switches, for the tests of the code that
// shows it.
#pragma once

#include "platform/framework/App.h"

#include <atomic>
#include <string>

namespace testsupport {

/// The process's application object while it lives; counts from any thread how often the wait
/// cursor was switched on and off.
class WaitCursorCount : public CWinApp {
public:
    void DoWaitCursor(int nCode) override {
        if (nCode > 0) ++begins;
        if (nCode < 0) ++ends;
    }
    /// "<begins> on, balanced" or "... unbalanced".
    std::string state() const {
        return std::to_string(begins) + (begins == ends ? " on, balanced" : " on, unbalanced");
    }
    std::atomic<int> begins{0}, ends{0};
};

} // namespace testsupport
