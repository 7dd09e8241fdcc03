// Code the system or the host calls (window and dialog procedures, the
// plug-in's entry points) must never let a C++ exception unwind into their
// frames: nothing there can catch it, and the host would be terminated.
#pragma once

// Runs `body` and returns its result, or `fallback` if it threw.
template <typename Result, typename Body> Result guarded(Result fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

// The same for a body without a result.
template <typename Body> void guarded(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}
