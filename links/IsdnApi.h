/* The C interface of the ISDN adapter library "isdn30P" (libisdn30P.so), as the
 * program loads it at run time, and the error codes of the reference adapter in
 * tools/isdn30P. Shared by the loader and the adapter; plain C so that any
 * adapter can be built against it.
 *
 * One call at a time per process; no handles. Threading: ReadISDNBlock may run on
 * one thread while WriteISDNBlock or CloseISDN run on another.
 *
 *   int DialISDN(const char* number)
 *       0: the call is up. Anything else: failure; the reason is then read on the
 *       same thread with GetISDNLastError() (or, for an adapter that does not
 *       export it, from errno right after the call).
 *   int WriteISDNBlock(const unsigned char* bytes, int count)
 *       negative: failure; 0 or more: the bytes were sent (the count).
 *   int ReadISDNBlock(unsigned char* buffer, int capacity)
 *       greater than 0: that many bytes (never more than capacity) were placed in
 *       buffer; 0: nothing waits now; negative: no call, or the call has ended.
 *       Never blocks.
 *   int CloseISDN(void)
 *       hangs up; 0, or negative when there was no call. Safe to call twice.
 *   int GetISDNLastError(void)     (optional export)
 *       the code left by the last failing call on the calling thread.
 */
#ifndef PMX_ISDN_API_H
#define PMX_ISDN_API_H

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*DialISDNFn)(const char* number);
typedef int (*WriteISDNBlockFn)(const unsigned char* bytes, int count);
typedef int (*ReadISDNBlockFn)(unsigned char* buffer, int capacity);
typedef int (*CloseISDNFn)(void);
typedef int (*GetISDNLastErrorFn)(void);

/* Codes of the reference adapter. */
enum {
    ISDN_OK = 0,
    ISDN_ERR_BAD_NUMBER = 7001,      /* null or empty number */
    ISDN_ERR_NO_ROUTES = 7002,       /* the routing file cannot be read */
    ISDN_ERR_UNKNOWN_NUMBER = 7003,  /* the number has no route */
    ISDN_ERR_BAD_ROUTE = 7004,       /* the route's host:port is malformed or unresolvable */
    ISDN_ERR_REFUSED = 7005,         /* the far end refused the call */
    ISDN_ERR_UNREACHABLE = 7006,     /* the far end did not answer (timeout, no route to it) */
    ISDN_ERR_BUSY = 7007,            /* a call is already up */
    ISDN_ERR_NOT_CONNECTED = 7008,   /* read, write or close without a call */
    ISDN_ERR_HUNG_UP = 7009,         /* the far end ended the call */
    ISDN_ERR_LINK = 7010,            /* the line failed while sending or receiving */
    ISDN_ERR_BAD_ARGUMENT = 7011,    /* null buffer or negative count */
    ISDN_ERR_RESOURCES = 7012        /* no socket or memory */
};

#ifdef __cplusplus
}
#endif

#endif
