// qorctl: encrypts and decrypts values by policy name and reports on the
// agent and the loaded policies, through the library's exported functions.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "arguments.h"
#include "qorctl.h"

namespace {

constexpr char kAbout[] =
    "qorctl: encrypts, decrypts and rewraps values and files by policy, and checks the\n"
    "QOR Agent, the loaded key set and the library's settings. It loads libqorapi.so\n"
    "like any host, so it sees what every host on this machine sees.";

constexpr char kFooter[] = R"(
Values: a word that starts with '-' and is not one of the command's options is a
value (qorctl encrypt P -12.50); after '--' every word is a value.

Exit status:
  0  done; every check passed
  1  the library failed: "qorctl: CODE MESSAGE" on standard error (the library's
     code and message), then at most one line of context
  2  wrong arguments, or input qorctl refuses itself (bad hex, a policy that
     cannot be rewrapped)
  3  a check answered no: check-policy found the agent's set changed; status
     found no agent but a key set from the emergency file

The library's settings (environment; without QOR_HOME the library reads
UlvexDefaultConfig.properties beside libqorapi.so, same names, KEY="value"):
  QOR_HOME             agent home: conf/agent.dat (emergency file), conf/agent.key,
                       conf/.qorupdate.dat (update stamp), logs/, audit/
  QOR_FIRST_AGENT_IP   first agent's address (127.0.0.1)
  QOR_SECOND_AGENT_IP  second agent's address (the first's)
  QOR_FIRST_PORT       first agent's port (9909)
  QOR_SECOND_PORT      second agent's port (9911)
  QOR_LOG_LEVEL        ERROR, DEBUG, NONE; anything else INFO
  QOR_USE_LOG          FALSE turns the library's log off
  QOR_BYPASS           TRUE hands every value back unencrypted (testing only)
  QOR_CRYPTO_MODE      when set, QOR_BMT picks the block mode: 0 CBC, 1 ECB, 2 CTR
  QOR_BMT              the block mode number read when QOR_CRYPTO_MODE is set
  QOR_COMPATIBILITY    read only from HOME/conf/UlvexUserDefineConfig.properties:
                       TRUE changes how STANDARD policies pad empty values)";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{kAbout, "qorctl"};
  app.footer(kFooter);
  app.require_subcommand(0, 1);
  bool showVersion = false;
  app.add_flag("--version", showVersion, "Print qorctl's and the library's versions");

  qorctl::ValueOptions options;
  auto addValueCommand = [&](const char* name, const char* about, const char* valuesHelp) {
    CLI::App* command = app.add_subcommand(name, about);
    command->add_option("policy", options.policy, "Policy (key) name")->required();
    command->add_option("values", options.values, valuesHelp);
    command->add_flag("--hex", options.hex, "Binary values, given and shown as hex");
    command->add_option("--identity1", options.identity1, "First identity for access rules");
    command->add_option("--identity2", options.identity2, "Second identity for access rules");
    command->add_option("--identity3", options.identity3, "Third identity for access rules");
    return command;
  };
  CLI::App* encrypt =
      addValueCommand("encrypt", "Encrypt values; prints one stored value a line",
                      "Values; without any, one value per line of standard input");
  CLI::App* decrypt =
      addValueCommand("decrypt", "Decrypt stored values; prints one value a line",
                      "Stored values; without any, one per line of standard input");
  CLI::App* rewrap = addValueCommand(
      "rewrap",
      "Re-encrypt stored values under the policy's newest key version (after a key\n"
      "rotation); prints one new stored value a line, in input order. The plaintext is\n"
      "never shown; each new value is checked to decrypt to the old one before it is\n"
      "written. Empty lines stay empty; the first value that fails stops the run.",
      "Stored values; without any, one per line of standard input");
  CLI::App* keyVersion = app.add_subcommand(
      "key-version", "Key version a stored text value (or with --hex a binary one) carries");
  keyVersion->add_option("values", options.values,
                         "Stored values; without any, one per line of standard input");
  keyVersion->add_flag("--hex", options.hex, "Binary values given as hex");

  qorctl::FileOptions files;
  auto addFileCommand = [&](const char* name, const char* about) {
    CLI::App* command = app.add_subcommand(name, about);
    command->add_option("policy", files.policy, "Policy (key) name")->required();
    command->add_option("source", files.source, "File to read")->required();
    command->add_option("target", files.target,
                        "File to write; without it the source is replaced in place");
    command->add_option("--identity1", files.identity1, "First identity for access rules");
    command->add_option("--identity2", files.identity2, "Second identity for access rules");
    command->add_option("--identity3", files.identity3, "Third identity for access rules");
    command->add_flag("--quiet", files.quiet, "No progress line, even on a terminal");
    return command;
  };
  CLI::App* encryptFile = addFileCommand(
      "encrypt-file", "Encrypt a whole file; the policy decides what happens to the source");
  CLI::App* decryptFile = addFileCommand(
      "decrypt-file", "Decrypt a whole encrypted file and check its digests");

  bool fullReport = false;
  CLI::App* status = app.add_subcommand(
      "status",
      "Agent reachable, policies loaded and from where (an agent or the emergency file),\n"
      "policy hash equal or changed");
  status->add_flag("--report", fullReport, "Also print the library's status report");
  CLI::App* policies =
      app.add_subcommand("policies", "Loaded policies with algorithm and key versions");
  CLI::App* showConf =
      app.add_subcommand("show-conf", "The library's settings, as its configuration report");
  CLI::App* checkPolicy = app.add_subcommand(
      "check-policy", "Compare the agent's policy hash with the loaded set's (exit 3: changed)");
  CLI::App* version = app.add_subcommand("version", "Print qorctl's and the library's versions");
  CLI::App* health = app.add_subcommand(
      "health", "Ask the first agent, the server through it, and the second agent whether they\n"
                "are healthy (exit 1 when any is not)");
  CLI::App* selfTest =
      app.add_subcommand("self-test", "Run the library's crypto known-answer self test");
  CLI::App* reinit = app.add_subcommand(
      "reinit",
      "Rebuild the library's settings from their sources and reload the key set; prints the\n"
      "library's status report");

  std::vector<std::string> arguments = qorctl::ValuesAfterOptions(app, argc, argv);
  try {
    app.parse(arguments);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    std::string where = "qorctl";
    for (const CLI::App* command : app.get_subcommands()) where += " " + command->get_name();
    std::fprintf(stderr, "qorctl: %s\nRun '%s --help' for more information.\n", e.what(),
                 where.c_str());
    return qorctl::kExitUsage;
  }
  qorctl::KeepLibraryLogOffStandardError();

  if (showVersion || version->parsed()) return qorctl::Version();
  if (encrypt->parsed()) return qorctl::Encrypt(options);
  if (decrypt->parsed()) return qorctl::Decrypt(options);
  if (rewrap->parsed()) return qorctl::Rewrap(options);
  if (keyVersion->parsed()) return qorctl::KeyVersion(options);
  if (encryptFile->parsed()) return qorctl::EncryptFileCommand(files);
  if (decryptFile->parsed()) return qorctl::DecryptFileCommand(files);
  if (status->parsed()) return qorctl::Status(fullReport);
  if (policies->parsed()) return qorctl::Policies();
  if (showConf->parsed()) return qorctl::ShowConf();
  if (checkPolicy->parsed()) return qorctl::CheckPolicy();
  if (health->parsed()) return qorctl::Health();
  if (selfTest->parsed()) return qorctl::SelfTest();
  if (reinit->parsed()) return qorctl::Reinit();
  return qorctl::Usage("a command is required; run 'qorctl --help' for the commands");
}
