#include "Support.h"

#include "raster/Threads.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro {

namespace fs = std::filesystem;

Settings& settings()
{
    static Settings s;
    return s;
}

std::string whyNotWritten()
{
    return errno == EISDIR || errno == EINVAL ? "not a regular file" : std::strerror(errno);
}

std::string oneLine(const std::string& text)
{
    std::string line;
    for (const char c : text) {
        const bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        if (!control)
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

std::string whyNotLoaded()
{
    const std::vector<kestro::Message> messages = kestro::recentMessages();
    return messages.empty() ? std::string() : " (" + oneLine(messages.back().text) + ")";
}

namespace {

// The first bytes of a stand-alone image archive: a new class (FFFF), any schema, then the
// class name with its length.
const char kArchiveName[] = "DalvoImage";

std::string archiveFailure(const CArchiveException& e)
{
    switch (e.m_cause) {
    case CArchiveException::endOfFile: return "the image archive ends too early";
    case CArchiveException::badSchema: return "the image archive was written by a newer version";
    case CArchiveException::genericException: return "the image archive holds no image that can be decoded";
    default: return "not a readable image archive";
    }
}

LoadedImage loadImageArchive(const std::string& path)
{
    LoadedImage loaded;
    loaded.path = path;
    loaded.archive = true;
    CFile file;
    CFileException error;
    if (!file.Open(CString::FromUtf8(path), CFile::modeRead | CFile::typeBinary, &error))
        throw ToolError(path + ": cannot open (" + error.GetErrorMessage().ToUtf8() + ")");
    try {
        CArchive ar(&file, CArchive::load);
        loaded.image.reset(static_cast<DalvoImage*>(ar.ReadObject(RUNTIME_CLASS(DalvoImage))));
        if (ar.BytesLeft() > 0)
            throw ToolError(path + ": " + std::to_string(ar.BytesLeft()) + " unexpected bytes after the image");
    } catch (const CArchiveException& e) {
        throw ToolError(path + ": " + archiveFailure(e));
    }
    if (!loaded.image)
        throw ToolError(path + ": the image archive holds no image");
    loaded.raster = loaded.image->getRasterImage();
    return loaded;
}

} // namespace

bool isImageArchive(const std::string& path)
{
    unsigned char head[6 + sizeof kArchiveName - 1] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(head), sizeof head))
        return false;
    const size_t nameLength = sizeof kArchiveName - 1;
    return head[0] == 0xFF && head[1] == 0xFF && head[4] == nameLength && head[5] == 0 &&
           std::memcmp(head + 6, kArchiveName, nameLength) == 0;
}

void writeImageArchive(const DalvoImage& image, const std::string& path)
{
    try {
        if (!replaceFile(path, [&](std::FILE* stream) {
                CStreamFile file(stream, CString::FromUtf8(path));
                CArchive ar(&file, CArchive::store);
                ar.WriteObject(&image);
                ar.Close();
                file.Close();
                return true;
            }))
            throw ToolError(path + ": cannot write (" + whyNotWritten() + ")");
    } catch (const CArchiveException&) {
        throw ToolError(path + ": the image cannot be stored as TIFF (" + std::to_string(image.getBitsPerPixel()) +
                        "-bit " + imageTypeName(image.getImageType()) + ")");
    } catch (const CFileException& e) {
        throw ToolError(path + ": cannot write (" + e.GetErrorMessage().ToUtf8() + ")");
    }
}

void checkInputFile(const std::string& path)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status))
        throw ToolError(path + ": no such file");
    if (fs::is_directory(status))
        throw ToolError(path + ": is a folder, not an image file");
    if (!fs::is_regular_file(status))
        throw ToolError(path + ": not a regular file");
}

LoadedImage loadImage(const std::string& path)
{
    checkInputFile(path);
    if (isImageArchive(path))
        return loadImageArchive(path);

    LoadedImage loaded;
    loaded.path = path;
    CFile file;
    CFileException error;
    if (!file.Open(CString::FromUtf8(path), CFile::modeRead | CFile::typeBinary, &error))
        throw ToolError(path + ": cannot open (" + error.GetErrorMessage().ToUtf8() + ")");
    loaded.fileType = DalvoImage::GetFileType(&file);
    loaded.image = std::make_unique<DalvoImage>();
    kestro::clearRecentMessages();
    // CreateFromFile also reports failure for images that load but have no raster form;
    // those are still worth a report, so what counts is whether a bitmap arrived.
    loaded.image->CreateFromFile(&file);
    file.Close();
    if (!loaded.image->isValid())
        throw ToolError(path + ": not an image that can be read" + whyNotLoaded());
    if (loaded.image->isLoadDamaged() && !settings().acceptDamaged)
        throw ToolError(path + ": damaged (" + oneLine(loaded.image->getLoadDamage().front()) +
                        "); --accept-damaged reads it anyway");
    loaded.raster = loaded.image->getRasterImage();
    return loaded;
}

