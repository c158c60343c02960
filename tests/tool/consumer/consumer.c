/* Parses one RMC sentence with the installed library and prints the result;
 * exits non-zero when a field is not what the sentence says. */
#include <stdio.h>
#include <vyr_gpsparser.h>
#include <vyr_platform.h>

int main(void) {
    static const char sentence[] =
        "$GPRMC,123519,A,4807.038,N,01131.000,W,022.4,084.4,230394,003.1,W*6A";
    GpsRmc rmc = {0};
    int ok;

    VyrPlatform_SetPrintLevel(1);
    if (GPSPARSER_ParseRMC(&rmc, sentence) != 1) {
        fprintf(stderr, "GPSPARSER_ParseRMC rejected the sentence\n");
        return 1;
    }
    printf(
        "time %02d:%02d:%02d date %02d/%02d/%02d valid %d lat %.3f lon %.3f speed %.1f kn "
        "course %.1f\n",
        (int)rmc.time.hours, (int)rmc.time.minutes, (int)rmc.time.seconds, (int)rmc.date.day,
        (int)rmc.date.month, (int)rmc.date.year, (int)rmc.valid,
        GPSPARSER_FORMAT_DOUBLE(&rmc.latitude), GPSPARSER_FORMAT_DOUBLE(&rmc.longitude),
        GPSPARSER_FORMAT_DOUBLE(&rmc.speed), GPSPARSER_FORMAT_DOUBLE(&rmc.course));
    ok = rmc.valid == 1 && rmc.time.hours == 12 && rmc.date.year == 94 &&
         rmc.latitude.value == 4807038 && rmc.longitude.value == -1131000 &&
         rmc.speed.value == 224 && rmc.course.scale == 10;
    return ok ? 0 : 1;
}
