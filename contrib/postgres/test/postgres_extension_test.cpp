// The qor extension in a real PostgreSQL server: installed with CREATE
// EXTENSION from a relocated installation, talking to a real stand-in agent,
// exercised over real client connections.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pg_sandbox.h"

namespace qor::pgtest {
namespace {

struct PolicyLine {
  const char* name;
  const char* algorithm;
  int keyBits;
  const char* extra;  // further JSON members, "" for none
};

// Every algorithm, the null and empty handling choices, and access rules on
// each of the three identities.
const PolicyLine kPolicies[] = {
    {"SEED_128", "SEED", 128, ""},
    {"ARIA_128", "ARIA", 128, ""},
    {"ARIA_256", "ARIA", 256, ""},
    {"AES_128", "AES", 128, ""},
    {"AES_256", "AES", 256, ""},
    {"TDES_2KEY", "3DES", 128, ""},
    {"TDES_3KEY", "TDES", 192, ""},
    {"LEA_128", "LEA", 128, ""},
    {"LEA_256", "LEA", 256, ""},
    {"AES_RECORD_IV", "AES", 256, R"("ivType": "RECORD")"},
    {"ARIA_STANDARD", "ARIA", 256, R"("compatibility": "STANDARD")"},
    {"DIGITS_FPE", "FPE", 128, ""},
    {"DIGEST_SHA256", "SHA256", 256, ""},
    {"DIGEST_SHA512", "SHA512", 256, ""},
    {"DIGEST_SHA3_256", "SHA3256", 256, ""},
    {"DIGEST_SHA3_512", "SHA3512", 256, ""},
    {"DIGEST_LSH256", "LSH256", 256, ""},
    {"DIGEST_LSH512", "LSH512", 256, ""},
    {"NULLS_KEPT", "ARIA", 256, R"("nullProcessing": true)"},
    {"NULLS_AS_EMPTY", "ARIA", 256, R"("nullProcessing": true, "compatibility": "STANDARD")"},
    {"FAILURE_IS_NULL", "ARIA", 256, R"("errorHandling": "RETURN_NULL")"},
    {"ONLY_ALICE", "AES", 256,
     R"("unauthorizedDecryption": "ERROR", "accessRules": [{"identity1": ["alice"]}])"},
    {"ONLY_LOOPBACK", "AES", 256,
     R"("unauthorizedDecryption": "ERROR", "accessRules": [{"identity2": ["127.0.0.1"]}])"},
    {"ONLY_BILLING", "AES", 256,
     R"("unauthorizedDecryption": "ERROR", "accessRules": [{"identity3": ["billing"]}])"},
};

// The policy set with ROTATING holding key versions 1..|rotatingVersions|.
std::string PolicySet(int rotatingVersions) {
  std::string json = "{\"policies\": [\n";
  unsigned seed = 1;
  auto key = [&](int bits, int version) {
    return "{\"version\": " + std::to_string(version) + ", \"key\": \"" +
           test::KeyHex(bits / 8, seed++) + "\"}";
  };
  for (const PolicyLine& p : kPolicies) {
    json += std::string("{\"name\": \"") + p.name + "\", \"algorithm\": \"" + p.algorithm +
            "\", \"keyLength\": " + std::to_string(p.keyBits) + ", \"keys\": [" +
            key(p.keyBits, 1) + "]" + (p.extra[0] != '\0' ? ", " : "") + p.extra + "},\n";
  }
  // Newest version first, each version's key fixed by its number.
  json += "{\"name\": \"ROTATING\", \"algorithm\": \"AES\", \"keyLength\": 256, \"keys\": [";
  for (int v = rotatingVersions; v >= 1; --v) {
    json += "{\"version\": " + std::to_string(v) + ", \"key\": \"" + test::KeyHex(32, 1000 + v) +
            "\"}" + (v > 1 ? ", " : "");
  }
  return json + "]}\n]}\n";
}

class PostgresExtension : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sandbox_ = new Sandbox();
    setupError_ = sandbox_->StartAgent(PolicySet(1));
    if (setupError_.empty()) setupError_ = sandbox_->StartServer();
    if (!setupError_.empty()) return;
    Session admin(sandbox_->Conninfo("postgres"));
    if (!admin.ok()) {
      setupError_ = "cannot connect: " + admin.error();
      return;
    }
    for (const char* sql : {"CREATE EXTENSION qor", "CREATE ROLE alice LOGIN", "CREATE ROLE bob LOGIN"}) {
      const Session::Outcome out = admin.Exec(sql);
      if (!out.ok) {
        setupError_ = std::string(sql) + ": " + out.text();
        return;
      }
    }
  }
  static void TearDownTestSuite() {
    delete sandbox_;
    sandbox_ = nullptr;
  }

