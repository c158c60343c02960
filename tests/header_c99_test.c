/* The public header compiles as C99 (with -pedantic-errors) and its records
 * have the ABI sizes and offsets in a C compiler too. */
#include "vyr_gpsparser.h"

#include <stdio.h>
#include <string.h>

static void onData(const GpsMsgPacket *packet, void *userData)
{
    (void)packet;
    (void)userData;
}

/* The README's way for an application to drop a record after a sentence
 * that failed its checksum, as written there. */
static int lineSendsChecksums;
static int damaged;
static int recordsUsed;

static void onSentence(const char *sentence, uint32_t len, void *user)
{
    const int check = VYR_GPS_NmeaChecksum(sentence, len);
    (void)user;
    if (check == VYR_GPS_CHECKSUM_OK) {
        lineSendsChecksums = 1;
    } else if (check == VYR_GPS_CHECKSUM_BAD || lineSendsChecksums) {
        damaged = 1;
    }
}

static void onFix(const GpsMsgPacket *fix, void *user)
{
    (void)fix;
    (void)user;
    if (!damaged) {
        recordsUsed++;
    }
    damaged = 0;
}

/* Sentences, then a record: 1 when the record was used. */
static int recordAfter(const char *const *sentences)
{
    const int before = recordsUsed;
    for (; *sentences != NULL; ++sentences) {
        onSentence(*sentences, (uint32_t)strlen(*sentences), NULL);
    }
    onFix(NULL, NULL);
    return recordsUsed - before;
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
    {
        /* The header's checksum helper, as a C application calls it. */
        static const struct {
            const char *sentence;
            int expected;
        } cases[] = {
            {"$GPGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.38*0A", VYR_GPS_CHECKSUM_OK},
            {"$GPGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.38*0a", VYR_GPS_CHECKSUM_OK},
            {"!AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0*26", VYR_GPS_CHECKSUM_OK},
            {"$GPGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.39*0A", VYR_GPS_CHECKSUM_BAD},
            {"$GPGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.38*0A1", VYR_GPS_CHECKSUM_BAD},
            {"$GPGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.38*0", VYR_GPS_CHECKSUM_BAD},
            {"$GPGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.38*0G", VYR_GPS_CHECKSUM_BAD},
            /* A line end flipped into a letter: the first "*hh" is not the last. */
            {"$GPGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.38*0AJ$GPGSA,A,1*32",
             VYR_GPS_CHECKSUM_BAD},
            {"$GPGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.38", VYR_GPS_CHECKSUM_ABSENT},
            {"", VYR_GPS_CHECKSUM_ABSENT},
            {"*00", VYR_GPS_CHECKSUM_OK},
        };
        size_t i;
        for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
            const char *text = cases[i].sentence;
            const int got = VYR_GPS_NmeaChecksum(text, (uint32_t)strlen(text));
            if (got != cases[i].expected) {
                printf("FAILED: checksum of \"%s\": %d, expected %d\n", text, got,
                       cases[i].expected);
                failures++;
            }
        }
        CHECK(VYR_GPS_NmeaChecksum(NULL, 0) == VYR_GPS_CHECKSUM_BAD);
    }
    {
        static const char *const old[] = {"$GPGGA,123519,4807.038,N", "$GPRMC,123519,A", NULL};
        static const char *const good[] = {
            "$GPGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.38*0A", NULL};
        static const char *const flipped[] = {
            "$GPGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.39*0A", NULL};
        CHECK(recordAfter(old) == 1); /* a receiver that sends no checksums */
        CHECK(recordAfter(good) == 1);
        CHECK(recordAfter(flipped) == 0);
        CHECK(recordAfter(good) == 1);
        CHECK(recordAfter(old) == 0); /* fragments, now that the line sends checksums */
    }
    printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
