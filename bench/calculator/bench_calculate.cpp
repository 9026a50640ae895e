// Time of one Calculate: the arithmetic, the 8192 list lines and, with the
// window built, filling List1 and selecting the better line.  Target: at most
// 30 ms per Calculate including the list fill.  Runs offscreen.
#include "calculator/ubrr.h"

#include <benchmark/benchmark.h>

#ifdef REBOUNCE_BENCH_WINDOW
#include "calculator/baudcalc.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#endif

#include <cstdlib>

namespace {

void BM_CoreListLines(benchmark::State &state)
{
    for (auto _ : state) {
        auto lines = calculator::listLines(16000000.0f);
        benchmark::DoNotOptimize(lines.data());
    }
}
BENCHMARK(BM_CoreListLines)->Unit(benchmark::kMillisecond);

void BM_CoreCalculate(benchmark::State &state)
{
    for (auto _ : state) {
        auto result = calculator::calculate("16000000", "9600");
        benchmark::DoNotOptimize(result.selectedLine);
    }
}
BENCHMARK(BM_CoreCalculate);

#ifdef REBOUNCE_BENCH_WINDOW
void BM_WindowCalculate(benchmark::State &state)
{
    QWidget owner;
    auto *calc = new calculator::baudcalc(&owner);
    calc->setMessageHandler([](QMessageBox::Icon, const QString &, const QString &) {});
    calc->findChild<QComboBox *>(QStringLiteral("Combo1"))->lineEdit()->setText(QStringLiteral("16000000"));
    calc->findChild<QComboBox *>(QStringLiteral("Combo2"))->lineEdit()->setText(QStringLiteral("9600"));
    calc->show();
    auto *list = calc->findChild<QListWidget *>(QStringLiteral("List1"));
    for (auto _ : state) {
        calc->calculate();
        if (list->count() != calculator::kListLineCount || list->currentRow() != 206)
            state.SkipWithError("Calculate did not fill the list");
    }
    state.counters["lines"] = list->count();
}
BENCHMARK(BM_WindowCalculate)->Unit(benchmark::kMillisecond);
#endif

} // namespace

int main(int argc, char **argv)
{
#ifdef REBOUNCE_BENCH_WINDOW
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
