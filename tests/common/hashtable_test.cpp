#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/hashtable_internal.h"
#include "qor/hashtable.h"

namespace {

// Heap copy of a text, the kind of data the table frees when it has no
// release function.
char* Dup(const std::string& s) {
  char* p = static_cast<char*>(std::malloc(s.size() + 1));
  std::memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

int Insert(Hashtable* h, const std::string& key, const std::string& value) {
  return Hashtable_insert(h, static_cast<int32_t>(key.size()), key.data(), Dup(value), 0, nullptr);
}

const char* Find(Hashtable* h, const std::string& key) {
  return static_cast<const char*>(Hashtable_search(h, static_cast<int32_t>(key.size()), key.data()));
}

void Remove(Hashtable* h, const std::string& key) {
  EXPECT_EQ(Hashtable_remove(h, static_cast<int32_t>(key.size()), key.data()), 0);
}

struct TableDeleter {
  void operator()(Hashtable* h) const { Hashtable_Destroy(h, 1); }
};
using Table = std::unique_ptr<Hashtable, TableDeleter>;

TEST(HashtableCreate, SizesFromPrimeList) {
  const struct {
    uint64_t minimum;
    uint64_t length;
    uint64_t limit;
  } cases[] = {{0, 53, 35}, {16, 53, 35}, {52, 53, 35}, {53, 97, 64}, {96, 97, 64}, {97, 193, 126}, {1000, 1543, 1003}};
  for (const auto& c : cases) {
    Table h(Hashtable_Create(c.minimum));
    ASSERT_NE(h, nullptr) << c.minimum;
    EXPECT_EQ(h->tablelength, c.length) << c.minimum;
    EXPECT_EQ(h->loadlimit, c.limit) << c.minimum;
    EXPECT_EQ(h->entrycount, 0u);
    EXPECT_EQ(h->count(h.get()), 0u);
  }
  EXPECT_EQ(Hashtable_Create(1073741825), nullptr);
  EXPECT_EQ(Hashtable_Create(UINT64_MAX), nullptr);
}

// Sizes whose bucket array could never be sane are refused before any
// allocation: 2^30 asked for 12 GiB of buckets.
TEST(HashtableCreate, RefusesInsaneSizes) {
  for (uint64_t size : {uint64_t{1} << 30, (uint64_t{1} << 24) + 1, uint64_t{1} << 40}) {
    EXPECT_EQ(Hashtable_Create(size), nullptr) << size;
  }
  Table h(Hashtable_Create(100000));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->tablelength, 196613u);
}

TEST(HashtableGrowth, ThirtySixthInsertGrowsTo97) {
  Table h(Hashtable_Create(16));
  for (int i = 0; i < 35; ++i) ASSERT_EQ(Insert(h.get(), "policy." + std::to_string(i), std::to_string(i)), 0);
  EXPECT_EQ(h->tablelength, 53u);
  ASSERT_EQ(Insert(h.get(), "policy.35", "35"), 0);
  EXPECT_EQ(h->tablelength, 97u);
  EXPECT_EQ(h->loadlimit, 64u);
  EXPECT_EQ(h->primeindex, 1u);
  EXPECT_EQ(Hashtable_Count(h.get()), 36u);
  for (int i = 0; i < 36; ++i) EXPECT_STREQ(Find(h.get(), "policy." + std::to_string(i)), std::to_string(i).c_str());
  // Every entry sits in the bucket of its stored hash.
  for (uint64_t b = 0; b < h->tablelength; ++b) {
    for (HashEntry* e = h->table[b]; e != nullptr; e = e->next) EXPECT_EQ(e->hash % h->tablelength, b);
  }
}

// The table against a model: for every key, the stack of its values (newest
// last) — search returns the newest, remove drops it. Run with both ways of
// growing: into a fresh bucket array and in place.
class HashtableModel : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { qor::HashtableForceInPlaceGrowth(GetParam()); }
  void TearDown() override { qor::HashtableForceInPlaceGrowth(false); }
};

INSTANTIATE_TEST_SUITE_P(Growth, HashtableModel, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "InPlace" : "FreshArray"; });

