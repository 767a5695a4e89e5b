// The booth's Qt Test classes share one program; each registers itself here
// under the name CTest runs it by.
#pragma once

#include <functional>
#include <memory>

#include <QObject>

using TTestFactory = std::function<std::unique_ptr<QObject>()>;

// Returns a dummy value so registration can run as a static initialiser.
int RegisterTestClass(const char* name, TTestFactory factory);

#define BOOTH_TEST_CLASS(Class)                                                            \
    [[maybe_unused]] static const int Class##Registered =                                  \
        RegisterTestClass(#Class, [] { return std::unique_ptr<QObject>(std::make_unique<Class>()); })
