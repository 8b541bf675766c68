/* Whole-file encryption: the encrypted file format, the file operations the
 * file pipelines are built from, and the file entry points. */
#ifndef QOR_QORFILE_H
#define QOR_QORFILE_H

#include <stdint.h>
#include <stdio.h>

#include "qor/error.h"
#include "qor/export.h"

QOR_BEGIN_DECLS

struct NC_NEWSHA2_CTX;
struct UACipherUtil;

/* ---- Result of one file operation --------------------------------------- */

typedef struct FileResult {
  int32_t reserved;                     /* always 0 */
  char message[QOR_ERROR_MESSAGE_SIZE]; /* last error message, only on failure */
  char tag[4];                          /* "KED", "IOE", "KLE", "ACC", "DUP", "UNK" */
  int32_t code;                         /* 0 success */
  int32_t ciphertextVerified;           /* 1: the stored ciphertext digest matched */
  int32_t plaintextVerified;            /* 1: the stored plaintext digest matched */
  int64_t time;                         /* seconds since the epoch */
  char deviceAddress[16];
  char keyName[128];
  uint16_t keyVersion;
} FileResult;

/* ---- Encrypted file format ---------------------------------------------- */

enum {
  QOR_FILE_MARKER = 0xFE,
  QOR_FILE_HEADER_TYPE1 = 1,        /* no key version */
  QOR_FILE_HEADER_TYPE2 = 2,        /* with a key version */
  QOR_FILE_HEADER_TYPE1_SIZE = 239,
  QOR_FILE_HEADER_TYPE2_SIZE = 241,
  QOR_FILE_HEADER_MAX = 241,
  QOR_FILE_IV_BLOCK_SIZE = 16,
  QOR_FILE_DIGEST_SIZE = 32,
  QOR_FILE_HEADER_LINE_SIZE = 17,   /* "ULVEX|TYPE[LINE]|" */
  QOR_FILE_DIGEST_HEADER_SIZE = 76
};

/* The swap-file suffix of in-place runs. */
#define QOR_FILE_SWAP_SUFFIX ".ulvexswp1"

/* Fills |headerOut| (room for 241 bytes) with the header of an encrypted file
 * and stores its length (239, or 241 when |keyVersion| is not 0): 0, or -1
 * with error 1 when an input is missing (a time of 0 counts as missing). */
QOR_API int GenerateFileHeaderData(int type, const unsigned char *plaintextDigest,
                                   const unsigned char *ciphertextDigest, int64_t encryptionTime,
                                   int deviceAddressLength, const char *deviceAddress,
                                   int keyNameLength, const char *keyName, uint16_t keyVersion,
                                   ErrorInfo *errorRecord, unsigned char *headerOut,
                                   int *headerLengthOut, int ivLength,
                                   const unsigned char *recordIvBlock);
/* Reads 241 header bytes from the stream's current position. |verify| 0:
 * returns 0 at once. Else sets both flags of |result| and compares the stored
 * digests with the given ones, clearing the flag of each that differs: 0 both
 * equal, -1 a difference or a short read (error 1 says which). */
QOR_API int VerifyFileHeader(FILE *stream, const unsigned char *plaintextDigest,
                             const unsigned char *ciphertextDigest, int verify,
                             FileResult *result, ErrorInfo *errorRecord);
/* 0 when |path| is an encrypted file, 1 when it is not, 4 when it cannot be
 * opened. */
QOR_API int QORCrypto_IsEnc_API_File(const char *path);

/* Writes the Base64 header line at offset 0 of a stream or descriptor (a
 * descriptor of 0 counts as missing): 0, or -1 with error 1. */
QOR_API int AddFileHeaderLine(FILE *stream, ErrorInfo *errorRecord);
QOR_API int AddFileHeaderLineFD(int fileDescriptor, ErrorInfo *errorRecord);
/* Writes the 76-byte digest header of |length| bytes at |data| into
 * |headerOut| and 76 into |*headerLengthOut|: 0, or -1 with error 1. */
QOR_API int GenerateFileHeader(const unsigned char *data, int length, ErrorInfo *errorRecord,
                               unsigned char *headerOut, int *headerLengthOut);

/* One line found by FindFileLine. The caller sets |bufferLength|. */
enum { QOR_LINE_CONTENT = 1, QOR_LINE_EMPTY = 2, QOR_LINE_INCOMPLETE = 3 };
typedef struct FileLineInfo {
  const char *start;               /* first byte of the line */
  const char *end;                 /* the byte after its last content byte */
  int32_t length;                  /* content bytes */
  unsigned char terminator[2];     /* the terminator bytes found */
  int32_t terminatorCount;         /* 0, 1 or 2 */
  int32_t status;                  /* QOR_LINE_* */
  int32_t bufferLength;            /* bytes of the buffer to scan */
} FileLineInfo;
/* Scans |buffer| for the next line ended by CR, LF, or a pair of them (CR LF,
 * LF CR, CR CR, LF LF); fills |line| and returns its status. */
