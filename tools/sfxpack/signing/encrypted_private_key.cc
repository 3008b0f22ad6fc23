#include "tools/sfxpack/signing/encrypted_private_key.h"

#include <cryptopp/aes.h>
#include <cryptopp/asn.h>
#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/pwdbased.h>
#include <cryptopp/sha.h>

#include <exception>

namespace sfx {
namespace {

using CryptoPP::OID;
using CryptoPP::SecByteBlock;

constexpr char kPlainLabel[] = "PRIVATE KEY";
constexpr size_t kMaxSaltSize = 1024;
constexpr size_t kSaltSize = 16;
constexpr size_t kBlockSize = 16;

// RFC 8018, RFC 8018 appendix B.1.2, NIST's AES object identifiers.
const OID kPbes2 = OID(1) + 2 + 840 + 113549 + 1 + 5 + 13;
const OID kPbkdf2 = OID(1) + 2 + 840 + 113549 + 1 + 5 + 12;
const OID kHmacSha1 = OID(1) + 2 + 840 + 113549 + 2 + 7;
const OID kHmacSha256 = OID(1) + 2 + 840 + 113549 + 2 + 9;
const OID kAesCbc = OID(2) + 16 + 840 + 1 + 101 + 3 + 4 + 1;  // + 2, 22 or 42: 128, 192, 256 bits

ResultCode Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return kErrorFileInvalid;
}

bool PemBody(const std::string& pem, const std::string& label, std::string* der) {
  const std::string begin = "-----BEGIN " + label + "-----";
  const std::string end = "-----END " + label + "-----";
  const size_t start = pem.find(begin);
  if (start == std::string::npos) return false;
  const size_t stop = pem.find(end, start + begin.size());
  if (stop == std::string::npos) return false;
  der->clear();
  CryptoPP::StringSource(pem.substr(start + begin.size(), stop - start - begin.size()), true,
                         new CryptoPP::Base64Decoder(new CryptoPP::StringSink(*der)));
  return !der->empty();
}

std::string PemText(const std::string& label, const std::string& der) {
  std::string body;
  CryptoPP::StringSource(der, true, new CryptoPP::Base64Encoder(new CryptoPP::StringSink(body), true, 64));
  if (!body.empty() && body.back() != '\n') body += '\n';
  return "-----BEGIN " + label + "-----\n" + body + "-----END " + label + "-----\n";
}

// A DER value's own length from its header: the decrypted key must be exactly one SEQUENCE.
bool IsOneDerSequence(const SecByteBlock& bytes, size_t length) {
  if (length < 2 || bytes[0] != 0x30) return false;
  size_t header = 2, content = bytes[1];
  if (content & 0x80) {
    size_t count = content & 0x7F;
    if (count == 0 || count > 3 || length < 2 + count) return false;
    content = 0;
    for (size_t i = 0; i < count; ++i) content = content << 8 | bytes[2 + i];
    header += count;
  }
  return header + content == length;
}

struct Envelope {
  SecByteBlock salt;
  unsigned iterations = 0;
  bool sha256 = false;
  size_t keySize = 0;
  SecByteBlock iv;
  SecByteBlock data;
};

// Reads the envelope; false with a reason for anything but PBES2, PBKDF2 and AES-CBC.
bool ReadEnvelope(const std::string& der, Envelope* out, std::string* why) {
  CryptoPP::StringSource source(der, true);
  CryptoPP::BERSequenceDecoder info(source);
  CryptoPP::BERSequenceDecoder algorithm(info);
  OID scheme(algorithm);
  if (scheme != kPbes2) {
    *why = "its encryption is not PBES2 (re-encrypt it: openssl pkcs8 -topk8 -v2 aes-256-cbc)";
    return false;
  }
  CryptoPP::BERSequenceDecoder params(algorithm);
  CryptoPP::BERSequenceDecoder kdf(params);
  if (OID(kdf) != kPbkdf2) {
    *why = "its key derivation is not PBKDF2";
    return false;
  }
  CryptoPP::BERSequenceDecoder kdfParams(kdf);
  if (CryptoPP::BERDecodeOctetString(kdfParams, out->salt) > kMaxSaltSize) {
    *why = "its salt is too long";
    return false;
  }
  CryptoPP::Integer iterations(kdfParams);
  if (iterations < 1 || iterations > kMaxPbkdf2Iterations) {
    *why = "its PBKDF2 iteration count is out of range";
    return false;
  }
  out->iterations = static_cast<unsigned>(iterations.ConvertToLong());
  size_t keyLength = 0;
  if (!kdfParams.EndReached() && kdfParams.PeekByte() == CryptoPP::INTEGER) {
    keyLength = CryptoPP::Integer(kdfParams).ConvertToLong();
  }
  if (!kdfParams.EndReached()) {
    CryptoPP::BERSequenceDecoder prf(kdfParams);
    OID prfId(prf);
    if (!prf.EndReached()) CryptoPP::BERDecodeNull(prf);
    prf.MessageEnd();
    if (prfId == kHmacSha256) out->sha256 = true;
    else if (prfId != kHmacSha1) {
      *why = "its PBKDF2 uses a hash other than SHA-256 or SHA-1";
      return false;
    }
  }
  kdfParams.MessageEnd();
  kdf.MessageEnd();
  CryptoPP::BERSequenceDecoder cipher(params);
  OID cipherId(cipher);
  for (unsigned last : {2u, 22u, 42u}) {
    if (cipherId == kAesCbc + last) out->keySize = 16 + (last / 20) * 8;
  }
  if (out->keySize == 0 || (keyLength != 0 && keyLength != out->keySize)) {
    *why = "its cipher is not AES-CBC";
    return false;
  }
  if (CryptoPP::BERDecodeOctetString(cipher, out->iv) != kBlockSize) {
    *why = "its IV is not 16 bytes";
    return false;
  }
  cipher.MessageEnd();
  params.MessageEnd();
  algorithm.MessageEnd();
  CryptoPP::BERDecodeOctetString(info, out->data);
  info.MessageEnd();
  if (out->data.size() == 0 || out->data.size() % kBlockSize != 0) {
    *why = "its encrypted data are not whole AES blocks";
    return false;
  }
  return true;
}

void DeriveKey(const std::string& passphrase, const SecByteBlock& salt, unsigned iterations, bool sha256,
               SecByteBlock* key) {
  const auto* secret = reinterpret_cast<const CryptoPP::byte*>(passphrase.data());
  if (sha256) {
    CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA256>().DeriveKey(key->data(), key->size(), 0, secret, passphrase.size(),
                                                              salt.data(), salt.size(), iterations);
  } else {
    CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA1>().DeriveKey(key->data(), key->size(), 0, secret, passphrase.size(),
                                                            salt.data(), salt.size(), iterations);
  }
}

}  // namespace

