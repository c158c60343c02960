// Feeds one capture file through the reader's path (framer, NMEA callbacks,
// collector, parse, delivery) once, for an instruction count under callgrind.
// Only vyr_cost_feed is counted (--toggle-collect=vyr_cost_feed): reading the
// file and start-up are outside it.
//
//   vyr_cost_driver CAPTURE   prints bytes, sentences and epochs fed
#include <cstdio>
#include <vector>

#include "path_driver.h"

extern "C" [[gnu::noinline]] void vyr_cost_feed(const uint8_t* data, size_t size) {
    vyr::mng::Framer framer;
    vyr::bench::feedBytes(framer, data, size);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CAPTURE\n", argv[0]);
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
    vyr_cost_feed(bytes.data(), bytes.size());
    std::printf("bytes %zu sentences %llu epochs %llu\n", bytes.size(),
                static_cast<unsigned long long>(vyr::bench::gCounts.sentences),
                static_cast<unsigned long long>(vyr::bench::gCounts.epochs));
    return 0;
}
