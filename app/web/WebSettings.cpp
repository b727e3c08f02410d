#include "app/web/WebSettings.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace qv::web {

std::string WhyNotStarting(const ::WebSettings& settings) {
    if (!settings.Enable) return "the web page is off ([Web] Enable=0)";
    if (settings.Password.empty())
        return "no password is set: run  quorvex config set Web Password YOUR-PASSWORD";
    if (settings.Port < 1 || settings.Port > 65535)
        return "[Web] Port " + std::to_string(settings.Port) + " is not a port number";
    return "";
}

std::vector<std::string> WebAddresses(const ::WebSettings& settings) {
    const std::string scheme = settings.Tls ? "https://" : "http://";
    const std::string port = ":" + std::to_string(settings.Port) + "/";
    std::vector<std::string> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (ifaddrs* a = list; a; a = a->ifa_next) {
            if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
            if ((a->ifa_flags & IFF_LOOPBACK) || !(a->ifa_flags & IFF_UP)) continue;
            char text[INET_ADDRSTRLEN];
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
            if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
                out.push_back(scheme + text + port);
        }
        ::freeifaddrs(list);
    }
    if (out.empty()) out.push_back(scheme + "localhost" + port);
    return out;
}

}  // namespace qv::web
