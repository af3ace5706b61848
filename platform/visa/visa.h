/* VISA subset: the resource manager, resource search, sessions with attributes, and message I/O on
 * TCP socket resources. INSTR resources are the carriers of the bench (or of whatever provider the
 * carrier library registers). Sessions are 32-bit handles; 0 and 1 are never handed out. */
#ifndef TARQ_VISA_H
#define TARQ_VISA_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TARQ_VISA_API __attribute__((visibility("default")))
#else
#define TARQ_VISA_API
#endif

typedef uint32_t ViSession;
typedef uint32_t ViObject;
typedef uint32_t ViFindList;
typedef uint32_t ViAttr;
typedef int32_t ViStatus;
typedef uintptr_t ViAttrState; /* pointer-sized: user data carries pointers */

#define VI_NULL 0
#define VI_SUCCESS ((ViStatus)0)
#define VI_SUCCESS_TERM_CHAR ((ViStatus)0x3FFF0005)
#define VI_SUCCESS_MAX_CNT ((ViStatus)0x3FFF0006)
#define VI_WARN_NSUP_ATTR_STATE ((ViStatus)0x3FFF0084)

#define VI_ERROR_SYSTEM_ERROR ((ViStatus)0xBFFF0000)
#define VI_ERROR_INV_OBJECT ((ViStatus)0xBFFF000E)
#define VI_ERROR_RSRC_LOCKED ((ViStatus)0xBFFF000F)
#define VI_ERROR_INV_EXPR ((ViStatus)0xBFFF0010)
#define VI_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011)
#define VI_ERROR_INV_RSRC_NAME ((ViStatus)0xBFFF0012)
#define VI_ERROR_TMO ((ViStatus)0xBFFF0015)
#define VI_ERROR_ATTR_READONLY ((ViStatus)0xBFFF001B)
#define VI_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001D)
#define VI_ERROR_NSUP_ATTR_STATE ((ViStatus)0xBFFF001E)
#define VI_ERROR_INV_SETUP ((ViStatus)0xBFFF003A)
#define VI_ERROR_ALLOC ((ViStatus)0xBFFF003C)
#define VI_ERROR_IO ((ViStatus)0xBFFF003E)
#define VI_ERROR_NSUP_OPER ((ViStatus)0xBFFF0067)
#define VI_ERROR_USER_BUF ((ViStatus)0xBFFF0071)
#define VI_ERROR_INV_PARAMETER ((ViStatus)0xBFFF0078)
#define VI_ERROR_CONN_LOST ((ViStatus)0xBFFF00A6)
#define VI_ERROR_FAIL_ID_QUERY ((ViStatus)0xBFFC0011)

#define VI_ATTR_RSRC_CLASS ((ViAttr)0xBFFF0001)   /* string: "INSTR", "SOCKET" */
#define VI_ATTR_RSRC_NAME ((ViAttr)0xBFFF0002)    /* string, up to 256 characters */
#define VI_ATTR_USER_DATA ((ViAttr)0x3FFF0007)    /* ViAttrState */
#define VI_ATTR_TERMCHAR ((ViAttr)0x3FFF0018)     /* uint8_t */
#define VI_ATTR_TMO_VALUE ((ViAttr)0x3FFF001A)    /* uint32_t milliseconds */
#define VI_ATTR_TERMCHAR_EN ((ViAttr)0x3FFF0038)  /* uint16_t boolean */
#define VI_ATTR_INTF_TYPE ((ViAttr)0x3FFF0171)    /* uint16_t */

#define VI_INTF_PXI 5
#define VI_INTF_TCPIP 6

#define VI_FIND_BUFLEN 256

TARQ_VISA_API ViStatus viOpenDefaultRM(ViSession *rm);
TARQ_VISA_API ViStatus viOpen(ViSession rm, const char *rsrcName, uint32_t accessMode, uint32_t openTimeout,
                              ViSession *vi);
TARQ_VISA_API ViStatus viClose(ViObject vi);
/* Finds resources matching expr ("?*INSTR", "?*" and simple '*'/'?' globs, case-insensitive).
 * Fails with VI_ERROR_RSRC_NFOUND when nothing matches. */
TARQ_VISA_API ViStatus viFindRsrc(ViSession rm, const char *expr, ViFindList *findList, uint32_t *count,
                                  char desc[VI_FIND_BUFLEN]);
TARQ_VISA_API ViStatus viFindNext(ViFindList findList, char desc[VI_FIND_BUFLEN]);
TARQ_VISA_API ViStatus viGetAttribute(ViObject vi, ViAttr attr, void *value);
TARQ_VISA_API ViStatus viSetAttribute(ViObject vi, ViAttr attr, ViAttrState value);
TARQ_VISA_API ViStatus viWrite(ViSession vi, const void *buf, uint32_t count, uint32_t *retCount);
/* Reads up to count bytes; stops after the termination character when it is enabled. */
TARQ_VISA_API ViStatus viRead(ViSession vi, void *buf, uint32_t count, uint32_t *retCount);
/* Text of a VISA status (English); always returns VI_SUCCESS for a non-null buffer of 256 characters. */
TARQ_VISA_API ViStatus viStatusDesc(ViObject vi, ViStatus status, char desc[256]);

#ifdef __cplusplus
}
#endif
#endif
