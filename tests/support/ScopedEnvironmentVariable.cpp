#include "tests/support/ScopedEnvironmentVariable.h"

#include <cstdlib>

namespace halvora::test {

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        had_value_ = true;
        old_value_ = old;
    }
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
    if (had_value_) {
        setenv(name_, old_value_.c_str(), 1);
    } else {
        unsetenv(name_);
    }
}

}  // namespace halvora::test
