// Version resources: the ".zorvane_version" section of an ELF file.
#include "platform/winver.h"

#include "platform/fileapi.h"
#include "platform/winuser.h"

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <elf.h>
#include <strings.h>

namespace {

constexpr char magic[] = "ZVRS1"; // and its NUL
constexpr size_t headerSize = sizeof magic + 4;
constexpr uint64_t maxBlock = 64 * 1024;

// The program's own path reads the running executable.
std::string fileToRead(const char* fileName)
{
    char own[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, own, sizeof own);
    if (n > 0 && n < sizeof own && std::strcmp(own, fileName) == 0)
        return "/proc/self/exe";
    return fileName;
}

template <class T> bool readAt(std::ifstream& f, uint64_t offset, T& out)
{
    f.seekg(static_cast<std::streamoff>(offset));
    f.read(reinterpret_cast<char*>(&out), sizeof out);
    return static_cast<bool>(f);
}

// The section's bytes; false when the file cannot be read (error set) or
// has no such section.
bool readBlock(const char* fileName, std::vector<unsigned char>& block)
{
    if (!fileName || !*fileName) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    std::ifstream f(fileToRead(fileName), std::ios::binary);
    if (!f) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    Elf64_Ehdr eh;
    if (!readAt(f, 0, eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
        eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shstrndx >= eh.e_shnum)
        return false;
    Elf64_Shdr names;
    if (!readAt(f, eh.e_shoff + uint64_t{eh.e_shstrndx} * sizeof(Elf64_Shdr), names))
        return false;
    for (uint16_t i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh;
        if (!readAt(f, eh.e_shoff + uint64_t{i} * sizeof(Elf64_Shdr), sh))
            return false;
        char name[32] = {};
        if (sh.sh_name >= names.sh_size)
            continue;
        f.seekg(static_cast<std::streamoff>(names.sh_offset + sh.sh_name));
        f.read(name, sizeof name - 1);
        f.clear();
        if (std::strcmp(name, ".zorvane_version") != 0)
            continue;
        if (sh.sh_type == SHT_NOBITS || sh.sh_size < headerSize || sh.sh_size > maxBlock)
            return false;
        block.resize(sh.sh_size);
        f.seekg(static_cast<std::streamoff>(sh.sh_offset));
        f.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
        if (!f)
            return false;
        uint32_t total;
        std::memcpy(&total, block.data() + sizeof magic, 4);
        if (std::memcmp(block.data(), magic, sizeof magic) != 0 || total < headerSize || total > block.size())
            return false;
        block.resize(total);
        return true;
    }
    return false;
}

} // namespace

DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle)
{
    if (handle)
        *handle = 0;
    std::vector<unsigned char> block;
    if (!readBlock(fileName, block))
        return 0;
    return static_cast<DWORD>(block.size());
}

BOOL GetFileVersionInfoA(const char* fileName, DWORD, DWORD length, void* data)
{
    std::vector<unsigned char> block;
    if (!data || !readBlock(fileName, block))
        return FALSE;
    if (block.size() > length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(data, block.data(), block.size());
    return TRUE;
}

BOOL VerQueryValueA(const void* blockData, const char* subBlock, void** buffer, UINT* length)
{
    if (!blockData || !subBlock || !buffer)
        return FALSE;
    const auto* p = static_cast<const unsigned char*>(blockData);
    if (std::memcmp(p, magic, sizeof magic) != 0)
        return FALSE;
    uint32_t total;
    std::memcpy(&total, p + sizeof magic, 4);
    if (total < headerSize || total > maxBlock)
        return FALSE;
    size_t at = headerSize;
    while (at < total) {
        const char* key = reinterpret_cast<const char*>(p + at);
        size_t keyLen = strnlen(key, total - at);
        if (at + keyLen + 1 + 2 > total)
            return FALSE;
        size_t lenAt = at + keyLen + 1;
        uint16_t valueLen = static_cast<uint16_t>(p[lenAt] | (p[lenAt + 1] << 8));
        size_t valueAt = lenAt + 2;
        if (valueAt + valueLen > total)
            return FALSE;
        if (strcasecmp(key, subBlock) == 0) {
            *buffer = const_cast<unsigned char*>(p + valueAt);
            if (length)
                *length = valueLen;
            return TRUE;
        }
        at = valueAt + valueLen;
    }
    return FALSE;
}
