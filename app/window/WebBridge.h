// The web page's view of the program: the engine's state, the live picture of the capture
// window and the window's two switches, for the web server (app/web) to serve. The page's
// commands run on the window thread exactly as the switches' clicks do, so the window follows
// at once.
#pragma once

#include <memory>
#include <string>

class CMonitorDlg;
class QImage;

namespace qv::web {
class WebServer;
}

namespace qv::window {

class WebBridge;

// The running web page; stops the server when destroyed (window thread, before the window).
class WebPage {
  public:
    WebPage(std::unique_ptr<WebBridge> bridge, std::unique_ptr<web::WebServer> server);
    ~WebPage();

  private:
    std::unique_ptr<WebBridge> bridge_;
    std::unique_ptr<web::WebServer> server_;
};

// The live picture as the page gets it: a JPEG file's bytes ("" for a null frame). Any thread.
std::string FrameToJpeg(const QImage& frame);

// Window thread, after the window is shown: starts the web page when [Web] asks for it, or
// says on standard error why it does not (nothing at all when it is off). nullptr when none.
std::unique_ptr<WebPage> StartWebPage(CMonitorDlg& window, const std::string& programFolder,
                                      const std::string& settingsFile);

}  // namespace qv::window
