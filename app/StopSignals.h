#pragma once

// For as long as it lives, SIGINT, SIGTERM and SIGHUP (where the system has
// it) ask the run to stop as the progress window's Stop does, rather than end
// the process; a second one ends the process at once, by that signal. A
// signal ignored when the object is made (as nohup leaves SIGHUP) stays
// ignored. One object at a time; the program's main owns it.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The first of these signals received, or 0.
    int Received() const;

private:
    // What each signal did before, put back at the end.
    void (*m_previous[3])(int) = {};
};
