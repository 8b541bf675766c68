// qorctl: encrypts and decrypts values by policy name and reports on the
// agent and the loaded policies, through the library's exported functions.
#include <CLI/CLI.hpp>

#include "qorctl.h"

int main(int argc, char** argv) {
  CLI::App app{"Encrypts and decrypts values and files by policy and checks the QOR Agent.\n"
               "The library finds the agent through QOR_HOME, QOR_FIRST_PORT and the other\n"
               "QOR_* variables, as in any host."};
  app.require_subcommand(1);

  qorctl::ValueOptions options;
  auto addValueCommand = [&](const char* name, const char* about) {
    CLI::App* command = app.add_subcommand(name, about);
    command->add_option("policy", options.policy, "Policy (key) name")->required();
    command->add_option("values", options.values,
                        "Values; without any, one value per line of standard input");
    command->add_flag("--hex", options.hex, "Binary values, given and shown as hex");
    command->add_option("--identity1", options.identity1, "First identity for access rules");
    command->add_option("--identity2", options.identity2, "Second identity for access rules");
    command->add_option("--identity3", options.identity3, "Third identity for access rules");
    return command;
  };
  CLI::App* encrypt = addValueCommand("encrypt", "Encrypt values; prints one stored value a line");
  CLI::App* decrypt = addValueCommand("decrypt", "Decrypt stored values; prints one value a line");
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
  CLI::App* status = app.add_subcommand(
      "status", "Agent reachable, number of policies loaded, policy hash equal or changed");
  CLI::App* policies =
      app.add_subcommand("policies", "Loaded policies with algorithm and key versions");

  CLI11_PARSE(app, argc, argv);
  qorctl::KeepLibraryLogOffStandardError();

  if (encrypt->parsed()) return qorctl::Encrypt(options);
  if (decrypt->parsed()) return qorctl::Decrypt(options);
  if (encryptFile->parsed()) return qorctl::EncryptFileCommand(files);
  if (decryptFile->parsed()) return qorctl::DecryptFileCommand(files);
  if (status->parsed()) return qorctl::Status();
  if (policies->parsed()) return qorctl::Policies();
  return qorctl::Usage("no command");
}
