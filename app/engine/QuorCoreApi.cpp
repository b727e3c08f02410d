// CoreApi over libquorcore.
#include <cstring>
#include <mutex>
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
    bool SetMotionCheck(const MotionCheckSetup& setup) override {
        QvSetMotionCheckValues(setup.NoiseTenths, setup.AreaTenths, setup.PersistMs);
        std::lock_guard lock(maskMutex_);
        // A new mask makes the check learn the scene anew: only when it changed.
        if (maskSet_ && setup.Mask == mask_) return true;
        if (QvSetMotionCheck(1, setup.Mask.c_str()) != 1) return false;
        mask_ = setup.Mask;
        maskSet_ = true;
        return true;
    }
    bool GetMotionCheck(MotionCheckVerdict& verdict) override {
        QvMOTIONCHECKRESULT r{};
        if (QvGetMotionCheckResult(&r) != 1 || r.gridWidth <= 0) return false;
        verdict = {};
        verdict.Confirmed = r.confirmed != 0;
        verdict.Moving = r.moving != 0;
        verdict.LightChange = r.lightChange != 0;
        verdict.SceneChange = r.sceneChange != 0;
        verdict.NoiseTenths = r.noiseTenths;
        verdict.GridWidth = r.gridWidth;
        verdict.GridHeight = r.gridHeight;
        for (int i = 0; i < r.blobCount && i < QV_MOTION_CHECK_MAX_BLOBS; ++i)
            verdict.Blobs.push_back({r.blobs[i][0], r.blobs[i][1], r.blobs[i][2], r.blobs[i][3]});
        return true;
    }
    bool GetMotionCheckGrid(std::vector<uint8_t>& cells, std::vector<uint8_t>& luma) override {
        QvMOTIONCHECKRESULT r{};
        if (QvGetMotionCheckResult(&r) != 1 || r.gridWidth <= 0 || r.gridHeight <= 0) return false;
        cells.resize(size_t(r.gridWidth) * size_t(r.gridHeight));
        luma.resize(cells.size());
        // The grid may have grown in between: the library refuses a short buffer.
        return QvGetMotionCheckCells(cells.data(), static_cast<int>(cells.size())) == 1 &&
               QvGetMotionCheckPicture(luma.data(), static_cast<int>(luma.size())) == 1;
    }

  private:
    std::mutex maskMutex_;
    std::string mask_;
    bool maskSet_ = false;
};

}  // namespace

std::unique_ptr<CoreApi> MakeQuorCoreApi() {
    return std::make_unique<QuorCoreApi>();
}

}  // namespace qv::engine
