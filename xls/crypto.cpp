// Decryption with Excel's default password "VelvetSweatshop", the password
// Excel uses when a workbook is only write-protected. The key derivations
// and the record rules follow the published Office binary encryption
// formats; MD5, SHA-1 and RC4 come from libgcrypt, which is loaded only
// when an encrypted workbook is read: every other run, and the start-up of
// every program that loads the driver, goes without it.
#include "xls/crypto.h"

#include <dlfcn.h>
#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>

namespace xls::detail {
namespace {

constexpr std::string_view kDefaultPassword = "VelvetSweatshop";
constexpr size_t kBlock = 1024;  // RC4 re-keys every 1024 bytes of the stream

[[noreturn]] void passwordProtected(const std::string& detail) {
    throw Error(ErrorKind::Encrypted,
                "records: the workbook is password-protected (" + detail + ")");
}

// The libgcrypt functions the decryption calls, looked up once.
struct Gcrypt {
    decltype(&::gcry_md_hash_buffer) md_hash_buffer = nullptr;
    decltype(&::gcry_cipher_open) cipher_open = nullptr;
    decltype(&::gcry_cipher_close) cipher_close = nullptr;
    decltype(&::gcry_cipher_setkey) cipher_setkey = nullptr;
    decltype(&::gcry_cipher_encrypt) cipher_encrypt = nullptr;
    decltype(&::gcry_cipher_decrypt) cipher_decrypt = nullptr;
    decltype(&::gcry_cipher_setiv) cipher_setiv = nullptr;
    std::string failure;  // why the library could not be used
};

template <class F>
void lookUp(void* library, const char* name, F& f, std::string& failure) {
    f = reinterpret_cast<F>(::dlsym(library, name));
    if (f == nullptr && failure.empty()) {
        failure = std::string("libgcrypt has no ") + name;
    }
}

// The library stays loaded for the rest of the process, as linked ones do.
Gcrypt loadGcrypt() {
    Gcrypt g;
    void* library = ::dlopen("libgcrypt.so.20", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = ::dlerror();
        g.failure = std::string("libgcrypt cannot be loaded: ") + (why ? why : "unknown reason");
        return g;
    }
    decltype(&::gcry_check_version) checkVersion = nullptr;
    decltype(&::gcry_control) control = nullptr;
    lookUp(library, "gcry_check_version", checkVersion, g.failure);
    lookUp(library, "gcry_control", control, g.failure);
    lookUp(library, "gcry_md_hash_buffer", g.md_hash_buffer, g.failure);
    lookUp(library, "gcry_cipher_open", g.cipher_open, g.failure);
    lookUp(library, "gcry_cipher_close", g.cipher_close, g.failure);
    lookUp(library, "gcry_cipher_setkey", g.cipher_setkey, g.failure);
    lookUp(library, "gcry_cipher_encrypt", g.cipher_encrypt, g.failure);
    lookUp(library, "gcry_cipher_decrypt", g.cipher_decrypt, g.failure);
    lookUp(library, "gcry_cipher_setiv", g.cipher_setiv, g.failure);
    if (g.failure.empty()) {
        checkVersion(nullptr);
        control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
    return g;
}

const Gcrypt& gcrypt() {
    static const Gcrypt g = loadGcrypt();
    if (!g.failure.empty()) {
        passwordProtected("it cannot be decrypted: " + g.failure);
    }
    return g;
}

std::vector<uint8_t> utf16Password() {
    std::vector<uint8_t> out;
    for (char c : kDefaultPassword) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

template <size_t N>
std::array<uint8_t, N> digest(int algo, const std::vector<uint8_t>& in) {
    std::array<uint8_t, N> out{};
    gcrypt().md_hash_buffer(algo, out.data(), in.data(), in.size());
    return out;
}

void appendLe32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) {
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
    }
}

struct CipherClose {
    void operator()(gcry_cipher_hd_t h) const noexcept { gcrypt().cipher_close(h); }
};
using Cipher = std::unique_ptr<std::remove_pointer_t<gcry_cipher_hd_t>, CipherClose>;

// The RC4 key stream for one key, n bytes long.
std::vector<uint8_t> rc4Stream(const uint8_t* key, size_t keyLen, size_t n) {
    gcry_cipher_hd_t raw = nullptr;
    const Gcrypt& g = gcrypt();
    if (g.cipher_open(&raw, GCRY_CIPHER_ARCFOUR, GCRY_CIPHER_MODE_STREAM, 0) != 0) {
        passwordProtected("RC4 is not available");
    }
    Cipher h(raw);
    std::vector<uint8_t> out(n, 0);
    if (g.cipher_setkey(h.get(), key, keyLen) != 0 ||
        g.cipher_encrypt(h.get(), out.data(), out.size(), nullptr, 0) != 0) {
        passwordProtected("RC4 key rejected");
    }
    return out;
}

// Derives the RC4 key of block b; the two RC4 schemes differ only here.
class Rc4Keys {
public:
    virtual ~Rc4Keys() = default;
    [[nodiscard]] virtual std::vector<uint8_t> key(uint32_t block) const = 0;
};

// RC4 (version 1.1): MD5 of the password, stretched with the salt.
class StandardKeys : public Rc4Keys {
public:
    explicit StandardKeys(const uint8_t* salt) {
        const auto h0 = digest<16>(GCRY_MD_MD5, utf16Password());
        std::vector<uint8_t> buf;
        for (int i = 0; i < 16; ++i) {
            buf.insert(buf.end(), h0.begin(), h0.begin() + 5);
            buf.insert(buf.end(), salt, salt + 16);
        }
        const auto h1 = digest<16>(GCRY_MD_MD5, buf);
        std::copy(h1.begin(), h1.begin() + 5, m_base.begin());
    }
    [[nodiscard]] std::vector<uint8_t> key(uint32_t block) const override {
        std::vector<uint8_t> buf(m_base.begin(), m_base.end());
        appendLe32(buf, block);
        const auto k = digest<16>(GCRY_MD_MD5, buf);
        return {k.begin(), k.end()};
    }

private:
    std::array<uint8_t, 5> m_base{};
};

// CryptoAPI RC4: SHA-1 of salt and password; the key is cut to its declared
// size, and a 40-bit key is used either as 5 bytes or padded to 16.
class CryptoApiKeys : public Rc4Keys {
public:
    CryptoApiKeys(const uint8_t* salt, size_t keyBytes, bool pad)
        : m_keyBytes(keyBytes), m_pad(pad) {
        std::vector<uint8_t> buf(salt, salt + 16);
        const auto pw = utf16Password();
        buf.insert(buf.end(), pw.begin(), pw.end());
        m_h0 = digest<20>(GCRY_MD_SHA1, buf);
    }
    [[nodiscard]] std::vector<uint8_t> key(uint32_t block) const override {
        std::vector<uint8_t> buf(m_h0.begin(), m_h0.end());
        appendLe32(buf, block);
        const auto h = digest<20>(GCRY_MD_SHA1, buf);
        std::vector<uint8_t> k(h.begin(), h.begin() + static_cast<ptrdiff_t>(m_keyBytes));
        if (m_pad) {
            k.resize(16, 0);
        }
        return k;
    }

private:
    std::array<uint8_t, 20> m_h0{};
    size_t m_keyBytes;
    bool m_pad;
};

// Decrypts the verifier and its hash with block 0's key and compares the
// hash of the one with the other.
bool verifies(const Rc4Keys& keys, const uint8_t* verifier, const uint8_t* hash, size_t hashLen,
              int algo) {
    const auto k = keys.key(0);
    const auto ks = rc4Stream(k.data(), k.size(), 16 + hashLen);
    std::vector<uint8_t> v(16), h(hashLen);
    for (size_t i = 0; i < 16; ++i) {
        v[i] = verifier[i] ^ ks[i];
    }
    for (size_t i = 0; i < hashLen; ++i) {
        h[i] = hash[i] ^ ks[16 + i];
    }
    std::array<uint8_t, 20> d{};
    gcrypt().md_hash_buffer(algo, d.data(), v.data(), v.size());
    return std::memcmp(d.data(), h.data(), hashLen) == 0;
}

// Records whose bodies stay in clear text; BOUNDSHEET keeps its first four
// bytes (the sheet's stream offset) in clear text.
bool clearRecord(uint16_t type) {
    return type == rec::kBof || type == rec::kFilePass || type == 0x0194 || type == 0x0195 ||
           type == 0x00E1 || type == 0x0196 || type == 0x0138;
}

// Calls f(body offset, body length, first byte to decrypt) for each record
// after FILEPASS, stopping at a header that does not fit (the record layer
// reports that later).
template <typename F>
void forEachBody(std::vector<uint8_t>& stream, size_t from, F f) {
    size_t pos = from;
    while (pos < stream.size() && stream.size() - pos >= 4) {
        const uint16_t type = le16(stream.data() + pos);
        const size_t len = le16(stream.data() + pos + 2);
        const size_t body = pos + 4;
        const size_t avail = std::min(len, stream.size() - body);
        if (!clearRecord(type)) {
            const size_t skip = type == rec::kBoundSheet ? std::min<size_t>(4, avail) : 0;
            f(body, len, body + skip, body + avail);
        }
        pos = body + len;
    }
}

void decryptRc4(std::vector<uint8_t>& stream, size_t from, const Rc4Keys& keys) {
    uint32_t cached = UINT32_MAX;
    std::vector<uint8_t> ks;
    forEachBody(stream, from, [&](size_t, size_t, size_t first, size_t end) {
        for (size_t i = first; i < end; ++i) {
            const auto block = static_cast<uint32_t>(i / kBlock);
            if (block != cached) {
                const auto k = keys.key(block);
                ks = rc4Stream(k.data(), k.size(), kBlock);
                cached = block;
            }
            stream[i] ^= ks[i % kBlock];
        }
    });
}

// XOR obfuscation (method 1): a 16-bit key and verifier from the password,
// and a 16-byte array the data is XORed with after a rotation.
constexpr uint16_t kInitialCode[15] = {0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C,
                                       0x0E10, 0xF1CE, 0x313E, 0x1872, 0xE139,
                                       0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3};
constexpr uint16_t kXorMatrix[105] = {
    0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7,
    0x9DCF, 0x2BBF, 0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375, 0x06EA, 0x0DD4,
    0x1BA8, 0x3750, 0x6EA0, 0xDD40, 0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5, 0x6F45,
    0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A, 0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC,
    0x5FD9, 0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0, 0xB861, 0x60E3, 0xC1C6, 0x93AD,
    0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10, 0xAA51, 0x4483,
    0x8906, 0x022D, 0x045A, 0x08B4, 0x1168, 0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C,
    0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373,
    0x06E6, 0x0DCC, 0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4};
constexpr uint8_t kPad[15] = {0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80,
                              0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00};

uint16_t xorKey() {
    const size_t n = kDefaultPassword.size();
    uint16_t key = kInitialCode[n - 1];
    size_t m = 104;
    for (size_t i = n; i-- > 0;) {
        const auto c = static_cast<uint8_t>(kDefaultPassword[i]);
        for (int b = 6; b >= 0; --b, --m) {
            if ((c >> b) & 1) {
                key ^= kXorMatrix[m];
            }
        }
    }
    return key;
}

uint16_t xorVerifier() {
    uint16_t hash = 0;
    const size_t n = kDefaultPassword.size();
    for (size_t i = 0; i < n; ++i) {
        uint32_t v = static_cast<uint8_t>(kDefaultPassword[i]);
        for (size_t j = 0; j <= i; ++j) {
            v = ((v << 1) & 0x7FFF) | (v >> 14);
        }
        hash = static_cast<uint16_t>(hash ^ v);
    }
    return static_cast<uint16_t>(hash ^ n ^ 0xCE4B);
}

void decryptXor(std::vector<uint8_t>& stream, size_t from, const uint8_t* info) {
    const uint16_t key = xorKey();
    if (le16(info) != key || le16(info + 2) != xorVerifier()) {
        passwordProtected("XOR obfuscation");
    }
    std::array<uint8_t, 16> seq{};
    const size_t n = kDefaultPassword.size();
    for (size_t i = 0; i < 16; ++i) {
        seq[i] = i < n ? static_cast<uint8_t>(kDefaultPassword[i]) : kPad[i - n];
        seq[i] ^= static_cast<uint8_t>(i % 2 == 0 ? key & 0xFF : key >> 8);
        seq[i] = static_cast<uint8_t>((seq[i] << 2) | (seq[i] >> 6));
    }
    // The array index of a record's first byte is where its body ends.
    forEachBody(stream, from, [&](size_t, size_t len, size_t first, size_t end) {
        for (size_t i = first; i < end; ++i) {
            const uint8_t b = stream[i];
            stream[i] = static_cast<uint8_t>(((b << 3) | (b >> 5)) ^ seq[(i + len) % 16]);
        }
    });
}

void decryptRc4Record(std::vector<uint8_t>& stream, size_t from, Bytes d) {
    // d starts after the 2-byte encryption type: version, then the scheme's fields.
    if (d.size() < 4) {
        passwordProtected("encryption header too short");
    }
    const uint16_t major = le16(d.data());
    const uint16_t minor = le16(d.data() + 2);
    if (major == 1 && minor == 1) {
        if (d.size() < 4 + 48) {
            passwordProtected("RC4 header too short");
        }
        const StandardKeys keys(d.data() + 4);
        if (!verifies(keys, d.data() + 20, d.data() + 36, 16, GCRY_MD_MD5)) {
            passwordProtected("RC4");
        }
        decryptRc4(stream, from, keys);
        return;
    }
    if (minor != 2 || major < 2 || major > 4 || d.size() < 12) {
        passwordProtected("unknown encryption version " + std::to_string(major) + "." +
                          std::to_string(minor));
    }
    const uint32_t headerSize = le32(d.data() + 8);
    const size_t header = 12;
    if (headerSize < 32 || d.size() < header + headerSize + 4 + 16 + 16 + 4 + 20) {
        passwordProtected("CryptoAPI header too short");
    }
    uint32_t keyBits = le32(d.data() + header + 16);
    keyBits = keyBits == 0 ? 40 : keyBits;
    if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0) {
        passwordProtected("CryptoAPI key size " + std::to_string(keyBits));
    }
    const uint8_t* verifier = d.data() + header + headerSize;
    const uint8_t* salt = verifier + 4;
    for (bool pad : {keyBits == 40, false}) {
        const CryptoApiKeys keys(salt, keyBits / 8, pad);
        if (verifies(keys, salt + 16, salt + 16 + 16 + 4, 20, GCRY_MD_SHA1)) {
            decryptRc4(stream, from, keys);
            return;
        }
    }
    passwordProtected("CryptoAPI RC4");
}

}  // namespace