bool IsEncryptedPrivateKeyPem(const std::string& pem) {
  return pem.find(std::string("-----BEGIN ") + kEncryptedPrivateKeyLabel + "-----") != std::string::npos;
}

ResultCode EncryptedPrivateKey::Decrypt(const std::string& encryptedPem, const std::string& passphrase,
                                        std::string* plainPem, bool* wrongPassphrase, std::string* error) {
  *wrongPassphrase = false;
  std::string der;
  if (!PemBody(encryptedPem, kEncryptedPrivateKeyLabel, &der)) {
    return Fail(error, "not an \"ENCRYPTED PRIVATE KEY\" PEM");
  }
  try {
    Envelope envelope;
    std::string why;
    if (!ReadEnvelope(der, &envelope, &why)) return Fail(error, "encrypted key: " + why);
    SecByteBlock key(envelope.keySize);
    DeriveKey(passphrase, envelope.salt, envelope.iterations, envelope.sha256, &key);
    CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption cipher(key, key.size(), envelope.iv);
    SecByteBlock plain(envelope.data.size());
    cipher.ProcessData(plain, envelope.data, envelope.data.size());
    // PKCS#7 padding, then exactly one DER SEQUENCE: anything else is, all but surely, a wrong
    // passphrase, for the envelope itself was read whole above.
    const size_t pad = plain[plain.size() - 1];
    bool padded = pad >= 1 && pad <= kBlockSize;
    for (size_t i = 0; padded && i < pad; ++i) padded = plain[plain.size() - 1 - i] == pad;
    if (!padded || !IsOneDerSequence(plain, plain.size() - pad)) {
      *wrongPassphrase = true;
      return Fail(error, "wrong passphrase (or a damaged key)");
    }
    *plainPem = PemText(kPlainLabel, std::string(reinterpret_cast<const char*>(plain.data()), plain.size() - pad));
    return kOk;
  } catch (const std::exception&) {
    return Fail(error, "damaged encrypted key (malformed PKCS#8 envelope)");
  }
}

