/* This host's name and IPv4 addresses. Failures are reported in the API log,
 * which is why these live beside it; qor/qoutil.h holds the helpers that do
 * not log. */
#ifndef QOR_QOUTIL_HOST_H
#define QOR_QOUTIL_HOST_H

#include "qor/export.h"

QOR_BEGIN_DECLS

/* This host's name into |out|: 0 or -1. */
QOR_API int QOUtil_GetHostName(char *out, int size);
/* First IPv4 address of this node's name as dotted text into |out|: 0 or -1. */
QOR_API int QOUtil_getCurLocalIP_unix(char *out, int size);
/* Same as QOUtil_getCurLocalIP_unix. */
QOR_API int GetIP(char *out, int size);
/* First IPv4 address of |name| into |out| (at least 20 bytes): 0 or -1. */
QOR_API int QOUtil_GetIPAddressByHostname(const char *name, char *out);
/* First IPv4 address of the host name into |out|: 0 or -1. */
QOR_API int QOUtil_getHostIP(char *out, int size);

QOR_END_DECLS

#endif
