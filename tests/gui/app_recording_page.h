// A page for the main window's tests: records every command and access decision it receives.
#pragma once

#include <QStringList>

#include "app/commands.h"
#include "app/main_window.h"
#include "app/page.h"
#include "pages/page_table.h"

class RecordingPage : public Page {
  public:
    RecordingPage(const PageEntry& entry, QWidget* parent)
        : Page(parent), group(entry.group), page(entry.page) {
        if (entry.helpContext == HELP_SETUP) setSwallowEnterEscape(false); // as the Setup page
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

// The console's page table with a recording page in every place but LogOn's.
inline PageRegistry recordingPages() {
    PageRegistry pages = consolePages();
    for (PageEntry& entry : pages.pages)
        if (entry.role != PageRole::LogOn) entry.create = pageOf<RecordingPage>;
    return pages;
}

inline RecordingPage* recorder(const MainWindow& w, int group, int page) {
    return dynamic_cast<RecordingPage*>(w.page(group, page));
}

// Empties every recording page's log.
inline void clearLogs(const MainWindow& w) {
    for (int g = 0; g < static_cast<int>(w.registry().groups.size()); ++g)
        for (int p = 0; p < w.pageCount(g); ++p)
            if (auto* r = recorder(w, g, p)) r->log.clear();
}