  void SetUp() override { ASSERT_TRUE(setupError_.empty()) << setupError_; }

  void TearDown() override {
    if (HasFailure() && sandbox_ != nullptr) {
      ADD_FAILURE() << "server log:\n" << sandbox_->serverLog();
    }
  }

  static std::unique_ptr<Session> Connect(const std::string& user = "postgres", bool tcp = true,
                                          const std::string& application = "qor-test") {
    auto session = std::make_unique<Session>(sandbox_->Conninfo(user, tcp, application));
    EXPECT_TRUE(session->ok()) << session->error();
    return session;
  }

  static Sandbox* sandbox_;
  static std::string setupError_;
};

Sandbox* PostgresExtension::sandbox_ = nullptr;
std::string PostgresExtension::setupError_;

TEST_F(PostgresExtension, InstallsEveryFunctionParallelSafe) {
  auto db = Connect();
  const auto out = db->Exec(
      "SELECT count(*), count(*) FILTER (WHERE proparallel = 's') FROM pg_proc "
      "WHERE proname IN ('qor_encrypt', 'qor_decrypt', 'qor_rewrap', 'qor_key_version')");
  ASSERT_TRUE(out.ok) << out.text();
  EXPECT_EQ(out.rows[0][0], Cell("8"));
  EXPECT_EQ(out.rows[0][1], Cell("8"));
  EXPECT_EQ(db->Exec("SELECT extversion FROM pg_extension WHERE extname = 'qor'").value(), Cell("1.0"));
}

// Number of policy-set downloads (operation 1) the agent has logged once it
// reaches |expected| or two seconds passed: the agent logs after answering.
int Downloads(const Sandbox& sandbox, int expected) {
  auto count = [&] {
    const std::string log = sandbox.agentLog();
    int n = 0;
    for (size_t at = log.find(" op=1 "); at != std::string::npos; at = log.find(" op=1 ", at + 1)) ++n;
    return n;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  int n = count();
  while (n < expected && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    n = count();
  }
  return n;
}

TEST_F(PostgresExtension, EachBackendLoadsTheKeySetOnce) {
  const int before = Downloads(*sandbox_, 0);
  auto db = Connect();
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(db->Exec("SELECT qor_decrypt('AES_256', qor_encrypt('AES_256', 'x'))").ok);
  }
  ASSERT_TRUE(db->Exec("SELECT count(qor_encrypt('SEED_128', i::text)) FROM generate_series(1, 1000) i").ok);
  EXPECT_EQ(Downloads(*sandbox_, before + 1), before + 1) << sandbox_->agentLog();
}

TEST_F(PostgresExtension, EveryCipherRoundTripsTextAndBytea) {
  const char* const policies[] = {"SEED_128", "ARIA_128", "ARIA_256",      "AES_128",
                                  "AES_256",  "TDES_2KEY", "TDES_3KEY",    "LEA_128",
                                  "LEA_256",  "AES_RECORD_IV", "ARIA_STANDARD"};
  const char* const values[] = {"Alex Morgan", "x", "exactly sixteen!", "한국어 텍스트 ✓",
                                "0123456789012345678901234567890123456789012345678901234567890"};
  auto db = Connect();
  for (const char* policy : policies) {
    for (const char* value : values) {
      SCOPED_TRACE(std::string(policy) + " / " + value);
      const auto out = db->Exec(
          "SELECT e <> $2, qor_decrypt($1, e) = $2, qor_key_version(e), "
          "       b <> convert_to($2, 'UTF8'), qor_decrypt($1, b) = convert_to($2, 'UTF8'), "
          "       qor_key_version(b) "
          "FROM (SELECT qor_encrypt($1, $2) AS e, qor_encrypt($1, convert_to($2, 'UTF8')) AS b) s",
          {policy, value});
      ASSERT_TRUE(out.ok) << out.text();
      EXPECT_EQ(out.rows[0], (std::vector<Cell>{"t", "t", "1", "t", "t", "1"}));
    }
  }
  // Long values and every byte value.
  const auto longValues = db->Exec(
      "SELECT qor_decrypt('ARIA_256', qor_encrypt('ARIA_256', repeat('long value ', 20000))) "
      "         = repeat('long value ', 20000), "
      "       qor_decrypt('LEA_256', qor_encrypt('LEA_256', b)) = b "
      "FROM (SELECT string_agg(set_byte('\\x00'::bytea, 0, i), ''::bytea) AS b "
      "      FROM generate_series(0, 255) i) s");
  ASSERT_TRUE(longValues.ok) << longValues.text();
  EXPECT_EQ(longValues.rows[0], (std::vector<Cell>{"t", "t"}));
}

