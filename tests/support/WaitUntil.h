// Waiting on a condition instead of sleeping for a guessed time (threads without a Qt
// event loop; Qt tests use QTRY_VERIFY).
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Polls done until it holds or timeoutMs passed; its last answer.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
