/* nextarq: the driver of the TARQ mezzanine (two channels at 500 MS/s) on a NEXHOST carrier.
 *
 * Every function takes the instrument session first and returns a status: negative error, 0 success,
 * positive warning. Carrier and VISA statuses pass through unchanged. Arguments are checked in order
 * before anything is touched; the n-th argument (counting the session as the first) that is out of
 * range gives NEXTARQ_ERROR_PARAMETERn.
 *
 * The instrument session is the VISA session that nextarq_init opens; after nextarq_connect it is also
 * accepted wherever the carrier library expects a module session. */
#ifndef TARQ_NEXTARQ_H
#define TARQ_NEXTARQ_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define NEXTARQ_API __attribute__((visibility("default")))
#else
#define NEXTARQ_API
#endif

/* ---- Status codes with texts of their own (nextarq_error_message) ------------------------------- */
#define NEXTARQ_SUCCESS 0
#define NEXTARQ_ERROR_PARAMETER1 ((int32_t)0xBFFC0001)
#define NEXTARQ_ERROR_PARAMETER2 ((int32_t)0xBFFC0002)
#define NEXTARQ_ERROR_PARAMETER3 ((int32_t)0xBFFC0003)
#define NEXTARQ_ERROR_PARAMETER4 ((int32_t)0xBFFC0004)
#define NEXTARQ_ERROR_PARAMETER5 ((int32_t)0xBFFC0005)
#define NEXTARQ_ERROR_PARAMETER6 ((int32_t)0xBFFC0006)
#define NEXTARQ_ERROR_PARAMETER7 ((int32_t)0xBFFC0007)
#define NEXTARQ_ERROR_PARAMETER8 ((int32_t)0xBFFC0008)
#define NEXTARQ_ERROR_PARAMETER9 ((int32_t)0xBFFC0809)     /* the ninth lies in the instrument range */
#define NEXTARQ_ERROR_SESSION ((int32_t)0xBFFC0800)        /* "Ошибка номера сеанса" */
#define NEXTARQ_ERROR_BUSY ((int32_t)0xBFFC0810)           /* the ADC port stayed busy */
#define NEXTARQ_ERROR_FIFO_READ ((int32_t)0xBFFC0816)      /* input stream failed or stalled */
#define NEXTARQ_ERROR_FIFO_WRITE ((int32_t)0xBFFC0817)     /* output stream has no room */
#define NEXTARQ_ERROR_CONTROLLER ((int32_t)0xBFFC0820)     /* controller start failed */
#define NEXTARQ_ERROR_FLASH ((int32_t)0xBFFC0830)          /* coefficient memory ("РПЗУ") */
#define NEXTARQ_ERROR_SELF_TEST ((int32_t)0xBFFC0840)
#define NEXTARQ_ERROR_REFERENCE_TEST ((int32_t)0xBFFC0850)
#define NEXTARQ_ERROR_READ ((int32_t)0xBFFC0860)
#define NEXTARQ_ERROR_WRITE ((int32_t)0xBFFC0870)
#define NEXTARQ_ERROR_FILE_WRITE ((int32_t)0xBFFC0880)
#define NEXTARQ_WARN_NOT_READY ((int32_t)0x3FFC0801)
#define NEXTARQ_WARN_NO_FLASH_DATA ((int32_t)0x3FFC0802)
#define NEXTARQ_WARN_STOPPED ((int32_t)0x3FFC0803)
#define NEXTARQ_WARN_NOT_SUPPORTED ((int32_t)0x3FFC0804)   /* the module's hardware version lacks it */

/* ---- Statuses the driver returns whose texts come from the carrier library ---------------------- */
#define NEXTARQ_ERROR_ID_QUERY ((int32_t)0xBFFC0011)       /* the mezzanine is not a TARQ */
#define NEXTARQ_ERROR_TIMEOUT ((int32_t)0xBFFF0015)        /* a command bit did not clear */
#define NEXTARQ_ERROR_NO_RECORD ((int32_t)0xBFFF003A)      /* no driver session record on the session */
#define NEXTARQ_ERROR_ALLOC ((int32_t)0xBFFF003C)          /* out of memory */
#define NEXTARQ_ERROR_FLASH_ERASE_TIMEOUT ((int32_t)0xBFFC0A00)
#define NEXTARQ_ERROR_FLASH_PROGRAM_TIMEOUT ((int32_t)0xBFFC0A03)
#define NEXTARQ_ERROR_FLASH_READ_TIMEOUT ((int32_t)0xBFFC0A04)
#define NEXTARQ_WARN_NSUP_ERROR_QUERY ((int32_t)0x3FFC0104) /* the module keeps no error queue */

/* ---- Constants ----------------------------------------------------------------------------------- */
#define NEXTARQ_DRIVER_REVISION "1.0.2"
#define NEXTARQ_TEXT_SIZE 256          /* status texts and revision buffers */
/* The self-test procedures' protocol: 255 characters of UTF-8 Cyrillic take up to 510 bytes. */
#define NEXTARQ_MESSAGE_SIZE 512
#define NEXTARQ_COEFFICIENT_SIZE 320   /* 2 channels x (gain[10], offset[10]) doubles */
#define NEXTARQ_COEFFICIENT_DATE_SIZE 20
#define NEXTARQ_COEFFICIENT_ADDRESS 0x7F0000u
#define NEXTARQ_BANDS 10               /* band indices 5 to 9 belong to the ADC's upper buffer setting */

