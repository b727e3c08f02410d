// The server's TLS certificate and key in the program folder ("web-cert.pem", "web-key.pem",
// mode 0600). Made on the first start as a self-signed certificate; a user may put their own
// pair there instead, and it is then used as it is.
#pragma once

#include <string>

namespace qv::web {

struct CertificateFiles {
    std::string Cert;
    std::string Key;
};

CertificateFiles CertificatePaths(const std::string& programFolder);

// Makes the pair when the certificate file is missing. False with a reason in error.
bool EnsureCertificate(const std::string& programFolder, std::string& error);

// "AB:CD:..." SHA-256 fingerprint of the certificate in the program folder; "" when there is
// none or it does not read as PEM. The basic settings show it so a phone user can check it.
std::string CertificateFingerprint(const std::string& programFolder);

}  // namespace qv::web
