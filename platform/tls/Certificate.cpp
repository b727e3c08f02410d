#include "platform/tls/Certificate.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <memory>

#include "platform/tls/Secrets.h"

namespace qv::tls {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Number = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;

// Opens path for writing with mode 0600 from the start (no window with wider rights).
std::FILE* OpenPrivate(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    ::fchmod(fd, 0600);
    std::FILE* f = ::fdopen(fd, "w");
    if (!f) ::close(fd);
    return f;
}

bool AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

bool AddName(X509_NAME* name, const char* field, const std::string& value) {
    return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                      0) == 1;
}

// The certificate, signed; nothing when a step fails.
Cert MakeCertificate(const std::string& host, EVP_PKEY* key) {
    Cert cert(X509_new());
    unsigned char serial[16];
    if (!cert || !RandomBytes(serial, sizeof serial)) return nullptr;
    serial[0] &= 0x7f;  // a positive serial number
    Number bn(BN_bin2bn(serial, sizeof serial, nullptr));
    X509_NAME* name = X509_get_subject_name(cert.get());
    const std::string san = "DNS:" + host + ",DNS:localhost,IP:127.0.0.1";
    const bool ok = bn && X509_set_version(cert.get(), 2) == 1 &&
                    BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert.get())) &&
                    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) &&
                    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600) &&
                    X509_set_pubkey(cert.get(), key) == 1 && AddName(name, "O", "Quorvex") &&
                    AddName(name, "CN", host) && X509_set_issuer_name(cert.get(), name) == 1 &&
                    AddExtension(cert.get(), NID_subject_alt_name, san.c_str()) &&
                    AddExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") &&
                    X509_sign(cert.get(), key, EVP_sha256()) != 0;
    return ok ? std::move(cert) : nullptr;
}

}  // namespace

bool MakeSelfSignedCertificate(const std::string& host, const std::string& certFile,
                               const std::string& keyFile, std::string& error) {
    Key key(EVP_EC_gen("P-256"));
    if (!key) {
        error = "cannot make a key";
        return false;
    }
    Cert cert = MakeCertificate(host, key.get());
    if (!cert) {
        error = "cannot make the certificate";
        return false;
    }
    // The key first: a certificate without its key would never be replaced.
    std::FILE* kf = OpenPrivate(keyFile);
    bool ok = kf && PEM_write_PrivateKey(kf, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    if (kf && std::fclose(kf) != 0) ok = false;
    std::FILE* cf = ok ? OpenPrivate(certFile) : nullptr;
    ok = ok && cf && PEM_write_X509(cf, cert.get());
    if (cf && std::fclose(cf) != 0) ok = false;
    if (!ok) {
        ::unlink(certFile.c_str());
        error = "cannot write " + certFile;
    }
    return ok;
}

std::string PemFingerprint(const std::string& certFile) {
    std::FILE* f = std::fopen(certFile.c_str(), "r");
    if (!f) return "";
    Cert cert(PEM_read_X509(f, nullptr, nullptr, nullptr));
    std::fclose(f);
    if (!cert) return "";
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (X509_digest(cert.get(), EVP_sha256(), md, &n) != 1) return "";
    std::string out;
    const std::string hex = Hex(md, n);
    for (size_t i = 0; i < hex.size(); i += 2) {
        if (i) out += ':';
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i])));
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i + 1])));
    }
    return out;
}

}  // namespace qv::tls
