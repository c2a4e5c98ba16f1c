#pragma once

// The application: shows the main dialog, whose initialisation does the run,
// and ends when it closes.
class CquarvelApp {
public:
    // Returns false: there is nothing to do after the main dialog closes.
    bool InitInstance();

    // 1 when the run could not start (no install folder), otherwise 0.
    int ExitStatus() const { return m_exitStatus; }

private:
    int m_exitStatus = 0;
};
