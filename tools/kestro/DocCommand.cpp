// kestro doc: drawing documents of image objects, made, shown, cropped, copied from and
// rendered through the library's drawing layer, its tools driven by simulated mouse events.
#include "Commands.h"
#include "Support.h"

#include <algorithm>
#include <iostream>
#include <memory>

namespace kestro {

namespace {

struct DocArgs {
    std::string doc;
    std::vector<std::string> files;
    int index = 0;
    std::vector<int> rect;
    std::string output;
    bool json = false; ///< --json after the doc command's own name
};

CString wide(const std::string& s) {
    return CString::FromUtf8(s);
}

std::string documentFailure(const CArchiveException& e) {
    switch (e.m_cause) {
    case CArchiveException::endOfFile:
        return "the drawing document ends too early";
    case CArchiveException::badSchema:
        return "the drawing document was written by a newer version";
    case CArchiveException::badClass:
        return "the drawing document holds an object of an unknown class";
    case CArchiveException::genericException:
        return "the drawing document holds an object that cannot be read";
    default:
        return "not a readable drawing document";
    }
}

// Read here rather than by OnOpenDocument, so that a failure can say what is wrong.
std::unique_ptr<CDrawDocument> openDocument(const std::string& path) {
    checkInputFile(path);
    auto doc = std::make_unique<CDrawDocument>();
    CFile file;
    CFileException error;
    if (!file.Open(wide(path), CFile::modeRead | CFile::typeBinary, &error))
        throw ToolError(path + ": cannot open (" + error.GetErrorMessage().ToUtf8() + ")");
    try {
        CArchive ar(&file, CArchive::load);
        ar.m_strFileName = wide(path);
        doc->Serialize(ar);
        if (ar.BytesLeft() > 0)
            throw ToolError(path + ": " + std::to_string(ar.BytesLeft()) +
                            " unexpected bytes after the drawing document");
    } catch (const CArchiveException& e) {
        throw ToolError(path + ": " + documentFailure(e));
    } catch (const CFileException& e) {
        throw ToolError(path + ": cannot read (" + e.GetErrorMessage().ToUtf8() + ")");
    } catch (const CMemoryException&) {
        throw ToolError(path + ": the drawing document needs more memory than there is");
    }
    return doc;
}

void saveDocument(CDrawDocument& doc, const std::string& path) {
    if (!doc.OnSaveDocument(wide(path))) throw ToolError("cannot write the drawing document " + path);
}

// The history's steps as the processing list page shows them.
std::vector<std::string> historySteps(DalvoImage* image) {
    ImageProcessingListPP page;
    page.m_pImage = image;
    std::vector<std::string> steps;
    if (!page.CreateFromTemplate(nullptr)) return steps;
    for (int i = 0; i < page.m_ctlList.GetCount(); ++i) {
        CString line;
        page.m_ctlList.GetText(i, line);
        steps.push_back(line.ToUtf8());
    }
    return steps;
}

nlohmann::ordered_json describeDocument(CDrawDocument& doc, const std::string& path) {
    nlohmann::ordered_json objects = nlohmann::ordered_json::array();
    CDrawObjectList* list = doc.GetObjectList();
    for (INT_PTR i = 0; i < list->GetCount(); ++i) {
        CDrawObject* o = list->GetAt(i);
        const CRect& r = o->m_rcBounds;
        nlohmann::ordered_json j = {{"index", i},
                                    {"class", o->GetRuntimeClass()->m_lpszClassName},
                                    {"position", {r.left, r.top, r.right, r.bottom}}};
        if (o->IsKindOf(RUNTIME_CLASS(CDrawImage))) {
            DalvoImage* image = static_cast<CDrawImage*>(o)->GetImage();
            j["width"] = image->getWidth();
            j["height"] = image->getHeight();
            j["bpp"] = image->getBitsPerPixel();
            j["history"] = historySteps(image);
        }
        objects.push_back(j);
    }
    return {{"document", path}, {"objects", objects}};
}

void printDocument(const nlohmann::ordered_json& j) {
    std::cout << j["document"].get<std::string>() << ": " << j["objects"].size() << " object(s)\n";
    for (const auto& o : j["objects"]) {
        const auto& p = o["position"];
        std::cout << "  [" << o["index"].get<int>() << "] " << o["class"].get<std::string>() << " at ("
                  << p[0].get<int>() << ", " << p[1].get<int>() << ", " << p[2].get<int>() << ", "
                  << p[3].get<int>() << ")";
        if (o.contains("width"))
            std::cout << ", " << o["width"].get<unsigned>() << " x " << o["height"].get<unsigned>() << ", "
                      << o["bpp"].get<unsigned>() << " bits per pixel";
        std::cout << '\n';
        if (o.contains("history"))
            for (const auto& step : o["history"])
                std::cout << "      " << step.get<std::string>() << '\n';
    }
}

int runNew(const DocArgs& a, bool json) {
    const std::vector<std::string> files = expandInputs(a.files);
    checkOutputs(files, {{a.doc, ""}});
    CDrawDocument doc;
    for (const std::string& path : files) {
        loadImage(path); // says clearly what is wrong with a file that does not load
        auto object = std::make_unique<CDrawImage>();
        CFile file(wide(path), CFile::modeRead | CFile::typeBinary);
        if (object->Create(&file) < 1)
            throw ToolError(path + ": the image has no raster form for a drawing document");
        doc.AddObject(object.release(), 0);
    }
    saveDocument(doc, a.doc);
    if (json)
        printJson(describeDocument(doc, a.doc));
    else
        std::cout << a.doc << ": " << doc.GetObjectList()->GetCount() << " image object(s)\n";
    return 0;
}

int runShow(const DocArgs& a, bool json) {
    auto doc = openDocument(a.doc);
    const auto j = describeDocument(*doc, a.doc);
    if (json)
        printJson(j);
    else
        printDocument(j);
    return 0;
}

// Drags the tool over the rectangle on the object with the given index, as a user would with
// the object selected: press at one corner, move and release at the other, in document units.
int runDrag(const DocArgs& a, bool json, bool copy) {
    auto doc = openDocument(a.doc);
    CDrawObjectList* list = doc->GetObjectList();
    if (a.index < 0 || a.index >= list->GetCount())
        throw ToolError("no object " + std::to_string(a.index) + " in " + a.doc + " (it has " +
                        std::to_string(list->GetCount()) + ")");
    CDrawView view(doc.get());
    view.SetSelection(list->GetAt(a.index), FALSE);
    CSelectTool select;
    CCropImageTool crop(&select);
    CCopyImageRectTool copier(&select);
    view.SetTool(copy ? static_cast<CDrawTool*>(&copier) : static_cast<CDrawTool*>(&crop));

    std::string message;
    AfxSetMessageBoxHandler([&](LPCTSTR text, UINT, UINT) {
        message = CString(text).ToUtf8();
        return IDOK;
    });
    const INT_PTR before = list->GetCount();
    view.OnLButtonDown(MK_LBUTTON, CPoint(a.rect[0], a.rect[1]));
    view.OnMouseMove(MK_LBUTTON, CPoint(a.rect[2], a.rect[3]));
    view.OnLButtonUp(0, CPoint(a.rect[2], a.rect[3]));
    AfxSetMessageBoxHandler(nullptr);
    if (!message.empty()) throw ToolError(message);
    if (copy && list->GetCount() == before)
        throw ToolError("object " + std::to_string(a.index) + " is not an image");
    saveDocument(*doc, a.doc);

    const INT_PTR changed = copy ? list->GetCount() - 1 : a.index;
    const auto j = describeDocument(*doc, a.doc);
    if (json)
        printJson(j["objects"][static_cast<size_t>(changed)]);
    else {
        const auto& o = j["objects"][static_cast<size_t>(changed)];
        std::cout << (copy ? "copied into object " : "cropped object ") << changed << ": "
                  << o["width"].get<unsigned>() << " x " << o["height"].get<unsigned>() << '\n';
    }
    return 0;
}

// Draws every object at its position through a view onto a canvas that reaches from the
// document origin to the furthest object edge, and saves it as PNG.
int runRender(const DocArgs& a, bool json) {
    checkOutputs({a.doc}, {{a.output, a.doc}});
    auto doc = openDocument(a.doc);
    CRect extent(0, 0, 1, 1);
    CDrawObjectList* list = doc->GetObjectList();
    for (INT_PTR i = 0; i < list->GetCount(); ++i) {
        CRect r = list->GetAt(i)->m_rcBounds;
        r.NormalizeRect();
        extent.right = std::max(extent.right, r.right);
        extent.bottom = std::max(extent.bottom, r.bottom);
    }
    // The same bound as render --size: a position from the file must not size the canvas freely.
    if (extent.Width() > kMostCanvasSide || extent.Height() > kMostCanvasSide)
        throw ToolError(a.doc + ": the objects reach to " + std::to_string(extent.right) + " x " +
                        std::to_string(extent.bottom) + ", beyond the largest canvas of " +
                        std::to_string(kMostCanvasSide) + " x " + std::to_string(kMostCanvasSide));
    CDrawView view(doc.get(), extent.Size());
    CDC dc;
    if (!dc.CreateCanvas(extent.Width(), extent.Height()))
        throw ToolError("no memory for a canvas of " + std::to_string(extent.Width()) + " x " +
                        std::to_string(extent.Height()));
    view.OnDraw(&dc);
    if (!dc.SaveCanvas(wide(a.output))) throw ToolError("cannot write " + a.output);
    if (json)
        printJson({{"document", a.doc},
                   {"output", a.output},
                   {"width", extent.Width()},
                   {"height", extent.Height()},
                   {"objects", list->GetCount()}});
    else
        std::cout << a.output << ": " << extent.Width() << " x " << extent.Height() << ", "
                  << list->GetCount() << " object(s) drawn\n";
    return 0;
}

} // namespace

Command addDocCommand(CLI::App& root, const bool& json) {
    auto a = std::make_shared<DocArgs>();
    CLI::App* app = root.add_subcommand("doc", "Drawing documents (.kdoc) of image objects");
    app->footer("Example:\n  kestro doc new view.kdoc gel.tif");
    app->require_subcommand(1);
    auto docOption = [&](CLI::App* sub) {
        sub->add_option("DOC", a->doc, "The drawing document (.kdoc)")->required();
        sub->add_flag("--json", a->json, "Print the report as JSON on stdout");
    };
    CLI::App* create = app->add_subcommand("new", "Make a document with one image object per file");
    docOption(create);
    create->add_option("FILE", a->files, "Image files, or folders of them")->required();
    CLI::App* show =
        app->add_subcommand("show", "List the objects: positions, sizes, histories one step per line");
    docOption(show);
    CLI::App* crop =
        app->add_subcommand("crop", "Crop object INDEX to the rectangle L T R B with the crop tool");
    CLI::App* copy =
        app->add_subcommand("copy", "Copy the rectangle L T R B of object INDEX into a new object");
    for (CLI::App* sub : {crop, copy}) {
        docOption(sub);
        sub->add_option("INDEX", a->index, "The object, counted from 0")->required();
        sub->add_option("RECT", a->rect, "L T R B in document units (image pixels)")->required()->expected(4);
    }
    CLI::App* render =
        app->add_subcommand("render", "Draw every object at its position through a view into a PNG");
    docOption(render);
    render->add_option("-o,--output", a->output, "The PNG file to write")->required();
    return {app, [a, create, show, crop, copy, render, &json]() -> int {
                const bool asJson = json || a->json;
                if (create->parsed()) return runNew(*a, asJson);
                if (show->parsed()) return runShow(*a, asJson);
                if (render->parsed()) return runRender(*a, asJson);
                if (crop->parsed() || copy->parsed()) return runDrag(*a, asJson, copy->parsed());
                throw ToolError("no doc command given (see kestro doc --help)");
            }};
}

} // namespace kestro
