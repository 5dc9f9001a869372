// The program: the main window, run modally; the program ends when it closes.

#include <QApplication>

extern "C" {
#include <libavutil/log.h>
}

#include "app/MainWindow.h"
#include "platform/SettingsStore.h"

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_QUIET);
    QApplication app(argc, argv);
    qv::SettingsStore store(qv::SettingsStore::DefaultPath());
    qv::MainWindow window(&store);
    window.Initialize();
    window.exec();
    return 0;
}
