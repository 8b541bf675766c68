// Copies and release of access-rule lists.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/policy_fixture.h"
#include "qor/access_control.h"

namespace {

TEST(AcsCopy, DeepCopyInOrder) {
  AccessRule* source = qor::test::Rules({"app", "", "batch"});
  AccessRule* copy = acs_copy(source);
  const AccessRule* s = source;
  const AccessRule* c = copy;
  for (; s != nullptr; s = s->next, c = c->next) {
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c, s);
    EXPECT_STREQ(c->pattern, s->pattern);
  }
  EXPECT_EQ(c, nullptr);
  acs_rule_destroy(source);
  EXPECT_STREQ(copy->next->next->pattern, "batch");  // nothing shared with the source
  acs_rule_destroy(copy);
  EXPECT_EQ(acs_copy(nullptr), nullptr);
  acs_rule_destroy(nullptr);
}

// A text area without its zero keeps 127 characters and gains the terminator.
TEST(AcsCopy, UnterminatedTextIsBounded) {
  AccessRule full{};
  std::memset(full.pattern, 'x', sizeof(full.pattern));
  AccessRule* copy = acs_copy(&full);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::strlen(copy->pattern), sizeof(full.pattern) - 1);
  acs_rule_destroy(copy);
}

// Copying and destroying a long list must not recurse once per node, and
// the copy keeps every node in order.
TEST(AcsCopy, LongListsCopyAndRelease) {
  constexpr int kCount = 200000;
  AccessRule* first = nullptr;
  for (int i = kCount - 1; i >= 0; --i) {
    auto* r = static_cast<AccessRule*>(std::calloc(1, sizeof(AccessRule)));
    std::snprintf(r->pattern, sizeof(r->pattern), "%d", i);
    r->next = first;
    first = r;
  }
  AccessRule* copy = acs_copy(first);
  ASSERT_NE(copy, nullptr);
  acs_rule_destroy(first);
  int count = 0;
  for (const AccessRule* c = copy; c != nullptr; c = c->next, ++count) {
    if (std::to_string(count) != c->pattern) {
      ADD_FAILURE() << "node " << count << " holds " << c->pattern;
      break;
    }
  }
  EXPECT_EQ(count, kCount);
  acs_rule_destroy(copy);
}

TEST(AccessControlDataDestroy, ReleasesEntriesWithTheirLists) {
  auto* acl = static_cast<AccessControlData*>(std::calloc(1, sizeof(AccessControlData)));
  acl->rules1 = qor::test::Rules({"a"});
  acl->rules4 = qor::test::Rules({"1", "7"});
  acl->next = static_cast<AccessControlData*>(std::calloc(1, sizeof(AccessControlData)));
  acl->next->rules3 = qor::test::Rules({"c"});
  AccessControlData_Destroy(acl);  // the sanitizer build reports anything left
  AccessControlData_Destroy(nullptr);
}

}  // namespace
