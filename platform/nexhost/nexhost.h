/* NEXHOST carrier library: register, stream and memory access to the mezzanines of a carrier.
 * Every call returns a status: negative error, 0 success, positive warning. Carrier sessions are VISA
 * sessions of the carrier's INSTR resource; module sessions are opened per mezzanine position.
 * No session handle is ever 0 or 1; unknown and closed handles give NEXHOST_ERROR_SESSION. */
#ifndef TARQ_NEXHOST_H
#define TARQ_NEXHOST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define NEXHOST_API __attribute__((visibility("default")))
#else
#define NEXHOST_API
#endif

/* The carrier's own statuses. */
#define NEXHOST_SUCCESS 0
#define NEXHOST_ERROR_SESSION ((int32_t)0xBFFA0001)      /* unknown, closed or wrong kind of session */
#define NEXHOST_ERROR_POSITION ((int32_t)0xBFFA0002)     /* position outside 1 to 4 */
#define NEXHOST_ERROR_NO_MODULE ((int32_t)0xBFFA0003)    /* no mezzanine at the position */
#define NEXHOST_ERROR_REGISTER ((int32_t)0xBFFA0004)     /* register offset outside 0x02 to 0x3E or odd */
#define NEXHOST_ERROR_STREAM ((int32_t)0xBFFA0005)       /* stream number outside 0 to 1 (2 where allowed) */
#define NEXHOST_ERROR_NO_MEMORY ((int32_t)0xBFFA0006)    /* the carrier memory cannot give that size */
#define NEXHOST_ERROR_NOT_ALLOCATED ((int32_t)0xBFFA0007) /* the stream has no memory */
#define NEXHOST_ERROR_ATTRIBUTE ((int32_t)0xBFFA0008)    /* unknown or read-only attribute */
#define NEXHOST_ERROR_PARAMETER ((int32_t)0xBFFA0009)    /* null pointer or value out of range */
#define NEXHOST_ERROR_BUS ((int32_t)0xBFFA000A)          /* the mezzanine bus did not answer */
#define NEXHOST_ERROR_STREAM_FAILED ((int32_t)0xBFFA000B) /* the stream transfer failed */
#define NEXHOST_ERROR_OPEN ((int32_t)0xBFFA000C)         /* the carrier refused to open */

/* Module session attributes. */
#define NEXHOST_ATTR_USER_RECORD 0x3FFF0808u   /* pointer-sized: the driver's session record (0 detaches) */
#define NEXHOST_ATTR_TRIG_LENGTH_EN 0x3FFF080Bu /* set to 1 before nexhost_m_trig_length */
#define NEXHOST_ATTR_ALIAS_SESSION 0x3FFF080Cu /* uint32: a session accepted wherever this module session is */
#define NEXHOST_ATTR_CARRIER_NAME 0x3FFF0880u  /* read only: text of up to 255 characters (buffer of 256) */

#define NEXHOST_TYPE_TARQ 0x49

NEXHOST_API int32_t nexhost_init(const char *rsrcName, uint16_t idQuery, uint16_t reset, uint32_t *nhvi);
NEXHOST_API int32_t nexhost_close(uint32_t nhvi);
NEXHOST_API int32_t nexhost_m_type_q(uint32_t nhvi, uint16_t position, uint16_t *present, uint16_t *type);
/* The carrier's memory size in 32-bit words, the unit of nexhost_m_alloc. */
NEXHOST_API int32_t nexhost_mem_q(uint32_t nhvi, uint32_t *size);

NEXHOST_API int32_t nexhost_m_init(uint32_t nhvi, uint16_t position, uint32_t *msess);
NEXHOST_API int32_t nexhost_m_close(uint32_t s);
NEXHOST_API int32_t nexhost_m_set_attribute(uint32_t s, uint32_t attr, uintptr_t value);
/* value points to a uintptr_t (0x3FFF0808), uint32_t (0x3FFF080B, 0x3FFF080C) or char[256] (0x3FFF0880). */
NEXHOST_API int32_t nexhost_m_get_attribute(uint32_t s, uint32_t attr, void *value);
NEXHOST_API int32_t nexhost_m_trig_length(uint32_t s, uint32_t length);

NEXHOST_API int32_t nexhost_m_in16(uint32_t s, uint16_t reg, uint16_t *value);
NEXHOST_API int32_t nexhost_m_out16(uint32_t s, uint16_t reg, uint16_t value);

/* Streams: 0 carries samples to the host, 1 data to the module; 2 means both where allowed. */
NEXHOST_API int32_t nexhost_m_reset(uint32_t s, uint16_t stream);
NEXHOST_API int32_t nexhost_m_alloc(uint32_t s, uint16_t stream, uint32_t size, uint32_t flags);
NEXHOST_API int32_t nexhost_m_sample_width(uint32_t s, uint16_t stream, uint16_t width);
NEXHOST_API int32_t nexhost_m_mode(uint32_t s, uint16_t stream, uint16_t mode);
NEXHOST_API int32_t nexhost_m_packet_size(uint32_t s, uint16_t stream, uint32_t size);
NEXHOST_API int32_t nexhost_m_first_delay(uint32_t s, uint16_t stream, uint16_t delay);
NEXHOST_API int32_t nexhost_m_clock(uint32_t s, uint16_t stream, uint16_t clock);
NEXHOST_API int32_t nexhost_m_config_trigger(uint32_t s, uint16_t stream, uint16_t trigger);
NEXHOST_API int32_t nexhost_m_start(uint32_t s, uint16_t stream);
NEXHOST_API int32_t nexhost_m_stop(uint32_t s, uint16_t stream);
NEXHOST_API int32_t nexhost_m_async_stop(uint32_t s, uint16_t stream);
/* Copies at most words 32-bit words of stream 0 into buffer; got is 0 while none is ready. */
NEXHOST_API int32_t nexhost_m_read_packet(uint32_t s, uint32_t words, uint32_t *buffer, uint32_t *got);
/* Queues at most words words on stream 1; put is the number taken. */
NEXHOST_API int32_t nexhost_m_write_packet(uint32_t s, uint32_t words, const uint32_t *buffer, uint32_t *put);
/* Stream 1: free room in words; stream 0: words ready to be read. */
NEXHOST_API int32_t nexhost_m_howmuch_data_q(uint32_t s, uint16_t stream, uint32_t *words);

/* Text of a carrier or VISA status into a buffer of 256 characters (Russian). */
NEXHOST_API int32_t nexhost_error_message(uint32_t s, int32_t status, char text[256]);
/* The same in a chosen language: 0 Russian, 1 English. */
NEXHOST_API int32_t nexhost_error_message_lang(int32_t status, int32_t language, char text[256]);

#ifdef __cplusplus
}
#endif
#endif
