// kestro view: a small web server on the loopback interface through which a person looks at a
// gel's lanes and bands in a browser, corrects them, and saves what `kestro lanes --edits` writes.
#pragma once

#include "../GelRun.h"

#include <memory>
#include <string>
#include <vector>

namespace kestro::view {

struct ViewOptions {
    std::vector<std::string> inputs; ///< files, or one folder of gels
    std::string output = ".";        ///< the only folder written
    int port = 0;                    ///< 0: any free port
    GelArgs gel;                     ///< the analysis options, as for lanes
    std::string program = "kestro";  ///< how the tool was called, for the command line saved
};

/// What the server answers. The browser page is served at "/?token=TOKEN"; every request
/// without the token gets 403. Gels are addressed by their index in the inputs, never by path.
class ViewServer {
public:
    /// Lists the gels and checks the output folder (nothing is loaded or written yet); raises
    /// ToolError for inputs without gels and for earlier results in the output folder that a
    /// save would replace (unless --force, or they are this view's own saves, which are resumed).
    explicit ViewServer(ViewOptions options);
    ~ViewServer();
    ViewServer(const ViewServer&) = delete;
    ViewServer& operator=(const ViewServer&) = delete;

    /// Binds 127.0.0.1 at the port asked for; returns the port. Raises ToolError.
    int bind();
    /// The page's address, with the token.
    std::string url() const;
    /// Serves until stop() (from any thread).
    void run();
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace kestro::view
