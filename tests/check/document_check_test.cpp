// QuillmorphCheck's document mode run as a supporter runs it, over documents
// made here from the formats' public descriptions: one per layout the check
// reads, each with two drawings made by TripForward, one sound and one
// damaged. The check finds both, reports the one fault, and extracts the
// sound drawing byte for byte; documents without drawings, files that are no
// documents, bombs and cut RTF get the answers a supporter can act on.

#include <gtest/gtest.h>

#include <windows.h>

#include <wrl/client.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/dispinterface.h"
#include "support/document_builder.h"
#include "support/test_support.h"
#include "tests/bridge/bridge_test_util.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace {

const char kProgId[] = "QUILLMORPHOLE.QuillmorphEmbeddedObject.1";
constexpr WORD kObjectStorageRecord = 0x1011;

using testing_support::Utf8;

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// A drawing as it goes into a document, and what its native document and
// picture are.
struct Drawing
{
    DocBytes file;
    DocBytes native;
    DocBytes picture;
};

struct CheckRun
{
    DWORD exitCode = 0;
    std::string output;
};

// The folder the documents and extracted drawings go to.
std::wstring g_folder;

CheckRun RunCheck(const std::wstring& arguments)
{
    const std::wstring out = g_folder + L"\\check.out";
    CheckRun run;
    UniqueKernelHandle process =
        StartProcessWithOutput(L"\"" QUILLMORPH_CHECK_EXE L"\" document " + arguments, out);
    EXPECT_TRUE(process);
    if (!process)
        return run;
    EXPECT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    ::GetExitCodeProcess(process.get(), &run.exitCode);
    const DocBytes bytes = testing_support::ReadFileBytes(out);
    run.output.assign(bytes.begin(), bytes.end());
    return run;
}

std::string Field(const std::string& line, const std::string& name)
{
    const std::string key = "\"" + name + "\": ";
    const size_t at = line.find(key);
    if (at == std::string::npos)
        return std::string();
    size_t from = at + key.size();
    if (line[from] != '"')
        return line.substr(from, line.find_first_of(",}", from) - from);
    std::string value;
    for (++from; from < line.size() && line[from] != '"'; ++from)
        value += line[from] == '\\' ? line[++from] : line[from];
    return value;
}

struct ReportedDrawing
{
    std::string path;
    bool sound = false;
    std::string faults;
};

// The drawings of a JSON report (one a line) and the files it extracted.
std::vector<ReportedDrawing> Drawings(const std::string& json)
{
    std::vector<ReportedDrawing> drawings;
    std::istringstream lines(json);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("{\"position\": ") == std::string::npos)
            continue;
        ReportedDrawing drawing{Field(line, "path"), Field(line, "sound") == "true",
                                line.substr(line.find("\"faults\""))};
        drawings.push_back(drawing);
    }
    return drawings;
}

std::vector<std::string> Extracted(const std::string& json)
{
    std::vector<std::string> paths;
    const size_t list = json.find("\"extracted\": [");
    for (size_t at = json.find("{\"path\": ", list); list != std::string::npos && at != std::string::npos;
         at = json.find("{\"path\": ", at + 1)) {
        if (json.compare(at - 1, 1, "[") != 0 && json.compare(at - 2, 2, ", ") != 0)
            break;
        paths.push_back(Field(json.substr(at, json.find('}', at) - at + 1), "path"));
    }
    return paths;
}

// Removes a folder with everything in it: each run starts from nothing, so
// that what an earlier run extracted never takes a name this one expects.
void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found = {};
    UniqueSearch search = AdoptSearchHandle(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    for (bool more = static_cast<bool>(search); more; more = ::FindNextFileW(search.get(), &found)) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(folder + L"\\" + name);
        else
            ::DeleteFileW((folder + L"\\" + name).c_str());
    }
    search.reset();
    ::RemoveDirectoryW(folder.c_str());
}

