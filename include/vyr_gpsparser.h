/*
 * vyr_gpsparser.h - GPS receiver library: serial NMEA 0183 receiver, one reader
 * thread, parsed fix records delivered to application callbacks.
 *
 * One manager per process. Typical use from one controlling thread:
 *
 *     VYR_GPSPARSER_Register(&dataReg);      // any time, any state
 *     VYR_GPSPARSER_Init();                  // opens the serial port
 *     VYR_GPSPARSER_Start();                 // starts the reader thread
 *     ...                                    // callbacks run on the reader thread
 *     VYR_GPSPARSER_Stop();                  // joins the reader thread
 *     VYR_GPSPARSER_Deinit();                // releases the serial port
 *
 * Every record below has a fixed byte layout that is part of the ABI; the
 * layouts are checked at compile time at the end of this header, for C and C++
 * and for every target. The library allocates no memory.
 *
 * Result codes are unsigned 32-bit values, 0 for success (see VYR_GPS_E_*).
 * Unless stated otherwise a function may be called from any thread.
 *
 * This header is valid C99 and C++.
 */
#ifndef VYR_GPSPARSER_H
#define VYR_GPSPARSER_H

#include <stddef.h>
#include <stdint.h>

#if defined(VYR_GPSPARSER_BUILDING) && defined(__GNUC__)
#define VYR_GPS_API __attribute__((visibility("default")))
#else
#define VYR_GPS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Result codes                                                              */
/* ------------------------------------------------------------------------ */

#define VYR_GPS_OK 0x00000000u
#define VYR_GPS_E_INIT_DEVICE 0x80200002u     /* Init: serial device failed */
#define VYR_GPS_E_STATE 0x80200004u           /* Init/Start: wrong state */
#define VYR_GPS_E_DEINIT_DEVICE 0x80200005u   /* Deinit: releasing the device failed */
#define VYR_GPS_E_THREAD_CREATE 0x80200067u   /* Start: reader thread not created */
#define VYR_GPS_E_NOT_STARTED 0x8020006Cu     /* GetData/ReadNmea: not started */
#define VYR_GPS_E_STOP_NOT_INIT 0x80100004u   /* Stop: not initialised */
#define VYR_GPS_E_STOP_JOIN 0x80100064u       /* Stop: no reader thread joined */
#define VYR_GPS_E_SLOTS_FULL 0x80100065u      /* Register: both slots taken */
#define VYR_GPS_E_NOT_REGISTERED 0x80100066u  /* UnRegister: no slot matches */
#define VYR_GPS_E_IN_CALLBACK 0x80100067u     /* registry: slot change from a callback */
#define VYR_GPS_E_DEV_BAD_REQUEST 0x80200003u /* GpsGetRawData: null or len > 1 */
#define VYR_GPS_E_DEV_NOT_OPEN 0x80200004u    /* GpsGetRawData: port closed */
#define VYR_GPS_E_DEV_INPUT 0x80200068u       /* GpsGetRawData: select/read failed */
#define VYR_GPS_E_DEV_TIMEOUT 0x8020006Au     /* GpsGetRawData: nothing within timeout */
#define VYR_GPS_E_DEV_AGAIN 0x8020006Bu       /* GpsGetRawData: EAGAIN */
#define VYR_GPS_E_MINUS_ONE 0xFFFFFFFFu       /* -1: null output pointer; Deinit while started */

/* Manager lifecycle states, as the manager holds them internally. */
#define MNG_GPS_STATE_DEINIT 0u
#define MNG_GPS_STATE_INIT 1u
#define MNG_GPS_STATE_START 2u
#define MNG_GPS_STATE_STOP 3u

/* Size of one sentence area: at most 179 characters and a terminating NUL. */
#define VYR_GPS_SENTENCE_SIZE 180

/* ------------------------------------------------------------------------ */
/* Field values                                                              */
/* ------------------------------------------------------------------------ */

/* Fixed-point decimal: value / scale. An empty field is {0, 0}; "12.50" is
 * {1250, 100}; "7" and "7." are {7, 1}. */
typedef struct GpsFloat {
    int32_t value;
    int32_t scale;
} GpsFloat;

/* Time of day; all members -1 for an empty field. */
typedef struct GpsTime {
    int32_t hours;
    int32_t minutes;
    int32_t seconds;
    int32_t microseconds;
} GpsTime;