namespace {

// ---- Encrypted Office Open XML packages --------------------------------
// The package is the EncryptedPackage stream (its size in 8 bytes, then
// AES ciphertext); EncryptionInfo says how its key comes from the
// password: "standard" encryption (version 3.2 or 4.2: a binary header,
// SHA-1, AES in ECB mode) or "agile" encryption (version 4.4: an XML
// description, SHA-1 to SHA-512, AES in CBC mode in 4096-byte segments).

[[noreturn]] void packageProtected(const std::string& detail) {
    throw Error(ErrorKind::Encrypted,
                "container: the workbook is an encrypted package (" + detail + ")");
}

using Buffer = std::vector<uint8_t>;

Buffer hashOf(int algo, const Buffer& in) {
    const size_t n = algo == GCRY_MD_SHA1     ? 20
                     : algo == GCRY_MD_SHA256 ? 32
                     : algo == GCRY_MD_SHA384 ? 48
                                              : 64;
    Buffer out(n, 0);
    gcrypt().md_hash_buffer(algo, out.data(), in.data(), in.size());
    return out;
}

Buffer concat(const Buffer& a, const Buffer& b) {
    Buffer out(a);
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

Buffer le32Bytes(uint32_t x) {
    Buffer v;
    appendLe32(v, x);
    return v;
}

// AES over whole blocks, ECB or CBC (with `iv`), decrypting in place.
void aesDecrypt(const Buffer& key, const Buffer* iv, uint8_t* data, size_t size) {
    const int algo = key.size() == 16   ? GCRY_CIPHER_AES128
                     : key.size() == 24 ? GCRY_CIPHER_AES192
                     : key.size() == 32 ? GCRY_CIPHER_AES256
                                        : 0;
    if (algo == 0 || size % 16 != 0) {
        packageProtected("an AES key of " + std::to_string(key.size()) + " bytes");
    }
    gcry_cipher_hd_t raw = nullptr;
    const Gcrypt& g = gcrypt();
    if (g.cipher_open(&raw, algo, iv ? GCRY_CIPHER_MODE_CBC : GCRY_CIPHER_MODE_ECB, 0) != 0) {
        packageProtected("AES is not available");
    }
    const Cipher h(raw);
    if (g.cipher_setkey(h.get(), key.data(), key.size()) != 0 ||
        (iv && g.cipher_setiv(h.get(), iv->data(), iv->size()) != 0) ||
        g.cipher_decrypt(h.get(), data, size, nullptr, 0) != 0) {
        packageProtected("AES refused the key");
    }
}

// The package's declared size and its ciphertext.
std::pair<uint64_t, Bytes> packageBody(const Buffer& package) {
    if (package.size() < 8) {
        packageProtected("the EncryptedPackage stream is too short");
    }
    const uint64_t size = le64(package.data());
    const Bytes body = Bytes(package).subspan(8);
    if (size > body.size()) {
        packageProtected("the EncryptedPackage stream is shorter than its declared size");
    }
    return {size, body};
}

// Standard encryption: the key from SHA-1 of the salt and password,
// stretched 50,000 times, then widened as CryptoAPI derives keys.
Buffer decryptStandard(Bytes info, const Buffer& package) {
    if (info.size() < 12) {
        packageProtected("EncryptionInfo too short");
    }
    const size_t headerSize = le32(info.data() + 8);
    if (headerSize < 32 || info.size() < 12 + headerSize + 4 + 16 + 16 + 4 + 32) {
        packageProtected("EncryptionInfo too short");
    }
    const uint8_t* header = info.data() + 12;
    const uint32_t algId = le32(header + 8);
    const size_t keyBytes = le32(header + 16) / 8;
    if ((algId != 0x660E && algId != 0x660F && algId != 0x6610) ||
        (keyBytes != 16 && keyBytes != 24 && keyBytes != 32)) {
        packageProtected("a cipher other than AES (id " + std::to_string(algId) + ")");
    }
    const uint8_t* verifier = header + headerSize;
    const Buffer salt(verifier + 4, verifier + 20);
    Buffer h = hashOf(GCRY_MD_SHA1, concat(salt, utf16Password()));
    for (uint32_t i = 0; i < 50000; ++i) {
        h = hashOf(GCRY_MD_SHA1, concat(le32Bytes(i), h));
    }
    h = hashOf(GCRY_MD_SHA1, concat(h, le32Bytes(0)));
    Buffer x1(64, 0x36), x2(64, 0x5C);
    for (size_t i = 0; i < h.size(); ++i) {
        x1[i] ^= h[i];
        x2[i] ^= h[i];
    }
    Buffer key = concat(hashOf(GCRY_MD_SHA1, x1), hashOf(GCRY_MD_SHA1, x2));
    key.resize(keyBytes);
    // The verifier (16 bytes) and its SHA-1 hash (32 encrypted bytes).
    Buffer check(verifier + 20, verifier + 36);
    Buffer checkHash(verifier + 40, verifier + 72);
    aesDecrypt(key, nullptr, check.data(), check.size());
    aesDecrypt(key, nullptr, checkHash.data(), checkHash.size());
    const Buffer expected = hashOf(GCRY_MD_SHA1, check);
    if (!std::equal(expected.begin(), expected.end(), checkHash.begin())) {
        packageProtected("it needs a password");
    }
    const auto [size, body] = packageBody(package);
    Buffer out(body.begin(), body.begin() + static_cast<ptrdiff_t>((body.size() / 16) * 16));
    aesDecrypt(key, nullptr, out.data(), out.size());
    out.resize(static_cast<size_t>(std::min<uint64_t>(size, out.size())));
    return out;
}

// An attribute of the first element named `element` in agile encryption's
// XML description (the values are plain: names, numbers, base64).
std::string attribute(std::string_view xml, std::string_view element, std::string_view name) {
    const size_t at = xml.find("<" + std::string(element) + " ");
    if (at == std::string_view::npos) {
        return {};
    }
    const size_t end = xml.find('>', at);
    const std::string_view tag =
        xml.substr(at, end == std::string_view::npos ? xml.npos : end - at);
    const std::string key = " " + std::string(name) + "=\"";
    const size_t v = tag.find(key);
    if (v == std::string_view::npos) {
        return {};
    }
    const size_t close = tag.find('"', v + key.size());
    return std::string(tag.substr(
        v + key.size(), close == std::string_view::npos ? tag.npos : close - v - key.size()));
}

Buffer base64(std::string_view text) {
    Buffer out;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        int v = -1;
        if (c >= 'A' && c <= 'Z') {
            v = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            v = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            v = c - '0' + 52;
        } else if (c == '+') {
            v = 62;
        } else if (c == '/') {
            v = 63;
        }
        if (v < 0) {
            continue;
        }
        bits = (bits << 6U) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<uint8_t>(bits >> static_cast<unsigned>(count)));
        }
    }
    return out;
}

