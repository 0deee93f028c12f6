// Reading a dump file for sending: a read error is never taken for the end of
// the file, so a partial dump is never sent as whole.
#pragma once

#include <cstdint>
#include <cstdio>

enum class FileRead { Ok, Failed, CloseFailed };

// Reads at most `capacity` bytes of `file` into `block` with one read, then
// closes the file. `length` gets the number of bytes read. Failed: nothing was
// read, or the read stopped on an error.
FileRead ReadDumpFile(std::FILE* file, unsigned char* block, std::uint32_t capacity,
                      std::uint32_t& length);
