// Chained hash table keyed by byte strings. New entries go to the front of
// their bucket, so the newest of several equal keys is found first. The table
// grows through a fixed list of primes once the entry count passes
// ceil(length * 0.65), rehashing from the stored hashes.
#include <array>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/hashtable_internal.h"
#include "qor/hashtable.h"

namespace {

constexpr std::array<uint64_t, 26> kPrimes = {
    53,       97,       193,      389,       769,       1543,      3079,      6151,      12289,
    24593,    49157,    98317,    196613,    393241,    786433,    1572869,   3145739,   6291469,
    12582917, 25165843, 50331653, 100663319, 201326611, 402653189, 805306457, 1610612741};
constexpr uint64_t kLastPrimeIndex = kPrimes.size() - 1;
// A table asked to hold more than 2^24 entries up front is a caller's
// mistake: its bucket array alone (25,165,843 pointers, 192 MiB) is the
// largest this library ever wants; 2^30 would ask for 12 GiB, which an
// overcommitting kernel grants and the host then runs out of.
constexpr uint64_t kMaxMinimumSize = uint64_t{1} << 24;
constexpr size_t kLowerBufferSize = 2048;

std::atomic<int> gIgnoreCaseKey{0};
std::atomic<bool> gForceInPlaceGrowth{false};

// ceil(length * 0.65) in integers: exact for every length in the list.
constexpr uint64_t LoadLimit(uint64_t length) { return (length * 65 + 99) / 100; }

uint64_t HashFromKey(const HashKey* key) {
  uint64_t h = 0;
  for (uint64_t i = 0; i < key->length; ++i) {
    h = h * 33 + static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(key->data[i])));
  }
  return h;
}

uint64_t Scramble(uint64_t h) {
  h += ~(h << 9);
  h ^= (h >> 14) | (h << 18);
  h += h << 4;
  h ^= (h >> 10) | (h << 22);
  return h;
}

int EqualKeys(const HashKey* a, const HashKey* b) {
  return a->length == b->length && (a->length == 0 || std::memcmp(a->data, b->data, a->length) == 0);
}

uint64_t CountOp(Hashtable* h) { return h == nullptr ? 0 : h->entrycount; }

void* SearchOp(Hashtable* h, int32_t keyLength, const char* key) { return Hashtable_search(h, keyLength, key); }

void ReleaseKey(HashKey* key) {
  if (key == nullptr) return;
  // An empty key still owns its one-byte terminated copy.
  std::free(key->data);
  std::free(key);
}

void ReleaseValue(HashValue* value) {
  if (value == nullptr) return;
  if (value->release != nullptr) {
    value->release(&value->data);
  } else {
    std::free(value->data);
  }
  std::free(value);
}

// Finds the newest entry equal to |key|; |parentOut| gets the entry before it.
HashEntry* FindEntry(Hashtable* h, const HashKey* key, HashEntry** parentOut, uint64_t* indexOut) {
  const uint64_t hash = Scramble(h->hashfromkey(key));
  const uint64_t index = hash % h->tablelength;
  HashEntry* parent = nullptr;
  for (HashEntry* e = h->table[index]; e != nullptr; parent = e, e = e->next) {
    if (e->hash == hash && h->equalkeys(key, e->key)) {
      if (parentOut != nullptr) *parentOut = parent;
      if (indexOut != nullptr) *indexOut = index;
      return e;
    }
  }
  return nullptr;
}

// Moves every entry of buckets [0, oldLength) of |from| to the front of its
// bucket in |to| (which may be the same array). Each chain is reversed first
// so that entries of one key keep their newest-first order: pushing a chain's
// entries to the front one by one would otherwise turn it around.
void Rehash(HashEntry** from, uint64_t oldLength, HashEntry** to, uint64_t newLength) {
  for (uint64_t i = 0; i < oldLength; ++i) {
    HashEntry* reversed = nullptr;
    HashEntry* e = from[i];
    from[i] = nullptr;
    while (e != nullptr) {
      HashEntry* next = e->next;
      e->next = reversed;
      reversed = e;
      e = next;
    }
    while (reversed != nullptr) {
      HashEntry* next = reversed->next;
      const uint64_t b = reversed->hash % newLength;
      reversed->next = to[b];
      to[b] = reversed;
      reversed = next;
    }
  }
}

