#include "vocabulary/pacing.h"

#include <chrono>
#include <thread>

namespace {

// Sleeps until the whole wait has passed on the steady clock: a platform
// sleep may wake a timer tick early, and a short wait makes the box miss the
// key after it.
void wait_at_least(const report_pacing* pacing, int ms) {
    if (ms == 0) {
        return;
    }
    if (pacing->announce_wait != nullptr) {
        pacing->announce_wait(ms);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (auto now = std::chrono::steady_clock::now(); now < deadline;
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(deadline - now);
    }
}

}  // namespace

void wait_gap(report_pacing* pacing) {
    if (pacing->report_sent) {
        wait_at_least(pacing, pacing->gap_ms);
    }
    pacing->report_sent = true;
}

void wait_pause(report_pacing* pacing) {
    wait_at_least(pacing, pacing->pause_ms);
    pacing->report_sent = true;
}
