/* The public header compiles as C99 (with -pedantic-errors) and its records
 * have the ABI sizes and offsets in a C compiler too. */
#include "vyr_gpsparser.h"

#include <stdio.h>

static void onData(const GpsMsgPacket *packet, void *userData)
{
    (void)packet;
    (void)userData;
}

int main(void)
{
    int failures = 0;
    GpsCallbackReg reg;
    reg.callback = VYR_GPS_CALLBACK(onData);
    reg.userData = NULL;

#define CHECK(cond)                                 \
    do {                                            \
        if (!(cond)) {                              \
            printf("FAILED: %s\n", #cond);          \
            failures++;                             \
        }                                           \
    } while (0)

    CHECK(sizeof(GpsMsgPacket) == 1048);
    CHECK(sizeof(GpsRawData) == 2160);
    CHECK(offsetof(GpsMsgPacket, gpGsv) == 312);
    CHECK(offsetof(GpsMsgPacket, bdGsv) == 680);
    CHECK(sizeof(GpsLocation) == 40);
    CHECK(offsetof(GpsLocation, speed) == 32);
    CHECK(sizeof(GpsGsv) == 92);
    CHECK(sizeof(GpsSatInfo) == 20);
    CHECK(reg.callback != NULL);
    CHECK(VYR_GPS_E_MINUS_ONE == (uint32_t)-1);
    printf("%d passed, %d failed\n", 10 - failures, failures);
    return failures == 0 ? 0 : 1;
}