// Moves to the next prime when possible, rehashing from the stored hashes. If
// no new array can be had the old one is enlarged in place; if that fails too
// the table keeps its size.
void Grow(Hashtable* h) {
  const uint64_t newIndex = h->primeindex + 1;
  const uint64_t newLength = kPrimes[newIndex];
  auto* fresh = gForceInPlaceGrowth.load(std::memory_order_relaxed)
                    ? nullptr
                    : static_cast<HashEntry**>(std::calloc(newLength, sizeof(HashEntry*)));
  if (fresh != nullptr) {
    Rehash(h->table, h->tablelength, fresh, newLength);
    std::free(h->table);
    h->table = fresh;
  } else {
    auto* bigger = static_cast<HashEntry**>(std::realloc(h->table, newLength * sizeof(HashEntry*)));
    if (bigger == nullptr) return;
    h->table = bigger;
    std::memset(bigger + h->tablelength, 0, (newLength - h->tablelength) * sizeof(HashEntry*));
    Rehash(bigger, h->tablelength, bigger, newLength);
  }
  h->primeindex = newIndex;
  h->tablelength = newLength;
  h->loadlimit = LoadLimit(newLength);
}

// With the ignore-case switch on, keys are stored and looked up in lower
// case, so that names differing only in case find the same entry. The folded
// copy lives on the stack when it fits, else on the heap (never cut).
class FoldedKey {
 public:
  FoldedKey(const char* key, uint64_t len) : key_{len, const_cast<char*>(key)} {
    if (gIgnoreCaseKey.load(std::memory_order_relaxed) != 1 || len == 0) return;
    char* buf = local_;
    if (len >= kLowerBufferSize) {
      heap_.reset(new (std::nothrow) char[len + 1]);
      if (!heap_) {
        ok_ = false;
        return;
      }
      buf = heap_.get();
    }
    for (uint64_t i = 0; i < len; ++i) {
      buf[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[i])));
    }
    buf[len] = '\0';
    key_.data = buf;
  }
  bool ok() const { return ok_; }
  const HashKey& key() const { return key_; }

 private:
  HashKey key_;
  bool ok_ = true;
  char local_[kLowerBufferSize];
  std::unique_ptr<char[]> heap_;
};

}  // namespace

namespace qor {
void HashtableForceInPlaceGrowth(bool on) { gForceInPlaceGrowth.store(on, std::memory_order_relaxed); }
}  // namespace qor

