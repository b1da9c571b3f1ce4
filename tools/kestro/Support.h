// What the subcommands of kestro share: errors, loading, saving, names, progress and output.
#pragma once

#include <KestroImage.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace kestro {

/// A failure to report to the user as one line: "kestro: error: <what>", exit code 1.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// An image read from a file, with what the file said about itself.
/// Options of the whole command that reach every subcommand.
struct Settings {
    bool acceptDamaged = false; ///< read files whose decoder reported errors or whose data is missing
    std::string channel; ///< what colour photos are measured by: "r", "g", "b", "luma", or "" (refused)
    bool force = false;  ///< write over a file that is also an input
    int jobs = 0;        ///< files worked at once by lanes, background and report; 0: the thread count
};
Settings& settings();

struct LoadedImage {
    std::string path;
    std::unique_ptr<DalvoImage> image;
    FREE_IMAGE_FORMAT fileType = FIF_UNKNOWN; ///< from the file's signature
    RasterImage* raster = nullptr;            ///< the image's own raster, or null when it has none
    bool archive = false;                     ///< read from an image archive (.kimg), not an image file
};

/// Loads an image from an image file or an image archive (.kimg, with its history and display
/// settings); raises ToolError naming the file when it is missing, not a file, cannot be opened
/// or holds nothing FreeImage can decode. An image without a raster form still loads.
LoadedImage loadImage(const std::string& path);

/// Whether the file starts as an image archive does: the envelope of a new "DalvoImage" class.
bool isImageArchive(const std::string& path);

/// Writes the image as an image archive (.kimg): the object envelope and body exactly as a host
/// document holds them, nothing else. The file is replaced only once it is complete; raises
/// ToolError when the image cannot be stored or the file cannot be written.
void writeImageArchive(const DalvoImage& image, const std::string& path);

/// The input files of a command line: files as given, and for each folder its image files (by
/// their signature: what FreeImage recognises, or an image archive), sorted by name, not
/// recursive; other files in a folder are skipped with a note on stderr. Raises ToolError when a
/// folder holds no image file.
std::vector<std::string> expandInputs(const std::vector<std::string>& arguments);
/// Whether any argument names an existing folder.
bool anyFolder(const std::vector<std::string>& arguments);

/// A file a command is about to write, and the input it is made from (empty when from all).
struct PlannedOutput {
    std::string path;
    std::string input;
};
/// Call before anything is written. Raises ToolError when an output is one of the inputs (the
/// same file, also through a symbolic or hard link) unless --force, or when two outputs are the
/// same file (always).
void checkOutputs(const std::vector<std::string>& inputs, const std::vector<PlannedOutput>& outputs);

/// Text from outside (decoders' messages) on one line: control characters become single spaces.
std::string oneLine(const std::string& text);

/// The longest side of a canvas the tool draws (render --size, doc render).
constexpr int kMostCanvasSide = 16384;

/// Raises ToolError unless path names a regular file (a FIFO or a device would block or never end).
void checkInputFile(const std::string& path);

/// Writes text to a temporary file beside path and renames it into place once it is complete and
/// on disk, so that path is either as it was or the whole new text. A symbolic link keeps pointing
/// where it did and the file it names is replaced; an existing file keeps its permission bits.
/// Raises ToolError naming path when it cannot be written (nothing is left behind then).
void writeTextFileAtomically(const std::string& path, const std::string& text);

/// The option of `candidates` closest to `unknown` by edit distance, or "" when none is close.
std::string closestOption(const std::string& unknown, const std::vector<std::string>& candidates);

/// Saves an image (format from the extension); raises ToolError when the format cannot hold
/// this image or the file cannot be written.
void saveImage(const DalvoImage& image, const std::string& path);

/// A 16-bit image of width x height grey values spread linearly over 0..65535, for the display
/// pass to draw 8-bit and 16-bit gels alike on the scale of the whole depth; raises ToolError
/// (naming what it was for) when there is no memory for it.
std::unique_ptr<DalvoImage> spreadTo16Bits(const int* pixels, int width, int height,
                                           const std::string& whatFor);

/// FreeImage's name of an image type, e.g. "FIT_UINT16".
const char* imageTypeName(FREE_IMAGE_TYPE type);
/// A short name of a file type, e.g. "TIFF"; "unknown" for FIF_UNKNOWN.
std::string fileTypeName(FREE_IMAGE_FORMAT fif);
/// "GS16", "RGB" or "none".
const char* rasterKind(const RasterImage* raster);

/// Milliseconds since a start point, for the timings that reports print.
double millisecondsSince(long long startNanos);
long long nowNanos();

/// A field of a CSV row: quoted, with its quotes doubled, when it holds a comma, quote or newline.
std::string csvText(const std::string& s);

/// JSON indented for reading, with arrays of numbers (points, rectangles) kept on one line.
std::string formatJson(const nlohmann::ordered_json& j);
/// Prints formatJson on stdout.
void printJson(const nlohmann::ordered_json& j);

/// A progress bar on stderr for work over several files. It draws only when there is more than
/// one item and both stdout and stderr are terminals, so nothing of it reaches a pipe or a file.
class Progress {
public:
    Progress(int total, const char* verb);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    /// Shows that item number `done` (0-based) of the total is being worked on.
    void show(int done, const std::string& item);
    /// Removes the bar so that a report line can be printed; the next show draws it again.
    void clear();
    bool enabled() const { return m_enabled; }

private:
    int m_total;
    const char* m_verb;
    bool m_enabled;
    bool m_drawn = false;
};

/// The work of a command over several files, one after the other, with a progress bar. A file
/// that fails (ToolError) is reported on stderr in one line and as {"file", "error"} in the JSON;
/// the others still run. With json the array of results is printed at the end, otherwise `print`
/// shows each result as it comes. Returns the exit code: 1 when any file failed.
int forEachFile(const std::vector<std::string>& files, const char* verb, bool json,
                const std::function<nlohmann::ordered_json(const std::string& file)>& work,
                const std::function<void(const nlohmann::ordered_json& result, size_t index)>& print);

/// As above with up to settings().jobs files worked at once (for 0, as many as the library's
/// thread count). `work` gets the
/// file's index and may run on several threads together, so it must change only what belongs to
/// its file; results, errors and the JSON come in the order of the files, as one at a time gives
/// them, and the bar counts files finished. While several files run, each image operation keeps
/// to its share of the library's threads.
int forEachFileAtOnce(
    const std::vector<std::string>& files, const char* verb, bool json,
    const std::function<nlohmann::ordered_json(const std::string& file, size_t index)>& work,
    const std::function<void(const nlohmann::ordered_json& result, size_t index)>& print);

/// Adds --jobs, read into settings().jobs.
void addJobsOption(CLI::App& app);

} // namespace kestro
