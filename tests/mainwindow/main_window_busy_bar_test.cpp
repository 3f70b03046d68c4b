// The busy bar keeps moving through one large file: while a save copies a single large
// file into the working directory, or packs one into the profile archive, the bar is
// painted again at least every 100 ms, the time it takes the 40 ms timer to move it twice
// with some slack.
#include "tests/mainwindow/main_window_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using namespace kestrane;
using kestrane::testing::MainWindowTest;
using Clock = std::chrono::steady_clock;

namespace {

// The times at which a widget is shown, painted and hidden.
class PaintTimes : public QObject {
public:
    explicit PaintTimes(QWidget* shown, QWidget* painted) : m_shown(shown), m_painted(painted) {
        shown->installEventFilter(this);
        painted->installEventFilter(this);
    }
    std::vector<Clock::time_point> paints;
    Clock::time_point shownAt, hiddenAt;

    // The longest time without a paint while the widget was shown.
    std::chrono::milliseconds longestGap() const {
        std::vector<Clock::time_point> marks{shownAt};
        for (auto t : paints)
            if (t > shownAt && t < hiddenAt)
                marks.push_back(t);
        marks.push_back(hiddenAt);
        Clock::duration gap{};
        for (std::size_t i = 1; i < marks.size(); ++i)
            gap = std::max(gap, marks[i] - marks[i - 1]);
        return std::chrono::duration_cast<std::chrono::milliseconds>(gap);
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
    QWidget* m_shown;
    QWidget* m_painted;
};

struct LargeFile {
    const char* name;
    bool archived;
};

void PrintTo(const LargeFile& file, std::ostream* out) { *out << file.name; }

class BusyBar : public MainWindowTest, public ::testing::WithParamInterface<LargeFile> {};

TEST_P(BusyBar, isPaintedAtLeastEvery100MsThroughOneLargeFile) {
    const std::string file = outside("large/system/textures.dat").string();
    if (GetParam().archived) {
        // 50 MB that deflate cannot shrink: packing takes its time.
        writeFile(file, kestrane::testing::randomBytes(50u << 20, 12));
    } else {
        // The kernel copies a file much faster than it is packed: 256 MB take a few
        // hundred milliseconds. Holes read as zeros and copy as data.
        writeFile(file, "");
        std::filesystem::resize_file(file, 256u << 20);
    }
    start();
    PaintTimes times(busy.get(), &busy->progressBar());
    saveThroughWindow("Large", GetParam().archived, outside("large/system").string());
    ASSERT_GT(times.hiddenAt, times.shownAt);
    EXPECT_GE(times.paints.size(), 2u);
    EXPECT_LE(times.longestGap().count(), 100)
        << times.paints.size() << " paints in "
        << std::chrono::duration_cast<std::chrono::milliseconds>(times.hiddenAt - times.shownAt).count() << " ms";
    if (!GetParam().archived) {
        EXPECT_EQ(std::filesystem::file_size("Large/textures.dat"), 256u << 20);
    }
}

INSTANTIATE_TEST_SUITE_P(Saves, BusyBar, ::testing::Values(LargeFile{"packed", true}, LargeFile{"copied", false}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
