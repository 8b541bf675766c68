// Copies and release of access-rule lists.
#include <gtest/gtest.h>

#include <cstring>

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

// Destroying a long list must not recurse once per node.
TEST(AcsCopy, LongListsCopyAndRelease) {
  AccessRule* first = nullptr;
  for (int i = 0; i < 200000; ++i) {
    auto* r = static_cast<AccessRule*>(std::calloc(1, sizeof(AccessRule)));
    r->pattern[0] = 'a';
    r->next = first;
    first = r;
  }
  AccessRule* copy = acs_copy(first);
  ASSERT_NE(copy, nullptr);
  acs_rule_destroy(first);
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