namespace {

bool isImageFile(const fs::path& path)
{
    return FreeImage_GetFileType(path.c_str(), 0) != FIF_UNKNOWN || isImageArchive(path.string());
}

// What identifies a file: device and inode where it exists (so links to it are the same file),
// else the path with every existing part resolved.
std::string fileIdentity(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return "inode " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return "path " + (ec ? path : canonical.string());
}

} // namespace

bool anyFolder(const std::vector<std::string>& arguments)
{
    std::error_code ec;
    return std::any_of(arguments.begin(), arguments.end(),
                       [&](const std::string& a) { return fs::is_directory(a, ec); });
}

std::vector<std::string> expandInputs(const std::vector<std::string>& arguments)
{
    std::vector<std::string> files;
    for (const std::string& argument : arguments) {
        std::error_code ec;
        if (!fs::is_directory(argument, ec)) {
            files.push_back(argument);
            continue;
        }
        std::vector<fs::path> entries;
        for (fs::directory_iterator it(argument, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec))
                entries.push_back(it->path());
        if (ec)
            throw ToolError(argument + ": cannot read the folder (" + ec.message() + ")");
        std::sort(entries.begin(), entries.end());
        size_t images = 0;
        for (const fs::path& entry : entries) {
            if (isImageFile(entry)) {
                files.push_back(entry.string());
                ++images;
            } else {
                std::cerr << "kestro: note: " << entry.string() << ": not an image, skipped\n";
            }
        }
        if (images == 0)
            throw ToolError(argument + ": the folder holds no image files");
    }
    return files;
}

void checkOutputs(const std::vector<std::string>& inputs, const std::vector<PlannedOutput>& outputs)
{
    std::map<std::string, std::string> inputOf;
    for (const std::string& input : inputs)
        inputOf.emplace(fileIdentity(input), input);
    std::map<std::string, const PlannedOutput*> writer;
    for (const PlannedOutput& out : outputs) {
        const std::string id = fileIdentity(out.path);
        const auto input = inputOf.find(id);
        if (input != inputOf.end() && !settings().force)
            throw ToolError(out.path + ": is the same file as the input " + input->second +
                            "; refusing to write over it (--force writes anyway)");
        const auto [other, fresh] = writer.emplace(id, &out);
        if (!fresh)
            throw ToolError(other->second->input + " and " + out.input + " would both write " + out.path +
                            "; nothing was written (rename one, or run them apart)");
    }
}

void writeTextFileAtomically(const std::string& path, const std::string& text)
{
    if (!replaceFile(path, text.data(), text.size()))
        throw ToolError(path + ": cannot write (" + whyNotWritten() + ")");
}

std::string csvText(const std::string& s)
{
    if (s.find_first_of(",\"\n") == std::string::npos)
        return s;
    std::string q = "\"";
    for (char ch : s)
        q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    return q + "\"";
}

