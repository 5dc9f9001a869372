// The program: the main window, run modally; the program ends when it closes.

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <QApplication>

extern "C" {
#include <libavutil/log.h>
}

#include "app/MainWindow.h"
#include "app/Version.h"
#include "platform/SettingsStore.h"

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_QUIET);
    // QApplication takes its own options (-platform, -style, ...) out of argv.
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QString::fromLatin1(qv::kProgramVersion));
    // The desktop entry it was started from, for its icon on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quorvandel.Quorvandel"));
    qv::SettingsStore store(qv::SettingsStore::DefaultPath());
    qv::MainWindow window(&store);
    window.Initialize();
    // What is left are files (a file manager passes them so): they join the input
    // list as if dropped onto the window. A relative name is taken from here.
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        const std::filesystem::path path = std::filesystem::absolute(argv[i], error);
        if (!error) {
            files.push_back(path.lexically_normal().string());
        }
    }
    if (!files.empty()) {
        window.AddDroppedFiles(files);
    }
    window.exec();
    return 0;
}
