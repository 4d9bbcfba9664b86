#pragma once

#include <QString>

namespace platform {

// Loading a shared object maps it as its headers describe it; when the file is shorter than
// that (an interrupted copy), the first touch of the missing part kills the program with SIGBUS.
// Returns what is missing when an ELF file ends before its program headers, a loaded segment or
// its section headers do; empty when the file is whole, is no ELF file of this machine's kind
// (the loader then says itself why it cannot load it), or the platform does not use ELF.
QString incompleteSharedObject(const QString &path);

} // namespace platform
