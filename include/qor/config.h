/* The configuration: agent home, agent addresses and ports, log settings and
 * switches, built from the environment or properties files. */
#ifndef QOR_CONFIG_H
#define QOR_CONFIG_H

#include <stdint.h>

#include "qor/error.h"
#include "qor/export.h"

QOR_BEGIN_DECLS

#define QOR_CONF_PATH_SIZE 255
#define QOR_CONF_IP_SIZE 16

/* Log levels of QORApiData.logLevel. */
#define QOR_CONF_LOG_INFO 1
#define QOR_CONF_LOG_DEBUG 2
#define QOR_CONF_LOG_ERROR 3
#define QOR_CONF_LOG_NONE 4

/* Error code of every failed build. */
#define QOR_CONF_ERROR 7100
/* Code of QORApiConf_Create when memory cannot be had. */
#define QOR_CONF_CREATE_ERROR 7011

/* The configuration data; zero-filled at creation. */
typedef struct QORApiData {
  char home[QOR_CONF_PATH_SIZE];         /* agent home directory */
  char firstAgentIp[QOR_CONF_IP_SIZE];   /* dotted address of the first agent */
  char secondAgentIp[QOR_CONF_IP_SIZE];  /* dotted address of the second agent */
  uint16_t firstPort;                    /* default 9909 */
  uint16_t secondPort;                   /* default 9911 */
  uint16_t logLevel;                     /* QOR_CONF_LOG_*, default INFO */
  char deviceIp[QOR_CONF_IP_SIZE];       /* this machine's address */
  char moduleDir[QOR_CONF_PATH_SIZE];    /* directory of the library file */
  char logDir[QOR_CONF_PATH_SIZE];       /* log directory set by QOR_SetLogDir */
  int64_t loadTime;                      /* seconds since the epoch of the last key download */
  int32_t useLog;                        /* 1 at creation; 0 disables the API log */
  int32_t compatibility;                 /* QOR_COMPATIBILITY */
  int32_t useLogDir;                     /* 1: the log goes to logDir */
  int32_t bypass;                        /* QOR_BYPASS */
  int32_t policyInitFrom;                /* index into PolicyInitFrom */
  int32_t moduleDirKnown;                /* 1 once moduleDir was found */
  int32_t cryptoMode;                    /* index into CryptoMode, 0 to 2 */
} QORApiData;

/* The configuration object. */
typedef struct QORApiConf {
  QORApiData *data;
  int32_t created; /* 1 once built */
} QORApiConf;

/* "CBC", "ECB", "CTR", "OFB", "CFB", "BYPASS". */
QOR_API extern const char *const CryptoMode[6];
/* "Nothing", "First Agent", "Second Agent", "Emergency File". */
QOR_API extern const char *const PolicyInitFrom[4];
/* The most recently created object (not owned by the reader). */
QOR_API extern QORApiConf *apiObject;

/* Builds the configuration for host kind |mode|: a new object (release with
 * API_Destroy), or NULL with code 7100 in |errorRecord|'s chain. */
QOR_API QORApiConf *QORGet_Info(ErrorInfo *errorRecord, int mode);
/* Built-in defaults with home from $HOME: a new object (API_Destroy), or NULL. */
QOR_API QORApiConf *QORGet_DefaultInfo(void);
/* Home and log directory set to the library's directory: a new object
 * (API_Destroy), or NULL. */
QOR_API QORApiConf *QORGet_AgentLessInfo(void);
/* New object with the creation defaults in apiObject: 0, or 7011 when memory
 * cannot be had. */
QOR_API int QORApiConf_Create(void);
/* The library's directory into configData->moduleDir: 0, or 1 when it cannot
 * be found. */
QOR_API int QORApi_SetCurrentPath(QORApiData *configData);
/* Releases |object| and its data; clears apiObject when it points at it. */
QOR_API void API_Destroy(QORApiConf *object);
/* Properties-line callback: when |line| holds |key| "=" and a quoted value,
 * copies the value into |userData| (|capacity| bytes). Returns 0, or 1 when
 * the line gave no value. */
QOR_API int ApiReadValue(void *userData, int capacity, char *line, const char *key);

QOR_END_DECLS

#endif