class DocumentCheck : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        g_folder = std::wstring(temp) + L"quillmorph-documents";
        RemoveTree(g_folder);
        ASSERT_TRUE(::CreateDirectoryW(g_folder.c_str(), nullptr));
        ComPtr<IQuillmorphOLE> bridge;
        ASSERT_EQ(CreateObjectInstance<CDispinterface>(nullptr, IID_PPV_ARGS(&bridge)), S_OK);
        // Native documents big enough for sectors of their own, so that a
        // claim patched into the directory leaves the chains as they are.
        for (int i = 0; i < 3; ++i)
            s_drawings[i] = MakeDrawing(bridge.Get(), 20000 + 1000 * i, i + 1);
        s_sound = s_drawings[0];
        s_cutShort = s_drawings[1];
        ASSERT_TRUE(PatchStreamClaim(&s_cutShort.file, L"ZRN", 0,
                                     static_cast<DWORD>(s_cutShort.native.size() + 9000)));
        s_zeroRecord = s_drawings[2];
        ASSERT_TRUE(ZeroSecondPictureRecord(&s_zeroRecord.file, s_zeroRecord.picture));
    }
    static void TearDownTestSuite() { ::OleUninitialize(); }

    static Drawing MakeDrawing(IQuillmorphOLE* bridge, size_t nativeSize, int seed)
    {
        Drawing drawing;
        drawing.native = PatternBytes(nativeSize, seed);
        drawing.picture = bridge_test::PictureBits(seed * 7);
        VariantGuard a, b, c;
        bridge_test::MakeByteArray(drawing.native, a.get());
        bridge_test::MakeByteArray(drawing.picture, b.get());
        EXPECT_EQ(bridge->TripForward(*a.get(), *b.get(), c.get()), S_OK);
        drawing.file = bridge_test::BytesOf(*c.get());
        return drawing;
    }

    static std::wstring Save(const wchar_t* name, const DocBytes& bytes)
    {
        const std::wstring path = g_folder + L"\\" + name;
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }

    static Drawing s_drawings[3];
    static Drawing s_sound;
    static Drawing s_cutShort;
    static Drawing s_zeroRecord;
};

Drawing DocumentCheck::s_drawings[3];
Drawing DocumentCheck::s_sound;
Drawing DocumentCheck::s_cutShort;
Drawing DocumentCheck::s_zeroRecord;

// The binary word processor keeps its objects as ObjectPool\_<id>, the
// binary spreadsheet as MBD<8 hex digits> at the root.
std::wstring WordProcessorObjectName(size_t position)
{
    return L"_" + std::to_wstring(1001 + position);
}

std::wstring SpreadsheetObjectName(size_t position)
{
    wchar_t name[16] = {};
    std::swprintf(name, 16, L"MBD%08X", static_cast<unsigned>(0x0012AB30 + position));
    return name;
}

// The binary compound-file layouts: the main stream with its bytes, and each
// object a storage named by its position, under a pool storage or (without
// one) at the root.
DocBytes CompoundDocument(const wchar_t* mainStream, const DocBytes& mainBytes, const wchar_t* pool,
                          std::wstring (*objectName)(size_t position),
                          const std::vector<const DocBytes*>& objects)
{
    ComPtr<ILockBytes> lockBytes;
    EXPECT_EQ(::CreateILockBytesOnHGlobal(nullptr, TRUE, &lockBytes), S_OK);
    ComPtr<IStorage> root;
    EXPECT_EQ(::StgCreateDocfileOnILockBytes(lockBytes.Get(),
                                             STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &root),
              S_OK);
    ComPtr<IStream> text;
    EXPECT_EQ(root->CreateStream(mainStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &text),
              S_OK);
    if (!mainBytes.empty()) {
        ULONG written = 0;
        EXPECT_EQ(text->Write(mainBytes.data(), static_cast<ULONG>(mainBytes.size()), &written), S_OK);
    }
    text.Reset();
    ComPtr<IStorage> objectsStorage = root;
    if (pool) {
        EXPECT_EQ(root->CreateStorage(pool, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                      objectsStorage.ReleaseAndGetAddressOf()),
                  S_OK);
    }
    for (size_t i = 0; i < objects.size(); ++i) {
        ComPtr<IStorage> object;
        ComPtr<IStorage> source;
        EXPECT_EQ(objectsStorage->CreateStorage(objectName(i).c_str(),
                                                STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                                &object),
                  S_OK);
        EXPECT_EQ(OpenStorageOverBytes(*objects[i], &source), S_OK);
        EXPECT_EQ(source->CopyTo(0, nullptr, nullptr, object.Get()), S_OK);
    }
    objectsStorage.Reset();
    EXPECT_EQ(root->Commit(STGC_DEFAULT), S_OK);
    root.Reset();
    HGLOBAL block = nullptr;
    EXPECT_EQ(::GetHGlobalFromILockBytes(lockBytes.Get(), &block), S_OK);
    STATSTG stat = {};
    lockBytes->Stat(&stat, STATFLAG_NONAME);
    GlobalLockGuard at(block);
    return DocBytes(at.bytes(), at.bytes() + stat.cbSize.LowPart);
}

