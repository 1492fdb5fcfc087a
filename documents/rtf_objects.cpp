#include "documents/rtf_objects.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace {

enum class Destination
{
    Text,
    ObjectClass,
    ObjectData,
    ResultPicture,
};

struct Group
{
    Destination destination = Destination::Text;
    bool inResult = false;
};

constexpr size_t kMaxWord = 32;
constexpr size_t kMaxNumber = 10;

int HexValue(BYTE c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsLetter(BYTE c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The bytes of one object's \objdata as they arrive: the block grows by
// doubling, so that memory follows what the document holds.
class ObjectBytes
{
public:
    bool Append(BYTE byte)
    {
        if (size_ == capacity_ && !Grow())
            return false;
        GlobalLockGuard at(block_.get());
        at.bytes()[size_++] = byte;
        return true;
    }
    ULONG size() const { return size_; }
    UniqueHGlobal Take(ULONG* size)
    {
        *size = size_;
        if (size_ && size_ < capacity_) {
            HGLOBAL cut = ::GlobalReAlloc(block_.get(), size_, GMEM_MOVEABLE);
            if (cut) {
                block_.release();
                block_.reset(cut);
            }
        }
        size_ = capacity_ = 0;
        return std::move(block_);
    }

private:
    bool Grow()
    {
        if (capacity_ >= rtf_limits::kMaxObjectBytes)
            return false;
        const ULONG next = capacity_ ? capacity_ * 2 : 64 * 1024;
        HGLOBAL grown =
            block_ ? ::GlobalReAlloc(block_.get(), next, GMEM_MOVEABLE) : ::GlobalAlloc(GMEM_MOVEABLE, next);
        if (!grown)
            return false;
        block_.release();
        block_.reset(grown);
        capacity_ = next;
        return true;
    }
    UniqueHGlobal block_;
    ULONG size_ = 0;
    ULONG capacity_ = 0;
};

class RtfReader
{
public:
    RtfReader(const ByteSource& source, const RtfObjectFound& found)
        : reader_(std::make_unique<SequentialReader>(source)), found_(found)
    {
    }
    RtfRead Run();

private:
    bool Step(BYTE c);
    bool OpenGroup();
    void CloseGroup();
    bool ControlWord();
    void Apply(const std::string& word);
    // The next byte, a byte given back first.
    bool Next(BYTE* c)
    {
        if (unread_ >= 0) {
            *c = static_cast<BYTE>(unread_);
            unread_ = -1;
            return true;
        }
        return reader_->Next(c);
    }
    void Unread(BYTE c) { unread_ = c; }
    bool Binary(long count);
    void Data(BYTE c);
    void DataByte(BYTE byte);
    void FinishObject();

    std::unique_ptr<SequentialReader> reader_;
    const RtfObjectFound& found_;
    RtfRead result_;
    std::vector<Group> groups_;
    // The object being read: the depth of its group, 0 for none.
    size_t objectDepth_ = 0;
    RtfObject object_;
    ObjectBytes bytes_;
    int pendingNibble_ = -1;
    bool objectBroken_ = false;
    int unread_ = -1;
};

RtfRead RtfReader::Run()
{
    groups_.reserve(rtf_limits::kMaxGroupDepth + 1);
    groups_.push_back(Group{});
    for (BYTE c = 0; Next(&c);) {
        if (!Step(c))
            return std::move(result_);
    }
    if (reader_->failed())
        result_.problems.push_back(L"the document cannot be read past byte " +
                                   std::to_wstring(reader_->Offset()));
    if (groups_.size() > 1) {
        result_.problems.push_back(L"the document ends inside " + std::to_wstring(groups_.size() - 1) +
                                   L" open groups (cut short?)");
        if (objectDepth_)
            result_.problems.push_back(L"the object at byte " + std::to_wstring(object_.offset) +
                                       L" is cut short and was not read");
    }
    return std::move(result_);
}

bool RtfReader::Step(BYTE c)
{
    switch (c) {
    case '{':
        return OpenGroup();
    case '}':
        CloseGroup();
        return true;
    case '\\':
        return ControlWord();
    default:
        Data(c);
        return true;
    }
}

bool RtfReader::OpenGroup()
{
    if (static_cast<int>(groups_.size()) > rtf_limits::kMaxGroupDepth) {
        result_.refused = L"its groups nest deeper than " + std::to_wstring(rtf_limits::kMaxGroupDepth) +
                          L" levels at byte " + std::to_wstring(reader_->Offset()) + L"; refused";
        return false;
    }
    // A group starts where its parent is: inside an object's data, its data.
    groups_.push_back(groups_.back());
    return true;
}

void RtfReader::CloseGroup()
{
    if (groups_.size() <= 1) {
        result_.problems.push_back(L"a group closes at byte " + std::to_wstring(reader_->Offset()) +
                                   L" that was never opened");
        return;
    }
    groups_.pop_back();
    if (objectDepth_ && groups_.size() < objectDepth_)
        FinishObject();
}

bool RtfReader::ControlWord()
{
    BYTE c = 0;
    if (!Next(&c))
        return true;
    if (!IsLetter(c)) {
        if (c == '\'')
            static_cast<void>(Next(&c) && Next(&c)); // a character by its code: text only
        else if (c == '{' || c == '}' || c == '\\')
            Data(c);
        return true;
    }
    std::string word(1, static_cast<char>(c));
    bool more = Next(&c);
    while (more && IsLetter(c) && word.size() < kMaxWord) {
        word += static_cast<char>(c);
        more = Next(&c);
    }
    std::string digits;
    if (more && c == '-') {
        digits += '-';
        more = Next(&c);
    }
    while (more && c >= '0' && c <= '9' && digits.size() < kMaxNumber) {
        digits += static_cast<char>(c);
        more = Next(&c);
    }
    const bool hasNumber = !digits.empty() && digits != "-";
    Apply(word);
    // A blank ends the word and belongs to it; anything else is read again.
    if (more && c != ' ')
        Unread(c);
    if (word == "bin" && hasNumber)
        return Binary(std::strtol(digits.c_str(), nullptr, 10));
    return true;
}

void RtfReader::Apply(const std::string& word)
{
    Group& group = groups_.back();
    if (word == "object" && !objectDepth_) {
        objectDepth_ = groups_.size();
        object_ = RtfObject{};
        object_.offset = reader_->Offset();
        objectBroken_ = false;
        pendingNibble_ = -1;
    } else if (!objectDepth_) {
        return;
    } else if (word == "objclass") {
        group.destination = Destination::ObjectClass;
    } else if (word == "objdata") {
        group.destination = Destination::ObjectData;
    } else if (word == "result") {
        group.inResult = true;
    } else if (word == "pict" && group.inResult) {
        group.destination = Destination::ResultPicture;
    }
}

bool RtfReader::Binary(long count)
{
    // Raw bytes follow the word; they are data whatever they look like.
    for (long i = 0; i < count; ++i) {
        BYTE c = 0;
        if (!Next(&c))
            return true;
        if (groups_.back().destination == Destination::ObjectData)
            DataByte(c);
        else if (groups_.back().destination == Destination::ResultPicture)
            object_.resultPictureBytes += 2; // counted as hex digits are
    }
    return true;
}

void RtfReader::Data(BYTE c)
{
    switch (groups_.back().destination) {
    case Destination::ObjectClass:
        if (object_.objectClass.size() < rtf_limits::kMaxClassName && c >= 0x20 && c != ';')
            object_.objectClass += static_cast<wchar_t>(c);
        return;
    case Destination::ResultPicture:
        object_.resultPictureBytes += HexValue(c) >= 0 ? 1 : 0;
        return;
    case Destination::ObjectData:
        break;
    default:
        return;
    }
    if (c == ' ' || c == '\r' || c == '\n' || c == '\t')
        return;
    const int value = HexValue(c);
    if (value < 0) {
        if (!objectBroken_)
            result_.problems.push_back(L"the object at byte " + std::to_wstring(object_.offset) +
                                       L" holds a character that is not hex in its data");
        objectBroken_ = true;
        return;
    }
    if (pendingNibble_ < 0) {
        pendingNibble_ = value;
        return;
    }
    DataByte(static_cast<BYTE>(pendingNibble_ << 4 | value));
    pendingNibble_ = -1;
}

void RtfReader::DataByte(BYTE byte)
{
    if (objectBroken_)
        return;
    if (!bytes_.Append(byte)) {
        result_.problems.push_back(L"the object at byte " + std::to_wstring(object_.offset) +
                                   L" holds more data than the ceiling of " +
                                   std::to_wstring(rtf_limits::kMaxObjectBytes) + L" bytes; not read");
        objectBroken_ = true;
    }
}

void RtfReader::FinishObject()
{
    objectDepth_ = 0;
    ULONG size = 0;
    UniqueHGlobal data = bytes_.Take(&size);
    if (objectBroken_)
        return;
    // The halves of the picture's hex digits make its bytes.
    object_.resultPictureBytes /= 2;
    object_.data = std::move(data);
    object_.size = size;
    ++result_.objects;
    found_(std::move(object_));
    object_ = RtfObject{};
}

} // namespace

bool LooksLikeRtf(const BYTE* start, size_t size)
{
    return size >= 5 && std::memcmp(start, "{\\rtf", 5) == 0;
}

RtfRead ReadRtfObjects(const ByteSource& source, const RtfObjectFound& found)
{
    return RtfReader(source, found).Run();
}
