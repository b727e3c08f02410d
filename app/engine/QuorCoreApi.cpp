// CoreApi over libquorcore.
#include <cstring>
#include <vector>

#include "QuorCore.h"
#include "app/engine/CoreApi.h"

namespace qv::engine {
namespace {

// The library takes char* for paths it does not change.
std::vector<char> Writable(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return buffer;
}

class QuorCoreApi : public CoreApi {
  public:
    int Startup() override { return QvStartup(); }
    int Cleanup() override { return QvCleanup(); }
    int GetDeviceCount() override { return QvGetDeviceCount(); }
    bool GetDeviceName(int index, std::string& name) override {
        QvDEVICEINFO info{};
        if (QvGetDeviceInfo(&info, index) != 1) return false;
        info.szDeviceName[sizeof(info.szDeviceName) - 1] = '\0';
        name = info.szDeviceName;
        return true;
    }
    bool StartupDevice(void* window, int index) override {
        QvSTARTUPDEVICEINFO info{};
        info.hwndNotify = window;
        info.hwndParent = window;
        return QvStartupDevice(&info, index) == 1;
    }
    void CleanupDevice() override { QvCleanupDevice(); }
    void SetStreamSources(const std::vector<StreamSource>& sources) override {
        std::vector<const char*> names, urls;
        for (const StreamSource& s : sources) {
            names.push_back(s.Name.c_str());
            urls.push_back(s.Url.c_str());
        }
        QvSetStreamSources(names.data(), urls.data(), static_cast<int>(sources.size()));
    }
    void OpenDriverDialog(unsigned long dialog) override { QvOpenDialog(dialog); }
    void SetPreviewRate(int framesPerSecond) override { QvCoreSetPreviewRate(framesPerSecond); }
    bool GetVideoFormat(VideoFormatInfo& format) override {
        BITMAPINFOHEADER header{};
        if (QvGetCaptureDeviceInfo(&header) != 1) return false;
        format.Width = header.biWidth;
        format.Height = header.biHeight;
        format.BitCount = header.biBitCount;
        return true;
    }
    bool GetState(unsigned long id, unsigned long& value) override {
        unsigned long v = 0;
        if (QvGetDeviceState(id, &v) != 1) return false;
        value = v;
        return true;
    }
    bool SetState(unsigned long id, unsigned long value) override {
        return QvSetDeviceState(id, value) == 1;
    }
    bool CaptureSingleFrame(const std::string& bmpPath) override {
        auto path = Writable(bmpPath);
        return QvCaptureSingleFrame(path.data(), 0) == 1;
    }
    bool BmpToJpeg(const std::string& bmpPath, const std::string& jpegPath, int quality) override {
        auto bmp = Writable(bmpPath);
        auto jpeg = Writable(jpegPath);
        return QvCoreBMP2JPG(bmp.data(), jpeg.data(), quality) == 1;
    }
    bool TakeStreamEvent(int& kind, std::string& name) override {
        char buffer[256];
        if (QvTakeStreamEvent(&kind, buffer, sizeof buffer) != 1) return false;
        name = buffer;
        return true;
    }
};

}  // namespace

std::unique_ptr<CoreApi> MakeQuorCoreApi() {
    return std::make_unique<QuorCoreApi>();
}

}  // namespace qv::engine