std::string closestOption(const std::string& unknown, const std::vector<std::string>& candidates)
{
    // Levenshtein distance, one row at a time.
    const auto distance = [](const std::string& a, const std::string& b) {
        std::vector<size_t> row(b.size() + 1);
        for (size_t j = 0; j <= b.size(); ++j)
            row[j] = j;
        for (size_t i = 1; i <= a.size(); ++i) {
            size_t diagonal = row[0];
            row[0] = i;
            for (size_t j = 1; j <= b.size(); ++j) {
                const size_t above = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
                diagonal = above;
            }
        }
        return row[b.size()];
    };
    std::string best;
    size_t bestDistance = std::max<size_t>(2, unknown.size() / 3) + 1;
    for (const std::string& c : candidates) {
        const size_t d = distance(unknown, c);
        if (d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    return best;
}

void saveImage(const DalvoImage& image, const std::string& path)
{
    const CString name = CString::FromUtf8(path);
    if (!image.canSave(name)) {
        throw ToolError(path + ": cannot write a " + std::to_string(image.getBitsPerPixel()) + "-bit " +
                        imageTypeName(image.getImageType()) +
                        " image in the format of this file name's extension (.tif and .png hold every depth)");
    }
    if (!image.save(name))
        throw ToolError(path + ": cannot write the file");
}

const char* imageTypeName(FREE_IMAGE_TYPE type)
{
    switch (type) {
    case FIT_UNKNOWN: return "FIT_UNKNOWN";
    case FIT_BITMAP: return "FIT_BITMAP";
    case FIT_UINT16: return "FIT_UINT16";
    case FIT_INT16: return "FIT_INT16";
    case FIT_UINT32: return "FIT_UINT32";
    case FIT_INT32: return "FIT_INT32";
    case FIT_FLOAT: return "FIT_FLOAT";
    case FIT_DOUBLE: return "FIT_DOUBLE";
    case FIT_COMPLEX: return "FIT_COMPLEX";
    case FIT_RGB16: return "FIT_RGB16";
    case FIT_RGBA16: return "FIT_RGBA16";
    case FIT_RGBF: return "FIT_RGBF";
    case FIT_RGBAF: return "FIT_RGBAF";
    }
    return "FIT_UNKNOWN";
}

std::string fileTypeName(FREE_IMAGE_FORMAT fif)
{
    if (fif == FIF_UNKNOWN)
        return "unknown";
    const char* name = FreeImage_GetFormatFromFIF(fif);
    return name ? name : "unknown";
}

const char* rasterKind(const RasterImage* raster)
{
    if (!raster)
        return "none";
    if (raster->IsKindOf(RUNTIME_CLASS(RasterImageGS16)))
        return "GS16";
    if (raster->IsKindOf(RUNTIME_CLASS(RasterImageRGB)))
        return "RGB";
    return "none";
}

long long nowNanos()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double millisecondsSince(long long startNanos)
{
    return static_cast<double>(nowNanos() - startNanos) / 1e6;
}

namespace {

bool isNumbers(const nlohmann::ordered_json& j)
{
    if (!j.is_array())
        return false;
    for (const auto& e : j)
        if (!e.is_number())
            return false;
    return true;
}

// Arrays of numbers, and arrays of such arrays (points, rectangles), stay on one line; the rest
// is indented as usual. Invalid UTF-8 in odd file names is replaced rather than thrown about.
void writeJson(std::ostream& os, const nlohmann::ordered_json& j, int indent)
{
    const auto scalar = [](const nlohmann::ordered_json& v) {
        return v.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    };
    const std::string pad(static_cast<size_t>(indent) + 2, ' ');
    if (j.is_object() && !j.empty()) {
        os << "{\n";
        size_t i = 0;
        for (auto it = j.begin(); it != j.end(); ++it, ++i) {
            os << pad << scalar(nlohmann::ordered_json(it.key())) << ": ";
            writeJson(os, it.value(), indent + 2);
            os << (i + 1 < j.size() ? ",\n" : "\n");
        }
        os << std::string(static_cast<size_t>(indent), ' ') << "}";
        return;
    }
    if (j.is_array() && !j.empty()) {
        bool flat = true;
        for (const auto& e : j)
            flat = flat && (e.is_number() || isNumbers(e));
        if (flat) {
            os << "[";
            for (size_t i = 0; i < j.size(); ++i) {
                os << (i ? ", " : "");
                writeJson(os, j[i], indent);
            }
            os << "]";
            return;
        }
        os << "[\n";
        for (size_t i = 0; i < j.size(); ++i) {
            os << pad;
            writeJson(os, j[i], indent + 2);
            os << (i + 1 < j.size() ? ",\n" : "\n");
        }
        os << std::string(static_cast<size_t>(indent), ' ') << "]";
        return;
    }
    os << scalar(j);
}

} // namespace

std::string formatJson(const nlohmann::ordered_json& j)
{
    std::ostringstream os;
    writeJson(os, j, 0);
    os << '\n';
    return os.str();
}

void printJson(const nlohmann::ordered_json& j)
{
    std::cout << formatJson(j);
}

Progress::Progress(int total, const char* verb)
    : m_total(total), m_verb(verb), m_enabled(total > 1 && isatty(STDOUT_FILENO) && isatty(STDERR_FILENO))
{
}

Progress::~Progress()
{
    clear();
}

void Progress::show(int done, const std::string& item)
{
    if (!m_enabled)
        return;
    constexpr int kCells = 24;
    const int filled = m_total > 0 ? done * kCells / m_total : 0;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kCells - filled), '.');
    std::string name = item;
    if (name.size() > 40)
        name = "..." + name.substr(name.size() - 37);
    std::fflush(stdout);
    std::fprintf(stderr, "\r\033[K%s [%s] %d/%d %s", m_verb, bar.c_str(), done + 1, m_total, name.c_str());
    std::fflush(stderr);
    m_drawn = true;
}

void Progress::clear()
{
    if (!m_drawn)
        return;
    std::fflush(stdout);
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_drawn = false;
}

int forEachFile(const std::vector<std::string>& files, const char* verb, bool json,
                const std::function<nlohmann::ordered_json(const std::string& file)>& work,
                const std::function<void(const nlohmann::ordered_json& result, size_t index)>& print)
{
    Progress progress(static_cast<int>(files.size()), verb);
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    int failures = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        progress.show(static_cast<int>(i), files[i]);
        try {
            nlohmann::ordered_json result = work(files[i]);
            progress.clear();
            if (json)
                all.push_back(std::move(result));
            else
                print(result, i);
        } catch (const ToolError& e) {
            progress.clear();
            ++failures;
            std::cerr << "kestro: error: " << e.what() << '\n';
            all.push_back({{"file", files[i]}, {"error", e.what()}});
        }
    }
    progress.clear();
    if (json)
        printJson(all);
    return failures ? 1 : 0;
}

