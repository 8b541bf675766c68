// A throw-away PostgreSQL server with the qor extension and a stand-in agent,
// all under one temporary directory. The server runs from a relocated copy
// of the installation tree (PostgreSQL finds share/ and lib/ relative to its
// own executable), so `CREATE EXTENSION qor` works without installing
// anything into system paths. As root, the server and the agent run as
// "nobody": the server refuses to run as root.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/agent_process.h"
#include "support/test_support.h"

namespace qor::pgtest {

namespace fs = std::filesystem;
using Cell = std::optional<std::string>;

// Who the server and the agent run as.
struct Account {
  bool drop = false;  // switch to uid/gid before exec
  uid_t uid = 0;
  gid_t gid = 0;
};

inline Account ServerAccount() {
  if (geteuid() != 0) return {};
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) return {true, 65534, 65534};
  return {true, nobody->pw_uid, nobody->pw_gid};
}

// Starts |argv| in |cwd| as |account| with |env| added to the environment,
// standard output and error appended to |logPath|. Returns the child's pid.
inline pid_t Spawn(const Account& account, const std::string& cwd,
                   const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& logPath) {
  // Everything the child needs is made before fork.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> environment = env;
  for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  std::vector<char*> envp;
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (log < 0 || null < 0 || dup2(null, 0) < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0) _exit(126);
  if (chdir(cwd.c_str()) != 0) _exit(126);
  if (account.drop &&
      (setgroups(0, nullptr) != 0 || setgid(account.gid) != 0 || setuid(account.uid) != 0)) {
    _exit(126);
  }
  // The first environment entry of a name wins: ours come first.
  execve(args[0], args.data(), envp.data());
  _exit(127);
}