DocBytes WordProcessorDocument(const std::vector<const DocBytes*>& objects)
{
    return CompoundDocument(L"WordDocument", {}, L"ObjectPool", WordProcessorObjectName, objects);
}

// The binary presentation layout: the objects' compound files in records of
// the "PowerPoint Document" stream, the second one compressed.
DocBytes PresentationDocument(const DocBytes& first, const DocBytes& second)
{
    DocBytes records;
    DocBytes document;
    AppendPresentationRecord(&document, 0x1, 0, 0x03E9, DocBytes(40, 0));
    AppendPresentationRecord(&records, 0xF, 0, 0x03E8, document);
    AppendPresentationRecord(&records, 0x0, 0, kObjectStorageRecord, first);
    DocBytes compressed(4);
    const DWORD size = static_cast<DWORD>(second.size());
    std::memcpy(compressed.data(), &size, 4);
    const DocBytes deflated = Deflate(second, false);
    compressed.insert(compressed.end(), deflated.begin(), deflated.end());
    AppendPresentationRecord(&records, 0x0, 1, kObjectStorageRecord, compressed);

    return CompoundDocument(L"PowerPoint Document", records, nullptr, nullptr, {});
}

// The XML word-processing layout: embeddings with their relationships and
// replacement images.
DocBytes WordProcessingZip(const DocBytes& first, const DocBytes& second, const DocBytes& image)
{
    const std::string document =
        "<?xml version=\"1.0\"?><w:document><w:body><w:p><w:r><w:object><v:shape><v:imagedata r:id=\"rId4\"/>"
        "</v:shape><o:OLEObject ProgID=\"QUILLMORPHOLE.QuillmorphEmbeddedObject.1\" "
        "r:id=\"rId5\"/></w:object>"
        "</w:r></w:p><w:p><w:r><w:object><v:shape><v:imagedata r:id=\"rId6\"/></v:shape>"
        "<o:OLEObject r:id=\"rId7\"/></w:object></w:r></w:p></w:body></w:document>";
    const std::string image_ = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";
    const std::string object =
        "http://schemas.openxmlformats.org/officeDocument/2006/relationships/oleObject";
    const std::string rels = "<?xml version=\"1.0\"?><Relationships>"
                             "<Relationship Id=\"rId4\" Type=\"" +
                             image_ +
                             "\" Target=\"media/image1.emf\"/>"
                             "<Relationship Id=\"rId5\" Type=\"" +
                             object +
                             "\" Target=\"embeddings/oleObject1.bin\"/>"
                             "<Relationship Id=\"rId6\" Type=\"" +
                             image_ +
                             "\" Target=\"media/image2.emf\"/>"
                             "<Relationship Id=\"rId7\" Type=\"" +
                             object +
                             "\" Target=\"embeddings/oleObject2.bin\"/>"
                             "</Relationships>";
    ZipBuilder zip;
    zip.Add("[Content_Types].xml", DocBytes(100, ' '));
    zip.Add("word/document.xml", DocBytes(document.begin(), document.end()));
    zip.Add("word/_rels/document.xml.rels", DocBytes(rels.begin(), rels.end()));
    zip.Add("word/embeddings/oleObject1.bin", first);
    zip.Add("word/embeddings/oleObject2.bin", second, false);
    zip.Add("word/media/image1.emf", image);
    zip.Add("word/media/image2.emf", DocBytes(image.begin(), image.begin() + 100));
    return zip.Finish();
}

