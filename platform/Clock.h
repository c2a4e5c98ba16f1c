#pragma once

#include <ctime>

namespace platform {

// The current local time, behind an interface so that tests can fix it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::tm LocalNow() const = 0;
};

class SystemClock final : public Clock {
public:
    std::tm LocalNow() const override;
};

class FixedClock final : public Clock {
public:
    explicit FixedClock(std::tm time) : m_time(time) {}
    std::tm LocalNow() const override { return m_time; }

private:
    std::tm m_time;
};

}  // namespace platform
