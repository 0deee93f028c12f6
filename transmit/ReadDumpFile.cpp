#include "transmit/ReadDumpFile.h"

FileRead ReadDumpFile(std::FILE* file, unsigned char* block, std::uint32_t capacity,
                      std::uint32_t& length) {
    length = static_cast<std::uint32_t>(std::fread(block, 1, capacity, file));
    const bool readError = std::ferror(file) != 0;
    const bool closed = std::fclose(file) == 0;
    if (length == 0 || readError) return FileRead::Failed;
    return closed ? FileRead::Ok : FileRead::CloseFailed;
}
