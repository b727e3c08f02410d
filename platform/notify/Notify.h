// Desktop notifications through the freedesktop notification service on the session bus.
#pragma once

#include <string>

namespace qv::notify {

// Window thread. Shows a notification (the picture where the service takes one); returns at
// once, false when no service is there to show it (the caller falls back to the tray).
bool Show(const std::string& title, const std::string& body, const std::string& imagePath,
          bool urgent);

}  // namespace qv::notify