ResultCode EncryptedPrivateKey::Encrypt(const std::string& plainPem, const std::string& passphrase,
                                        unsigned iterations, std::string* encryptedPem, std::string* error) {
  std::string plain;
  if (!PemBody(plainPem, kPlainLabel, &plain)) return Fail(error, "not a \"PRIVATE KEY\" PEM");
  if (iterations < 1 || iterations > kMaxPbkdf2Iterations) return Fail(error, "iteration count out of range");
  try {
    CryptoPP::AutoSeededRandomPool random;
    SecByteBlock salt(kSaltSize), iv(kBlockSize), key(32);
    random.GenerateBlock(salt, salt.size());
    random.GenerateBlock(iv, iv.size());
    DeriveKey(passphrase, salt, iterations, true, &key);
    const size_t pad = kBlockSize - plain.size() % kBlockSize;
    plain.append(pad, static_cast<char>(pad));
    SecByteBlock sealed(plain.size());
    CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption cipher(key, key.size(), iv);
    cipher.ProcessData(sealed, reinterpret_cast<const CryptoPP::byte*>(plain.data()), plain.size());
    CryptoPP::SecureWipeBuffer(reinterpret_cast<CryptoPP::byte*>(&plain[0]), plain.size());

    std::string der;
    CryptoPP::StringSink sink(der);
    CryptoPP::DERSequenceEncoder info(sink);
    CryptoPP::DERSequenceEncoder algorithm(info);
    kPbes2.DEREncode(algorithm);
    CryptoPP::DERSequenceEncoder params(algorithm);
    CryptoPP::DERSequenceEncoder kdf(params);
    kPbkdf2.DEREncode(kdf);
    CryptoPP::DERSequenceEncoder kdfParams(kdf);
    CryptoPP::DEREncodeOctetString(kdfParams, salt);
    CryptoPP::Integer(static_cast<long>(iterations)).DEREncode(kdfParams);
    CryptoPP::DERSequenceEncoder prf(kdfParams);
    kHmacSha256.DEREncode(prf);
    CryptoPP::DEREncodeNull(prf);
    prf.MessageEnd();
    kdfParams.MessageEnd();
    kdf.MessageEnd();
    CryptoPP::DERSequenceEncoder cipherId(params);
    (kAesCbc + 42).DEREncode(cipherId);
    CryptoPP::DEREncodeOctetString(cipherId, iv);
    cipherId.MessageEnd();
    params.MessageEnd();
    algorithm.MessageEnd();
    CryptoPP::DEREncodeOctetString(info, sealed);
    info.MessageEnd();
    *encryptedPem = PemText(kEncryptedPrivateKeyLabel, der);
    return kOk;
  } catch (const std::exception& e) {
    return Fail(error, std::string("cannot encrypt the key: ") + e.what());
  }
}

}  // namespace sfx