TEST_F(PostgresExtension, DigitsKeepTheirShapeAndDigestsAreOneWay) {
  auto db = Connect();
  const auto digits = db->Exec(
      "SELECT length(e), e <> $1, qor_decrypt('DIGITS_FPE', e) = $1 "
      "FROM (SELECT qor_encrypt('DIGITS_FPE', $1) AS e) s",
      {"4111111111111111"});
  ASSERT_TRUE(digits.ok) << digits.text();
  EXPECT_EQ(digits.rows[0], (std::vector<Cell>{"16", "t", "t"}));

  for (const char* policy : {"DIGEST_SHA256", "DIGEST_SHA512", "DIGEST_SHA3_256", "DIGEST_SHA3_512",
                             "DIGEST_LSH256", "DIGEST_LSH512"}) {
    SCOPED_TRACE(policy);
    // The same value always gives the same digest, a different one another.
    const auto same = db->Exec(
        "SELECT qor_encrypt($1, 'secret') = qor_encrypt($1, 'secret'), "
        "       qor_encrypt($1, 'secret') <> qor_encrypt($1, 'secret2')",
        {policy});
    ASSERT_TRUE(same.ok) << same.text();
    EXPECT_EQ(same.rows[0], (std::vector<Cell>{"t", "t"}));
    // A digest never turns back into the value.
    const auto back = db->Exec("SELECT qor_decrypt($1, qor_encrypt($1, 'secret'))", {policy});
    EXPECT_TRUE(!back.ok || back.value() != Cell("secret")) << back.text();
    EXPECT_EQ(db->Exec("SELECT 1").value(), Cell("1"));
  }
}

TEST_F(PostgresExtension, NullAndEmptyValuesFollowThePolicy) {
  struct Case {
    const char* policy;
    Cell input;
    bool encryptsToNull;  // the stored value is NULL
    Cell decrypted;       // what decrypting the stored value gives
  };
  const Case cases[] = {
      {"AES_256", Cell{}, true, Cell{}},
      {"AES_256", Cell(""), false, Cell("")},
      {"NULLS_KEPT", Cell{}, false, Cell{}},
      {"NULLS_KEPT", Cell(""), false, Cell("")},
      {"NULLS_AS_EMPTY", Cell{}, false, Cell("")},
      {"NULLS_AS_EMPTY", Cell(""), false, Cell("")},
  };
  auto db = Connect();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.policy) + (c.input ? " empty" : " null"));
    for (const char* form : {"$2::text", "convert_to($2::text, 'UTF8')"}) {
      SCOPED_TRACE(form);
      const std::string decrypted = std::string(form).find("convert_to") != std::string::npos
                                        ? "convert_from(qor_decrypt($1, e), 'UTF8')"
                                        : "qor_decrypt($1, e)";
      const auto out = db->Exec("SELECT e IS NULL, " + decrypted +
                                    " FROM (SELECT qor_encrypt($1, " + form + ") AS e) s",
                                {c.policy, c.input});
      ASSERT_TRUE(out.ok) << out.text();
      EXPECT_EQ(out.rows[0][0], Cell(c.encryptsToNull ? "t" : "f"));
      EXPECT_EQ(out.rows[0][1], c.decrypted);
    }
  }
  // Null and empty are told apart in what is stored when the policy keeps them.
  const auto apart = db->Exec(
      "SELECT qor_encrypt('NULLS_KEPT', NULL::text) <> qor_encrypt('NULLS_KEPT', '')");
  EXPECT_EQ(apart.value(), Cell("t")) << apart.text();
}

