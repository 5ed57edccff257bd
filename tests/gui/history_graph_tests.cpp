// HistoryGraph: its ring of values, the fall-backs of its settings and what it draws.
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QScreen>

#include "widgets/history_graph.h"

namespace {

// Pixels of the given colour in the graph's picture.
int pixelsOf(HistoryGraph& graph, const QColor& color) {
    QImage image = graph.grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); y++)
        for (int x = 0; x < image.width(); x++)
            n += image.pixelColor(x, y) == color;
    return n;
}

TEST(HistoryGraph, TheSettingsFallBacks) {
    HistoryGraph graph;
    graph.resize(180, 50);
    graph.SetSpacing(25);
    EXPECT_EQ(graph.effectiveSpacing(), 25);
    graph.SetSpacing(26); // above half the height
    EXPECT_EQ(graph.effectiveSpacing(), 1);
    graph.SetSpacing(0);
    EXPECT_EQ(graph.effectiveSpacing(), 1);
    graph.SetStep(60);
    EXPECT_EQ(graph.effectiveStep(), 60);
    graph.SetStep(61); // above a third of the width
    EXPECT_EQ(graph.effectiveStep(), 1);
    graph.SetRange(50, 50); // no range: ignored
    EXPECT_EQ(graph.high(), 100);
    graph.SetRange(-10, 10);
    EXPECT_EQ(graph.low(), -10);
    EXPECT_EQ(graph.high(), 10);
}

TEST(HistoryGraph, RingAsWideAsTheScreenWraps) {
    HistoryGraph graph;
    int width = 1;
    for (QScreen* s : QGuiApplication::screens())
        width = std::max(width, s->geometry().width());
    ASSERT_EQ(graph.capacity(), width);
    EXPECT_EQ(graph.count(), 0);
    EXPECT_EQ(graph.value(0), 0.0);
    for (int i = 0; i < width + 3; i++)
        graph.AddValue(i);
    EXPECT_EQ(graph.count(), width);
    EXPECT_EQ(graph.position(), 3);
    EXPECT_EQ(graph.value(0), width + 2);
    EXPECT_EQ(graph.value(width - 1), 3);
    EXPECT_EQ(graph.value(width), 0.0);
    EXPECT_EQ(graph.value(-1), 0.0);
}

TEST(HistoryGraph, DrawsTheNewestValuesFromTheRightEdge) {
    HistoryGraph graph;
    graph.resize(180, 50);
    graph.SetBackColor(Qt::black);
    graph.SetSpacing(5);
    const QColor red(255, 0, 0);
    EXPECT_EQ(pixelsOf(graph, red), 0);

    // A full-scale value is a point at the top right; values beyond the range stay inside it.
    graph.AddValue(100);
    QImage image = graph.grab().toImage();
    EXPECT_EQ(image.pixelColor(179, 0), red);
    graph.AddValue(250);
    graph.AddValue(-40);
    graph.AddValue(std::nan(""));
    image = graph.grab().toImage();
    EXPECT_EQ(image.pixelColor(179, 49), red); // not a number: drawn at the bottom
    EXPECT_EQ(image.pixelColor(178, 49), red); // below the range
    EXPECT_EQ(image.pixelColor(177, 0), red);  // above the range
    // The grid lines lie every five pixels from the bottom, the background between them.
    EXPECT_EQ(image.pixelColor(10, 44), QColor(0, 96, 0));
    EXPECT_EQ(image.pixelColor(10, 45), Qt::black);
    // Nothing left of the values there are.
    for (int x = 0; x < 176; x++)
        for (int y = 0; y < 50; y++)
            ASSERT_NE(image.pixelColor(x, y), red) << x << "," << y;
}

} // namespace
