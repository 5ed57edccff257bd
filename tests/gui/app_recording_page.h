// A page for the main window's tests: records every command and access decision it receives.
#pragma once

#include <QStringList>

#include "commands.h"
#include "main_window.h"
#include "page.h"

class RecordingPage : public Page {
  public:
    RecordingPage(int groupIndex, int pageIndex, QWidget* parent)
        : Page(parent), group(groupIndex), page(pageIndex) {
        if (group == 0 && page == 4) setSwallowEnterEscape(false); // the Setup page
    }
    void command(int id, quintptr param = 0) override {
        log.append(QString::number(id));
        Page::command(id, param);
    }
    void applyAccess(bool editing) override { log.append(editing ? "edit" : "view"); }
    void send(int id, quintptr param = 0) { sendToMain(id, param); }
    int group, page;
    QStringList log;
};

// The factory that fills the main window with recording pages.
inline PageFactory recordingFactory() {
    return [](int group, int page, QWidget* parent) -> Page* {
        return new RecordingPage(group, page, parent);
    };
}

inline RecordingPage* recorder(const MainWindow& w, int group, int page) {
    return static_cast<RecordingPage*>(w.page(group, page));
}

// Empties every recording page's log.
inline void clearLogs(const MainWindow& w) {
    for (int g = 0; g < 3; ++g)
        for (int p = 1 - (g > 0); p < w.pageCount(g); ++p)
            if (auto* r = recorder(w, g, p)) r->log.clear();
}
