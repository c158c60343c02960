// Feeds one capture file through the reader's path (framer, NMEA callbacks,
// collector, parse, delivery) once, for an instruction count under callgrind.
// Only vyr_cost_feed is counted (--toggle-collect=vyr_cost_feed): reading the
// file and start-up are outside it.
//
//   vyr_cost_driver CAPTURE [each-byte]   prints bytes, sentences and epochs fed
//   each-byte: the framer takes one byte a call, as the reader thread does
#include <cstdio>
#include <cstring>
#include <vector>

#include "path_driver.h"

extern "C" [[gnu::noinline]] void vyr_cost_feed(const uint8_t* data, size_t size, bool eachByte) {
    vyr::mng::Framer framer;
    if (eachByte) {
        vyr::bench::feedEachByte(framer, data, size);
    } else {
        vyr::bench::feedBytes(framer, data, size);
    }
}

int main(int argc, char** argv) {
    const bool eachByte = argc == 3 && std::strcmp(argv[2], "each-byte") == 0;
    if (argc != 2 && !eachByte) {
        std::fprintf(stderr, "usage: %s CAPTURE [each-byte]\n", argv[0]);
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof(chunk), file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);

    vyr::bench::registerCountingCallbacks();
    vyr_cost_feed(bytes.data(), bytes.size(), eachByte);
    std::printf("bytes %zu sentences %llu epochs %llu\n", bytes.size(),
                static_cast<unsigned long long>(vyr::bench::gCounts.sentences),
                static_cast<unsigned long long>(vyr::bench::gCounts.epochs));
    return 0;
}
