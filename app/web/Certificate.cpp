#include "app/web/Certificate.h"

#include <unistd.h>

#include "platform/tls/Certificate.h"

namespace qv::web {

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
    // Named after this computer, so a phone opening it by name sees it match.
    char host[256] = "localhost";
    ::gethostname(host, sizeof host - 1);
    return tls::MakeSelfSignedCertificate(host, files.Cert, files.Key, error);
}

std::string CertificateFingerprint(const std::string& programFolder) {
    return tls::PemFingerprint(CertificatePaths(programFolder).Cert);
}

}  // namespace qv::web
