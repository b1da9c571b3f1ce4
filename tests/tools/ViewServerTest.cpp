// kestro view's server through its HTTP interface, the built command run as a child process.
#include "KestroRun.h"

#include <httplib.h>

#include <csignal>
#include <regex>
#include <thread>

#include <poll.h>
#include <unistd.h>

using namespace kestrorun;

namespace {

// `kestro view ARGS` in dir, until stopped; the address comes from its first line.
class ViewProcess {
public:
    ViewProcess(const std::string& args, const fs::path& dir) {
        // The shell prints its process id, then becomes the command, whose first line follows.
        const std::string cmd =
            "cd " + quote(dir.string()) + " && echo $$ && exec " + quote(kTool) + " view " + args;
        pipe = popen((cmd + " 2>view.err").c_str(), "r");
        if (!pipe) return;
        // The two lines, or less when it stops first; a minute at most (sanitizer builds).
        std::string text;
        for (pollfd p{fileno(pipe), POLLIN, 0};
             std::count(text.begin(), text.end(), '\n') < 2 && poll(&p, 1, 60000) > 0;) {
            char c[256];
            const ssize_t n = read(p.fd, c, sizeof c);
            if (n <= 0) break;
            text.append(c, static_cast<size_t>(n));
        }
        pid = std::atoi(text.c_str());
        firstLine = text.substr(text.find('\n') + 1);
        std::smatch m;
        if (std::regex_search(firstLine, m,
                              std::regex("http://127\\.0\\.0\\.1:([0-9]+)/\\?token=([0-9a-f]{32})"))) {
            port = std::stoi(m[1]);
            token = m[2];
        }
    }
    ~ViewProcess() { stop(); }

    // Ctrl-C; the exit code, -1 when it did not exit by itself.
    int stop() {
        if (pipe && pid > 0) kill(pid, SIGINT);
        return exitCode();
    }
    // Waits for an exit of its own (a refusal at start).
    int exitCode() {
        if (!pipe) return code;
        const int status = pclose(pipe);
        pipe = nullptr;
        return code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(120, 0);
        c.set_default_headers({{"X-Kestro-Token", token}});
        return c;
    }

