// Runs one registered test class ("app_tests Money [Qt Test options]") or,
// without a class name, all of them.
#include <cstdio>
#include <map>
#include <string>

#include <QApplication>
#include <QTest>

#include "tests/app/test_registry.h"

namespace {

std::map<std::string, TTestFactory>& Registry() {
    static std::map<std::string, TTestFactory> registry;
    return registry;
}

}  // namespace

int RegisterTestClass(const char* name, TTestFactory factory) {
    Registry().emplace(name, std::move(factory));
    return 0;
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc > 1 && argv[1][0] != '-') {
        const auto found = Registry().find(argv[1]);
        if (found == Registry().end()) {
            std::fprintf(stderr, "no test class named %s\n", argv[1]);
            return 2;
        }
        argv[1] = argv[0];  // Qt Test reads its options after the program name
        return QTest::qExec(found->second().get(), argc - 1, argv + 1);
    }
    int failed = 0;
    for (const auto& [name, factory] : Registry()) failed += QTest::qExec(factory().get(), argc, argv);
    return failed;
}
