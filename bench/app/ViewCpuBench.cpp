// What the running program costs while tuning: the real window, its
// workers and korvane-sim (a child process, so its own CPU is not counted)
// at 38400 baud with the fast exchange, the demo settings of ./run.sh and
// live logs on. After the connect (and, for the tuning rows, the tuning
// start) each view is brought to the front, left to settle, and measured
// for a while: the whole process's CPU time over the wall time, as a share
// of one core, and the frames polled per second.
//
//   view_cpu_bench [--seconds N] [--repeat N] [--settle N] [--only NAME,...]
//
// CPU time over wall time does not depend on how fast a shared machine
// runs the program, but a busy machine still adds cache misses and
// scheduling: run it more than once (--repeat) and compare the medians.
// Without a display it uses the offscreen platform.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../BenchArgs.h"
#include "app/MainForm.h"
#include "ecu/ECUThread.h"
#include "platform/TextCodec.h"

namespace fs = std::filesystem;
using korvane::app::TForm1;
using namespace korvane::bench;

namespace {

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double WallSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Options {
    int seconds = 15;
    int settle = 3;
    int repeat = 1;
    std::vector<std::string> only;
};

int Usage() {
    std::fputs("usage: view_cpu_bench [--seconds N] [--settle N] [--repeat N] [--only NAME,...]\n",
               stderr);
    return 2;
}

// One row of the table: how the window is set up before the measurement.
struct View {
    const char* name;
    bool connected;
    bool tuning;
    std::function<void(TForm1&)> bringToFront;
};

std::vector<View> Views() {
    auto gridAndLog = [](TForm1& f) {
        f.ToolButton(14)->click();
        f.ToolButton(5)->click();
    };
    return {
        {"idle", false, false, gridAndLog},
        {"polling-grid", true, false, gridAndLog},
        {"tuning-grid", true, true, gridAndLog},
        {"tuning-dashboard", true, true,
         [](TForm1& f) {
             f.ToolButton(14)->click();
             f.ToolButton(18)->click();
         }},
        {"tuning-diagnostics", true, true,
         [](TForm1& f) {
             f.ToolButton(14)->click();
             f.ToolButton(19)->click();
         }},
        {"tuning-map", true, true, [](TForm1& f) { f.ToolButton(21)->click(); }},
    };
}

// Runs the event loop for `ms` as the program's own loop does (QTest's wait
// would add its own sleeps and polls to the figures).
void RunEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Sample {
    double cpuPercent = 0;
    double framesPerSecond = 0;
};

class Rig {
  public:
    explicit Rig(const Options& o) : o_(o) {
        dir_ = fs::temp_directory_path() / ("korvane_view_cpu_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    ~Rig() {
        StopSimulator();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    bool Prepare() {
        const QString sim = QStringLiteral(KORVANE_SIM_PROGRAM);
        if (QProcess::execute(sim, {"make-firmware", P(dir_ / "j5ls.bin")}) != 0 ||
            QProcess::execute(sim, {"make-map", P(dir_ / "demo-map.xml")}) != 0) {
            std::fprintf(stderr, "view_cpu_bench: %s did not write the demo files\n",
                         KORVANE_SIM_PROGRAM);
            return false;
        }
        const std::string d = dir_.string();
        const std::string text =
            "Тип ECU=обычный\r\nEcu Com=" + d +
            "/ecu\r\nСкорость ECU COM=38400\r\n"
            "Таймаут1=20\r\nТаймаут2=150\r\nБыстрый обмен=да\r\nLC-1 Com=" +
            d +
            "/lc1\r\n"
            "Таймаут LC-1=80\r\nПротокол обмена=KWP2000\r\nЗагрузить последнюю прошивку=да\r\n"
            "Прошивка по умолчанию=j5ls.bin\r\nИнтервал обновления экрана=100\r\n"
            "Стационарность по RPM=100\r\nСтационарность по %=100\r\n"
            "Стационарность по циклам=4\r\nНе настраивать ниже %=2\r\n"
            "Количество циклов для обработки=7\r\nВесовой коэф. коррекции(%)=70\r\n"
            "Писать логи=да\r\nИнтервал коррекции БЦН(мс)=120000\r\n"
            "Время перезаписи прошивки(мс)=500\r\nКоэф. обучения соседних РТ=\r\n"
            "Интервал обучения соседних РТ=\r\nДатчик кислорода=ШДК LC-1\r\n"
            "Загрузить прошивку по умолчанию=да\r\nКарта прошивки=" +
            d + "/demo-map.xml\r\n";
        std::string bytes, error;
        korvane::platform::Utf8ToCp1251(text, bytes);
        if (!korvane::platform::WriteFileAtomically((dir_ / "config.ini").string(), bytes, error)) {
            std::fprintf(stderr, "view_cpu_bench: config.ini: %s\n", error.c_str());
            return false;
        }
        return true;
    }

    // One fresh simulator and window per view, so no row inherits another's
    // state (a grown log, a loaded map).
    bool Measure(const View& view, Sample& out) {
        if (view.connected && !StartSimulator()) return false;
        korvane::app::RecordingDialogs dialogs;
        korvane::app::FormEnvironment env;
        env.dialogs = &dialogs;
        env.workDir = dir_.string();
        bool ok = true;
        {
            TForm1 form(env);
            form.show();
            QApplication::processEvents();
            if (view.connected) ok = Connect(form, view.tuning);
            if (ok) {
                view.bringToFront(form);
                RunEventLoop(o_.settle * 1000);
                const int32_t frames0 = form.EcuWorker().numlog;
                const double cpu0 = CpuSeconds(), wall0 = WallSeconds();
                RunEventLoop(o_.seconds * 1000);
                const double cpu = CpuSeconds() - cpu0, wall = WallSeconds() - wall0;
                out.cpuPercent = 100.0 * cpu / wall;
                out.framesPerSecond = (form.EcuWorker().numlog - frames0) / wall;
            }
            if (!dialogs.errors.isEmpty())
                std::fprintf(stderr, "view_cpu_bench: %s: message: %s\n", view.name,
                             dialogs.errors.join(" | ").toUtf8().constData());
            if (view.connected) {
                form.ToolButton(2)->click();
                (void)QTest::qWaitFor([&] { return form.EcuWorker().IsComConnected == 0; }, 5000);
            }
        }
        StopSimulator();
        return ok;
    }

  private:
    static QString P(const fs::path& p) { return QString::fromStdString(p.string()); }

    bool Connect(TForm1& form, bool tuning) {
        form.ToolButton(1)->click();
        if (!QTest::qWaitFor([&] { return form.ToolButton(10)->isEnabled(); }, 30000)) {
            std::fprintf(stderr, "view_cpu_bench: no session with the simulator:\n%s\n",
                         form.LogLines().join("\n").toUtf8().constData());
            return false;
        }
        if (tuning) form.ToolButton(10)->click();
        return true;
    }

    bool StartSimulator() {
        for (const char* link : {"ecu", "lc1"}) {
            std::error_code ec;
            fs::remove(dir_ / link, ec);
        }
        sim_.setProgram(QStringLiteral(KORVANE_SIM_PROGRAM));
        sim_.setArguments({"--ecu", P(dir_ / "ecu"), "--lc1", P(dir_ / "lc1"), "--scenario",
                           "drive", "--no-warmup", "--firmware", P(dir_ / "j5ls.bin")});
        sim_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim_.setStandardOutputFile(QProcess::nullDevice());
        sim_.start();
        if (!sim_.waitForStarted(5000)) {
            std::fprintf(stderr, "view_cpu_bench: %s does not start\n", KORVANE_SIM_PROGRAM);
            return false;
        }
        for (int i = 0; i < 100; ++i) {
            if (fs::exists(dir_ / "ecu") && fs::exists(dir_ / "lc1")) return true;
            QTest::qWait(50);
        }
        std::fprintf(stderr, "view_cpu_bench: the simulator published no links\n");
        return false;
    }

    void StopSimulator() {
        if (sim_.state() == QProcess::NotRunning) return;
        sim_.terminate();
        if (!sim_.waitForFinished(3000)) {
            sim_.kill();
            sim_.waitForFinished(3000);
        }
    }

    Options o_;
    fs::path dir_;
    QProcess sim_;
};

}  // namespace

int main(int argc, char** argv) {
    // Without a display the window is drawn offscreen: painting still runs.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Options o;
    const bool parsed = ParseOptions(argc, argv, [&](const std::string& a, const char* v) {
        if (a == "--only") {
            for (auto& name : SplitList(v)) o.only.push_back(std::move(name));
            return true;
        }
        return (a == "--seconds" && ParseInt(v, 1, 3600, o.seconds)) ||
               (a == "--settle" && ParseInt(v, 0, 600, o.settle)) ||
               (a == "--repeat" && ParseInt(v, 1, 100, o.repeat));
    });
    if (!parsed) return Usage();
    QApplication app(argc, argv);
    Rig rig(o);
    if (!rig.Prepare()) return 1;

    std::vector<View> views;
    for (const View& v : Views())
        if (o.only.empty() || std::find(o.only.begin(), o.only.end(), v.name) != o.only.end())
            views.push_back(v);
    if (views.empty()) return Usage();

    std::printf(
        "Whole-process CPU (CPU time / wall time, %% of one core) and frames polled per\n"
        "second; %d s per view after %d s to settle, %d run(s), platform %s.\n\n",
        o.seconds, o.settle, o.repeat, qPrintable(QApplication::platformName()));
    std::printf("%-20s %8s %8s %8s %8s  %s\n", "view", "cpu %", "min", "max", "frames/s", "runs");
    std::fflush(stdout);
    std::vector<std::vector<Sample>> samples(views.size());
    // Runs interleave the views, so a burst of load elsewhere on the machine
    // does not land on one view's every run.
    for (int run = 0; run < o.repeat; ++run)
        for (size_t i = 0; i < views.size(); ++i) {
            Sample s;
            if (!rig.Measure(views[i], s)) return 1;
            samples[i].push_back(s);
        }
    for (size_t i = 0; i < views.size(); ++i) {
        std::vector<double> cpu, fps;
        std::string runs;
        for (const Sample& s : samples[i]) {
            cpu.push_back(s.cpuPercent);
            fps.push_back(s.framesPerSecond);
            char one[32];
            std::snprintf(one, sizeof one, "%s%.2f", runs.empty() ? "" : " ", s.cpuPercent);
            runs += one;
        }
        std::printf("%-20s %8.2f %8.2f %8.2f %8.1f  %s\n", views[i].name, Median(cpu),
                    *std::min_element(cpu.begin(), cpu.end()),
                    *std::max_element(cpu.begin(), cpu.end()), Median(fps), runs.c_str());
    }
    return 0;
}