extern "C" {

void Hashtable_SetIgnoreCaseKeyName(int mode) { gIgnoreCaseKey.store(mode == 1 ? 1 : 0, std::memory_order_relaxed); }

int Hashtable_GetIgnoreCaseKeyName(void) { return gIgnoreCaseKey.load(std::memory_order_relaxed); }

Hashtable* Hashtable_Create(uint64_t minimumSize) {
  if (minimumSize > kMaxMinimumSize) return nullptr;
  uint64_t index = 0;
  while (index < kLastPrimeIndex && kPrimes[index] <= minimumSize) ++index;
  auto* h = static_cast<Hashtable*>(std::calloc(1, sizeof(Hashtable)));
  if (h == nullptr) return nullptr;
  h->table = static_cast<HashEntry**>(std::calloc(kPrimes[index], sizeof(HashEntry*)));
  if (h->table == nullptr) {
    std::free(h);
    return nullptr;
  }
  h->tablelength = kPrimes[index];
  h->entrycount = 0;
  h->loadlimit = LoadLimit(h->tablelength);
  h->primeindex = index;
  h->hashfromkey = HashFromKey;
  h->equalkeys = EqualKeys;
  h->search = SearchOp;
  h->count = CountOp;
  return h;
}

int Hashtable_insert(Hashtable* h, int32_t keyLength, const char* key, void* data, uint64_t type,
                     HashReleaseFn release) {
  if (h == nullptr || keyLength < 0 || (keyLength > 0 && key == nullptr)) return -1;
  const auto len = static_cast<uint64_t>(keyLength);
  const FoldedKey folded(key, len);
  if (!folded.ok()) return -1;
  key = folded.key().data;
  auto* k = static_cast<HashKey*>(std::malloc(sizeof(HashKey)));
  char* bytes = static_cast<char*>(std::malloc(len + 1));
  auto* v = static_cast<HashValue*>(std::malloc(sizeof(HashValue)));
  auto* e = static_cast<HashEntry*>(std::malloc(sizeof(HashEntry)));
  if (k == nullptr || bytes == nullptr || v == nullptr || e == nullptr) {
    std::free(k);
    std::free(bytes);
    std::free(v);
    std::free(e);
    return -1;
  }
  if (len != 0) std::memcpy(bytes, key, len);
  bytes[len] = '\0';
  *k = HashKey{len, bytes};
  *v = HashValue{type, data, release};

  if (++h->entrycount > h->loadlimit && h->primeindex < kLastPrimeIndex) Grow(h);

  e->key = k;
  e->value = v;
  e->hash = Scramble(h->hashfromkey(k));
  const uint64_t index = e->hash % h->tablelength;
  e->next = h->table[index];
  h->table[index] = e;
  return 0;
}

void* Hashtable_search(Hashtable* h, int32_t keyLength, const char* key) {
  if (h == nullptr || key == nullptr || keyLength < 0) return nullptr;
  const FoldedKey folded(key, static_cast<uint64_t>(keyLength));
  if (!folded.ok()) return nullptr;
  HashEntry* e = FindEntry(h, &folded.key(), nullptr, nullptr);
  if (e == nullptr || e->value == nullptr) return nullptr;
  return e->value->data;
}

uint64_t Hashtable_Count(Hashtable* h) { return CountOp(h); }

int Hashtable_remove(Hashtable* h, int32_t keyLength, const char* key) {
  if (h == nullptr || key == nullptr || keyLength < 0) return 0;
  const FoldedKey folded(key, static_cast<uint64_t>(keyLength));
  if (!folded.ok()) return 0;
  const HashKey& k = folded.key();

  HashEntry* parent = nullptr;
  uint64_t index = 0;
  HashEntry* e = FindEntry(h, &k, &parent, &index);
  if (e == nullptr) return 0;
  if (parent == nullptr) {
    h->table[index] = e->next;
  } else {
    parent->next = e->next;
  }
  --h->entrycount;
  ReleaseKey(e->key);
  ReleaseValue(e->value);
  std::free(e);
  return 0;
}

int Hashtable_Change(Hashtable* h, const HashKey* key, HashValue* newValue) {
  if (h == nullptr || key == nullptr || (key->length > 0 && key->data == nullptr)) return -1;
  HashEntry* e = FindEntry(h, key, nullptr, nullptr);
  if (e == nullptr) return -1;
  std::free(e->value);
  e->value = newValue;
  return 0;
}

int Hashtable_LoadKeyNames(Hashtable* h, char*** names) {
  if (names == nullptr) return 0;
  *names = nullptr;
  if (h == nullptr || h->entrycount == 0) return 0;
  auto* list = static_cast<char**>(std::calloc(h->entrycount, sizeof(char*)));
  if (list == nullptr) return 0;
  uint64_t n = 0;
  for (uint64_t i = 0; i < h->tablelength; ++i) {
    for (HashEntry* e = h->table[i]; e != nullptr && n < h->entrycount; e = e->next) {
      const HashValue* v = e->value;
      if (v != nullptr && v->release != nullptr && v->data != nullptr) {
        list[n++] = static_cast<char* const*>(v->data)[1];
      }
    }
  }
  *names = list;
  return static_cast<int>(h->entrycount);
}

void Hashtable_Destroy(Hashtable* h, int releaseValues) {
  if (h == nullptr) return;
  for (uint64_t i = 0; i < h->tablelength; ++i) {
    HashEntry* e = h->table[i];
    while (e != nullptr) {
      HashEntry* next = e->next;
      ReleaseKey(e->key);
      if (releaseValues == 1) {
        ReleaseValue(e->value);
      } else {
        std::free(e->value);
      }
      std::free(e);
      e = next;
    }
  }
  std::free(h->table);
  std::free(h);
}

HashtableItr* _Hashtable_iterator(Hashtable* h) {
  if (h == nullptr) return nullptr;
  auto* it = static_cast<HashtableItr*>(std::calloc(1, sizeof(HashtableItr)));
  if (it == nullptr) return nullptr;
  it->h = h;
  it->index = h->tablelength;
  for (uint64_t i = 0; i < h->tablelength; ++i) {
    if (h->table[i] != nullptr) {
      it->e = h->table[i];
      it->index = i;
      break;
    }
  }
  return it;
}

HashKey* _Hashtable_iterator_key(HashtableItr* i) { return (i == nullptr || i->e == nullptr) ? nullptr : i->e->key; }

HashValue* _Hashtable_iterator_value(HashtableItr* i) {
  return (i == nullptr || i->e == nullptr) ? nullptr : i->e->value;
}

void* Hashtable_itr_value(HashtableItr* i) {
  HashValue* v = _Hashtable_iterator_value(i);
  return v == nullptr ? nullptr : v->data;
}

int _Hashtable_iterator_advance(HashtableItr* i) {
  if (i == nullptr || i->e == nullptr) return 0;
  if (i->e->next != nullptr) {
    i->parent = i->e;
    i->e = i->e->next;
    return 1;
  }
  i->parent = nullptr;
  const Hashtable* h = i->h;
  for (uint64_t j = i->index + 1; j < h->tablelength; ++j) {
    if (h->table[j] != nullptr) {
      i->index = j;
      i->e = h->table[j];
      return 1;
    }
  }
  i->index = h->tablelength;
  i->e = nullptr;
  return 0;
}

int _Hashtable_iterator_remove(HashtableItr* i) {
  if (i == nullptr || i->e == nullptr) return 0;
  HashEntry* removed = i->e;
  HashEntry* parent = i->parent;
  if (parent == nullptr) {
    i->h->table[i->index] = removed->next;
  } else {
    parent->next = removed->next;
  }
  --i->h->entrycount;
  const int ret = _Hashtable_iterator_advance(i);
  // Still in the same chain: the removed entry's parent stays the parent.
  if (i->parent == removed) i->parent = parent;
  ReleaseKey(removed->key);
  std::free(removed);
  return ret;
}

int _Hashtable_iterator_search(HashtableItr* i, Hashtable* h, const HashKey* key) {
  if (i == nullptr || h == nullptr || key == nullptr || (key->length > 0 && key->data == nullptr)) return 0;
  HashEntry* parent = nullptr;
  uint64_t index = 0;
  HashEntry* e = FindEntry(h, key, &parent, &index);
  if (e == nullptr) return 0;
  i->h = h;
  i->e = e;
  i->parent = parent;
  i->index = index;
  return 1;
}

int Hash_Test(void) {
  Hashtable* h = Hashtable_Create(16);
  if (h == nullptr) return -1;
  static const char kKey[] = "key1";
  char* data = static_cast<char*>(std::malloc(sizeof("this is data")));
  if (data != nullptr) std::memcpy(data, "this is data", sizeof("this is data"));
  if (data == nullptr || Hashtable_insert(h, 4, kKey, data, 0, nullptr) != 0) {
    std::free(data);
    Hashtable_Destroy(h, 1);
    return -1;
  }
  const auto* found = static_cast<const char*>(Hashtable_search(h, 4, kKey));
  if (found != nullptr) std::printf("value:%s, len:%d\n", found, static_cast<int>(std::strlen(found)));
  Hashtable_Destroy(h, 1);
  return found != nullptr ? 0 : -1;
}

}  // extern "C"