/* Date; all members -1 for an empty field. The year is as written: two digits
 * in RMC, four in ZDA. */
typedef struct GpsDate {
    int32_t day;
    int32_t month;
    int32_t year;
} GpsDate;

/* ------------------------------------------------------------------------ */
/* Sentence records                                                          */
/* ------------------------------------------------------------------------ */

/* Coordinates everywhere stay in the sentence's degree-and-minute form
 * (ddmm.mmmm / dddmm.mmmm), negative for south and west. */

typedef struct GpsRmc {
    GpsTime time;
    int32_t valid; /* 1 when the status letter is 'A' */
    GpsFloat latitude;
    GpsFloat longitude;
    GpsFloat speed;  /* knots */
    GpsFloat course; /* degrees */
    GpsDate date;
    GpsFloat magneticVariation; /* degrees, negative for west */
} GpsRmc;

typedef struct GpsGga {
    GpsTime time;
    GpsFloat latitude;
    GpsFloat longitude;
    int32_t quality; /* 0 no fix */
    int32_t satellitesInUse;
    GpsFloat hdop;
    GpsFloat altitude;
    char altitudeUnits;
    uint8_t reserved0[3];
    GpsFloat geoidSeparation;
    char geoidSeparationUnits;
    uint8_t reserved1[3];
    GpsFloat differentialAge;
} GpsGga;

typedef struct GpsGsa {
    char selectionMode; /* 'M' manual, 'A' automatic */
    uint8_t reserved0[3];
    int32_t fixMode;          /* 1 none, 2 2D, 3 3D */
    int32_t satelliteIds[12]; /* 0 for an empty slot */
    GpsFloat pdop;
    GpsFloat hdop;
    GpsFloat vdop;
} GpsGsa;

typedef struct GpsGll {
    GpsFloat latitude;
    GpsFloat longitude;
    GpsTime time;
    char status;        /* 'A' valid, 'V' invalid */
    char modeIndicator; /* 0 when the sentence has no mode field */
    uint8_t reserved0[2];
} GpsGll;

typedef struct GpsGst {
    GpsTime time;
    GpsFloat rangeRms;
    GpsFloat semiMajorSigma;
    GpsFloat semiMinorSigma;
    GpsFloat semiMajorOrientation;
    GpsFloat latitudeSigma;
    GpsFloat longitudeSigma;
    GpsFloat altitudeSigma;
} GpsGst;

typedef struct GpsSatInfo {
    int32_t prn; /* 0 for a missing entry */
    int32_t elevation;
    int32_t azimuth;
    int32_t snr;       /* dB-Hz, 0 when not tracked */
    uint8_t usedInFix; /* set by GPSPARSER_ParseRawData only */
    uint8_t reserved0[3];
} GpsSatInfo;

typedef struct GpsGsv {
    int32_t messageCount;
    int32_t messageNumber;
    int32_t satellitesInView;
    GpsSatInfo satellites[4];
} GpsGsv;

typedef struct GpsVtg {
    GpsFloat trueCourse;
    GpsFloat magneticCourse;
    GpsFloat speedKnots;
    GpsFloat speedKph;
    int32_t modeIndicator; /* character code of the mode letter, 0 if none */
} GpsVtg;

typedef struct GpsZda {
    GpsTime time;
    GpsDate date; /* four-digit year */
    int32_t zoneHours;
    int32_t zoneMinutes;
} GpsZda;

/* ------------------------------------------------------------------------ */
/* Epoch records                                                             */
/* ------------------------------------------------------------------------ */

/* The parsed record of one epoch. gsa[1] and bdGsv are part of the layout but
 * never filled; BeiDou satellites reach callers as text in GpsRawData. */
typedef struct GpsMsgPacket {
    GpsRmc rmc;
    GpsGga gga;
    GpsGsa gsa[2];
    GpsGsv gpGsv[4];
    GpsGsv bdGsv[4];
} GpsMsgPacket;

/* The raw sentences of the epoch being collected; an empty slot is all zero. */
typedef struct GpsRawData {
    char ggaStr[VYR_GPS_SENTENCE_SIZE];
    char gsaStr[2][VYR_GPS_SENTENCE_SIZE];
    char rmcStr[VYR_GPS_SENTENCE_SIZE];
    char gpGsvStr[4][VYR_GPS_SENTENCE_SIZE]; /* element k: message k + 1 */
    char bdGsvStr[4][VYR_GPS_SENTENCE_SIZE];
} GpsRawData;