// The open document layout: objects as entries named in the manifest, their
// replacement images beside them.
DocBytes OpenDocumentZip(const DocBytes& first, const DocBytes& second, const DocBytes& image)
{
    const std::string manifest =
        "<?xml version=\"1.0\"?><manifest:manifest>"
        "<manifest:file-entry manifest:full-path=\"/\" "
        "manifest:media-type=\"application/vnd.oasis.opendocument.text\"/>"
        "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
        "<manifest:file-entry manifest:full-path=\"Object 1\" "
        "manifest:media-type=\"application/vnd.sun.star.oleobject\"/>"
        "<manifest:file-entry manifest:full-path=\"Object 2\" "
        "manifest:media-type=\"application/vnd.sun.star.oleobject\"/>"
        "</manifest:manifest>";
    ZipBuilder zip;
    zip.Add("mimetype", DocBytes(manifest.begin(), manifest.begin() + 10), false);
    zip.Add("content.xml", DocBytes(200, ' '));
    zip.Add("Object 1", first);
    zip.Add("Object 2", second);
    zip.Add("ObjectReplacements/Object 1", image);
    zip.Add("META-INF/manifest.xml", DocBytes(manifest.begin(), manifest.end()));
    return zip.Finish();
}

std::string RtfObject(const DocBytes& file)
{
    return std::string("{\\object\\objemb\\objw2000\\objh1000{\\*\\objclass ") + kProgId +
           "}{\\*\\objdata\r\n" + RtfHex(Ole1EmbeddedObject(kProgId, file)) +
           "}{\\result{\\pict\\emfblip 0102030405060708}}}";
}

DocBytes Text(const std::string& text)
{
    return DocBytes(text.begin(), text.end());
}

struct Layout
{
    const char* name;
    const wchar_t* file;
    // Which drawing is damaged, and how.
    bool cutShort;
};

class EveryLayout : public DocumentCheck, public ::testing::WithParamInterface<Layout>
{
};

DocBytes BuildLayout(const Layout& layout, const Drawing& sound, const Drawing& damaged)
{
    const std::string name = layout.name;
    if (name == "WordProcessorCompoundFile")
        return WordProcessorDocument({&sound.file, &damaged.file});
    if (name == "SpreadsheetCompoundFile")
        return CompoundDocument(L"Workbook", {}, nullptr, SpreadsheetObjectName,
                                {&sound.file, &damaged.file});
    if (name == "PresentationRecords")
        return PresentationDocument(sound.file, damaged.file);
    if (name == "WordProcessingZip")
        return WordProcessingZip(sound.file, damaged.file, sound.picture);
    if (name == "OpenDocumentZip")
        return OpenDocumentZip(sound.file, damaged.file, sound.picture);
    return Text("{\\rtf1\\ansi\\deff0 {\\fonttbl{\\f0 Arial;}}\\pard Before " + RtfObject(sound.file) +
                "\\par " + RtfObject(damaged.file) + "\\par}");
}

TEST_P(EveryLayout, FindsBothDrawingsReportsTheOneFaultAndExtractsTheSoundOneByteForByte)
{
    const Layout& layout = GetParam();
    const Drawing& damaged = layout.cutShort ? s_cutShort : s_zeroRecord;
    const std::wstring path = Save(layout.file, BuildLayout(layout, s_sound, damaged));
    const std::wstring extract = g_folder + L"\\extracted-" + Wide(layout.name);
    const CheckRun run = RunCheck(L"\"" + path + L"\" --json --extract \"" + extract + L"\"");
    EXPECT_EQ(run.exitCode, 1u) << run.output;
#ifdef QUILLMORPH_DOCUMENT_JSON_OUT
    // One report kept for a reader that owes nothing to this program.
    if (std::string(layout.name) == "WordProcessingZip")
        WriteFileBytes(QUILLMORPH_DOCUMENT_JSON_OUT, Text(run.output));
#endif
    const std::vector<ReportedDrawing> drawings = Drawings(run.output);
    ASSERT_EQ(drawings.size(), 2u) << run.output;
    EXPECT_TRUE(drawings[0].sound) << run.output;
    EXPECT_FALSE(drawings[1].sound) << run.output;
    EXPECT_NE(drawings[1].faults.find(layout.cutShort ? "native-cut-short" : "picture-malformed"),
              std::string::npos)
        << drawings[1].faults;
    EXPECT_EQ(drawings[1].faults.find("\"id\"", drawings[1].faults.find("\"id\"") + 1), std::string::npos)
        << "one fault: " << drawings[1].faults;

    // The sound drawing's files are what went in; the damaged one's say so.
    const std::vector<std::string> files = Extracted(run.output);
    ASSERT_EQ(files.size(), 4u) << run.output;
    EXPECT_EQ(testing_support::ReadFileBytes(Wide(files[0])), s_sound.native) << files[0];
    EXPECT_EQ(testing_support::ReadFileBytes(Wide(files[1])), s_sound.picture) << files[1];
    EXPECT_NE(files[2].find("-2-damaged.ZRN"), std::string::npos) << files[2];
    const DocBytes partial = testing_support::ReadFileBytes(Wide(files[2]));
    if (layout.cutShort) {
        // As far as the chain goes: the document, perhaps with its last sector's padding.
        ASSERT_GE(partial.size(), damaged.native.size() - damaged.native.size() % 512);
        const size_t common = std::min(partial.size(), damaged.native.size());
        EXPECT_TRUE(std::equal(partial.begin(), partial.begin() + common, damaged.native.begin()));
    } else {
        EXPECT_EQ(partial, damaged.native);
    }
}

