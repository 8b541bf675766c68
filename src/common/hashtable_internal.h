// Test hooks of the hash table, not exported.
#ifndef QOR_COMMON_HASHTABLE_INTERNAL_H
#define QOR_COMMON_HASHTABLE_INTERNAL_H

namespace qor {

// When set, growth skips the fresh bucket array and enlarges the old one in
// place (the path taken when a new array cannot be allocated).
void HashtableForceInPlaceGrowth(bool on);

}  // namespace qor

#endif