    FILE* pipe = nullptr;
    pid_t pid = -1;
    int port = 0, code = -1;
    std::string token, firstLine;
};

json post(httplib::Client& c, const std::string& path, const json& body, int expect = 200) {
    const auto r = c.Post(path.c_str(), body.dump(), "application/json");
    EXPECT_TRUE(r) << path;
    if (!r) return json();
    EXPECT_EQ(r->status, expect) << path << ": " << r->body;
    return json::parse(r->body, nullptr, false);
}

// A lanes.json with its timing line taken out: the only field two runs do not share.
std::string untimed(const std::string& report) {
    return std::regex_replace(report, std::regex("\n *\"milliseconds\": [0-9.e+-]+"), "");
}

class View : public ToolTest {};

// The page's round: load, a lane's edge moved, a band deleted and one added, a ladder picked,
// then saved; the command line the report records writes the very same files again.
TEST_F(View, ThePagesRoundSavesWhatKestroLanesWrites) {
    synth("gel.tif", "--lanes 5 --bands 4 --width 400 --height 300 --seed 3");
    ViewProcess v("gel.tif -o out --port 0", dir);
    ASSERT_GT(v.port, 0) << v.firstLine << readFile(dir / "view.err");
    auto c = v.client();

    // The token: nothing without it, nothing with a wrong one, not even the page.
    httplib::Client bare("127.0.0.1", v.port);
    for (const char* path : {"/", "/api/gels", "/api/gels?token=00000000000000000000000000000000"})
        EXPECT_EQ(bare.Get(path)->status, 403) << path;
    const auto page = bare.Get(("/?token=" + v.token).c_str());
    ASSERT_EQ(page->status, 200);
    EXPECT_TRUE(has(page->body, "view.js?token=" + v.token));
    EXPECT_EQ(page->body.find("http"), page->body.find("http://www.w3.org")) << "nothing from the network";

    const json found = post(c, "/api/gels/0/analyse", {{"edits", {{"kestroEdits", 1}}}});
    ASSERT_EQ(found["lanes"].size(), 5u);
    const json& lane2 = found["lanes"][1];
    ASSERT_GE(lane2["bands"].size(), 2u);

    // Lane 2's right edge 3 columns out; its first band removed; a band drawn in lane 1.
    json edits = {{"kestroEdits", 1}, {"lanes", json::array()}};
    for (const json& l : found["lanes"])
        edits["lanes"].push_back({{"tier", l["tier"]}, {"left", l["left"]}, {"right", l["right"]}});
    edits["lanes"][1]["right"] = lane2["right"].get<double>() + 3;
    const json moved = post(c, "/api/gels/0/analyse", {{"edits", edits}});
    EXPECT_DOUBLE_EQ(moved["lanes"][1]["right"].get<double>() - moved["lanes"][1]["left"].get<double>(),
                     lane2["right"].get<double>() + 3 - lane2["left"].get<double>());
    // (What removed and added bands do is checked with the edits files.)
    edits["removedBands"] = {{{"tier", 1}, {"lane", 2}, {"row", moved["lanes"][1]["bands"][0]["peakY"]}}};
    edits["addedBands"] = {{{"tier", 1}, {"lane", 1}, {"top", 20}, {"bottom", 31}}};

    const json body = {{"edits", edits}, {"ladder", {"1:1"}}, {"sizes", {3000, 1000, 500, 200}}};
    const json saved = post(c, "/api/gels/0/save", body);
    ASSERT_EQ(saved["written"].size(), 5u);
    const std::vector<std::string> names = {"gel.edits.json", "gel.lanes.json", "gel.lanes.png", "bands.csv",
                                            "lanes.csv"};
    std::map<std::string, std::string> bytes;
    for (const std::string& n : names)
        bytes[n] = readFile(dir / "out" / n);
    EXPECT_TRUE(has(bytes["bands.csv"], ",size,"));

    // Two tabs saving at once: whichever wins, the files are one save's, whole.
    std::vector<std::thread> tabs;
    for (int t = 0; t < 2; ++t)
        tabs.emplace_back([&, t] {
            auto tab = v.client();
            json e = edits;
            if (t) e.erase("addedBands");
            for (int k = 0; k < 3; ++k)
                post(tab, "/api/gels/0/save", {{"edits", e}});
        });
    for (auto& t : tabs)
        t.join();
    const json report = readJson(dir / "out" / "gel.lanes.json");
    EXPECT_EQ(readCsv(dir / "out" / "bands.csv").size(), report["bandCount"].get<size_t>());
    EXPECT_EQ(readFile(dir / "out" / "gel.edits.json").find("addedBands\": []") != std::string::npos,
              report["lanes"][0]["bands"][0]["top"] != 20);

    // The first save again, then its own command line over it: the same bytes.
    post(c, "/api/gels/0/save", body);
    const json line = readJson(dir / "out" / "gel.lanes.json")["run"]["commandLine"];
    ASSERT_EQ(line[1], "lanes");
    std::string cmd = "cd " + quote(dir.string()) + " &&";
    for (const json& w : line)
        cmd += " " + quote(w.get<std::string>());
    ASSERT_EQ(std::system((cmd + " >lanes.out 2>&1").c_str()), 0) << readFile(dir / "lanes.out");
    for (const std::string& n : names)
        EXPECT_EQ(untimed(readFile(dir / "out" / n)), untimed(bytes[n])) << n;
    EXPECT_EQ(v.stop(), 0) << "Ctrl-C ends it cleanly";
}

// Requests from anyone who has the token but means harm: refused with a reason, and the server
// serves on after every one.
TEST_F(View, HostileRequestsRefused) {
    synth("gel.tif", "--lanes 3 --bands 2 --width 400 --height 300 --seed 3");
    ViewProcess v("gel.tif -o out", dir);
    ASSERT_GT(v.port, 0) << readFile(dir / "view.err");
    auto c = v.client();
    const std::string a = "/api/gels/0/analyse", deep = std::string(100000, '[') + std::string(100000, ']');
    std::vector<std::string> posts = TableRows("tools/data/view-hostile-requests.txt");
    ASSERT_EQ(posts.size(), 26u);
    posts.push_back("413 | " + a + " | {\"edits\":{\"kestroEdits\":1},\"x\":\"" + std::string(5u << 20, 'a') +
                    "\"} | oversize");
    posts.push_back("400 | " + a + " | " + deep + " | deep nesting");
    for (const std::string& p : posts) {
        const size_t bar1 = p.find(" | "), bar2 = p.find(" | ", bar1 + 3), bar3 = p.rfind(" | ");
        const std::string path = p.substr(bar1 + 3, bar2 - bar1 - 3), what = p.substr(bar3 + 3);
        const std::string body = p.substr(bar2 + 3, bar3 - bar2 - 3);
        const auto r = body == "GET" ? c.Get(path.c_str()) : c.Post(path.c_str(), body, "application/json");
        ASSERT_TRUE(r) << what;
        EXPECT_EQ(r->status, std::stoi(p)) << what << ": " << r->body.substr(0, 200);
    }
    // A region of the gel at full resolution is a PNG of that size.
    const auto tile = c.Get("/api/gels/0/image?x=100&y=50&w=64&h=32&palette=auto");
    ASSERT_EQ(tile->status, 200);
    ASSERT_GT(tile->body.size(), 24u);
    EXPECT_EQ(tile->body.substr(1, 3), "PNG");
    EXPECT_EQ(tile->body.substr(16, 8), std::string("\0\0\0\x40\0\0\0\x20", 8)); // IHDR: width 64, height 32
    EXPECT_FALSE(fs::exists(dir / "out")) << "nothing written but by Save";
    EXPECT_EQ(c.Get("/api/gels")->status, 200);
    EXPECT_EQ(v.stop(), 0);
}

// A folder: each gel saves into a folder of its own, a broken gel says why while the others
// work, and earlier results are never written over unannounced.
TEST_F(View, FolderWithABrokenGel) {
    fs::create_directories(dir / "gels");
    synth("gels/a.tif", "--lanes 3 --bands 2 --width 400 --height 300 --seed 3");
    std::ofstream(dir / "gels" / "b.tif", std::ios::binary)
        << std::string("II*\0\x08\0\0\0garbage, no TIFF", 24);
    ViewProcess v("gels -o out", dir);
    ASSERT_GT(v.port, 0) << readFile(dir / "view.err");
    auto c = v.client();
    const auto broken = c.Get("/api/gels/1");
    EXPECT_EQ(broken->status, 422);
    EXPECT_TRUE(has(json::parse(broken->body)["error"], "b.tif"));
    EXPECT_EQ(c.Get("/api/gels/0")->status, 200);
    post(c, "/api/gels/0/save", {{"edits", {{"kestroEdits", 1}}}});
    EXPECT_TRUE(fs::exists(dir / "out" / "a" / "bands.csv"));
    EXPECT_TRUE(fs::exists(dir / "out" / "a" / "a.edits.json"));
    EXPECT_EQ(v.stop(), 0);

    // Taken up again from its edits file; a folder with another run's results is refused.
    ViewProcess again("gels -o out", dir);
    EXPECT_GT(again.port, 0) << readFile(dir / "view.err");
    EXPECT_TRUE(has(json::parse(again.client().Get("/api/gels/0")->body)["note"], "resumed"));
    again.stop();
    fs::create_directories(dir / "other");
    std::ofstream(dir / "other" / "bands.csv") << "a lab's table\n";
    ViewProcess refused("gels/a.tif -o other", dir);
    EXPECT_EQ(refused.exitCode(), 1);
    EXPECT_EQ(readFile(dir / "other" / "bands.csv"), "a lab's table\n");
}

} // namespace