TEST_F(PostgresExtension, AccessRulesRefuseOtherUsersAddressesAndApplications) {
  struct Case {
    const char* policy;
    const char* user;
    bool tcp;
    const char* application;
    bool allowed;
  };
  const Case cases[] = {
      {"ONLY_ALICE", "alice", true, "qor-test", true},
      {"ONLY_ALICE", "bob", true, "qor-test", false},
      {"ONLY_LOOPBACK", "bob", true, "qor-test", true},
      {"ONLY_LOOPBACK", "bob", false, "qor-test", false},  // a Unix socket has no address
      {"ONLY_BILLING", "bob", false, "billing-batch", true},
      {"ONLY_BILLING", "bob", true, "reports", false},
  };
  // What an allowed caller stored, by policy; the allowed case comes first.
  std::map<std::string, Cell> stored;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.policy) + " " + c.user + (c.tcp ? " tcp " : " unix ") + c.application);
    auto db = Connect(c.user, c.tcp, c.application);
    const auto enc = db->Exec("SELECT qor_encrypt($1, 'secret')", {c.policy});
    if (c.allowed) {
      ASSERT_TRUE(enc.ok) << enc.text();
      stored[c.policy] = enc.value();
    }
    ASSERT_TRUE(stored[c.policy].has_value());
    const auto dec = db->Exec("SELECT qor_decrypt($1, $2)", {c.policy, stored[c.policy]});
    if (c.allowed) {
      EXPECT_EQ(dec.value(), Cell("secret")) << dec.text();
      continue;
    }
    for (const auto* refused : {&enc, &dec}) {
      EXPECT_FALSE(refused->ok);
      EXPECT_EQ(refused->sqlstate, "42501");
      EXPECT_EQ(refused->detail, "QOR error 3031: Permission Denied Encrypt/Decrypt");
    }
    EXPECT_EQ(db->Exec("SELECT 1").value(), Cell("1"));
  }

  // The application name is read at every call, so SET takes effect at once.
  auto db = Connect("bob", true, "reports");
  EXPECT_FALSE(db->Exec("SELECT qor_encrypt('ONLY_BILLING', 'x')").ok);
  ASSERT_TRUE(db->Exec("SET application_name = 'billing'").ok);
  EXPECT_TRUE(db->Exec("SELECT qor_encrypt('ONLY_BILLING', 'x')").ok);
}

TEST_F(PostgresExtension, ErrorsCarryTheLibraryReasonAndLeaveTheConnectionUsable) {
  struct Case {
    const char* sql;
    const char* sqlstate;
    const char* detail;  // expected start of the detail
  };
  const Case cases[] = {
      {"SELECT qor_encrypt('NO_SUCH_POLICY', 'x')", "42704",
       "QOR error 3015: The policy id [NO_SUCH_POLICY] could not be found"},
      {"SELECT qor_decrypt(NULL, 'x')", "42704", "QOR error 3015: Key name is can not null"},
      {"SELECT qor_decrypt('AES_256', 'not a ciphertext at all')", "38000",
       "QOR error 3031: key or data check(...)"},
      {"SELECT qor_decrypt('AES_256', '\\x0001fe00112233'::bytea)", "38000",
       "QOR error 3031: key or data check(...)"},
      // Bytes that are not UTF-8 never become text.
      {"SELECT qor_decrypt('ARIA_STANDARD', "
       "encode(qor_encrypt('ARIA_STANDARD', '\\xfffe00'::bytea), 'base64'))",
       "22021", ""},
  };
  auto db = Connect();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    const auto out = db->Exec(c.sql);
    ASSERT_FALSE(out.ok);
    EXPECT_EQ(out.sqlstate, c.sqlstate) << out.text();
    EXPECT_EQ(out.detail.rfind(c.detail, 0), 0u) << out.detail;
    // The value never shows in what the server logs.
    EXPECT_EQ(out.detail.find("not a ciphertext"), std::string::npos);
    EXPECT_EQ(db->Exec("SELECT 1").value(), Cell("1"));
  }
  // Inside a transaction: the error aborts it, rollback recovers it.
  ASSERT_TRUE(db->Exec("BEGIN").ok);
  EXPECT_FALSE(db->Exec("SELECT qor_encrypt('NO_SUCH_POLICY', 'x')").ok);
  EXPECT_TRUE(db->Exec("ROLLBACK").ok);
  EXPECT_EQ(db->Exec("SELECT qor_decrypt('AES_256', qor_encrypt('AES_256', 'ok'))").value(), Cell("ok"));
  // A policy that answers failures with NULL.
  EXPECT_EQ(db->Exec("SELECT qor_decrypt('FAILURE_IS_NULL', 'garbage') IS NULL").value(), Cell("t"));
}

