#include "documents/office_names.h"

#include <algorithm>
#include <vector>

namespace {

std::wstring Wide(const std::string& text)
{
    std::wstring wide;
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length > 0) {
        wide.resize(static_cast<size_t>(length));
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    }
    return wide;
}

const ZipEntry* Find(const ZipArchive& zip, const std::string& name)
{
    for (const ZipEntry& entry : zip.Entries()) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

// An entry's text, when it is not larger than the ceiling and reads whole.
bool ReadText(const ZipArchive& zip, const ZipEntry& entry, std::string* text)
{
    if (entry.size > kMaxSearchedPartBytes)
        return false;
    UniqueHGlobal block;
    ULONG size = 0;
    if (FAILED(zip.ReadWhole(entry, &block, &size).result))
        return false;
    GlobalLockGuard at(block.get());
    text->assign(reinterpret_cast<const char*>(at.bytes()), at ? size : 0);
    return true;
}

// The value of attribute name="..." in an element's text.
std::string Attribute(const std::string& element, const std::string& name)
{
    for (size_t at = element.find(name + "="); at != std::string::npos;
         at = element.find(name + "=", at + 1)) {
        if (at > 0 && element[at - 1] != ' ' && element[at - 1] != '\t' && element[at - 1] != '\n')
            continue;
        const size_t open = at + name.size() + 1;
        if (open >= element.size() || (element[open] != '"' && element[open] != '\''))
            return std::string();
        const size_t close = element.find(element[open], open + 1);
        return close == std::string::npos ? std::string() : element.substr(open + 1, close - open - 1);
    }
    return std::string();
}

// The elements <tag ...> of an XML text.
std::vector<std::string> Elements(const std::string& xml, const std::string& tag)
{
    std::vector<std::string> found;
    for (size_t at = xml.find("<" + tag); at != std::string::npos; at = xml.find("<" + tag, at + 1)) {
        const size_t end = xml.find('>', at);
        if (end == std::string::npos)
            break;
        found.push_back(xml.substr(at, end - at + 1));
    }
    return found;
}

// A relationship's target resolved against the folder of its source part.
std::string Resolve(const std::string& folder, const std::string& target)
{
    if (!target.empty() && target[0] == '/')
        return target.substr(1);
    std::vector<std::string> parts;
    std::string path = folder + target;
    for (size_t start = 0; start <= path.size();) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string part = path.substr(start, slash - start);
        if (part == ".." && !parts.empty())
            parts.pop_back();
        else if (!part.empty() && part != ".")
            parts.push_back(part);
        start = slash + 1;
    }
    std::string resolved;
    for (const std::string& part : parts)
        resolved += (resolved.empty() ? "" : "/") + part;
    return resolved;
}

struct Relationship
{
    std::string id;
    std::string type;
    std::string target;
};

// The span of the object's own element around its reference: each format
// keeps the replacement image inside it (the word-processing object, the
// spreadsheet's object, the slide's object frame).
bool ObjectElement(const std::string& part, size_t reference, size_t* begin, size_t* end)
{
    static const char* const kTags[] = {"w:object", "p:oleObj", "oleObject"};
    for (const char* tag : kTags) {
        const std::string open = std::string("<") + tag;
        for (size_t at = part.rfind(open, reference); at != std::string::npos;
             at = at ? part.rfind(open, at - 1) : std::string::npos) {
            const char next = part[at + open.size()];
            if (next != ' ' && next != '>')
                continue;
            const size_t close = part.find(std::string("</") + tag + ">", reference);
            if (close == std::string::npos)
                break;
            *begin = at;
            *end = close;
            return true;
        }
    }
    return false;
}

const Relationship* ReplacementImage(const std::string& part, const std::string& objectId,
                                     const std::vector<Relationship>& relations)
{
    const size_t reference = part.find("\"" + objectId + "\"");
    size_t begin = 0;
    size_t end = 0;
    if (reference == std::string::npos || !ObjectElement(part, reference, &begin, &end))
        return nullptr;
    for (const Relationship& relation : relations) {
        const size_t at = part.find("\"" + relation.id + "\"", begin);
        if (relation.type.find("/image") != std::string::npos && at != std::string::npos && at < end)
            return &relation;
    }
    return nullptr;
}

void ReadRelationships(const ZipArchive& zip, const ZipEntry& rels, OfficeObjectNames* names)
{
    // word/_rels/document.xml.rels describes word/document.xml.
    const size_t folderEnd = rels.name.rfind("_rels/");
    const std::string folder = rels.name.substr(0, folderEnd);
    const std::string source = folder + rels.name.substr(folderEnd + 6, rels.name.size() - folderEnd - 11);
    std::string xml;
    if (!ReadText(zip, rels, &xml))
        return;
    std::vector<Relationship> relations;
    for (const std::string& element : Elements(xml, "Relationship "))
        relations.push_back(
            {Attribute(element, "Id"), Attribute(element, "Type"), Attribute(element, "Target")});
    std::string part;
    bool partRead = false;
    for (const Relationship& relation : relations) {
        if (relation.type.find("/oleObject") == std::string::npos &&
            relation.type.find("/package") == std::string::npos)
            continue;
        OfficeObjectName& name = (*names)[Resolve(folder, relation.target)];
        name.containerName = L"relationship " + Wide(relation.id) + L" of " + Wide(source);
        const ZipEntry* sourceEntry = Find(zip, source);
        if (!partRead && sourceEntry)
            partRead = ReadText(zip, *sourceEntry, &part);
        const Relationship* image = partRead ? ReplacementImage(part, relation.id, relations) : nullptr;
        const ZipEntry* imageEntry = image ? Find(zip, Resolve(folder, image->target)) : nullptr;
        if (imageEntry) {
            name.replacementImage = imageEntry->displayName;
            name.replacementImageSize = imageEntry->size;
        }
    }
}

void ReadManifest(const ZipArchive& zip, const ZipEntry& manifest, OfficeObjectNames* names)
{
    std::string xml;
    if (!ReadText(zip, manifest, &xml))
        return;
    for (const std::string& element : Elements(xml, "manifest:file-entry ")) {
        const std::string path = Attribute(element, "manifest:full-path");
        const std::string type = Attribute(element, "manifest:media-type");
        if (path.empty() || path.back() == '/' || type.find("xml") != std::string::npos)
            continue;
        OfficeObjectName& name = (*names)[path];
        name.containerName =
            L"manifest entry " + Wide(path) + (type.empty() ? L"" : L" (" + Wide(type) + L")");
        if (const ZipEntry* image = Find(zip, "ObjectReplacements/" + path)) {
            name.replacementImage = image->displayName;
            name.replacementImageSize = image->size;
        }
    }
}

} // namespace

OfficeObjectNames ReadOfficeObjectNames(const ZipArchive& zip)
{
    OfficeObjectNames names;
    for (const ZipEntry& entry : zip.Entries()) {
        const std::string& n = entry.name;
        if (n.size() > 11 && n.compare(n.size() - 5, 5, ".rels") == 0 &&
            n.find("_rels/") != std::string::npos && n.rfind("_rels/") + 6 < n.size() - 5)
            ReadRelationships(zip, entry, &names);
        else if (n == "META-INF/manifest.xml")
            ReadManifest(zip, entry, &names);
    }
    return names;
}
