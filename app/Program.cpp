#include "app/Program.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QSocketNotifier>
#include <QTranslator>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "QuorCore.h"
#include "app/engine/CoreApi.h"
#include "app/engine/Files.h"
#include "app/settings/ProgramFolder.h"
#include "app/settings/StreamSources.h"
#include "app/window/CMonitorDlg.h"
#include "app/window/WebBridge.h"
#include "platform/sound/SoundPlayer.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    int saved = errno;
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

// SIGINT and SIGTERM reach the window thread through a pipe and start the shutdown there.
bool InstallSignalPipe() {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    return true;
}

void CoreMessage(const char* text, const char* caption, void*) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "QuorCore", text ? text : "");
}

// Hands the user's stream cameras to the core library before it lists its devices.
void RegisterStreamSources(const std::string& settingsFile) {
    const std::vector<StreamSource> sources = LoadStreamSources(settingsFile);
    std::vector<const char*> names, urls;
    for (const StreamSource& s : sources) {
        names.push_back(s.Name.c_str());
        urls.push_back(s.Url.c_str());
    }
    QvSetStreamSources(names.data(), urls.data(), static_cast<int>(sources.size()));
}

}  // namespace

int RunMonitor(int argc, char** argv, const std::string& programFolder) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--demo-camera") == 0) ::setenv("QUORVEX_DEMO_CAMERA", "1", 1);

    qv::engine::InstanceLock instance;
    if (!instance.Acquire()) return 0;  // another monitor runs: end silently
    EnsureFolder(programFolder);
    // Nothing of ours may die of a write to a closed pipe (stdout piped to a pager, say).
    ::signal(SIGPIPE, SIG_IGN);

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // Qt's own dialogs (file pickers, standard buttons) in the user's language.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    InstallSignalPipe();
    QvSetMessageHook(CoreMessage, nullptr);

    auto core = qv::engine::MakeQuorCoreApi();
    auto sound = qv::sound::MakeSoundPlayer();
    qv::engine::EngineOptions options;
    options.ProgramFolder = programFolder;
    options.SettingsFile = SettingsFilePath(programFolder);
    options.DataFolders = DataFolders();
    RegisterStreamSources(options.SettingsFile);

    int result = 0;
    {
        CMonitorDlg dialog(*core, *sound, options);
        std::unique_ptr<QSocketNotifier> notifier;
        if (g_signalPipe[0] >= 0)
            notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        if (notifier)
            QObject::connect(notifier.get(), &QSocketNotifier::activated, &dialog, [&dialog] {
                char buffer[16];
                while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
                }
                dialog.RequestExit();
            });
        dialog.show();
        // Stopped when the block ends, before the window goes.
        auto web = qv::window::StartWebPage(dialog, programFolder, options.SettingsFile);
        result = app.exec();
    }
    sound.reset();
    return result;
}