TEST_F(PostgresExtension, KeyRotationReachesRunningBackendsAndRewrapMovesTheTable) {
  auto writer = Connect();
  auto idle = Connect();
  ASSERT_TRUE(writer->Exec(
      "CREATE TABLE rotated AS SELECT i, 'value ' || i AS plain, "
      "  qor_encrypt('ROTATING', 'value ' || i) AS enc, "
      "  qor_encrypt('ROTATING', convert_to('value ' || i, 'UTF8')) AS benc "
      "FROM generate_series(1, 2000) i").ok);
  ASSERT_TRUE(writer->Exec("INSERT INTO rotated VALUES (0, NULL, NULL, NULL)").ok);
  const char* versions =
      "SELECT count(*) FILTER (WHERE qor_key_version(enc) = $1), "
      "       count(*) FILTER (WHERE qor_key_version(benc) = $1), "
      "       count(*) FILTER (WHERE qor_decrypt('ROTATING', enc) = plain), "
      "       count(*) FILTER (WHERE convert_from(qor_decrypt('ROTATING', benc), 'UTF8') = plain), "
      "       count(*) FILTER (WHERE enc IS NULL AND benc IS NULL) "
      "FROM rotated";
  EXPECT_EQ(writer->Exec(versions, {"1"}).rows.at(0),
            (std::vector<Cell>{"2000", "2000", "2000", "2000", "1"}));

  ASSERT_EQ(sandbox_->ReloadAgent(PolicySet(2)), "");
  // Both backends were running before the rotation; both encrypt with it now.
  for (Session* db : {writer.get(), idle.get()}) {
    EXPECT_EQ(db->Exec("SELECT qor_key_version(qor_encrypt('ROTATING', 'new'))").value(), Cell("2"));
  }
  // Old values still decrypt, and one UPDATE moves the column.
  EXPECT_EQ(writer->Exec(versions, {"1"}).rows.at(0),
            (std::vector<Cell>{"2000", "2000", "2000", "2000", "1"}));
  const auto update = writer->Exec(
      "UPDATE rotated SET enc = qor_rewrap('ROTATING', enc), benc = qor_rewrap('ROTATING', benc)");
  ASSERT_TRUE(update.ok) << update.text();
  EXPECT_EQ(writer->Exec(versions, {"2"}).rows.at(0),
            (std::vector<Cell>{"2000", "2000", "2000", "2000", "1"}));
  EXPECT_TRUE(writer->Exec("DROP TABLE rotated").ok);
}

TEST_F(PostgresExtension, ParallelWorkersDecryptALargeTableWithTheLeadersIdentities) {
  auto db = Connect();
  ASSERT_TRUE(db->Exec(
      "CREATE TABLE big AS SELECT i, 'row ' || i AS plain, "
      "  qor_encrypt('AES_256', 'row ' || i) AS enc, "
      "  qor_encrypt('ONLY_LOOPBACK', 'row ' || i) AS near "
      "FROM generate_series(1, 100000) i").ok);
  ASSERT_TRUE(db->Exec("ALTER TABLE big SET (parallel_workers = 2)").ok);
  ASSERT_TRUE(db->Exec("ANALYZE big").ok);
  // Only the workers scan: the leader just gathers.
  for (const char* sql : {"SET parallel_setup_cost = 0", "SET parallel_tuple_cost = 0",
                          "SET min_parallel_table_scan_size = 0", "SET max_parallel_workers_per_gather = 2",
                          "SET parallel_leader_participation = off"}) {
    ASSERT_TRUE(db->Exec(sql).ok) << sql;
  }
  // The loopback rule holds in the workers only if they see the leader's address.
  const std::string query =
      "SELECT count(*) FROM big WHERE qor_decrypt('AES_256', enc) = plain "
      "AND qor_decrypt('ONLY_LOOPBACK', near) = plain";
  const auto plan = db->Exec("EXPLAIN (ANALYZE, COSTS OFF, TIMING OFF) " + query);
  ASSERT_TRUE(plan.ok) << plan.text();
  std::string text;
  for (const auto& row : plan.rows) text += row[0].value_or("") + "\n";
  EXPECT_NE(text.find("Workers Launched: 2"), std::string::npos) << text;
  EXPECT_EQ(db->Exec(query).value(), Cell("100000"));
  EXPECT_TRUE(db->Exec("DROP TABLE big").ok);
}

}  // namespace
}  // namespace qor::pgtest
