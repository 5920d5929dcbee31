// The tool's framed-stream reader, both the file reader and the in-memory
// parser, which must agree on every input.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "stream_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const auto parsed = velkorix::cli::ParseStream(data, size);
    std::FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!file) return 0;
    velkorix::cli::StreamReader reader(file);
    std::vector<uint8_t> record;
    std::size_t count = 0;
    velkorix::cli::StreamReader::Status status;
    while ((status = reader.Next(record)) == velkorix::cli::StreamReader::Status::Record) {
        if (count >= parsed.records.size() || parsed.records[count] != record) __builtin_trap();
        ++count;
    }
    std::fclose(file);
    if (count != parsed.records.size()) __builtin_trap();
    if (status != parsed.end) __builtin_trap();
    return 0;
}