int hashAlgorithm(const std::string& name) {
    if (name == "SHA1") {
        return GCRY_MD_SHA1;
    }
    if (name == "SHA256") {
        return GCRY_MD_SHA256;
    }
    if (name == "SHA384") {
        return GCRY_MD_SHA384;
    }
    if (name == "SHA512") {
        return GCRY_MD_SHA512;
    }
    packageProtected("the hash algorithm \"" + name + "\"");
}

// `b` cut or padded with `pad` to n bytes.
Buffer fitted(Buffer b, size_t n, uint8_t pad) {
    b.resize(n, pad);
    return b;
}

// Agile encryption: the password's hash stretched spinCount times, then a
// key per purpose from it and a fixed block key; the intermediate key that
// decrypts the package is itself encrypted with one of them.
Buffer decryptAgile(Bytes info, const Buffer& package) {
    const std::string_view xml(reinterpret_cast<const char*>(info.data()) + 8, info.size() - 8);
    const std::string encryptor = "p:encryptedKey";
    const int keyHash = hashAlgorithm(attribute(xml, encryptor, "hashAlgorithm"));
    const int dataHash = hashAlgorithm(attribute(xml, "keyData", "hashAlgorithm"));
    const size_t keyBytes =
        std::strtoul(attribute(xml, encryptor, "keyBits").c_str(), nullptr, 10) / 8;
    const size_t dataKeyBytes =
        std::strtoul(attribute(xml, "keyData", "keyBits").c_str(), nullptr, 10) / 8;
    const size_t blockSize =
        std::strtoul(attribute(xml, "keyData", "blockSize").c_str(), nullptr, 10);
    const uint32_t spins = static_cast<uint32_t>(
        std::strtoul(attribute(xml, encryptor, "spinCount").c_str(), nullptr, 10));
    if (attribute(xml, encryptor, "cipherAlgorithm") != "AES" || blockSize != 16 ||
        spins > 10000000) {
        packageProtected("a cipher other than AES, or an unusual key derivation");
    }
    const Buffer salt = base64(attribute(xml, encryptor, "saltValue"));
    Buffer h = hashOf(keyHash, concat(salt, utf16Password()));
    for (uint32_t i = 0; i < spins; ++i) {
        h = hashOf(keyHash, concat(le32Bytes(i), h));
    }
    auto keyFor = [&](std::initializer_list<uint8_t> block) {
        return fitted(hashOf(keyHash, concat(h, Buffer(block))), keyBytes, 0x36);
    };
    const Buffer iv = fitted(salt, blockSize, 0x36);
    Buffer input = base64(attribute(xml, encryptor, "encryptedVerifierHashInput"));
    Buffer value = base64(attribute(xml, encryptor, "encryptedVerifierHashValue"));
    Buffer secret = base64(attribute(xml, encryptor, "encryptedKeyValue"));
    if (input.empty() || input.size() % 16 || value.empty() || value.size() % 16 ||
        secret.empty() || secret.size() % 16) {
        packageProtected("EncryptionInfo lacks its verifier");
    }
    aesDecrypt(keyFor({0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79}), &iv, input.data(),
               input.size());
    aesDecrypt(keyFor({0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e}), &iv, value.data(),
               value.size());
    input.resize(salt.size());
    const Buffer expected = hashOf(keyHash, input);
    if (value.size() < expected.size() ||
        !std::equal(expected.begin(), expected.end(), value.begin())) {
        packageProtected("it needs a password");
    }
    aesDecrypt(keyFor({0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6}), &iv, secret.data(),
               secret.size());
    secret.resize(dataKeyBytes);
    const Buffer dataSalt = base64(attribute(xml, "keyData", "saltValue"));
    const auto [size, body] = packageBody(package);
    constexpr size_t kSegment = 4096;
    Buffer out;
    out.reserve(body.size());
    for (size_t at = 0, segment = 0; at < body.size() && out.size() < size;
         at += kSegment, ++segment) {
        const size_t n = std::min(kSegment, body.size() - at) / 16 * 16;
        if (n == 0) {
            break;
        }
        const Buffer segmentIv =
            fitted(hashOf(dataHash, concat(dataSalt, le32Bytes(static_cast<uint32_t>(segment)))),
                   blockSize, 0x36);
        const size_t from = out.size();
        out.insert(out.end(), body.begin() + static_cast<ptrdiff_t>(at),
                   body.begin() + static_cast<ptrdiff_t>(at + n));
        aesDecrypt(secret, &segmentIv, out.data() + from, n);
    }
    out.resize(static_cast<size_t>(std::min<uint64_t>(size, out.size())));
    return out;
}

}  // namespace

