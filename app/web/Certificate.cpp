#include "app/web/Certificate.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace qv::web {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;

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

}  // namespace

CertificateFiles CertificatePaths(const std::string& programFolder) {
    std::string base = programFolder;
    if (!base.empty() && base.back() != '/') base += '/';
    return {base + "web-cert.pem", base + "web-key.pem"};
}

bool EnsureCertificate(const std::string& programFolder, std::string& error) {
    const CertificateFiles files = CertificatePaths(programFolder);
    if (::access(files.Cert.c_str(), F_OK) == 0) {
        if (::access(files.Key.c_str(), R_OK) == 0) return true;
        error = files.Key + " is missing next to " + files.Cert;
        return false;
    }
    Key key(EVP_EC_gen("P-256"));
    Cert cert(X509_new());
    if (!key || !cert) {
        error = "cannot make a key";
        return false;
    }
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    std::FILE* r = std::fopen("/dev/urandom", "rb");
    bool haveSerial = r && std::fread(serial, 1, sizeof serial, r) == sizeof serial;
    if (r) std::fclose(r);
    if (!haveSerial) {
        error = "no random source";
        return false;
    }
    serial[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    char host[256] = "localhost";
    ::gethostname(host, sizeof host - 1);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Quorvex"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(host), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    const std::string san = std::string("DNS:") + host + ",DNS:localhost,IP:127.0.0.1";
    if (!AddExtension(cert.get(), NID_subject_alt_name, san.c_str()) ||
        !AddExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        error = "cannot sign the certificate";
        return false;
    }
    // The key first: a certificate without its key would never be replaced.
    std::FILE* kf = OpenPrivate(files.Key);
    bool ok = kf && PEM_write_PrivateKey(kf, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    if (kf && std::fclose(kf) != 0) ok = false;
    std::FILE* cf = ok ? OpenPrivate(files.Cert) : nullptr;
    ok = ok && cf && PEM_write_X509(cf, cert.get());
    if (cf && std::fclose(cf) != 0) ok = false;
    if (!ok) {
        ::unlink(files.Cert.c_str());
        error = "cannot write " + files.Cert;
    }
    return ok;
}

std::string CertificateFingerprint(const std::string& programFolder) {
    std::FILE* f = std::fopen(CertificatePaths(programFolder).Cert.c_str(), "r");
    if (!f) return "";
    Cert cert(PEM_read_X509(f, nullptr, nullptr, nullptr));
    std::fclose(f);
    if (!cert) return "";
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (X509_digest(cert.get(), EVP_sha256(), md, &n) != 1) return "";
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < n; ++i) {
        if (i) out += ':';
        out += digits[md[i] >> 4];
        out += digits[md[i] & 15];
    }
    return out;
}

}  // namespace qv::web
