#include "platform/elf_check.h"

#include <QFile>
#include <QSysInfo>
#include <cstring>

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && __has_include(<elf.h>)
#include <elf.h>
#define RORUMO_ELF 1
#endif

namespace platform {

#ifdef RORUMO_ELF
namespace {

// The byte order of the machine we run on, as ELF names it.
constexpr unsigned char kNativeData =
    QSysInfo::ByteOrder == QSysInfo::LittleEndian ? ELFDATA2LSB : ELFDATA2MSB;

// The first offset past a table of `count` entries of `size` bytes at `offset`.
quint64 tableEnd(quint64 offset, quint64 count, quint64 size)
{
    // count and size are 16-bit fields: their product cannot overflow; the sum is saturated.
    const quint64 length = count * size;
    return offset > ~quint64(0) - length ? ~quint64(0) : offset + length;
}

template<typename Header, typename ProgramHeader>
quint64 describedSize(QFile &file, quint64 fileSize)
{
    Header header;
    if (fileSize < sizeof header)
        return sizeof header;
    if (!file.seek(0) ||
        file.read(reinterpret_cast<char *>(&header), sizeof header) != qint64(sizeof header))
        return 0;
    quint64 needed = tableEnd(header.e_phoff, header.e_phnum, header.e_phentsize);
    if (header.e_shoff != 0)
        needed = qMax(needed, tableEnd(header.e_shoff, header.e_shnum, header.e_shentsize));
    if (needed > fileSize || header.e_phentsize < sizeof(ProgramHeader))
        return needed;
    for (quint64 i = 0; i < header.e_phnum; ++i) {
        ProgramHeader segment;
        if (!file.seek(qint64(header.e_phoff + i * header.e_phentsize)) ||
            file.read(reinterpret_cast<char *>(&segment), sizeof segment) != qint64(sizeof segment))
            return 0;
        if (segment.p_type == PT_LOAD)
            needed = qMax(needed, tableEnd(segment.p_offset, 1, segment.p_filesz));
    }
    return needed;
}

} // namespace

QString incompleteSharedObject(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const quint64 size = quint64(file.size());
    unsigned char ident[EI_NIDENT] = {};
    if (file.read(reinterpret_cast<char *>(ident), EI_NIDENT) != EI_NIDENT ||
        std::memcmp(ident, ELFMAG, SELFMAG) != 0 || ident[EI_DATA] != kNativeData)
        return {};
    quint64 needed = 0;
    if (ident[EI_CLASS] == ELFCLASS64)
        needed = describedSize<Elf64_Ehdr, Elf64_Phdr>(file, size);
    else if (ident[EI_CLASS] == ELFCLASS32)
        needed = describedSize<Elf32_Ehdr, Elf32_Phdr>(file, size);
    if (needed <= size)
        return {};
    return QStringLiteral("the file is incomplete: it has %1 bytes, its headers describe %2")
        .arg(size)
        .arg(needed);
}

#else

QString incompleteSharedObject(const QString &)
{
    return {};
}

#endif

} // namespace platform
