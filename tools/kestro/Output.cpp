// Writing what a command makes: images, image archives, text and CSV, each through replaceFile.
#include "Support.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestro {

std::string whyNotWritten() {
    return errno == EISDIR || errno == EINVAL ? "not a regular file" : std::strerror(errno);
}

void writeImageArchive(const DalvoImage& image, const std::string& path) {
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
        throw ToolError(path + ": the image cannot be stored as TIFF (" +
                        std::to_string(image.getBitsPerPixel()) + "-bit " +
                        imageTypeName(image.getImageType()) + ")");
    } catch (const CFileException& e) {
        throw ToolError(path + ": cannot write (" + e.GetErrorMessage().ToUtf8() + ")");
    }
}

void writeTextFileAtomically(const std::string& path, const std::string& text) {
    if (!replaceFile(path, text.data(), text.size()))
        throw ToolError(path + ": cannot write (" + whyNotWritten() + ")");
}

std::string csvText(const std::string& s) {
    if (s.find_first_of(",\"\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char ch : s)
        q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    return q + "\"";
}

void saveImage(const DalvoImage& image, const std::string& path) {
    const CString name = CString::FromUtf8(path);
    if (!image.canSave(name)) {
        throw ToolError(
            path + ": cannot write a " + std::to_string(image.getBitsPerPixel()) + "-bit " +
            imageTypeName(image.getImageType()) +
            " image in the format of this file name's extension (.tif and .png hold every depth)");
    }
    if (!image.save(name)) throw ToolError(path + ": cannot write the file");
}

} // namespace kestro
