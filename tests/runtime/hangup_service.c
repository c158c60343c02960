/* A minimal service linking the library, for the hang-up test: it runs the
 * reader on the build's serial port until SIGTERM, then stops and exits 0.
 *
 *   hangup_service ignore|default     disposition of SIGHUP
 *
 * Prints "running" once the reader runs. Exit 1 when Stop or Deinit fails,
 * 2 when the manager does not start. */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "vyr_gpsparser.h"
#include "vyr_platform.h"

int main(int argc, char** argv) {
    sigset_t stop;
    int signalNumber = 0;
    if (argc != 2) {
        fprintf(stderr, "usage: %s ignore|default\n", argv[0]);
        return 2;
    }
    signal(SIGHUP, strcmp(argv[1], "ignore") == 0 ? SIG_IGN : SIG_DFL);
    /* Blocked before Start, so that the reader thread inherits the mask and
     * SIGTERM is taken here by sigwait. */
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, NULL);
    VyrPlatform_SetPrintLevel(0);
    if (VYR_GPSPARSER_Init() != 0 || VYR_GPSPARSER_Start() != 0) {
        return 2;
    }
    printf("running\n");
    fflush(stdout);
    sigwait(&stop, &signalNumber);
    return (VYR_GPSPARSER_Stop() | VYR_GPSPARSER_Deinit()) == 0 ? 0 : 1;
}