namespace {

/// What became of one file of a batch: a result, a ToolError's text, or another exception.
struct Outcome {
    bool ready = false;
    bool failed = false;
    nlohmann::ordered_json result;
    std::string error;
    std::exception_ptr failure;
};

/// Restores the library's thread count when a batch ends, however it ends.
struct ThreadShare {
    int saved;
    explicit ThreadShare(int jobs) : saved(kestro::threadCount())
    {
        kestro::setThreadCount(std::max(1, saved / jobs));
    }
    ~ThreadShare() { kestro::setThreadCount(saved); }
};

} // namespace

int forEachFileAtOnce(const std::vector<std::string>& files, const char* verb, bool json,
                      const std::function<nlohmann::ordered_json(const std::string& file, size_t index)>& work,
                      const std::function<void(const nlohmann::ordered_json& result, size_t index)>& print)
{
    // By default as many files as the library has threads: --threads 1 runs strictly one at a time.
    const int threads = kestro::threadCount();
    const size_t jobs = std::min(files.size(), static_cast<size_t>(settings().jobs > 0 ? settings().jobs : threads));
    if (jobs <= 1) {
        size_t index = 0;
        return forEachFile(files, verb, json, [&](const std::string& file) { return work(file, index++); }, print);
    }

    std::vector<Outcome> outcomes(files.size());
    std::mutex lock;
    std::condition_variable finished;
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    size_t finishedCount = 0;
    const auto worker = [&] {
        for (size_t i; !stop && (i = next++) < files.size();) {
            Outcome o;
            try {
                o.result = work(files[i], i);
            } catch (const ToolError& e) {
                o.failed = true;
                o.error = e.what();
            } catch (...) {
                o.failure = std::current_exception();
            }
            o.ready = true;
            std::lock_guard<std::mutex> hold(lock);
            outcomes[i] = std::move(o);
            ++finishedCount;
            finished.notify_all();
        }
    };

    Progress progress(static_cast<int>(files.size()), verb);
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    int failures = 0;
    std::exception_ptr failure;
    {
        ThreadShare share(static_cast<int>(jobs));
        std::vector<std::thread> threads;
        for (size_t j = 0; j < jobs; ++j)
            threads.emplace_back(worker);
        // Results are taken in the files' order; the bar shows how many are finished, whichever.
        for (size_t i = 0; i < files.size() && !failure; ++i) {
            Outcome o;
            {
                std::unique_lock<std::mutex> hold(lock);
                for (;;) {
                    const size_t count = finishedCount;
                    if (outcomes[i].ready)
                        break;
                    hold.unlock();
                    progress.show(static_cast<int>(count), files[i]);
                    hold.lock();
                    finished.wait(hold, [&] { return outcomes[i].ready || finishedCount != count; });
                }
                o = std::move(outcomes[i]);
            }
            progress.clear();
            if (o.failure) {
                failure = o.failure;
                stop = true;
            } else if (o.failed) {
                ++failures;
                std::cerr << "kestro: error: " << o.error << '\n';
                all.push_back({{"file", files[i]}, {"error", o.error}});
            } else if (json) {
                all.push_back(std::move(o.result));
            } else {
                print(o.result, i);
            }
        }
        for (std::thread& t : threads)
            t.join();
    }
    progress.clear();
    if (failure)
        std::rethrow_exception(failure);
    if (json)
        printJson(all);
    return failures ? 1 : 0;
}

void addJobsOption(CLI::App& app)
{
    app.add_option("--jobs", settings().jobs,
                   "Files worked at once (default: one per core, or --threads); outputs come in the same order as one "
                   "at a time")
        ->check(CLI::PositiveNumber);
}

std::unique_ptr<DalvoImage> spreadTo16Bits(const int* pixels, int width, int height, const std::string& whatFor)
{
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    const auto [lo, hi] = std::minmax_element(pixels, pixels + n);
    const long long low = n ? *lo : 0, span = n ? *hi - low : 0;
    RasterImageGS16 spread(width, height);
    spread.bpp = 16;
    spread.maxPixelValue = 65535;
    for (size_t i = 0; i < n; ++i)
        spread.pixels[i] = span > 0 ? static_cast<int>((pixels[i] - low) * 65535 / span) : 0;
    std::unique_ptr<DalvoImage> image(spread.convert2DalvoImage());
    if (!image || !image->isValid())
        throw ToolError("no memory for " + whatFor);
    return image;
}

} // namespace kestro