// Runs |argv| to its end: the exit code, or -1 when it did not exit.
inline int Run(const Account& account, const std::string& cwd, const std::vector<std::string>& argv,
               const std::vector<std::string>& env, const std::string& logPath) {
  const pid_t pid = Spawn(account, cwd, argv, env, logPath);
  if (pid < 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Gives |root| and, when |recursive|, everything under it (never what a
// link points to) to |account|. The relocated installation is never given
// away: its executables are hard links to the system's own files.
inline void GiveTree(const Account& account, const std::string& root, bool recursive) {
  if (!account.drop) return;
  (void)!lchown(root.c_str(), account.uid, account.gid);
  if (!recursive) return;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    (void)!lchown(entry.path().c_str(), account.uid, account.gid);
  }
}

// One libpq connection.
class Session {
 public:
  struct Outcome {
    bool ok = false;
    std::string sqlstate;
    std::string message;  // primary message, or the connection's error
    std::string detail;
    std::vector<std::vector<Cell>> rows;

    // The first cell, or nullopt (also on failure).
    Cell value() const { return ok && !rows.empty() && !rows[0].empty() ? rows[0][0] : Cell{}; }
    std::string text() const { return ok ? "ok" : sqlstate + " " + message + " / " + detail; }
  };

  explicit Session(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {}
  ~Session() { PQfinish(conn_); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool ok() const { return PQstatus(conn_) == CONNECTION_OK; }
  std::string error() const { return PQerrorMessage(conn_); }

  // Runs |sql| with text parameters ($1, $2, ...; nullopt is NULL).
  Outcome Exec(const std::string& sql, const std::vector<Cell>& params = {}) {
    std::vector<const char*> values;
    for (const Cell& p : params) values.push_back(p ? p->c_str() : nullptr);
    PGresult* result = PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                    values.data(), nullptr, nullptr, 0);
    Outcome out;
    const ExecStatusType status = PQresultStatus(result);
    out.ok = status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK;
    if (!out.ok) {
      auto field = [&](int code) {
        const char* f = PQresultErrorField(result, code);
        return std::string(f != nullptr ? f : "");
      };
      out.sqlstate = field(PG_DIAG_SQLSTATE);
      out.message = result != nullptr ? field(PG_DIAG_MESSAGE_PRIMARY) : error();
      out.detail = field(PG_DIAG_MESSAGE_DETAIL);
    } else {
      for (int r = 0; r < PQntuples(result); ++r) {
        std::vector<Cell> row;
        for (int c = 0; c < PQnfields(result); ++c) {
          row.push_back(PQgetisnull(result, r, c) ? Cell{} : Cell{PQgetvalue(result, r, c)});
        }
        out.rows.push_back(std::move(row));
      }
    }
    PQclear(result);
    return out;
  }

 private:
  PGconn* conn_;
};

// The agent, the server and their files.
class Sandbox {
 public:
  Sandbox() : account_(ServerAccount()) {}
  ~Sandbox() {
    StopServer();
    StopAgent();
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  std::string root() const { return dir_.path(); }
  std::string agentHome() const { return dir_ / "agent"; }
  int port() const { return port_; }
  std::string socketDir() const { return dir_ / "sock"; }
  std::string serverLog() const { return test::ReadFile(dir_ / "server.log"); }
  std::string agentLog() const { return test::ReadFile(dir_ / "agent.log"); }

  // Starts the stand-in agent serving |policiesJson|. Empty on success, else why not.
  std::string StartAgent(const std::string& policiesJson) {
    if (std::string why = Reachable(); !why.empty()) return why;
    fs::create_directories(agentHome() + "/logs");
    test::WriteFile(agentHome() + "/policies.json", policiesJson);
    GiveTree(account_, root(), false);
    GiveTree(account_, agentHome(), true);
    // The agent runs from inside the sandbox: the build tree may be closed
    // to the unprivileged account.
    const std::string agent = dir_ / "qor-agent";
    try {
      Place(QOR_AGENT_BINARY, agent, How::kCopy);
    } catch (const fs::filesystem_error& e) {
      return std::string("cannot place the agent: ") + e.what();
    }
    const std::string portFile = agentHome() + "/ports";
    agentPid_ = Spawn(account_, root(),
                      {agent, "--home", agentHome(), "--policies",
                       agentHome() + "/policies.json", "--first-port", "0", "--second-port", "0",
                       "--foreground", "--port-file", portFile},
                      {}, dir_ / "agent.log");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string line = test::ReadFile(portFile);
      if (std::sscanf(line.c_str(), "listening first=%d second=%d", &agentFirst_, &agentSecond_) == 2) {
        return "";
      }
      int status;
      if (waitpid(agentPid_, &status, WNOHANG) == agentPid_) {
        agentPid_ = -1;
        return "the agent stopped: " + agentLog();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "the agent reported no ports: " + agentLog();
  }

  // Serves |policiesJson| from now on; empty once the agent says it reloaded.
  std::string ReloadAgent(const std::string& policiesJson) {
    const std::string status = agentHome() + "/conf/qor-agent.status";
    std::remove(status.c_str());
    test::WriteFile(agentHome() + "/policies.json", policiesJson);
    GiveTree(account_, agentHome(), true);
    if (agentPid_ <= 0 || kill(agentPid_, SIGHUP) != 0) return "no agent to reload";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string line = test::ReadFile(status);
      if (line.rfind("ok", 0) == 0) return "";
      if (line.rfind("failed", 0) == 0) return "reload refused: " + line;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "the agent did not answer the reload";
  }

  // Relocates the installation, runs initdb and starts the server with the
  // library pointed at the agent. |settings| are extra "-c name=value" lines.
  std::string StartServer(const std::vector<std::string>& settings = {}) {
    if (agentPid_ <= 0) return "start the agent first";
    if (std::string why = Relocate(); !why.empty()) return why;
    fs::create_directories(socketDir());
    GiveTree(account_, socketDir(), true);
    const std::string bin = tree() + QOR_PG_BINDIR;
    const std::vector<std::string> env = {"LC_ALL=C", "TZ=UTC"};
    if (Run(account_, root(),
            {bin + "/initdb", "-D", dataDir(), "-U", "postgres", "-A", "trust", "-E", "UTF8",
             "--no-locale", "--no-sync"},
            env, dir_ / "initdb.log") != 0) {
      return "initdb failed: " + test::ReadFile(dir_ / "initdb.log");
    }
    std::string options;
    std::vector<std::string> all = {"listen_addresses=127.0.0.1", "unix_socket_directories=" + socketDir(),
                                    "fsync=off", "synchronous_commit=off", "full_page_writes=off",
                                    "max_connections=30", "max_worker_processes=8",
                                    "max_parallel_workers=8", "log_min_messages=warning"};
    all.insert(all.end(), settings.begin(), settings.end());
    for (const std::string& s : all) options += " -c " + s;
    // The library reads its configuration from the server's environment.
    const std::vector<std::string> serverEnv = {
        "LC_ALL=C", "TZ=UTC", "QOR_HOME=" + agentHome(), "QOR_FIRST_AGENT_IP=127.0.0.1",
        "QOR_FIRST_PORT=" + std::to_string(agentFirst_),
        "QOR_SECOND_PORT=" + std::to_string(agentSecond_)};
    for (int attempt = 0; attempt < 3; ++attempt) {
      port_ = test::ClosedPort();
      const int code = Run(account_, root(),
                           {bin + "/pg_ctl", "-D", dataDir(), "-l", dir_ / "server.log", "-w",
                            "-t", "60", "-o", "-p " + std::to_string(port_) + options, "start"},
                           serverEnv, dir_ / "pg_ctl.log");
      if (code == 0) {
        running_ = true;
        return "";
      }
    }
    return "the server did not start: " + test::ReadFile(dir_ / "pg_ctl.log") + serverLog();
  }

  void StopServer() {
    if (!running_) return;
    running_ = false;
    Run(account_, root(),
        {tree() + QOR_PG_BINDIR + "/pg_ctl", "-D", dataDir(), "-m", "immediate", "-w", "stop"}, {},
        dir_ / "pg_ctl.log");
  }

  void StopAgent() {
    if (agentPid_ <= 0) return;
    kill(agentPid_, SIGTERM);
    int status;
    waitpid(agentPid_, &status, 0);
    agentPid_ = -1;
  }

  // Connection text for |user| over TCP to 127.0.0.1, or over the Unix socket.
  std::string Conninfo(const std::string& user, bool tcp = true,
                       const std::string& application = "qor-test") const {
    return "dbname=postgres user=" + user + " application_name=" + application +
           (tcp ? " host=127.0.0.1" : " host=" + socketDir()) + " port=" + std::to_string(port_);
  }

 private:
  std::string tree() const { return dir_ / "tree"; }
  std::string dataDir() const { return dir_ / "data"; }

  // The unprivileged account must reach the temporary directory.
  std::string Reachable() const {
    if (!account_.drop) return "";
    for (fs::path p = fs::path(root()).parent_path(); !p.empty() && p != p.root_path();
         p = p.parent_path()) {
      struct stat st {};
      if (stat(p.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) {
        return "the server account cannot reach " + p.string() + "; point TMPDIR elsewhere";
      }
    }
    return "";
  }

  enum class How {
    kSymlink,   // shared files and modules: found through the link
    kHardLink,  // the system's executables: their real path must be in the tree
    kCopy,      // build outputs: a rebuild must not change a running server's files
  };

  // Places |from| at |to|, replacing what is there.
  static void Place(const fs::path& from, const fs::path& to, How how) {
    std::error_code ignored;
    fs::remove(to, ignored);
    if (how == How::kSymlink) {
      fs::create_symlink(from, to);
      return;
    }
    std::error_code linkFailed;
    if (how == How::kHardLink) fs::create_hard_link(from, to, linkFailed);
    if (how == How::kCopy || linkFailed) fs::copy_file(from, to);
  }

  // The tree: real executables (PostgreSQL resolves symlinks to find its
  // home), links to every shared file and module, and the staged extension.
  std::string Relocate() {
    try {
      const fs::path bin = tree() + QOR_PG_BINDIR;
      fs::create_directories(bin);
      for (const char* program : {"postgres", "initdb", "pg_ctl"}) {
        Place(fs::path(QOR_PG_BINDIR) / program, bin / program, How::kHardLink);
      }
      const std::string stage = QOR_PG_STAGE;
      for (const std::string& dir : {std::string(QOR_PG_SHAREDIR), std::string(QOR_PG_SHAREDIR) + "/extension",
                                    std::string(QOR_PG_PKGLIBDIR)}) {
        fs::create_directories(tree() + dir);
        for (const auto& entry : fs::directory_iterator(dir)) {
          const std::string name = entry.path().filename();
          if (name == "extension" && dir == QOR_PG_SHAREDIR) continue;
          Place(entry.path(), tree() + dir + "/" + name, How::kSymlink);
        }
      }
      for (const std::string& dir : {std::string(QOR_PG_SHAREDIR) + "/extension", std::string(QOR_PG_PKGLIBDIR)}) {
        for (const auto& entry : fs::directory_iterator(stage + dir)) {
          Place(entry.path(), tree() + dir + "/" + entry.path().filename().string(), How::kCopy);
        }
      }
      if (!fs::exists(tree() + QOR_PG_SHAREDIR + "/extension/qor.control") ||
          !fs::exists(tree() + QOR_PG_PKGLIBDIR + "/qor.so")) {
        return "the staged extension is missing under " + stage;
      }
    } catch (const fs::filesystem_error& e) {
      return std::string("relocating the installation failed: ") + e.what();
    }
    return "";
  }

  test::TempDir dir_;
  Account account_;
  pid_t agentPid_ = -1;
  int agentFirst_ = 0;
  int agentSecond_ = 0;
  int port_ = 0;
  bool running_ = false;
};

}  // namespace qor::pgtest