QOR_API int FindFileLine(const char *buffer, FileLineInfo *line);
/* Stores one line's bounds and terminator into |line|: its status, 1 with
 * content or 2 empty. */
QOR_API int SetFileLineInfo(const char *start, const char *end,
                            const unsigned char *terminatorBytes, int terminatorCount,
                            FileLineInfo *line);
/* Local time as "YYYYMMDD hhmmss" into |text| (16 bytes); nothing for NULL. */
QOR_API void GetCurrentLocalTime(char *text);
/* Seconds since the epoch. */
QOR_API int64_t GetCurrentLocalTime_time_t(void);

/* ---- File operations ------------------------------------------------------ */

/* Target-exists rules (the policy's targetExist). */
enum { QOR_TARGET_BYPASS = 1, QOR_TARGET_OVERWRITE = 2, QOR_TARGET_RENAME = 3,
       QOR_TARGET_REFUSE = 4 };

/* Opens |path| for reading into |*fileOut| (caller closes). Without
 * |ivBlockOut|: 0. With it: reads the header, stores its time and key version
 * in |result|, copies the record-IV block and returns the header type byte.
 * -1 when the file cannot be opened (or its header read). */
QOR_API int InitReadFile(const char *path, ErrorInfo *errorRecord, FILE **fileOut,
                         unsigned char *ivBlockOut, FileResult *result);
/* Creates |path|'s directories and opens it for writing into |*fileOut|
 * (caller closes) by the target rule: 0 open, 1 skip the run, -1 error.
 * |inPlace| marks |path| as the swap file of an in-place run, which is only
 * ever created new. */
QOR_API int InitWriteFile(const char *path, ErrorInfo *errorRecord, FILE **fileOut,
                          int targetExist, int inPlace);
/* Writes |length| bytes and feeds them to |digest| when given: the length, or
 * -1 with error 1 on a short write. */
QOR_API int WriteDataFile(const unsigned char *buffer, int length, FILE *stream,
                          ErrorInfo *errorRecord, struct NC_NEWSHA2_CTX *digest);
/* The duplicate check on whole files; |type| 0 none, 1/2 encryption (copy,
 * refuse), 3/4 decryption (copy, refuse). */
QOR_API int VerifyDuplication(int type, const char *sourcePath, const char *targetPath,
                              int targetExist, ErrorInfo *errorRecord);
/* Undoes a failed run: steps 1-3, 6, 7 remove the target and move the backup
 * back to the source path; 4 and 5 only remove the target. Returns 0. */
QOR_API int RollbackForStep(int step, const char *sourcePath, const char *targetPath,
                            const char *backupPath, ErrorInfo *errorRecord);
/* Renames |from| to |to| when |from| exists and |to| does not: 0 or -1. */
QOR_API int RenameFile(const char *from, const char *to, ErrorInfo *errorRecord);
/* 1 when the text after |path|'s last "." is non-empty and holds "ulvexswp". */
QOR_API int has_ulvexswp_suffix(const char *path);
/* Copies |in| to |out| in 1 KiB pieces and closes both: 0, or -4 when a
 * write writes nothing. */
QOR_API int QORCrypto_filecopy(FILE *in, FILE *out);
/* Opens |path| read-only into |*descriptorOut| (caller closes) and stores its
 * size: 0, or -1 with error 1. */
QOR_API int MappingFileInfo(const char *path, int64_t *sizeOut, int *descriptorOut,
                            ErrorInfo *errorRecord);
/* Writes |data| and then |terminator|: the total, or -1. */
QOR_API int WriteFileWithCrlf(const unsigned char *data, int dataLength,
                              const unsigned char *terminator, int terminatorLength,
                              FILE *stream);
/* Decrypts one piece with the object's binary decryption and writes it,
 * feeding |digest| when given: the bytes written, or -1 (error 3032 or 1). */
QOR_API int WriteDecDataFile(const unsigned char *data, int length, FILE *stream,
                             ErrorInfo *errorRecord, struct UACipherUtil *object,
                             struct NC_NEWSHA2_CTX *digest);
/* Writes nothing; returns 0. */
QOR_API int WriteEncDataFile(const unsigned char *data, int length, FILE *stream,
                             ErrorInfo *errorRecord, struct UACipherUtil *object,
                             struct NC_NEWSHA2_CTX *digest);

QOR_END_DECLS

#endif
