#pragma once
// Sets an environment variable (TZ among them) for one test and restores it
// afterwards; tests of times in UTC.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace qvtest {

// Sets, or with a null value clears, one variable; the time zone is read again
// after each change.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            previous_ = old;
        }
        Set(value);
    }
    ~ScopedEnv() { Set(previous_ ? previous_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const char* value) {
        if (value != nullptr) {
            ::setenv(name_.c_str(), value, 1);
        } else {
            ::unsetenv(name_.c_str());
        }
        ::tzset();
    }

    std::string name_;
    std::optional<std::string> previous_;
};

class ScopedTimeZone : public ScopedEnv {
public:
    explicit ScopedTimeZone(const char* zone) : ScopedEnv("TZ", zone) {}
};

// Tests of times run in UTC.
class UtcTest : public ::testing::Test {
protected:
    ScopedTimeZone utc_{"UTC"};
};

// Central European time with its summer time rule, written out so that no
// time-zone database is needed.
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

}  // namespace qvtest
