/* Chained hash table keyed by byte strings, growing through a fixed list of
 * primes at a load factor of 0.65. The table holds no lock. */
#ifndef QOR_HASHTABLE_H
#define QOR_HASHTABLE_H

#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

/* Key record: |length| bytes at |data| (a private zero-terminated copy). */
typedef struct HashKey {
  uint64_t length;
  char *data;
} HashKey;

/* Called with the address of a value's data pointer to release it. */
typedef void (*HashReleaseFn)(void **data);

/* Value record: |type| stored as given; |data| owned by the caller unless the
 * table releases it (remove, or destroy with releaseValues 1). */
typedef struct HashValue {
  uint64_t type;
  void *data;
  HashReleaseFn release;
} HashValue;

typedef struct HashEntry {
  HashKey *key;
  HashValue *value;
  uint64_t hash; /* scrambled hash of the key */
  struct HashEntry *next;
} HashEntry;

typedef struct Hashtable {
  uint64_t tablelength;
  HashEntry **table;
  uint64_t entrycount;
  uint64_t loadlimit;
  uint64_t primeindex;
  uint64_t (*hashfromkey)(const HashKey *key);
  int (*equalkeys)(const HashKey *a, const HashKey *b);
  void *(*search)(struct Hashtable *h, int32_t keyLength, const char *key);
  uint64_t (*count)(struct Hashtable *h);
} Hashtable;

typedef struct HashtableItr {
  Hashtable *h;
  HashEntry *e;
  HashEntry *parent;
  uint64_t index;
} HashtableItr;

/* Sets the process-wide ignore-case switch: 1 when |mode| is 1, else 0. While
 * it is on, keys are stored, searched and removed in lower case; set it before
 * filling a table. */
QOR_API void Hashtable_SetIgnoreCaseKeyName(int mode);
/* The current ignore-case switch (0 or 1). */
QOR_API int Hashtable_GetIgnoreCaseKeyName(void);

/* New table with the first prime above |minimumSize| buckets (release with
 * Hashtable_Destroy); NULL above 2^24 (16,777,216: a bucket array of 192 MiB)
 * or without memory. The table still grows past that by inserts. */
QOR_API Hashtable *Hashtable_Create(uint64_t minimumSize);
/* Adds an entry (newest first; an existing key is not replaced). The key is
 * copied; |data| stays the caller's until the table releases it. 0 ok, -1 no
 * memory or bad arguments (table unchanged). */
QOR_API int Hashtable_insert(Hashtable *h, int32_t keyLength, const char *key, void *data,
                             uint64_t type, HashReleaseFn release);
/* Data pointer of the newest matching entry, or NULL. Not owned by the caller. */
QOR_API void *Hashtable_search(Hashtable *h, int32_t keyLength, const char *key);
/* Number of entries. */
QOR_API uint64_t Hashtable_Count(Hashtable *h);
/* Removes the newest matching entry, releasing its key and value (the value
 * through its release function, else free()). Always 0. */
QOR_API int Hashtable_remove(Hashtable *h, int32_t keyLength, const char *key);
/* Replaces the matching entry's value record with |newValue| (a malloc'd
 * record the table takes over); the old record is freed, not its data.
 * 0 ok, -1 when no entry matches (then |newValue| stays the caller's). */
QOR_API int Hashtable_Change(Hashtable *h, const HashKey *key, HashValue *newValue);
/* New array in |*names| (caller frees the array only) of the name pointers
 * (second word) of the stored objects whose value has a release function, in
 * bucket order; unused slots are NULL. Returns the entry count; 0 and
 * |*names| NULL for an empty table; 0 without memory. */
QOR_API int Hashtable_LoadKeyNames(Hashtable *h, char ***names);
/* Releases every entry, key and the table; values by the release rules when
 * |releaseValues| is 1, otherwise only the value records. */
QOR_API void Hashtable_Destroy(Hashtable *h, int releaseValues);

/* New iterator on the first entry (e NULL for an empty table); caller frees
 * it with free(). NULL for a NULL table or without memory. */
QOR_API HashtableItr *_Hashtable_iterator(Hashtable *h);
/* Current key / value record, NULL at the end. Owned by the table. */
QOR_API HashKey *_Hashtable_iterator_key(HashtableItr *i);
QOR_API HashValue *_Hashtable_iterator_value(HashtableItr *i);
/* Current value's data pointer, NULL at the end. */
QOR_API void *Hashtable_itr_value(HashtableItr *i);
/* Moves to the next entry: non-zero, or 0 at the end. */
QOR_API int _Hashtable_iterator_advance(HashtableItr *i);
/* Unlinks the current entry and releases its key and the entry; the value
 * record becomes the caller's (take it with _Hashtable_iterator_value first).
 * Then advances and returns what the advance returned. */
QOR_API int _Hashtable_iterator_remove(HashtableItr *i);
/* Positions |i| on the entry of |key|: non-zero, or 0 (iterator unchanged). */
QOR_API int _Hashtable_iterator_search(HashtableItr *i, Hashtable *h, const HashKey *key);

/* Self test: inserts "key1", looks it up, prints it and destroys the table.
 * 0 ok, -1 failed. */
QOR_API int Hash_Test(void);

QOR_END_DECLS

#endif