TEST_P(HashtableModel, RandomInsertsAndRemoves) {
  Table h(Hashtable_Create(0));
  std::map<std::string, std::vector<std::string>> model;
  uint64_t total = 0;
  std::mt19937 rng(1234);
  for (int op = 0; op < 20000; ++op) {
    const std::string key = "k" + std::to_string(rng() % 3000);
    if (rng() % 3 != 0) {
      const std::string value = std::to_string(op);
      ASSERT_EQ(Insert(h.get(), key, value), 0);
      model[key].push_back(value);
      ++total;
    } else {
      Remove(h.get(), key);
      auto it = model.find(key);
      if (it != model.end() && !it->second.empty()) {
        it->second.pop_back();
        --total;
      }
    }
    ASSERT_EQ(Hashtable_Count(h.get()), total);
    ASSERT_LE(h->entrycount, h->loadlimit);
  }
  EXPECT_GT(h->tablelength, 97u);
  for (const auto& [key, values] : model) {
    const char* found = Find(h.get(), key);
    if (values.empty()) {
      EXPECT_EQ(found, nullptr) << key;
    } else {
      ASSERT_NE(found, nullptr) << key;
      EXPECT_EQ(found, values.back()) << key;
    }
  }
}

TEST(Hashtable, DuplicateKeysNewestFirst) {
  Table h(Hashtable_Create(16));
  ASSERT_EQ(Insert(h.get(), "dup", "first"), 0);
  ASSERT_EQ(Insert(h.get(), "dup", "second"), 0);
  EXPECT_EQ(Hashtable_Count(h.get()), 2u);
  EXPECT_STREQ(Find(h.get(), "dup"), "second");
  Remove(h.get(), "dup");
  EXPECT_STREQ(Find(h.get(), "dup"), "first");
  Remove(h.get(), "dup");
  EXPECT_EQ(Find(h.get(), "dup"), nullptr);
  Remove(h.get(), "dup");  // nothing left: still 0
  EXPECT_EQ(Hashtable_Count(h.get()), 0u);
}

TEST(Hashtable, KeyHashUsesSignedBytesAndScramble) {
  Table h(Hashtable_Create(0));
  const struct {
    std::string key;
    uint64_t hash;
  } cases[] = {
      {"", 0},
      {"a", 97},
      {"ab", 97 * 33 + 98},
      {std::string("\x80", 1), static_cast<uint64_t>(-128)},
      {std::string("a\xFF", 2), 97 * 33 - 1},
  };
  auto scramble = [](uint64_t x) {
    x = x + ~(x << 9);
    x = x ^ ((x >> 14) | (x << 18));
    x = x + (x << 4);
    x = x ^ ((x >> 10) | (x << 22));
    return x;
  };
  for (const auto& c : cases) {
    HashKey k{c.key.size(), const_cast<char*>(c.key.data())};
    EXPECT_EQ(h->hashfromkey(&k), c.hash) << testing::PrintToString(c.key);
    ASSERT_EQ(Insert(h.get(), c.key, "v"), 0);
    const HashEntry* e = h->table[scramble(c.hash) % h->tablelength];
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->hash, scramble(c.hash));
    EXPECT_EQ(e->key->length, c.key.size());
    EXPECT_EQ(std::string(e->key->data, e->key->length), c.key);
    EXPECT_EQ(e->key->data[e->key->length], '\0');
    EXPECT_STREQ(Find(h.get(), c.key), "v");
  }
  // A byte of 0x80 is not the same key as one of 0x00 or a shorter key.
  EXPECT_EQ(Find(h.get(), std::string("\x00", 1)), nullptr);
  EXPECT_EQ(Find(h.get(), "a\xFF\xFF"), nullptr);
}

TEST(Hashtable, ChangeReplacesOnlyTheValueRecord) {
  Table h(Hashtable_Create(16));
  ASSERT_EQ(Insert(h.get(), "name", "old"), 0);
  char missing[] = "other";
  const HashKey absent{5, missing};
  auto* replacement = static_cast<HashValue*>(std::malloc(sizeof(HashValue)));
  *replacement = HashValue{7, Dup("new"), nullptr};
  EXPECT_EQ(Hashtable_Change(h.get(), &absent, replacement), -1);
  EXPECT_STREQ(Find(h.get(), "name"), "old");
  EXPECT_EQ(Hashtable_Count(h.get()), 1u);

  // The old record is released but not its data, which stays the caller's.
  char* oldData = const_cast<char*>(Find(h.get(), "name"));
  char present[] = "name";
  const HashKey key{4, present};
  ASSERT_EQ(Hashtable_Change(h.get(), &key, replacement), 0);
  EXPECT_STREQ(Find(h.get(), "name"), "new");
  EXPECT_STREQ(oldData, "old");
  std::free(oldData);
}

// An object shaped like the key manager's records: the name is the second word.
struct NamedObject {
  int32_t nameLength;
  char* name;
};

int gReleased = 0;

