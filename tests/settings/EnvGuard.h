#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace halvora::test {

// Puts an environment variable back as it was when the guard goes.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name) {
        if (const char* value = ::getenv(name)) {
            old_ = value;
        }
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    ~EnvGuard() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace halvora::test
