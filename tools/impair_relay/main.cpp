// impair-relay: forwards a media stream between two local UDP ports while
// spoiling it like a poor shared line, and prints what it did.
//
//   impair-relay --listen PORT --to PORT [--loss PERCENT] [--burst PACKETS]
//                [--delay MS] [--jitter MS] [--reorder PERCENT]
//                [--duplicate PERCENT] [--seed N] [--seconds N] [--control]
//
// It runs until --seconds have passed or standard input ends, then prints
// one summary line ("relay received ...").
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <thread>

#include "tools/impair_relay/impair_relay.h"

namespace {

int Usage() {
    std::cerr << "usage: impair-relay --listen PORT --to PORT [--loss PERCENT] [--burst PACKETS]\n"
                 "       [--delay MS] [--jitter MS] [--reorder PERCENT] [--duplicate PERCENT]\n"
                 "       [--seed N] [--seconds N] [--control]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> values;
    bool control = false;
    for (int index = 1; index < argc; ++index) {
        const std::string name = argv[index];
        if (name == "--control") {
            control = true;
        } else if (name.rfind("--", 0) == 0 && index + 1 < argc) {
            values[name.substr(2)] = argv[++index];
        } else {
            return Usage();
        }
    }
    if (!values.count("listen") || !values.count("to"))
        return Usage();
    const auto number = [&](const std::string& name, double fallback) {
        return values.count(name) ? std::atof(values[name].c_str()) : fallback;
    };
    relay::TImpairment impairment;
    impairment.lossPercent = number("loss", 0);
    impairment.burstLength = number("burst", 1);
    impairment.delayMs = number("delay", 0);
    impairment.jitterMs = number("jitter", 0);
    impairment.reorderPercent = number("reorder", 0);
    impairment.duplicatePercent = number("duplicate", 0);
    impairment.seed = static_cast<uint64_t>(number("seed", 1));
    try {
        relay::TImpairRelay relay(static_cast<uint16_t>(number("listen", 0)),
                                  static_cast<uint16_t>(number("to", 0)), impairment, control);
        std::cout << "relay listening " << relay.ListenPort() << std::endl;
        const double seconds = number("seconds", 0);
        if (seconds > 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        } else {
            std::string line;
            while (std::getline(std::cin, line)) {
            }
        }
        std::cout << relay.Summary().Text() << std::endl;
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
        return 1;
    }
    return 0;
}
