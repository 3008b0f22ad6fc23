#include "tools/sfxpack/key_fingerprint.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/sha.h>

#include <cstring>

#include "tools/sfxpack/signing/signing_key.h"

namespace sfx {
namespace {

constexpr char kPrefix[] = "SHA256:";
constexpr size_t kPrefixSize = sizeof kPrefix - 1;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool KeyFingerprint::Of(const DsaPublicKey& key, KeyFingerprint* fingerprint, std::string* error) {
  std::string der;
  if (WritePublicKeyDer(key, &der, error) != kOk) return false;
  CryptoPP::SHA256().CalculateDigest(fingerprint->digest_, reinterpret_cast<const uint8_t*>(der.data()),
                                     der.size());
  return true;
}

bool KeyFingerprint::Parse(const std::string& text, KeyFingerprint* fingerprint) {
  if (text.size() == 2 * kSize) {
    for (size_t i = 0; i < kSize; ++i) {
      int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
      if (high < 0 || low < 0) return false;
      fingerprint->digest_[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
  }
  if (text.compare(0, kPrefixSize, kPrefix) != 0) return false;
  // Decoding is lenient about stray characters, so the result is written back and compared.
  std::string digest;
  CryptoPP::StringSource(text.substr(kPrefixSize), true,
                         new CryptoPP::Base64Decoder(new CryptoPP::StringSink(digest)));
  if (digest.size() != kSize) return false;
  std::memcpy(fingerprint->digest_, digest.data(), kSize);
  return fingerprint->Text() == text;
}

std::string KeyFingerprint::Text() const {
  std::string encoded;
  CryptoPP::StringSource(digest_, kSize, true,
                         new CryptoPP::Base64Encoder(new CryptoPP::StringSink(encoded), false));
  while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
  return kPrefix + encoded;
}

std::string KeyFingerprint::Hex() const {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : digest_) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

bool KeyFingerprint::operator==(const KeyFingerprint& other) const {
  return std::memcmp(digest_, other.digest_, kSize) == 0;
}

}  // namespace sfx
