#include "app/StopSignals.h"

#include <atomic>
#include <csignal>
#include <iterator>
#include <tuple>
#include <type_traits>

namespace {

constexpr int kSignals[] = {
    SIGINT,
    SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
};

// A handler can reach nothing but this; lock-free, so the handler may touch it.
std::atomic<int> g_received{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void AskToStop(int signal) {
    int none = 0;
    if (g_received.compare_exchange_strong(none, signal)) return;
    // Asked twice: the person means now. The write layer leaves every file
    // old or new whenever the process ends, so ending here tears nothing.
    std::ignore = std::signal(signal, SIG_DFL);
    std::ignore = std::raise(signal);
}

}  // namespace

StopSignals::StopSignals() {
    static_assert(std::size(kSignals) <= std::extent_v<decltype(m_previous)>);
    g_received.store(0);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        m_previous[i] = std::signal(kSignals[i], AskToStop);
        if (m_previous[i] == SIG_IGN) std::ignore = std::signal(kSignals[i], SIG_IGN);
    }
}

StopSignals::~StopSignals() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (m_previous[i] != SIG_ERR) std::ignore = std::signal(kSignals[i], m_previous[i]);
    }
}

int StopSignals::Received() const {
    return g_received.load();
}