void ReleaseNamed(void** data) {
  auto* obj = static_cast<NamedObject*>(*data);
  std::free(obj->name);
  std::free(obj);
  *data = nullptr;
  ++gReleased;
}

NamedObject* MakeNamed(const std::string& name) {
  auto* obj = static_cast<NamedObject*>(std::malloc(sizeof(NamedObject)));
  obj->nameLength = static_cast<int32_t>(name.size());
  obj->name = Dup(name);
  return obj;
}

TEST(Hashtable, LoadKeyNamesAndReleaseRules) {
  Table h(Hashtable_Create(16));
  char** names = reinterpret_cast<char**>(1);
  EXPECT_EQ(Hashtable_LoadKeyNames(h.get(), &names), 0);
  EXPECT_EQ(names, nullptr);

  const std::vector<std::string> policies = {"a.b.c.d", "x.y.z.w", "p.q.r.s"};
  for (const auto& p : policies) {
    ASSERT_EQ(Hashtable_insert(h.get(), static_cast<int32_t>(p.size()), p.data(), MakeNamed(p), 4, ReleaseNamed), 0);
  }
  ASSERT_EQ(Hashtable_LoadKeyNames(h.get(), &names), 3);
  ASSERT_NE(names, nullptr);
  std::set<std::string> got;
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(names[i], nullptr);
    got.insert(names[i]);
  }
  EXPECT_EQ(got, std::set<std::string>(policies.begin(), policies.end()));
  std::free(names);

  gReleased = 0;
  Remove(h.get(), "x.y.z.w");  // through the release function
  EXPECT_EQ(gReleased, 1);
  Hashtable_Destroy(h.release(), 1);
  EXPECT_EQ(gReleased, 3);

  // Destroy without releasing values leaves the data to the caller.
  Hashtable* keep = Hashtable_Create(16);
  NamedObject* obj = MakeNamed("n.a.m.e");
  ASSERT_EQ(Hashtable_insert(keep, 7, "n.a.m.e", obj, 4, ReleaseNamed), 0);
  gReleased = 0;
  Hashtable_Destroy(keep, 0);
  EXPECT_EQ(gReleased, 0);
  void* data = obj;
  ReleaseNamed(&data);
}

TEST(HashtableIterator, WalksEveryEntryOnceAndRemoves) {
  Table h(Hashtable_Create(0));
  std::set<std::string> expected;
  for (int i = 0; i < 200; ++i) {
    const std::string key = "key" + std::to_string(i % 150);  // some duplicates share chains
    ASSERT_EQ(Insert(h.get(), key, key), 0);
    expected.insert(key);
  }
  HashtableItr* it = _Hashtable_iterator(h.get());
  ASSERT_NE(it, nullptr);
  std::multiset<std::string> seen;
  uint64_t lastBucket = 0;
  int walked = 0;
  do {
    HashKey* k = _Hashtable_iterator_key(it);
    ASSERT_NE(k, nullptr);
    EXPECT_GE(it->index, lastBucket);
    lastBucket = it->index;
    seen.insert(std::string(k->data, k->length));
    EXPECT_STREQ(static_cast<const char*>(Hashtable_itr_value(it)), k->data);
    ++walked;
  } while (_Hashtable_iterator_advance(it) != 0);
  EXPECT_EQ(walked, 200);
  EXPECT_EQ(_Hashtable_iterator_key(it), nullptr);
  EXPECT_EQ(Hashtable_itr_value(it), nullptr);
  EXPECT_EQ(_Hashtable_iterator_advance(it), 0);
  std::free(it);

  // Remove every other entry while walking; the value records become ours.
  it = _Hashtable_iterator(h.get());
  int index = 0;
  int removed = 0;
  while (_Hashtable_iterator_key(it) != nullptr) {
    if (index++ % 2 == 0) {
      HashValue* v = _Hashtable_iterator_value(it);
      std::free(v->data);
      std::free(v);
      _Hashtable_iterator_remove(it);
      ++removed;
    } else {
      _Hashtable_iterator_advance(it);
    }
  }
  std::free(it);
  EXPECT_EQ(removed, 100);
  EXPECT_EQ(Hashtable_Count(h.get()), 100u);
  int left = 0;
  for (uint64_t b = 0; b < h->tablelength; ++b) {
    for (HashEntry* e = h->table[b]; e != nullptr; e = e->next) ++left;
  }
  EXPECT_EQ(left, 100);

  // Remove the rest: the table ends empty and the iterator starts on nothing.
  it = _Hashtable_iterator(h.get());
  while (_Hashtable_iterator_key(it) != nullptr) {
    HashValue* v = _Hashtable_iterator_value(it);
    std::free(v->data);
    std::free(v);
    _Hashtable_iterator_remove(it);
  }
  std::free(it);
  EXPECT_EQ(Hashtable_Count(h.get()), 0u);
  it = _Hashtable_iterator(h.get());
  EXPECT_EQ(_Hashtable_iterator_key(it), nullptr);
  std::free(it);
}

