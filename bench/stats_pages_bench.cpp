// Benchmark of the statistics result pages on real widgets (offscreen): the table page showing
// 99,999 lines and the chart page drawing 10,000 points, each from its result file to the
// painted page.
#include <chrono>
#include <cstdio>
#include <string>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include "app/page_registry.h"
#include "pages/page_table.h"
#include "pages/stats/stats_pages.h"
#include "stats/stat_query.h"
#include "stats/stat_result.h"

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void writeFile(const char* name, const std::string& text) {
    FILE* f = fopen(name, "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

// Shows the result file as the answer to query on the page: reading it into the result value,
// handing that over and the first painting of the page.
template <typename Page> double show(Page& page, const StatQuery& query) {
    auto t0 = std::chrono::steady_clock::now();
    StatResult result;
    ReadStatResult(STAT_OUTPUT_FILE, query, nullptr, nullptr, &result);
    page.showResult(result);
    page.repaint();
    QApplication::processEvents();
    return seconds(t0);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const PageRegistry& pages = consolePages();
    QWidget window;
    window.resize(800, 480);

    std::string lines;
    for (int i = 0; i < 99999; ++i)
        lines += "user" + std::to_string(i % 300) + " " + std::to_string(100000 - i) +
                 " http://www.site" + std::to_string(i) + ".hu/p/index.html\n";
    writeFile(STAT_OUTPUT_FILE, lines);
    const StatQuery urls{STAT_KIND_URL, STAT_RES_DAY, 5, 2024, 4, 1, 0, 0, 2024, 5, 5, 23, 59};
    TablePage table(*pages.find(PageRole::StatTable), &window);
    table.show();
    window.show();
    QApplication::processEvents();
    double tableTime = show(table, urls);
    printf("table page, %d lines shown:   %6.3f s   (target 1 s)\n", table.lineCount(), tableTime);

    std::string values;
    for (int i = 0; i < 10000; ++i)
        values += std::to_string((i * 7919) % 100000) + "\n";
    writeFile(STAT_OUTPUT_FILE, values);
    const StatQuery traffic{
        STAT_KIND_TRAFFIC, STAT_RES_10MIN, 5, 2024, 4, 1, 0, 0, 2024, 5, 10, 10, 39};
    table.hide();
    ChartPage chart(*pages.find(PageRole::StatChart), &window);
    chart.show();
    QApplication::processEvents();
    double chartTime = show(chart, traffic);
    printf("chart page, 10000 points drawn: %6.3f s   (target 0.3 s)\n", chartTime);
    return 0;
}