std::vector<uint8_t> decryptPackage(const std::vector<uint8_t>& info,
                                    const std::vector<uint8_t>& package) {
    if (info.size() < 8) {
        packageProtected("EncryptionInfo too short");
    }
    const uint16_t major = le16(info.data());
    const uint16_t minor = le16(info.data() + 2);
    if (major == 4 && minor == 4) {
        return decryptAgile(info, package);
    }
    if ((major == 3 || major == 4) && minor == 2) {
        return decryptStandard(info, package);
    }
    packageProtected("encryption version " + std::to_string(major) + "." + std::to_string(minor));
}

void decryptStream(std::vector<uint8_t>& stream, const Record& filePass, int biff) {
    const size_t from = filePass.offset + 4 + filePass.data.size();
    const Bytes d = filePass.data;
    if (biff == 5) {
        if (d.size() < 4) {
            passwordProtected("XOR header too short");
        }
        decryptXor(stream, from, d.data());
        return;
    }
    if (d.size() < 2) {
        passwordProtected("FILEPASS too short");
    }
    const uint16_t type = le16(d.data());
    if (type == 0) {
        if (d.size() < 6) {
            passwordProtected("XOR header too short");
        }
        decryptXor(stream, from, d.data() + 2);
    } else if (type == 1) {
        decryptRc4Record(stream, from, d.subspan(2));
    } else {
        passwordProtected("unknown encryption type " + std::to_string(type));
    }
}

}  // namespace xls::detail