const Layout kLayouts[] = {
    {"WordProcessorCompoundFile", L"report.doc", false}, {"SpreadsheetCompoundFile", L"figures.xls", false},
    {"PresentationRecords", L"slides.ppt", true},        {"WordProcessingZip", L"letter.docx", true},
    {"OpenDocumentZip", L"letter.odt", false},           {"Rtf", L"memo.rtf", false},
};

INSTANTIATE_TEST_SUITE_P(Documents, EveryLayout, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(DocumentCheck, TheTextReportHasOneLinePerDrawingWithTheContainersNamesAndPictures)
{
    const std::wstring path =
        Save(L"names.docx", WordProcessingZip(s_sound.file, s_zeroRecord.file, s_sound.picture));
    const CheckRun run = RunCheck(L"\"" + path + L"\"");
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find("OK    " + Utf8(path) +
                              ": drawing 1 at word/embeddings/oleObject1.bin (relationship "
                              "rId5 of word/document.xml): native document 20000 bytes"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("replacement image word/media/image1.emf, " +
                              std::to_string(s_sound.picture.size()) + " bytes"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("FAIL  " + Utf8(path) + ": drawing 2 at word/embeddings/oleObject2.bin"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("record 2 at byte"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("claims a size of 0 bytes"), std::string::npos) << run.output;
}

TEST_F(DocumentCheck, AFolderIsSearchedAndExtractionNeverReplacesAFile)
{
    const std::wstring folder = g_folder + L"\\folder";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ::CreateDirectoryW((folder + L"\\inner").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(folder + L"\\inner\\one.doc", WordProcessorDocument({&s_sound.file})));
    ZipBuilder plain;
    plain.Add("word/document.xml", Text("<w:document/>"));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\plain.docx", plain.Finish()));
    const std::wstring extract = g_folder + L"\\again";
    ::CreateDirectoryW(extract.c_str(), nullptr);
    const DocBytes before = Text("a file that was there first");
    ASSERT_TRUE(WriteFileBytes(extract + L"\\one.doc-1.ZRN", before));

    const CheckRun run = RunCheck(L"\"" + folder + L"\" --extract \"" + extract + L"\"");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("plain.docx: no drawings (zip)"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Wrote " + Utf8(extract) + "\\one.doc-1 (2).ZRN"), std::string::npos)
        << run.output;
    EXPECT_EQ(testing_support::ReadFileBytes(extract + L"\\one.doc-1.ZRN"), before);
    EXPECT_EQ(testing_support::ReadFileBytes(extract + L"\\one.doc-1 (2).ZRN"), s_sound.native);
    EXPECT_NE(run.output.find("Result: OK (2 documents, 1 drawings"), std::string::npos) << run.output;
}

TEST_F(DocumentCheck, WhatIsNoDocumentOrARefusedBombCannotBeRead)
{
    const std::wstring notADocument = Save(L"picture.png", Text("\x89PNG\r\n\x1a\n not a document at all"));
    CheckRun run = RunCheck(L"\"" + notADocument + L"\"");
    EXPECT_EQ(run.exitCode, 2u) << run.output;
    EXPECT_NE(run.output.find("is not a document this check reads"), std::string::npos) << run.output;

    // A zip entry that inflates 64 MB of zeros from some 64 KB.
    ZipBuilder bomb;
    bomb.Add("word/embeddings/oleObject1.bin", s_sound.file);
    const DocBytes zeros(64u << 20, 0);
    bomb.AddRaw("word/embeddings/oleObject2.bin", Deflate(zeros, true, 9), zeros.size(), Crc32(zeros), 8);
    run = RunCheck(L"\"" + Save(L"bomb.docx", bomb.Finish()) + L"\" --json");
    EXPECT_EQ(run.exitCode, 2u) << run.output;
    EXPECT_NE(run.output.find("(a zip bomb); refused"), std::string::npos) << run.output;
    EXPECT_EQ(Drawings(run.output).size(), 1u) << "the rest of the archive is still read: " << run.output;

    // Storages nested far deeper than any document nests them.
    ComPtr<IStorage> root;
    const std::wstring nested = g_folder + L"\\nested.doc";
    ASSERT_EQ(
        ::StgCreateDocfile(nested.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &root),
        S_OK);
    {
        // A storage reverts when its parent goes: every level is kept until the end.
        std::vector<ComPtr<IStorage>> levels{root};
        for (int depth = 0; depth < 40; ++depth) {
            ComPtr<IStorage> inner;
            ASSERT_EQ(levels.back()->CreateStorage(
                          L"Level", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &inner),
                      S_OK);
            levels.push_back(inner);
        }
        ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK);
    }
    root.Reset();
    run = RunCheck(L"\"" + nested + L"\"");
    EXPECT_EQ(run.exitCode, 2u) << run.output;
    EXPECT_NE(run.output.find("storages nest deeper than 32 levels"), std::string::npos) << run.output;

    const std::string deep(100000, '{');
    run = RunCheck(L"\"" + Save(L"deep.rtf", Text("{\\rtf1 " + deep)) + L"\"");
    EXPECT_EQ(run.exitCode, 2u) << run.output;
    EXPECT_NE(run.output.find("groups nest deeper than 512 levels"), std::string::npos) << run.output;
}

TEST_F(DocumentCheck, AnRtfCutShortInsideAGroupIsReadAsFarAsItGoes)
{
    const std::wstring path =
        Save(L"cut.rtf", Text("{\\rtf1\\ansi " + RtfObject(s_sound.file) + "\\par {\\b unfinished"));
    const CheckRun run = RunCheck(L"\"" + path + L"\"");
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find("OK    " + Utf8(path) + ": drawing 1"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("ends inside 2 open groups (cut short?)"), std::string::npos) << run.output;
}

TEST_F(DocumentCheck, AZip64ArchiveIsReadFromItsOwnRecords)
{
    ZipBuilder zip;
    zip.Add("[Content_Types].xml", DocBytes(100, ' '));
    zip.Add("ppt/embeddings/oleObject1.bin", s_sound.file);
    const std::wstring path = Save(L"large.pptx", zip.FinishZip64());
    const CheckRun run = RunCheck(L"\"" + path + L"\"");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("OK    " + Utf8(path) + ": drawing 1 at ppt/embeddings/oleObject1.bin"),
              std::string::npos)
        << run.output;
}

TEST_F(DocumentCheck, AStorageThatLostItsClassIsFoundByItsUserTypeAndSaidToBeWrong)
{
    const std::wstring path = Save(L"classless.doc", WordProcessorDocument({&s_sound.file}));
    {
        ComPtr<IStorage> root;
        ComPtr<IStorage> pool;
        ComPtr<IStorage> object;
        const DWORD mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
        ASSERT_EQ(::StgOpenStorage(path.c_str(), nullptr, mode, nullptr, 0, &root), S_OK);
        ASSERT_EQ(root->OpenStorage(L"ObjectPool", nullptr, mode, nullptr, 0, &pool), S_OK);
        ASSERT_EQ(pool->OpenStorage(L"_1001", nullptr, mode, nullptr, 0, &object), S_OK);
        ASSERT_EQ(object->SetClass(CLSID_NULL), S_OK);
        object.Reset();
        pool.Reset();
        ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK);
    }
    const CheckRun run = RunCheck(L"\"" + path + L"\" --json");
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    const std::vector<ReportedDrawing> drawings = Drawings(run.output);
    ASSERT_EQ(drawings.size(), 1u) << run.output;
    EXPECT_NE(drawings[0].faults.find("\"wrong-class\""), std::string::npos) << run.output;
}

TEST_F(DocumentCheck, ADocumentWithoutDrawingsIsSound)
{
    const std::wstring path = Save(L"empty.doc", WordProcessorDocument({}));
    const CheckRun run = RunCheck(L"\"" + path + L"\"");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find(Utf8(path) + ": no drawings (compound file)"), std::string::npos) << run.output;
}

} // namespace
