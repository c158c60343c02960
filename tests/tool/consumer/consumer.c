/* Parses one RMC sentence with the installed library and prints what it read. */
#include <stdio.h>
#include <vyr_gpsparser.h>
#include <vyr_platform.h>

int main(void) {
    GpsRmc rmc = {0};
    VyrPlatform_SetPrintLevel(1);
    if (GPSPARSER_ParseRMC(
            &rmc, "$GPRMC,123519,A,4807.038,N,01131.000,W,022.4,084.4,230394,003.1,W*6A") != 1) {
        return 1;
    }
    printf("valid %d lat %.3f lon %.3f speed %.1f kn\n", (int)rmc.valid,
           GPSPARSER_FORMAT_DOUBLE(&rmc.latitude), GPSPARSER_FORMAT_DOUBLE(&rmc.longitude),
           GPSPARSER_FORMAT_DOUBLE(&rmc.speed));
    return 0;
}
