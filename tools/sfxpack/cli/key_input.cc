#include "tools/sfxpack/cli/key_input.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/sfxpack/signing/encrypted_private_key.h"

#if defined(_WIN32)
#include <conio.h>
#include <io.h>
#else
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace sfx {
namespace {

// A key file is a few kilobytes; a source that goes on past this is not one.
constexpr size_t kMaxKeyText = 1u << 20;

// Wipes a secret held in a string before the string lets it go.
void Wipe(std::string* text) {
  volatile char* bytes = text->empty() ? nullptr : &(*text)[0];
  for (size_t i = 0; i < text->size(); ++i) bytes[i] = 0;
  text->clear();
}

bool ReadStream(std::FILE* stream, const std::string& what, std::string* text, std::string* error) {
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) {
    text->append(buffer, got);
    if (text->size() > kMaxKeyText) {
      *error = what + ": more than " + std::to_string(kMaxKeyText) + " bytes: not a key";
      return false;
    }
  }
  if (std::ferror(stream)) {
    *error = what + ": cannot read: " + std::strerror(errno);
    return false;
  }
  return true;
}

// Reads one line from the terminal without echoing it; false when there is no terminal.
bool AskTerminal(const std::string& prompt, std::string* line) {
#if defined(_WIN32)
  if (!_isatty(_fileno(stdin))) return false;
  std::fprintf(stderr, "%s", prompt.c_str());
  for (int c; (c = _getch()) != '\r' && c != '\n' && c != EOF;) {
    if (c == 3) return false;  // Ctrl-C
    if (c == '\b') {
      if (!line->empty()) line->pop_back();
    } else {
      line->push_back(static_cast<char>(c));
    }
  }
  std::fprintf(stderr, "\n");
  return true;
#else
  int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return false;
  termios saved{};
  bool ok = tcgetattr(tty, &saved) == 0;
  if (ok) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ok = tcsetattr(tty, TCSAFLUSH, &quiet) == 0;
  }
  if (ok) {
    ok = write(tty, prompt.data(), prompt.size()) == static_cast<ssize_t>(prompt.size());
    char c;
    ssize_t got;
    while (ok && (got = read(tty, &c, 1)) == 1 && c != '\n') line->push_back(c);
    tcsetattr(tty, TCSAFLUSH, &saved);
  }
  close(tty);
  return ok;
#endif
}

}  // namespace

std::string KeyInput::UsageProblem(const ParsedArgs& args) {
  if (args.Has("key") != args.Has("key-env")) return "";
  return args.Has("key") ? "give --key or --key-env, not both" : "missing option --key KEY (or --key-env NAME)";
}

bool KeyInput::NamesFile(const ParsedArgs& args) { return args.Has("key") && args.Get("key") != "-"; }

bool KeyInput::Passphrase(const ParsedArgs& args, const std::string& what, bool confirm, std::string* passphrase,
                          std::string* error) {
  if (args.Has("passphrase-env")) {
    const std::string name = args.Get("passphrase-env");
    const char* value = std::getenv(name.c_str());
    if (value == nullptr || *value == '\0') {
      *error = "--passphrase-env " + name + ": the environment variable is not set, or empty";
      return false;
    }
    *passphrase = value;
    return true;
  }
  if (!AskTerminal("Passphrase for " + what + ": ", passphrase)) {
    *error = what + " is encrypted: give its passphrase with --passphrase-env NAME (no terminal to ask on)";
    return false;
  }
  if (confirm) {
    std::string again;
    bool same = AskTerminal("Again: ", &again) && again == *passphrase;
    Wipe(&again);
    if (!same) {
      *error = "the two passphrases differ";
      return false;
    }
  }
  if (passphrase->empty()) {
    *error = "an empty passphrase protects nothing";
    return false;
  }
  return true;
}

bool KeyInput::Load(const ParsedArgs& args, SigningKey* key, bool* usage, std::string* error) {
  *error = UsageProblem(args);
  *usage = !error->empty();
  if (*usage) return false;
  std::string what, pem;
  if (args.Has("key-env")) {
    const std::string name = args.Get("key-env");
    what = "--key-env " + name;
    const char* value = std::getenv(name.c_str());
    if (value == nullptr || *value == '\0') {
      *error = what + ": the environment variable is not set, or empty";
      return false;
    }
    pem = value;
  } else if (args.Get("key") == "-") {
    what = "--key - (standard input)";
    if (!ReadStream(stdin, what, &pem, error)) return false;
  } else {
    // A file, a pipe or a descriptor: read as a stream, so that <(printf '%s' "$SECRET") works.
    what = args.Get("key");
    std::FILE* file = std::fopen(what.c_str(), "rb");
    if (file == nullptr) {
      *error = what + ": cannot open: " + std::strerror(errno);
      return false;
    }
    bool read = ReadStream(file, what, &pem, error);
    std::fclose(file);
    if (!read) return false;
  }
  bool ok = true;
  if (IsEncryptedPrivateKeyPem(pem)) {
    std::string passphrase, plain;
    bool wrong = false;
    ok = Passphrase(args, what, false, &passphrase, error);
    if (ok && EncryptedPrivateKey::Decrypt(pem, passphrase, &plain, &wrong, error) != kOk) {
      *error = what + ": " + *error;
      ok = false;
    }
    Wipe(&passphrase);
    Wipe(&pem);
    pem.swap(plain);
  }
  if (ok && SigningKey::FromPrivatePem(pem, key, error) != kOk) {
    *error = what + ": " + *error;
    ok = false;
  }
  Wipe(&pem);
  return ok;
}

}  // namespace sfx
