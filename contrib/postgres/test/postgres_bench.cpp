// qor_encrypt/qor_decrypt against pgcrypto's encrypt/decrypt with the same
// AES-256 key, in one server, over one table: each operation is one query
// timed by the server (EXPLAIN ANALYZE's execution time), with one worker
// and with parallel workers. Prints a table of times and ratios.
//   postgres_bench [--rows N] [--repeat R] [--workers W]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pg_sandbox.h"

namespace {

using qor::pgtest::Cell;
using qor::pgtest::Sandbox;
using qor::pgtest::Session;

struct Options {
  long rows = 1000000;
  int repeat = 3;
  int workers = 2;
};

struct Pair {
  const char* operation;
  const char* qor;       // expression over table "bench"
  const char* pgcrypto;  // the same with pgcrypto; :key is the key literal
};

// Both sides read the same column and produce the same kind of result; sum
// of lengths keeps the answer out of the measurement.
const Pair kPairs[] = {
    {"encrypt text", "qor_encrypt('AES_256', v)",
     "encode(encrypt(convert_to(v, 'UTF8'), :key, 'aes-cbc/pad:pkcs'), 'base64')"},
    {"decrypt text", "qor_decrypt('AES_256', qt)",
     "convert_from(decrypt(decode(pt, 'base64'), :key, 'aes-cbc/pad:pkcs'), 'UTF8')"},
    {"encrypt bytea", "qor_encrypt('AES_256', b)", "encrypt(b, :key, 'aes-cbc/pad:pkcs')"},
    {"decrypt bytea", "qor_decrypt('AES_256', qb)", "decrypt(pb, :key, 'aes-cbc/pad:pkcs')"},
};

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
  return text;
}

bool Must(Session& db, const std::string& sql) {
  const Session::Outcome out = db.Exec(sql);
  if (!out.ok) std::fprintf(stderr, "%s\n  failed: %s\n", sql.c_str(), out.text().c_str());
  return out.ok;
}

// Server-side execution time of |sql| in milliseconds, best of |repeat|; -1 on failure.
double Time(Session& db, const std::string& sql, int repeat) {
  double best = -1;
  for (int i = 0; i < repeat; ++i) {
    const Session::Outcome out = db.Exec("EXPLAIN (ANALYZE, TIMING OFF, COSTS OFF) " + sql);
    if (!out.ok) {
      std::fprintf(stderr, "%s\n  failed: %s\n", sql.c_str(), out.text().c_str());
      return -1;
    }
    for (const auto& row : out.rows) {
      double ms = 0;
      if (row[0] && std::sscanf(row[0]->c_str(), "Execution Time: %lf ms", &ms) == 1) {
        best = best < 0 ? ms : std::min(best, ms);
      }
    }
  }
  return best;
}

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rows") == 0) options.rows = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--repeat") == 0) options.repeat = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--workers") == 0) options.workers = std::atoi(argv[i + 1]);
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  const std::string keyHex = qor::test::KeyHex(32, 7);
  Sandbox sandbox;
  std::string why = sandbox.StartAgent(
      "{\"policies\": [{\"name\": \"AES_256\", \"algorithm\": \"AES\", \"keyLength\": 256, "
      "\"keys\": [{\"version\": 1, \"key\": \"" + keyHex + "\"}]}]}\n");
  if (why.empty()) why = sandbox.StartServer({"shared_buffers=512MB", "max_parallel_workers=8"});
  if (!why.empty()) {
    std::fprintf(stderr, "setup failed: %s\n", why.c_str());
    return 1;
  }
  Session db(sandbox.Conninfo("postgres"));
  if (!db.ok()) {
    std::fprintf(stderr, "cannot connect: %s\n", db.error().c_str());
    return 1;
  }
  const std::string key = "'\\x" + keyHex + "'::bytea";
  // 32-character values: the length of a typical name or card column.
  const std::string setup =
      "CREATE TABLE bench AS SELECT v, convert_to(v, 'UTF8') AS b, "
      "  qor_encrypt('AES_256', v) AS qt, qor_encrypt('AES_256', convert_to(v, 'UTF8')) AS qb, "
      "  encode(encrypt(convert_to(v, 'UTF8'), " + key + ", 'aes-cbc/pad:pkcs'), 'base64') AS pt, "
      "  encrypt(convert_to(v, 'UTF8'), " + key + ", 'aes-cbc/pad:pkcs') AS pb "
      "FROM (SELECT md5(i::text) AS v FROM generate_series(1, " + std::to_string(options.rows) +
      ") i) s";
  if (!Must(db, "CREATE EXTENSION qor") || !Must(db, "CREATE EXTENSION pgcrypto") ||
      !Must(db, setup) || !Must(db, "VACUUM ANALYZE bench") ||
      !Must(db, "ALTER TABLE bench SET (parallel_workers = " + std::to_string(options.workers) + ")") ||
      !Must(db, "SET parallel_setup_cost = 0") || !Must(db, "SET parallel_tuple_cost = 0") ||
      !Must(db, "SET min_parallel_table_scan_size = 0")) {
    return 1;
  }
  // Both sides must agree on what they decrypt before they are timed.
  const Session::Outcome agree = db.Exec(
      "SELECT count(*) FROM bench WHERE qor_decrypt('AES_256', qt) = v AND "
      "convert_from(decrypt(pb, " + key + ", 'aes-cbc/pad:pkcs'), 'UTF8') = v");
  if (agree.value() != Cell(std::to_string(options.rows))) {
    std::fprintf(stderr, "the two sides do not decrypt the table: %s\n", agree.text().c_str());
    return 1;
  }

  std::printf("%ld rows of 32 characters, AES-256-CBC, best of %d, server execution time\n",
              options.rows, options.repeat);
  std::printf("%-14s %-8s %12s %12s %8s\n", "operation", "workers", "qor ms", "pgcrypto ms",
              "ratio");
  int failures = 0;
  for (int workers : {0, options.workers}) {
    if (!Must(db, "SET max_parallel_workers_per_gather = " + std::to_string(workers))) return 1;
    for (const Pair& pair : kPairs) {
      const std::string form = "SELECT sum(length(%s)) FROM bench";
      const double ours = Time(db, Replace(form, "%s", pair.qor), options.repeat);
      const double theirs =
          Time(db, Replace(form, "%s", Replace(pair.pgcrypto, ":key", key)), options.repeat);
      if (ours < 0 || theirs < 0) {
        ++failures;
        continue;
      }
      // ratio > 1: qor is faster.
      std::printf("%-14s %-8s %12.1f %12.1f %8.2f\n", pair.operation,
                  workers == 0 ? "1" : ("1+" + std::to_string(workers)).c_str(), ours, theirs,
                  theirs / ours);
    }
  }
  std::printf("ratio = pgcrypto time / qor time (above 1: qor is faster)\n");
  return failures == 0 ? 0 : 1;
}
