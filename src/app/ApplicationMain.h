#pragma once

#include <functional>

// The life of the murlex process: the application object, the command line, the one instance
// per session, the shared state (whose bootstrap starts every service), and a clean end on
// SIGINT/SIGTERM. main() is only a call of run().
class ApplicationMain {
public:
    // Called with the application object in place, before the shared state exists (a test build
    // installs its transport there).
    using BeforeStart = std::function<void()>;

    // The exit status of the process.
    static int run(int argc, char *argv[], const BeforeStart &beforeStart = {});
};
