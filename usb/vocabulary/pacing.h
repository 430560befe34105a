// The waits between the reports of one run, which a slow box needs to take
// each key.
#pragma once

// The box needs this long after the last digit before it takes 'Backup'.
constexpr int default_pause_ms = 2000;

struct report_pacing {
    int gap_ms = 0;                   // before every key or code that follows another report
    int pause_ms = default_pause_ms;  // before 'Backup', instead of the gap
    bool report_sent = false;         // something already went to the controller in this run
    // Told of each wait before it begins, if set: tavoctl traces it.
    void (*announce_wait)(int ms) = nullptr;
};

// Call before each report (or the two of the setup upload): waits the gap
// unless this is the run's first.
void wait_gap(report_pacing* pacing);

// Call before 'Backup': waits the pause alone, whatever the gap.
void wait_pause(report_pacing* pacing);