/* Data formats of nextarq_readData / nextarq_writeData: arrays or open binary files (FILE *). */
#define NEXTARQ_FORMAT_VOLTS 0         /* f64 per channel into arrays */
#define NEXTARQ_FORMAT_VOLTS_FILE 1    /* f64 per channel into files */
#define NEXTARQ_FORMAT_CODES 2         /* i16 per channel into arrays */
#define NEXTARQ_FORMAT_CODES_FILE 3    /* i16 per channel into files */
#define NEXTARQ_FORMAT_WORDS 4         /* whole 32-bit words into one array */
#define NEXTARQ_FORMAT_WORDS_FILE 5    /* whole 32-bit words into one file */
#define NEXTARQ_FORMAT_VOLT_PAIRS_FILE 6 /* (channel 1, channel 2) f64 pairs into one file */

/* ---- Session, status and error texts -------------------------------------------------------------- */
/* Opens a VISA session on the carrier's resource and attaches a fresh driver session record.
 * idQuery and reset must be 0 or 1; they are only checked here (the work happens in nextarq_connect). */
NEXTARQ_API int32_t nextarq_init(const char *rsrcName, uint16_t idQuery, uint16_t reset, uint32_t *vi);
/* Binds the session to the mezzanine at `position` of the carrier session `nhvi` and resets it. */
NEXTARQ_API int32_t nextarq_connect(uint32_t vi, uint32_t nhvi, uint16_t position, uint16_t idQuery,
                                    uint16_t reset);
/* Stops the module and releases the module session, the VISA session and the record. */
NEXTARQ_API int32_t nextarq_close(uint32_t vi);
/* Streams, converter synchronisation and the default settings; leaves the module stopped. */
NEXTARQ_API int32_t nextarq_reset(uint32_t vi);
/* busy: 1 while an acquisition runs, 0 once its data is complete. */
NEXTARQ_API int32_t nextarq_ready_q(uint32_t vi, uint16_t *busy);
/* Software trigger. */
NEXTARQ_API int32_t nextarq_event(uint32_t vi);
/* Raw value of the control register. */
NEXTARQ_API int32_t nextarq_status_q(uint32_t vi, uint16_t *value);
/* Text of a status (Russian) into text[256]; vi is not used. */
NEXTARQ_API int32_t nextarq_error_message(uint32_t vi, int32_t status, char text[256]);
/* The same text in a chosen language: 0 Russian, 1 English. */
NEXTARQ_API int32_t nextarq_error_message_lang(int32_t status, int32_t language, char text[256]);
/* No error queue: code 0, empty text (each when given), NEXTARQ_WARN_NSUP_ERROR_QUERY. */
NEXTARQ_API int32_t nextarq_error_query(uint32_t vi, int32_t *code, char text[256]);
/* "1.0.2" and, for a session, the module's hardware version ("%i"). */
NEXTARQ_API int32_t nextarq_revision_query(uint32_t vi, char driverRevision[256], char instrumentRevision[256]);

/* ---- ADC port: 8-bit ADC registers at 16-bit addresses -------------------------------------------- */
NEXTARQ_API int32_t nextarq_adcCommand(uint32_t vi, uint16_t command);
NEXTARQ_API int32_t nextarq_adcWrite(uint32_t vi, uint16_t address, int16_t data);
NEXTARQ_API int32_t nextarq_adcRead(uint32_t vi, uint16_t address, uint16_t *data);

/* ---- Acquisition configuration --------------------------------------------------------------------- */
/* band 0 to 4 (50 MHz bands from DC); the query reports 5 to 9 while the ADC buffer is set for 250-500 MHz. */
NEXTARQ_API int32_t nextarq_configSpanF(uint32_t vi, int16_t band);
NEXTARQ_API int32_t nextarq_configSpanF_q(uint32_t vi, int16_t *band);
/* Reference source: 0 internal, 1 internal driven out, 2 external. */
NEXTARQ_API int32_t nextarq_configBaseF(uint32_t vi, int16_t referenceSource);
NEXTARQ_API int32_t nextarq_configBaseF_q(uint32_t vi, int16_t *referenceSource);
/* ADC test pattern: 0 normal conversion, 1 to 3 the converter's test patterns. */
NEXTARQ_API int32_t nextarq_configMode(uint32_t vi, int16_t mode);
NEXTARQ_API int32_t nextarq_configMode_q(uint32_t vi, int16_t *mode);
/* packets 1 to 8192; samples 8 to 0x7FFFFFFF (multiple of 8), packets x samples at most 0x7FFFFFFF. */
NEXTARQ_API int32_t nextarq_configTime(uint32_t vi, uint16_t packets, uint32_t samples, uint32_t presamples);
NEXTARQ_API int32_t nextarq_configTime_q(uint32_t vi, uint16_t *packets, uint32_t *samples, uint32_t *presamples);
/* source 0 software, 1 channel 1, 2 channel 2, 3 synchronisation input, 4 carrier; slope 1 rising;
 * level -40.0 to 0.0 dBm. */
