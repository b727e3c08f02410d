// A server's own certificate: a self-signed key pair made once, and the fingerprint a person
// compares with what their browser shows.
#pragma once

#include <string>

namespace qv::tls {

// Makes a self-signed P-256 certificate for host (also valid for localhost and 127.0.0.1, ten
// years) and writes the key, then the certificate, both created with mode 0600. False with a
// reason in error; a certificate file is then never left behind.
bool MakeSelfSignedCertificate(const std::string& host, const std::string& certFile,
                               const std::string& keyFile, std::string& error);

// "AB:CD:..." SHA-256 fingerprint of the first certificate in a PEM file; "" when there is
// none or it does not read as PEM.
std::string PemFingerprint(const std::string& certFile);

}  // namespace qv::tls
