/* Export and linkage macros shared by every public header. */
#ifndef QOR_EXPORT_H
#define QOR_EXPORT_H

#if defined(__GNUC__)
#define QOR_API __attribute__((visibility("default")))
#else
#define QOR_API
#endif

#ifdef __cplusplus
#define QOR_BEGIN_DECLS extern "C" {
#define QOR_END_DECLS }
#else
#define QOR_BEGIN_DECLS
#define QOR_END_DECLS
#endif

#endif