/* Floating-point location. latitude/longitude are in degree-and-minute form
 * (4807.038 is 48 degrees 07.038 minutes); the reserved members are never
 * read or written by the library. */
typedef struct GpsLocation {
    uint8_t reserved0[8];
    double latitude;
    double longitude;
    uint8_t reserved1[8];
    float speed;  /* km/h */
    float course; /* degrees */
} GpsLocation;

/* ------------------------------------------------------------------------ */
/* Callbacks, simulated source, device request                               */
/* ------------------------------------------------------------------------ */

/* Called on the reader thread once per completed epoch with the manager's own
 * record (valid until the next epoch is parsed; copy what you need). */
typedef void (*GpsDataCallback)(const GpsMsgPacket* msgPacket, void* userData);

/* Called on the reader thread once per framed sentence; the text carries no
 * line end and is NUL-terminated, len is its length. */
typedef void (*GpsNmeaCallback)(const char* sentence, uint32_t len, void* userData);

/* Generic function pointer stored in a registration; cast a GpsDataCallback
 * or GpsNmeaCallback to it (VYR_GPS_CALLBACK does so). */
typedef void (*GpsCallbackFn)(void);
#define VYR_GPS_CALLBACK(fn) ((GpsCallbackFn)(fn))

/* Registration descriptor, copied by value into a slot. A null callback marks
 * an empty slot. Two descriptors are equal when both fields are equal. */
typedef struct GpsCallbackReg {
    GpsCallbackFn callback;
    void* userData;
} GpsCallbackReg;

/* Simulated sentence source: writes one sentence of at most size - 1 (179)
 * characters and a NUL into buffer and returns its length, or returns 0 or
 * less when it has nothing now. Called on the reader thread, without locks. */
typedef int32_t (*GpsSimulatorFn)(char* buffer, int32_t size);

/* One-byte read request of GpsGetRawData. */
typedef struct GpsDevData {
    uint32_t len;     /* bytes asked for: 0 or 1 */
    uint32_t readLen; /* bytes placed in data */
    uint8_t data;
} GpsDevData;

/* ------------------------------------------------------------------------ */
/* Manager lifecycle. Call from one controlling thread, never from a         */
/* callback.                                                                 */
/* ------------------------------------------------------------------------ */

/* 0; VYR_GPS_E_STATE when already initialised; VYR_GPS_E_INIT_DEVICE when the
 * serial port cannot be opened or another opener holds it (a later Init tries
 * again).
 * The port is held exclusively until Deinit, so that two programs never read
 * alternate bytes of one line: an advisory flock(LOCK_EX | LOCK_NB), which
 * every program linking this library takes, and the terminal's exclusive mode
 * (TIOCEXCL), which refuses any further open except by a process with
 * CAP_SYS_ADMIN. A second Init on a held port, in another process or this one,
 * fails at once without touching the line. Descriptors opened on the port
 * before Init keep working.
 * The port is opened read-write without O_NOCTTY. A process that is a session
 * leader without a controlling terminal (a systemd service, a daemon after
 * setsid) therefore gets the port as its controlling terminal, and when the
 * line hangs up (a USB receiver unplugged) the kernel sends it SIGHUP, which
 * ends it by default. Such a process ignores SIGHUP (signal(SIGHUP, SIG_IGN)
 * before Init) or is not a session leader (fork after setsid). The reader
 * itself survives a hang-up: it sees end of file and waits out its read
 * timeout between passes until Stop. */
VYR_GPS_API uint32_t VYR_GPSPARSER_Init(void);
/* 0 (also when already started); VYR_GPS_E_STATE before Init;
 * VYR_GPS_E_THREAD_CREATE when the reader thread cannot be created. */
VYR_GPS_API uint32_t VYR_GPSPARSER_Start(void);
/* 0 (also when already stopped); VYR_GPS_E_STOP_NOT_INIT before Init;
 * VYR_GPS_E_STOP_JOIN when there is no reader thread to join (never started,
 * or called from the reader thread itself). Returns once the reader thread has
 * finished its current pass (at most about 0.5 s on a silent line). */