TEST(HashtableIterator, SearchPositionsOrLeavesUnchanged) {
  Table h(Hashtable_Create(16));
  ASSERT_EQ(Insert(h.get(), "alpha", "1"), 0);
  ASSERT_EQ(Insert(h.get(), "beta", "2"), 0);
  HashtableItr* it = _Hashtable_iterator(h.get());
  HashEntry* before = it->e;
  char missing[] = "gamma";
  const HashKey absent{5, missing};
  EXPECT_EQ(_Hashtable_iterator_search(it, h.get(), &absent), 0);
  EXPECT_EQ(it->e, before);
  char beta[] = "beta";
  const HashKey present{4, beta};
  EXPECT_NE(_Hashtable_iterator_search(it, h.get(), &present), 0);
  EXPECT_STREQ(static_cast<const char*>(Hashtable_itr_value(it)), "2");
  std::free(it);
}

class HashtableIgnoreCase : public testing::Test {
 protected:
  void TearDown() override { Hashtable_SetIgnoreCaseKeyName(0); }
};

TEST_F(HashtableIgnoreCase, NamesDifferingOnlyInCaseFindTheSameEntry) {
  Hashtable_SetIgnoreCaseKeyName(2);
  EXPECT_EQ(Hashtable_GetIgnoreCaseKeyName(), 0);
  Hashtable_SetIgnoreCaseKeyName(1);
  EXPECT_EQ(Hashtable_GetIgnoreCaseKeyName(), 1);

  Table h(Hashtable_Create(16));
  ASSERT_EQ(Insert(h.get(), "Policy.Col", "mixed"), 0);
  EXPECT_STREQ(Find(h.get(), "POLICY.COL"), "mixed");
  EXPECT_STREQ(Find(h.get(), "policy.col"), "mixed");
  Remove(h.get(), "pOLICY.cOL");
  EXPECT_EQ(Find(h.get(), "Policy.Col"), nullptr);
  EXPECT_EQ(Hashtable_Count(h.get()), 0u);

  // A key longer than 2047 characters is folded whole, not cut.
  const std::string longLower(3000, 'k');
  const std::string longUpper(3000, 'K');
  ASSERT_EQ(Insert(h.get(), longUpper, "long"), 0);
  ASSERT_EQ(Insert(h.get(), longLower.substr(0, 2047), "cut"), 0);
  EXPECT_STREQ(Find(h.get(), longLower), "long");
  Remove(h.get(), longLower);
  EXPECT_EQ(Find(h.get(), longUpper), nullptr);
  EXPECT_STREQ(Find(h.get(), longUpper.substr(0, 2047)), "cut");

  // With the switch off, case matters again.
  Hashtable_SetIgnoreCaseKeyName(0);
  ASSERT_EQ(Insert(h.get(), "MIXED", "upper"), 0);
  EXPECT_EQ(Find(h.get(), "mixed"), nullptr);
  EXPECT_STREQ(Find(h.get(), "MIXED"), "upper");
}

TEST(Hashtable, AbsentArgumentsAndSelfTest) {
  EXPECT_EQ(Hashtable_search(nullptr, 1, "a"), nullptr);
  EXPECT_EQ(Hashtable_remove(nullptr, 1, "a"), 0);
  EXPECT_EQ(Hashtable_Count(nullptr), 0u);
  Table h(Hashtable_Create(16));
  EXPECT_EQ(Hashtable_search(h.get(), 1, nullptr), nullptr);
  EXPECT_EQ(Hashtable_remove(h.get(), 1, nullptr), 0);
  EXPECT_EQ(Hashtable_insert(h.get(), -1, "a", nullptr, 0, nullptr), -1);
  EXPECT_EQ(Hashtable_insert(h.get(), 1, nullptr, nullptr, 0, nullptr), -1);
  EXPECT_EQ(Hashtable_Count(h.get()), 0u);
  EXPECT_EQ(h->search(h.get(), 1, "a"), nullptr);
  Hashtable_Destroy(nullptr, 1);

  testing::internal::CaptureStdout();
  EXPECT_EQ(Hash_Test(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "value:this is data, len:12\n");
}

}  // namespace
