// Feeds one capture file through the reader's path (framer, NMEA callbacks,
// collector, parse, delivery) once, for an instruction count under callgrind.
// Only vyr_cost_feed is counted (--toggle-collect=vyr_cost_feed): reading the
// file and start-up are outside it.
//
//   vyr_cost_driver CAPTURE [lines|fifo]   prints bytes, sentences and epochs fed
//   whole file as one run by default; lines: one line a run, as a receiver
//   that sends a sentence at a time delivers it; fifo: 16-byte runs, as a
//   UART's FIFO delivers them
#include <cstdio>
#include <cstring>
#include <vector>

#include "path_driver.h"

enum class Runs { Whole, Lines, Fifo };

extern "C" [[gnu::noinline]] void vyr_cost_feed(const uint8_t* data, size_t size, Runs runs) {
    vyr::mng::Framer framer;
    if (runs == Runs::Lines) {
        vyr::bench::feedLines(framer, data, size);
    } else if (runs == Runs::Fifo) {
        vyr::bench::feedFifo(framer, data, size);
    } else {
        vyr::bench::feedBytes(framer, data, size);
    }
}

int main(int argc, char** argv) {
    const Runs runs = argc != 3                            ? Runs::Whole
                      : std::strcmp(argv[2], "lines") == 0 ? Runs::Lines
                      : std::strcmp(argv[2], "fifo") == 0  ? Runs::Fifo
                                                           : Runs::Whole;
    if (argc != 2 && !(argc == 3 && runs != Runs::Whole)) {
        std::fprintf(stderr, "usage: %s CAPTURE [lines|fifo]\n", argv[0]);
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
    vyr_cost_feed(bytes.data(), bytes.size(), runs);
    std::printf("bytes %zu sentences %llu epochs %llu\n", bytes.size(),
                static_cast<unsigned long long>(vyr::bench::gCounts.sentences),
                static_cast<unsigned long long>(vyr::bench::gCounts.epochs));
    return 0;
}