VYR_GPS_API uint32_t VYR_GPSPARSER_Stop(void);
/* 0 (also when not initialised); VYR_GPS_E_DEINIT_DEVICE when the port could
 * not be released (a later Deinit tries again); 0xFFFFFFFF while started. */
VYR_GPS_API uint32_t VYR_GPSPARSER_Deinit(void);
/* 1 once any byte or simulated sentence has arrived since load, else 0. */
VYR_GPS_API uint32_t VYR_GPSPARSER_GetGpsState(void);

/* ------------------------------------------------------------------------ */
/* Reader thread and simulated source                                        */
/* ------------------------------------------------------------------------ */

/* Reader thread body; VYR_GPSPARSER_Start is its only legitimate caller. A
 * thread that calls it directly is the reader until it returns. */
VYR_GPS_API void* MNG_GPS_MsgReadThread(void* arg);
/* Installs (or with NULL removes) the simulated source; always 0. A running
 * reader uses the new value from its next pass on. */
VYR_GPS_API int32_t Vyr_GPSPARSER_RegisterSimulater(GpsSimulatorFn simulator);

/* ------------------------------------------------------------------------ */
/* Callback registry: two slots per kind, any thread, any state. Callbacks   */
/* run with the manager lock held: from inside a callback the slots cannot   */
/* change, and an operation that would store or clear a slot there is        */
/* refused with VYR_GPS_E_IN_CALLBACK and an error line.                     */
/* ------------------------------------------------------------------------ */

/* 0 (also when already registered, also from a callback); VYR_GPS_E_SLOTS_FULL;
 * VYR_GPS_E_NOT_REGISTERED for a NULL descriptor; VYR_GPS_E_IN_CALLBACK when
 * called from a callback for a descriptor not yet registered. */
VYR_GPS_API uint32_t VYR_GPSPARSER_Register(const GpsCallbackReg* reg);
/* 0; VYR_GPS_E_NOT_REGISTERED when no slot equals the descriptor (or NULL),
 * also from a callback; VYR_GPS_E_IN_CALLBACK when called from a callback for
 * a registered descriptor (it stays registered). Once it has returned 0 the
 * callback is not called again. */
VYR_GPS_API uint32_t VYR_GPSPARSER_UnRegister(const GpsCallbackReg* reg);
/* As VYR_GPSPARSER_Register, for the NMEA sentence callbacks. */
VYR_GPS_API uint32_t VYR_GPSPARSER_RegNMEARecvCbk(const GpsCallbackReg* reg);
/* As VYR_GPSPARSER_UnRegister, for the NMEA sentence callbacks. */
VYR_GPS_API uint32_t VYR_GPSPARSER_UnregNMEARecvCbk(const GpsCallbackReg* reg);
/* Runs the NMEA callbacks with one sentence under the manager lock; 0. Called
 * by the reader thread for every framed sentence. */
VYR_GPS_API int32_t GPS_Notify_Nmea_Packet(const char* sentence, uint32_t len);

/* Rewrites the first "GNGGA" and the first "GNRMC" of text to "GPGGA" and
 * "GPRMC"; nothing else changes. NULL is ignored. */
VYR_GPS_API void VyrReplaceGNToGP(char* text);

/* ------------------------------------------------------------------------ */
/* Pull access: whole-epoch copies, safe from any thread and from callbacks. */
/* ------------------------------------------------------------------------ */

/* 0; 0xFFFFFFFF for NULL; VYR_GPS_E_NOT_STARTED unless started. */
VYR_GPS_API uint32_t VYR_GPSPARSER_GetData(GpsMsgPacket* msgPacket);
/* Copies the sentences collected so far for the epoch in progress. 0;
 * 0xFFFFFFFF for NULL; VYR_GPS_E_NOT_STARTED unless started. */
VYR_GPS_API uint32_t VYR_GPSPARSER_ReadNmea(GpsRawData* gpsRawData);

/* ------------------------------------------------------------------------ */
/* Serial device layer                                                       */
/* ------------------------------------------------------------------------ */

/* Opens, holds exclusively and configures the port (raw 9600 8N1); 0, also
 * when already open; -1 when it cannot be opened or another opener holds it. */
