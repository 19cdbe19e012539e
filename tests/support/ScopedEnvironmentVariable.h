#pragma once

#include <string>

namespace halvora::test {

// Sets (or, with nullptr, unsets) one environment variable for the object's
// lifetime, then restores what was there.
class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(const char* name, const char* value);
    ~ScopedEnvironmentVariable();
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    const char* name_;
    bool had_value_ = false;
    std::string old_value_;
};

}  // namespace halvora::test
