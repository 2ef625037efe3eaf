#pragma once
// Runs a clean-up step once: at Run() or at scope exit, whatever happened
// before.

#include <utility>

template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() { Run(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    void Run()
    {
        if (!done_) {
            done_ = true;
            f_();
        }
    }

private:
    F f_;
    bool done_ = false;
};
