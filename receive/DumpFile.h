// Writing a dump file so that a failure never leaves a short file behind, nor
// damages a file that was there before.
#pragma once

#include <cstddef>

#include <QString>

enum class DumpWrite {
    Saved,
    CannotOpen,  // no file could be created next to the chosen name
    CannotMake,  // writing, flushing or replacing failed; nothing changed
};

// Writes `size` bytes to a new file in the folder of `path`, flushes it to the
// disk and renames it over `path`. A new file gets the mode 0666 less the
// umask; a replaced file keeps its mode.
DumpWrite WriteDumpFile(const QString& path, const unsigned char* data, std::size_t size);
