// Door movements in real time: how long each takes against its nominal length (steps x speed x
// 0.1 µs) and how much processor time it costs. Run it on a real X server so painting counts.
#include "app/form1.h"
#include "common/module2.h"
#include "panel/frm_set.h"
#include "support/fakes.h"

#include <QApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QTemporaryDir folder;
    FakeServices fakes(folder.filePath(QStringLiteral("rorumo")));
    Form1 bus(fakes.services);
    bus.Form_Load();
    bus.show();
    QCoreApplication::processEvents();

    frmSet &panel = bus.panel();
    std::printf("%-8s %-10s %6s %12s %12s %9s %9s\n", "door", "speed", "steps", "nominal ms",
                "measured ms", "error %", "CPU %");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    for (const int speed : {1000, 10000, 30000}) {
        panel.HScroll1->setValue(speed);
        std::vector<double> errors;
        for (int run = 0; run < runs; ++run) {
            for (const bool open : {true, false}) {
                panel.Check1->setChecked(open);
                const double cpuBefore = processCpuSeconds();
                const auto before = std::chrono::steady_clock::now();
                bus.Check1_Click();
                const double elapsedMs = std::chrono::duration<double, std::milli>(
                                             std::chrono::steady_clock::now() - before)
                                             .count();
                const double cpuMs = (processCpuSeconds() - cpuBefore) * 1e3;
                const int steps = 966;
                const double nominalMs = steps * double(speed) * 1e-4;
                std::printf("%-8s %-10d %6d %12.1f %12.1f %+9.2f %9.1f\n",
                            open ? "front-op" : "front-cl", speed, steps, nominalMs, elapsedMs,
                            100.0 * (elapsedMs - nominalMs) / nominalMs, 100.0 * cpuMs / elapsedMs);
            }
        }
    }
    return 0;
}