NEXTARQ_API int32_t nextarq_configTrigger(uint32_t vi, uint16_t source, uint16_t slope, double level);
NEXTARQ_API int32_t nextarq_configTrigger_q(uint32_t vi, uint16_t *source, uint16_t *slope, double *level);
/* channel 0 or 1; gain 0.0 to 20.0 dB in steps of 0.25 dB. NEXTARQ_WARN_NOT_SUPPORTED on version 0. */
NEXTARQ_API int32_t nextarq_configGain(uint32_t vi, int16_t channel, double gain);
NEXTARQ_API int32_t nextarq_configGain_q(uint32_t vi, int16_t channel, double *gain);

/* ---- Acquisition and data transfer ---------------------------------------------------------------- */
NEXTARQ_API int32_t nextarq_trigger(uint32_t vi);
NEXTARQ_API int32_t nextarq_stop(uint32_t vi);
/* Packets firstPacket .. firstPacket + packetCount - 1 into dst0/dst1 in `format` (a null channel
 * pointer skips that channel). */
NEXTARQ_API int32_t nextarq_readData(uint32_t vi, int16_t firstPacket, int16_t packetCount, void *dst0, void *dst1,
                                     int16_t format);
/* Loads packets into the module memory from src0/src1 in `format`. */
NEXTARQ_API int32_t nextarq_writeData(uint32_t vi, int16_t firstPacket, int16_t packetCount, void *src0, void *src1,
                                      int16_t format);

/* ---- ADC and DDC programming, temperatures --------------------------------------------------------- */
NEXTARQ_API int32_t nextarq_adcReset(uint32_t vi);
NEXTARQ_API int32_t nextarq_adcAuto(uint32_t vi);
/* mode 0 full band, 1 NSR, 2 VDR, 3 DDC0, 4 DDC0+DDC1, 5 all four DDCs; signalInput 0 or 1. */
NEXTARQ_API int32_t nextarq_configAdcMode(uint32_t vi, int16_t mode, int16_t signalInput);
NEXTARQ_API int32_t nextarq_configAdcMode_q(uint32_t vi, int16_t *mode, int16_t *signalInput);
/* frequency 70.0 to 177.5 MHz. */
NEXTARQ_API int32_t nextarq_configNSR(uint32_t vi, double frequency);
NEXTARQ_API int32_t nextarq_configNSR_q(uint32_t vi, double *frequency);
/* mode 0 to 2; frequency 0.0 to 468.75 MHz (62.5 to 187.5 MHz for mode 0). */
NEXTARQ_API int32_t nextarq_configVDR(uint32_t vi, int16_t mode, double frequency);
NEXTARQ_API int32_t nextarq_configVDR_q(uint32_t vi, int16_t *mode, double *frequency);
/* ddc -1 (all) or 0 to 3; frequency -250.0 to 249.0 MHz. */
NEXTARQ_API int32_t nextarq_configDDC(uint32_t vi, int16_t ddc, int16_t mix, int16_t gain, int16_t toReal,
                                      uint16_t filter, int16_t inputI, int16_t inputQ, double frequency);
NEXTARQ_API int32_t nextarq_configDDC_q(uint32_t vi, int16_t ddc, int16_t *mix, int16_t *gain, int16_t *toReal,
                                        uint16_t *filter, int16_t *inputI, int16_t *inputQ, double *frequency);
NEXTARQ_API int32_t nextarq_temperature_q(uint32_t vi, double *value1, double *value2);

/* ---- Coefficient memory ---------------------------------------------------------------------------- */
/* size 1 to 320. flags 1: read the block into data; 3: also copy it into the session. An erased or
 * damaged block gives the default coefficients (gain 1, offset 0) and NEXTARQ_ERROR_FLASH. */
NEXTARQ_API int32_t nextarq_readCoefficients(uint32_t vi, int16_t flags, void *data, uint32_t size);
/* size 1 to 320. flags bit 0: write the block to the flash; bit 1: copy data into the session. */
NEXTARQ_API int32_t nextarq_writeCoefficients(uint32_t vi, int16_t flags, const void *data, uint32_t size,
                                              uint32_t serial);
/* The stored block's date text (date[20], zero-terminated) and serial number, unchecked. */
NEXTARQ_API int32_t nextarq_readCoefficientInfo(uint32_t vi, char date[20], uint32_t *serial);

/* ---- Self-test procedures -------------------------------------------------------------------------- */
NEXTARQ_API int32_t nextarq_self_test(uint32_t vi, int16_t *result, char message[NEXTARQ_MESSAGE_SIZE]);
/* test 1 to 3: the reference connector linked to the synchronisation connector, channel 1 or channel 2. */
NEXTARQ_API int32_t nextarq_testOK_off(uint32_t vi, int16_t test, int16_t *result,
                                       char message[NEXTARQ_MESSAGE_SIZE]);

#ifdef __cplusplus
}
#endif
#endif
