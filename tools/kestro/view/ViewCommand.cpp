// kestro view: the gel's analysis in a browser, served on 127.0.0.1 until Ctrl-C.
#include "../Commands.h"
#include "../Records.h"
#include "ViewServer.h"

#include <csignal>
#include <iostream>
#include <memory>
#include <pthread.h>
#include <thread>

namespace kestro {

namespace {

int runView(view::ViewOptions options) {
    if (!commandLine().empty()) options.program = commandLine().front();
    view::ViewServer server(std::move(options));
    // Ctrl-C and SIGTERM are taken by one thread that stops the server, so that requests at
    // work finish and every file being saved is whole; the server's own threads never see them.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    server.bind();
    std::cout << "kestro view: open " << server.url() << "\n"
              << "kestro view: serving on 127.0.0.1 only; Ctrl-C stops it" << std::endl;
    std::thread waiter([&] {
        int signal = 0;
        sigwait(&stopping, &signal);
        server.stop();
    });
    server.run();
    // A stop not caused by a signal (the listening socket failed) still ends the waiter.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    std::cout << "kestro view: stopped" << std::endl;
    return 0;
}

} // namespace

Command addViewCommand(CLI::App& root, const bool&) {
    auto o = std::make_shared<view::ViewOptions>();
    CLI::App* app = root.add_subcommand(
        "view",
        "Look at a gel's lanes and bands in a browser, correct them, and save what kestro lanes --edits "
        "writes (a web server on 127.0.0.1)");
    app->footer(
        "Example:\n  kestro view gel.tif -o out\n  ssh -L 8080:127.0.0.1:8080 lab-server kestro view gels/ "
        "-o out "
        "--port 8080\n\nOpen the address it prints (it holds a token; requests without it are refused).\n"
        "Save writes NAME.edits.json, bands.csv, lanes.csv, NAME.lanes.json and NAME.lanes.png into the\n"
        "output folder (one folder per gel for a folder of gels), as the kestro lanes command line\n"
        "recorded in the report writes them.");
    app->add_option("FILE", o->inputs, "A gel image, several, or a folder of them")->required();
    app->add_option("-o,--output", o->output, "The folder saves are written into")->capture_default_str();
    app->add_option("--port", o->port, "Port on 127.0.0.1 (0: any free port)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    addGelOptions(*app, o->gel);
    return {app, [o] { return runView(*o); }};
}

} // namespace kestro
