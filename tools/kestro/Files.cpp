// Which files a command reads, and loading them: images, image archives, folders of images;
// outputs that would overwrite an input are refused before any work.
#include "Support.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <system_error>

#include <sys/stat.h>

namespace kestro {

namespace fs = std::filesystem;

std::string whyNotLoaded() {
    const std::vector<kestro::Message> messages = kestro::recentMessages();
    return messages.empty() ? std::string() : " (" + oneLine(messages.back().text) + ")";
}

namespace {

// The first bytes of a stand-alone image archive: a new class (FFFF), any schema, then the
// class name with its length.
const char kArchiveName[] = "DalvoImage";

std::string archiveFailure(const CArchiveException& e) {
    switch (e.m_cause) {
    case CArchiveException::endOfFile:
        return "the image archive ends too early";
    case CArchiveException::badSchema:
        return "the image archive was written by a newer version";
    case CArchiveException::genericException:
        return "the image archive holds no image that can be decoded";
    default:
        return "not a readable image archive";
    }
}

LoadedImage loadImageArchive(const std::string& path) {
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
            throw ToolError(path + ": " + std::to_string(ar.BytesLeft()) +
                            " unexpected bytes after the image");
    } catch (const CArchiveException& e) {
        throw ToolError(path + ": " + archiveFailure(e));
    }
    if (!loaded.image) throw ToolError(path + ": the image archive holds no image");
    loaded.raster = loaded.image->getRasterImage();
    return loaded;
}

} // namespace

bool isImageArchive(const std::string& path) {
    unsigned char head[6 + sizeof kArchiveName - 1] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return false;
    const size_t nameLength = sizeof kArchiveName - 1;
    return head[0] == 0xFF && head[1] == 0xFF && head[4] == nameLength && head[5] == 0 &&
           std::memcmp(head + 6, kArchiveName, nameLength) == 0;
}

void checkInputFile(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) throw ToolError(path + ": no such file");
    if (fs::is_directory(status)) throw ToolError(path + ": is a folder, not an image file");
    if (!fs::is_regular_file(status)) throw ToolError(path + ": not a regular file");
}

LoadedImage loadImage(const std::string& path) {
    checkInputFile(path);
    if (isImageArchive(path)) return loadImageArchive(path);

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
    if (!loaded.image->isValid()) throw ToolError(path + ": not an image that can be read" + whyNotLoaded());
    if (loaded.image->isLoadDamaged() && !settings().acceptDamaged)
        throw ToolError(path + ": damaged (" + oneLine(loaded.image->getLoadDamage().front()) +
                        "); --accept-damaged reads it anyway");
    loaded.raster = loaded.image->getRasterImage();
    return loaded;
}

namespace {

bool isImageFile(const fs::path& path) {
    return FreeImage_GetFileType(path.c_str(), 0) != FIF_UNKNOWN || isImageArchive(path.string());
}

// What identifies a file: device and inode where it exists (so links to it are the same file),
// else the path with every existing part resolved.
std::string fileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return "inode " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return "path " + (ec ? path : canonical.string());
}

} // namespace

bool anyFolder(const std::vector<std::string>& arguments) {
    std::error_code ec;
    return std::any_of(arguments.begin(), arguments.end(),
                       [&](const std::string& a) { return fs::is_directory(a, ec); });
}

std::vector<std::string> expandInputs(const std::vector<std::string>& arguments) {
    std::vector<std::string> files;
    for (const std::string& argument : arguments) {
        std::error_code ec;
        if (!fs::is_directory(argument, ec)) {
            files.push_back(argument);
            continue;
        }
        std::vector<fs::path> entries;
        for (fs::directory_iterator it(argument, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec)) entries.push_back(it->path());
        if (ec) throw ToolError(argument + ": cannot read the folder (" + ec.message() + ")");
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
        if (images == 0) throw ToolError(argument + ": the folder holds no image files");
    }
    return files;
}

void checkOutputs(const std::vector<std::string>& inputs, const std::vector<PlannedOutput>& outputs) {
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

} // namespace kestro
