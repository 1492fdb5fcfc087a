// Containers' documents as strangers send them: zip archives, the binary
// presentation format's record stream and RTF, each made from the formats'
// descriptions and then mutated (bytes flipped, set to edge values, cut,
// repeated, sizes and lengths bent), fed to the document check's readers.
// Only results may come back, never a crash or a hang; what a reader hands
// on is never larger than its input can give; memory stays bounded.

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <cstring>

#include "documents/byte_source.h"
#include "documents/office_names.h"
#include "documents/presentation_records.h"
#include "documents/rtf_objects.h"
#include "documents/zip_archive.h"
#include "support/document_builder.h"
#include "support/lying_storage.h"
#include "support/test_support.h"
#include "tests/fuzz/fuzz_support.h"

using fuzz::Bytes;
using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace {

// A small compound file, as an embedded object's bytes.
Bytes SmallCompoundFile()
{
    ComPtr<ILockBytes> lockBytes;
    ComPtr<IStorage> storage;
    ::CreateILockBytesOnHGlobal(nullptr, TRUE, &lockBytes);
    ::StgCreateDocfileOnILockBytes(lockBytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                   &storage);
    ComPtr<IStream> stream;
    storage->CreateStream(L"ZRN", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream);
    const Bytes native = PatternBytes(700, 5);
    stream->Write(native.data(), static_cast<ULONG>(native.size()), nullptr);
    stream.Reset();
    storage->Commit(STGC_DEFAULT);
    storage.Reset();
    STATSTG stat = {};
    lockBytes->Stat(&stat, STATFLAG_NONAME);
    Bytes bytes(stat.cbSize.LowPart);
    ULARGE_INTEGER at = {};
    ULONG read = 0;
    lockBytes->ReadAt(at, bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    return bytes;
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes ZipSeed(const Bytes& object)
{
    ZipBuilder zip;
    zip.Add("word/document.xml", Text("<w:document><w:object><v:imagedata r:id=\"rId1\"/>"
                                      "<o:OLEObject r:id=\"rId2\"/></w:object></w:document>"));
    zip.Add(
        "word/_rels/document.xml.rels",
        Text("<Relationships><Relationship Id=\"rId1\" Type=\"x/image\" Target=\"media/i.emf\"/>"
             "<Relationship Id=\"rId2\" Type=\"x/oleObject\" Target=\"embeddings/o.bin\"/></Relationships>"));
    zip.Add("word/embeddings/o.bin", object);
    zip.Add("word/media/i.emf", PatternBytes(300, 2), false);
    zip.Add("META-INF/manifest.xml", Text("<manifest:file-entry manifest:full-path=\"Object 1\" "
                                          "manifest:media-type=\"application/x\"/>"));
    zip.Add("Object 1", object, false);
    return zip.Finish();
}

Bytes PresentationSeed(const Bytes& object)
{
    Bytes atoms;
    AppendPresentationRecord(&atoms, 0x1, 0, 0x03E9, Bytes(40, 7));
    Bytes stream;
    AppendPresentationRecord(&stream, 0xF, 0, 0x03E8, atoms);
    AppendPresentationRecord(&stream, 0x0, 0, 0x1011, object);
    Bytes compressed(4);
    const DWORD size = static_cast<DWORD>(object.size());
    std::memcpy(compressed.data(), &size, 4);
    const Bytes deflated = Deflate(object, false);
    compressed.insert(compressed.end(), deflated.begin(), deflated.end());
    Bytes holder;
    AppendPresentationRecord(&holder, 0x0, 1, 0x1011, compressed);
    AppendPresentationRecord(&stream, 0xF, 0, 0x0FF0, holder);
    return stream;
}

Bytes RtfSeed(const Bytes& object)
{
    const Bytes ole1 = Ole1EmbeddedObject("QUILLMORPHOLE.QuillmorphEmbeddedObject.1", object);
    std::string text = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\pard {\\object\\objemb{\\*\\objclass Q.1}"
                       "{\\*\\objdata " +
                       RtfHex(ole1) +
                       "}{\\result{\\pict\\emfblip 0a0b0c}}}\\par{\\object{\\*\\objdata \\bin4 ";
    text += "\x01\x05\x00\x00}}\\'e9\\u233?}";
    return Text(text);
}

class DocumentFuzz : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const Bytes object = SmallCompoundFile();
        seeds_[0] = ZipSeed(object);
        seeds_[1] = PresentationSeed(object);
        seeds_[2] = RtfSeed(object);
    }

    // What the zip reader hands on is what its entries declare, and never
    // more than the ceilings let an entry of its compressed size declare.
    void FeedZip(uint32_t iteration, const Bytes& input)
    {
        MemorySource source(input.data(), input.size());
        ZipArchive zip(source);
        std::wstring why;
        if (FAILED(zip.Open(&why)))
            return;
        ReadOfficeObjectNames(zip);
        size_t entries = 0;
        for (const ZipEntry& entry : zip.Entries()) {
            if (++entries > 64)
                break;
            BYTE start[8];
            ULONG read = 0;
            zip.ReadPrefix(entry, start, sizeof(start), &read);
            UniqueHGlobal block;
            ULONG size = 0;
            const ZipRead whole = zip.ReadWhole(entry, &block, &size);
            if (SUCCEEDED(whole.result) && size != entry.size)
                findings_.Fail(iteration, "an entry read whole holds " + std::to_string(size) + " of " +
                                              std::to_string(entry.size) + " bytes");
            if (SUCCEEDED(whole.result) && size > input.size() * zip_limits::kMaxRatio &&
                size > zip_limits::kRatioFloor)
                findings_.Fail(iteration, "an entry passed the ratio ceiling");
        }
    }

    void FeedPresentation(uint32_t iteration, const Bytes& input)
    {
        ComPtr<IStream> stream;
        if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
            return;
        stream->Write(input.data(), static_cast<ULONG>(input.size()), nullptr);
        WalkPresentationRecords(stream.Get(), [&](UniqueHGlobal bytes, ULONG size, ULONGLONG offset) {
            if (!bytes || offset >= input.size() ||
                (size > input.size() && size / input.size() > presentation_limits::kMaxRatio &&
                 size > presentation_limits::kRatioFloor))
                findings_.Fail(iteration, "an object of " + std::to_string(size) + " bytes at " +
                                              std::to_string(offset) + " came out of " +
                                              std::to_string(input.size()));
        });
    }

    void FeedRtf(uint32_t iteration, const Bytes& input)
    {
        MemorySource source(input.data(), input.size());
        ReadRtfObjects(source, [&](RtfObject object) {
            if (object.size > input.size() || object.offset > input.size())
                findings_.Fail(iteration, "an object of " + std::to_string(object.size) +
                                              " bytes came out of " + std::to_string(input.size()));
        });
    }

    testing_support::Apartment apartment_;
    Bytes seeds_[3];
    fuzz::Findings findings_{"documents"};
};

TEST_F(DocumentFuzz, MutatedZipPresentationAndRtfGiveOnlyResultsWithinTheirInputs)
{
    fuzz::Random random(fuzz::Seed(0xD0C5F022ull));
    fuzz::Budget budget(20000);
    fuzz::Memory baseline = fuzz::ProcessMemory();
    const SIZE_T startPeak = baseline.peakVirtual;
    uint32_t iteration = 0;
    for (; budget.More(iteration); ++iteration) {
        const uint32_t reader = iteration % 3;
        Bytes input = seeds_[reader];
        fuzz::MutateBytes(random, &input);
        fuzz::KeepLastInput(input);
        static const char* const kReaders[] = {"zip", "presentation", "rtf"};
        fuzz::Trace(iteration, kReaders[reader]);
        if (reader == 0)
            FeedZip(iteration, input);
        else if (reader == 1)
            FeedPresentation(iteration, input);
        else
            FeedRtf(iteration, input);
        if (iteration == 30) {
            baseline = fuzz::ProcessMemory();
            baseline.peakVirtual = startPeak;
        }
        if (iteration >= 30 && iteration % 30 == 0) {
            // An entry may declare up to the ratio floor whatever it holds.
            const SIZE_T bound = 96u * 1024 * 1024;
            const fuzz::Memory now = fuzz::ProcessMemory();
            fuzz::ExpectBounded(findings_, iteration, now, &baseline, &fuzz::Memory::peakVirtual,
                                "peak address space", bound, "");
            fuzz::ExpectBounded(findings_, iteration, now, &baseline, &fuzz::Memory::privateBytes,
                                "private bytes", bound, "");
        }
    }
    findings_.Report(iteration, budget);
    EXPECT_EQ(findings_.failures(), 0u);
}

TEST(DocumentRecords, ARecordStreamThatReportsMoreThanItWasAskedForCannotBeRead)
{
    // The record walk reads its streams at offsets; a read that claims more
    // bytes than it was asked for is a read fault, not a header of guessed bytes.
    ComPtr<testing_support::LyingStream> stream(new testing_support::LyingStream(4096));
    size_t objects = 0;
    const RecordWalk walk =
        WalkPresentationRecords(stream.Get(), [&](UniqueHGlobal, ULONG, ULONGLONG) { ++objects; });
    EXPECT_EQ(objects, 0u);
    ASSERT_EQ(walk.problems.size(), 1u);
    EXPECT_NE(walk.problems[0].find(L"cannot be read"), std::wstring::npos);
    EXPECT_EQ(stream->reads, 1u);
}

} // namespace