VYR_GPS_API int32_t VyrGpsDevInit(void);
/* Gives up exclusive use and releases the port; 0 when released or not open,
 * else the platform's non-zero result (the port stays open and held). */
VYR_GPS_API int32_t VyrGpsDevDeInit(void);
/* Reads at most one byte, waiting up to timeoutMs. 0 with readLen 0 or 1, or
 * one of VYR_GPS_E_DEV_*. Reader thread only. The line is read a run at a
 * time: a byte already read is returned at once. */
VYR_GPS_API uint32_t GpsGetRawData(GpsDevData* gpsData, int32_t timeoutMs);

/* ------------------------------------------------------------------------ */
/* Parsing layer: stateless, any thread, different records.                  */
/* ------------------------------------------------------------------------ */

/* value / scale as double; value itself when scale is 0. */
VYR_GPS_API double GPSPARSER_FORMAT_DOUBLE(const GpsFloat* number);

/* Each parser fills its record from one sentence ("$" onwards; checksum and
 * line end optional) and returns 1, or 0 on failure. Any talker is accepted.
 * The record is never cleared: on failure the fields scanned so far hold new
 * values. */
VYR_GPS_API int32_t GPSPARSER_ParseRMC(GpsRmc* rmc, const char* sentence);
VYR_GPS_API int32_t GPSPARSER_ParseGGA(GpsGga* gga, const char* sentence);
VYR_GPS_API int32_t GPSPARSER_ParseGSA(GpsGsa* gsa, const char* sentence);
VYR_GPS_API int32_t GPSPARSER_ParseGLL(GpsGll* gll, const char* sentence);
VYR_GPS_API int32_t GPSPARSER_ParseGST(GpsGst* gst, const char* sentence);
VYR_GPS_API int32_t GPSPARSER_ParseGSV(GpsGsv* gsv, const char* sentence);
VYR_GPS_API int32_t GPSPARSER_ParseVTG(GpsVtg* vtg, const char* sentence);
VYR_GPS_API int32_t GPSPARSER_ParseZDA(GpsZda* zda, const char* sentence);

/* Parses RMC, GGA, the first GSA and the GPS GSV series of a raw set into the
 * record and marks the satellites used in the fix; always 0. */
VYR_GPS_API int32_t GPSPARSER_ParseRawData(const GpsRawData* gpsRawData, GpsMsgPacket* msgPacket);

/* ------------------------------------------------------------------------ */
/* Location output                                                           */
/* ------------------------------------------------------------------------ */

/* Fills latitude, longitude, speed (km/h) and course from the latest record;
 * speed/course are left unchanged when their fields were empty. 0; -1 for
 * NULL. Works in every state; safe from several threads and from callbacks. */
VYR_GPS_API int32_t VYR_GPSPARSER_GetLocation(GpsLocation* pGpsLocation);
/* Splits decimal degrees in [-180, 180] into degrees, minutes and seconds
 * (each rounded down); outside that range nothing is written. */
VYR_GPS_API void convert_ddd_dms(double coordinate, uint8_t* degrees, uint8_t* minutes,
                                 uint8_t* seconds);

/* ------------------------------------------------------------------------ */
/* Sentence checksum (in this header only; not a symbol of the library)      */
/* ------------------------------------------------------------------------ */

/* Results of VYR_GPS_NmeaChecksum. */
#define VYR_GPS_CHECKSUM_OK 1      /* "*hh" ends the sentence and matches it */
#define VYR_GPS_CHECKSUM_ABSENT 0  /* the sentence has no "*" at all */
#define VYR_GPS_CHECKSUM_BAD (-1)  /* a "*" not followed by exactly two hex digits
                                      that end the sentence, or a mismatch */

/* Checks one sentence as the NMEA callback delivers it: text from "$" up to,
 * not including, the line end, `length` characters (a NUL inside counts as a
 * character). The checksum is the two hex digits, in either case, after the
 * sentence's LAST "*", and they must end the sentence: when a corrupted line
 * end joins two sentences, the first one's "*hh" is then part of the text
 * being summed and cannot pass for both. The sum is the XOR of every
 * character after the leading "$" (or "!") up to that "*".
 *
 * The library never checks checksums itself: its parsers take a sentence as
 * it is. An application that must not act on a corrupted sentence checks each
 * one in its NMEA callback and drops the record of an epoch in which one
 * failed. A receiver that sends no checksums at all gives ABSENT for every
 * sentence; once a line has sent one, ABSENT means a damaged sentence too.
 * Pure function: any thread, callbacks included. */
