// The web server with the demo-like fake program, for the browser tests.
//   web_demo_server --hash PASSWORD      prints the [Web] Password value for PASSWORD
//   web_demo_server --seed HOME          writes a day of events under HOME and ends
//   web_demo_server HOME PASSWORD        serves HTTPS on a free port of 127.0.0.1 until stdin
//                                        closes; prints "port N" first
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "app/web/Certificate.h"
#include "app/web/WebServer.h"
#include "app/web/WebSettings.h"
#include "tests/support/web/FakeWebBackend.h"

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--hash") == 0) {
        std::printf("%s\n", qv::web::HashPassword(argv[2]).c_str());
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--seed") == 0) {
        qvtest::FakeWebBackend seed(argv[2]);
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: web_demo_server HOME PASSWORD | --hash P | --seed HOME\n");
        return 2;
    }
    const std::string home = argv[1];
    qvtest::FakeWebBackend backend(home);
    std::string error;
    if (!qv::web::EnsureCertificate(home, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    qv::web::ServerOptions o;
    o.Host = "127.0.0.1";
    o.Port = 0;
    o.CertFile = qv::web::CertificatePaths(home).Cert;
    o.KeyFile = qv::web::CertificatePaths(home).Key;
    o.PasswordHash = qv::web::HashPassword(argv[2]);
    o.AssetFolder = std::string(QUORVEX_SOURCE_ASSETS) + "/web";
    qv::web::WebServer server(backend, o);
    if (!server.Start()) {
        std::fprintf(stderr, "%s\n", server.Error().c_str());
        return 1;
    }
    std::printf("port %d\n", server.Port());
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
