// Points an executable's load-configuration directory at the record the program
// carries in its ".lcfg" section, and brings the image's checksum up to date.
// Run after linking, because this toolchain's linker leaves the directory
// empty. Usage: load_config_directory <image>. Exit code 0 when the directory
// points at the record (changed or already so), 1 otherwise.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

template <typename T> bool ReadAt(const Bytes& image, size_t offset, T* value)
{
    if (offset > image.size() || image.size() - offset < sizeof(T))
        return false;
    std::memcpy(value, image.data() + offset, sizeof(T));
    return true;
}

template <typename T> void WriteAt(Bytes* image, size_t offset, const T& value)
{
    std::memcpy(image->data() + offset, &value, sizeof(T));
}

// The image checksum as the platform computes it: 16-bit words summed with
// their carries folded in, the checksum field itself left out, plus the length.
DWORD ImageChecksum(const Bytes& image, size_t checksumOffset)
{
    unsigned long long sum = 0;
    for (size_t at = 0; at < image.size(); at += 2) {
        if (at == checksumOffset || at == checksumOffset + 2)
            continue;
        unsigned word = image[at];
        if (at + 1 < image.size())
            word |= static_cast<unsigned>(image[at + 1]) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<DWORD>(sum + image.size());
}

int Fail(const char* what)
{
    std::fprintf(stderr, "load_config_directory: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return Fail("usage: load_config_directory <image>");
    Bytes image;
    {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in)
            return Fail("cannot read the image");
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    IMAGE_DOS_HEADER dos = {};
    DWORD signature = 0;
    IMAGE_FILE_HEADER file = {};
    WORD magic = 0;
    if (!ReadAt(image, 0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        !ReadAt(image, static_cast<size_t>(dos.e_lfanew), &signature) || signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(image, dos.e_lfanew + 4, &file))
        return Fail("not a PE image");
    const size_t optional = dos.e_lfanew + 4 + sizeof(IMAGE_FILE_HEADER);
    if (!ReadAt(image, optional, &magic))
        return Fail("no optional header");
    // The checksum, the count of directories and the directories, for either bitness.
    size_t checksumOffset = 0;
    size_t countOffset = 0;
    size_t directoriesOffset = 0;
    size_t flagsOffset = 0;
    if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        checksumOffset = optional + offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum);
        countOffset = optional + offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes);
        directoriesOffset = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
        flagsOffset = offsetof(IMAGE_LOAD_CONFIG_DIRECTORY64, Reserved1);
    } else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        checksumOffset = optional + offsetof(IMAGE_OPTIONAL_HEADER32, CheckSum);
        countOffset = optional + offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
        directoriesOffset = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
        flagsOffset = offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, Reserved1);
    } else {
        return Fail("unknown optional header");
    }
    DWORD directoryCount = 0;
    DWORD checksum = 0;
    if (!ReadAt(image, countOffset, &directoryCount) || directoryCount <= IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG ||
        !ReadAt(image, checksumOffset, &checksum))
        return Fail("no room for the load-configuration directory");
    // A checksum the linker wrote must be one this program computes too, or
    // the one it writes would be wrong.
    if (checksum != 0 && checksum != ImageChecksum(image, checksumOffset))
        return Fail("the image's checksum is not the platform's");

    const size_t sections = optional + file.SizeOfOptionalHeader;
    for (WORD i = 0; i < file.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section = {};
        if (!ReadAt(image, sections + i * sizeof(section), &section))
            return Fail("section table cut short");
        if (std::memcmp(section.Name, ".lcfg\0\0\0", IMAGE_SIZEOF_SHORT_NAME) != 0)
            continue;
        DWORD size = 0;
        WORD flags = 0;
        if (!ReadAt(image, section.PointerToRawData, &size) || size > section.Misc.VirtualSize ||
            size < flagsOffset + sizeof(WORD) ||
            !ReadAt(image, section.PointerToRawData + flagsOffset, &flags))
            return Fail("the .lcfg section holds no load configuration");
        const IMAGE_DATA_DIRECTORY directory = {section.VirtualAddress, size};
        WriteAt(&image, directoriesOffset + IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG * sizeof(directory), directory);
        if (checksum != 0)
            WriteAt(&image, checksumOffset, ImageChecksum(image, checksumOffset));
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        if (!out)
            return Fail("cannot write the image");
        std::printf("load configuration at 0x%lx, %lu bytes, dependent load flags 0x%x\n",
                    static_cast<unsigned long>(section.VirtualAddress), static_cast<unsigned long>(size),
                    flags);
        return 0;
    }
    return Fail("no .lcfg section");
}