static inline int VYR_GPS_NmeaChecksum(const char *sentence, uint32_t length)
{
    uint32_t star = length;
    uint32_t i;
    uint32_t first;
    unsigned sum = 0;
    unsigned sent = 0;
    if (sentence == NULL) {
        return VYR_GPS_CHECKSUM_BAD;
    }
    for (i = length; i > 0; --i) {
        if (sentence[i - 1] == '*') {
            star = i - 1;
            break;
        }
    }
    if (star == length) {
        return VYR_GPS_CHECKSUM_ABSENT;
    }
    if (length - star != 3) {
        return VYR_GPS_CHECKSUM_BAD;
    }
    for (i = star + 1; i < length; ++i) {
        const char c = sentence[i];
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = (unsigned)(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = (unsigned)(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            digit = (unsigned)(c - 'a' + 10);
        } else {
            return VYR_GPS_CHECKSUM_BAD;
        }
        sent = sent * 16u + digit;
    }
    first = (sentence[0] == '$' || sentence[0] == '!') ? 1u : 0u;
    for (i = first; i < star; ++i) {
        sum ^= (unsigned char)sentence[i];
    }
    return sum == sent ? VYR_GPS_CHECKSUM_OK : VYR_GPS_CHECKSUM_BAD;
}

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ------------------------------------------------------------------------ */
/* Layout checks: the records cross the library boundary byte for byte.      */
/* ------------------------------------------------------------------------ */

#ifdef __cplusplus
#define VYR_GPS_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define VYR_GPS_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
/* C99: a negative array size stops the build; the typedef name carries the line. */
#define VYR_GPS_STATIC_ASSERT_CAT2(a, b) a##b
#define VYR_GPS_STATIC_ASSERT_CAT(a, b) VYR_GPS_STATIC_ASSERT_CAT2(a, b)
#define VYR_GPS_STATIC_ASSERT(cond, msg) \
    typedef char VYR_GPS_STATIC_ASSERT_CAT(vyr_gps_layout_check_, __LINE__)[(cond) ? 1 : -1]
#endif

VYR_GPS_STATIC_ASSERT(sizeof(GpsFloat) == 8, "GpsFloat must be 8 bytes");
VYR_GPS_STATIC_ASSERT(sizeof(GpsTime) == 16, "GpsTime must be 16 bytes");
VYR_GPS_STATIC_ASSERT(sizeof(GpsDate) == 12, "GpsDate must be 12 bytes");

VYR_GPS_STATIC_ASSERT(sizeof(GpsRmc) == 72, "GpsRmc must be 72 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsRmc, valid) == 16, "GpsRmc.valid offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsRmc, latitude) == 20, "GpsRmc.latitude offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsRmc, longitude) == 28, "GpsRmc.longitude offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsRmc, speed) == 36, "GpsRmc.speed offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsRmc, course) == 44, "GpsRmc.course offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsRmc, date) == 52, "GpsRmc.date offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsRmc, magneticVariation) == 64, "GpsRmc.magneticVariation offset");

VYR_GPS_STATIC_ASSERT(sizeof(GpsGga) == 80, "GpsGga must be 80 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGga, latitude) == 16, "GpsGga.latitude offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGga, longitude) == 24, "GpsGga.longitude offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGga, quality) == 32, "GpsGga.quality offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGga, satellitesInUse) == 36, "GpsGga.satellitesInUse offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGga, hdop) == 40, "GpsGga.hdop offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGga, altitude) == 48, "GpsGga.altitude offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGga, altitudeUnits) == 56, "GpsGga.altitudeUnits offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGga, geoidSeparation) == 60, "GpsGga.geoidSeparation offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGga, geoidSeparationUnits) == 68,
                      "GpsGga.geoidSeparationUnits offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGga, differentialAge) == 72, "GpsGga.differentialAge offset");

