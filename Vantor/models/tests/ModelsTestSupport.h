#pragma once

#include "TempFolder.h"

#include <QObject>
#include <cstdlib>
#include <optional>
#include <string>

namespace vantor::test {

// Sets an environment variable for the life of the object, then puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value)
        : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// How often a signal came while this object lived.
class SignalCount {
public:
    template <class Sender, class Signal> SignalCount(Sender* sender, Signal signal) {
        connection_ = QObject::connect(sender, signal, [this] { ++value; });
    }
    ~SignalCount() { QObject::disconnect(connection_); }
    SignalCount(const SignalCount&) = delete;
    SignalCount& operator=(const SignalCount&) = delete;
    int value = 0;

private:
    QMetaObject::Connection connection_;
};

} // namespace vantor::test
