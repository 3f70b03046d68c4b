// The busy bar keeps moving through one large file: while a save copies a single large
// file into the working directory, or packs one into the profile archive, the window's
// messages are pumped once per chunk of the file and no step of the save holds them for
// long. Both are stated against the save itself, not against a clock: a slower or busier
// machine stretches every step alike. bench/busy-bar measures the gaps in milliseconds.
#include "tests/mainwindow/main_window_fixture.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace kestrane;
using kestrane::testing::MainWindowTest;
using Clock = std::chrono::steady_clock;

namespace {

// The moments the event queue is pumped (a zero-interval timer fires once per pass), the
// busy bar is painted, and the busy window is shown and hidden.
class BusyTimeline : public QObject {
public:
    BusyTimeline(QWidget* shown, QWidget* painted) : m_shown(shown), m_painted(painted) {
        shown->installEventFilter(this);
        painted->installEventFilter(this);
        m_pass.setInterval(0);
        connect(&m_pass, &QTimer::timeout, this, [this] { pumps.push_back(Clock::now()); });
        m_pass.start();
    }
    std::vector<Clock::time_point> pumps, paints;
    Clock::time_point shownAt, hiddenAt;

    std::size_t whileShown(const std::vector<Clock::time_point>& marks) const {
        return std::size_t(std::count_if(marks.begin(), marks.end(), [&](auto t) { return inside(t); }));
    }
    Clock::duration shownFor() const { return hiddenAt - shownAt; }
    // The longest time without a pump, or a paint, while the busy window was shown.
    Clock::duration longestGap(const std::vector<Clock::time_point>& events) const {
        std::vector<Clock::time_point> marks{shownAt};
        std::copy_if(events.begin(), events.end(), std::back_inserter(marks), [&](auto t) { return inside(t); });
        marks.push_back(hiddenAt);
        Clock::duration gap{};
        for (std::size_t i = 1; i < marks.size(); ++i)
            gap = std::max(gap, marks[i] - marks[i - 1]);
        return gap;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_painted && event->type() == QEvent::Paint)
            paints.push_back(Clock::now());
        else if (watched == m_shown && event->type() == QEvent::Show)
            shownAt = Clock::now();
        else if (watched == m_shown && event->type() == QEvent::Hide)
            hiddenAt = Clock::now();
        return false;
    }

private:
    bool inside(Clock::time_point t) const { return t > shownAt && t < hiddenAt; }
    QWidget* m_shown;
    QWidget* m_painted;
    QTimer m_pass;
};

long long ms(Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

struct LargeFile {
    const char* name;
    bool archived;
    std::uintmax_t size;
};

void PrintTo(const LargeFile& file, std::ostream* out) { *out << file.name; }

class BusyBar : public MainWindowTest, public ::testing::WithParamInterface<LargeFile> {};

TEST_P(BusyBar, keepsMovingThroughOneLargeFile) {
    const LargeFile large = GetParam();
    const std::string file = outside("large/system/textures.dat").string();
    if (large.archived) {
        // Data that deflate cannot shrink: packing takes its time.
        writeFile(file, kestrane::testing::randomBytes(large.size, 12));
    } else {
        // The kernel copies a file much faster than it is packed. Holes read as zeros and
        // copy as data.
        writeFile(file, "");
        std::filesystem::resize_file(file, large.size);
    }
    start();
    BusyTimeline timeline(busy.get(), &busy->progressBar());
    saveThroughWindow("Large", large.archived, outside("large/system").string());
    ASSERT_GT(timeline.hiddenAt, timeline.shownAt);
    const std::string seen = std::to_string(timeline.whileShown(timeline.pumps)) + " pumps and " +
                             std::to_string(timeline.whileShown(timeline.paints)) + " paints in " +
                             std::to_string(ms(timeline.shownFor())) + " ms, longest gap between pumps " +
                             std::to_string(ms(timeline.longestGap(timeline.pumps))) + " ms, between paints " +
                             std::to_string(ms(timeline.longestGap(timeline.paints))) + " ms";
    std::printf("%s: %s\n", large.name, seen.c_str()); // read by bench/busy-bar
    EXPECT_GE(timeline.whileShown(timeline.paints), 2u) << seen;
    // The copy and the packer report every 256 KiB; one pump per MiB leaves room.
    EXPECT_GE(timeline.whileShown(timeline.pumps), large.size >> 20) << seen;
    // No single step (the last block, the archive's flush, its check, the profile's flush)
    // runs a quarter of the save without pumping.
    EXPECT_LE(timeline.longestGap(timeline.pumps), timeline.shownFor() / 4) << seen;
    if (!large.archived) {
        EXPECT_EQ(std::filesystem::file_size("Large/textures.dat"), large.size);
    }
}

INSTANTIATE_TEST_SUITE_P(Saves, BusyBar,
                         ::testing::Values(LargeFile{"packed", true, 128u << 20},
                                           LargeFile{"copied", false, 256u << 20}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