VYR_GPS_STATIC_ASSERT(sizeof(GpsGsa) == 80, "GpsGsa must be 80 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGsa, fixMode) == 4, "GpsGsa.fixMode offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGsa, satelliteIds) == 8, "GpsGsa.satelliteIds offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGsa, pdop) == 56, "GpsGsa.pdop offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGsa, hdop) == 64, "GpsGsa.hdop offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGsa, vdop) == 72, "GpsGsa.vdop offset");

VYR_GPS_STATIC_ASSERT(sizeof(GpsGll) == 36, "GpsGll must be 36 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGll, time) == 16, "GpsGll.time offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGll, status) == 32, "GpsGll.status offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGll, modeIndicator) == 33, "GpsGll.modeIndicator offset");

VYR_GPS_STATIC_ASSERT(sizeof(GpsGst) == 72, "GpsGst must be 72 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGst, rangeRms) == 16, "GpsGst.rangeRms offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGst, altitudeSigma) == 64, "GpsGst.altitudeSigma offset");

VYR_GPS_STATIC_ASSERT(sizeof(GpsSatInfo) == 20, "GpsSatInfo must be 20 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsSatInfo, snr) == 12, "GpsSatInfo.snr offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsSatInfo, usedInFix) == 16, "GpsSatInfo.usedInFix offset");

VYR_GPS_STATIC_ASSERT(sizeof(GpsGsv) == 92, "GpsGsv must be 92 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGsv, satellitesInView) == 8, "GpsGsv.satellitesInView offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsGsv, satellites) == 12, "GpsGsv.satellites offset");

VYR_GPS_STATIC_ASSERT(sizeof(GpsVtg) == 36, "GpsVtg must be 36 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsVtg, modeIndicator) == 32, "GpsVtg.modeIndicator offset");

VYR_GPS_STATIC_ASSERT(sizeof(GpsZda) == 36, "GpsZda must be 36 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsZda, date) == 16, "GpsZda.date offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsZda, zoneHours) == 28, "GpsZda.zoneHours offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsZda, zoneMinutes) == 32, "GpsZda.zoneMinutes offset");

VYR_GPS_STATIC_ASSERT(sizeof(GpsMsgPacket) == 1048, "GpsMsgPacket must be 1048 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsMsgPacket, rmc) == 0, "GpsMsgPacket.rmc offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsMsgPacket, gga) == 72, "GpsMsgPacket.gga offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsMsgPacket, gsa) == 152, "GpsMsgPacket.gsa offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsMsgPacket, gpGsv) == 312, "GpsMsgPacket.gpGsv offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsMsgPacket, bdGsv) == 680, "GpsMsgPacket.bdGsv offset");

VYR_GPS_STATIC_ASSERT(sizeof(GpsRawData) == 2160, "GpsRawData must be 2160 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsRawData, gsaStr) == 180, "GpsRawData.gsaStr offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsRawData, rmcStr) == 540, "GpsRawData.rmcStr offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsRawData, gpGsvStr) == 720, "GpsRawData.gpGsvStr offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsRawData, bdGsvStr) == 1440, "GpsRawData.bdGsvStr offset");

VYR_GPS_STATIC_ASSERT(sizeof(GpsLocation) == 40, "GpsLocation must be 40 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsLocation, latitude) == 8, "GpsLocation.latitude offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsLocation, longitude) == 16, "GpsLocation.longitude offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsLocation, reserved1) == 24, "GpsLocation.reserved1 offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsLocation, speed) == 32, "GpsLocation.speed offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsLocation, course) == 36, "GpsLocation.course offset");

#ifdef __cplusplus
static_assert(alignof(GpsLocation) == 8, "GpsLocation must be 8-byte aligned");
static_assert(alignof(GpsMsgPacket) == 4, "GpsMsgPacket must be 4-byte aligned");
#endif
VYR_GPS_STATIC_ASSERT(offsetof(GpsCallbackReg, userData) == sizeof(void*),
                      "GpsCallbackReg.userData follows callback");
VYR_GPS_STATIC_ASSERT(sizeof(GpsDevData) == 12, "GpsDevData must be 12 bytes");
VYR_GPS_STATIC_ASSERT(offsetof(GpsDevData, readLen) == 4, "GpsDevData.readLen offset");
VYR_GPS_STATIC_ASSERT(offsetof(GpsDevData, data) == 8, "GpsDevData.data offset");

#endif /* VYR_GPSPARSER_H */
