// Collecting and packing 1,000 and 10,000 objects of about 20 properties each on the fake viewer,
// against a plain memset + memcpy of as many bytes as the records take. After the run the ratio
// of record building to that baseline is printed for every size (target: at most 1.5), and the
// ratio to the same traffic into a block obtained afresh, as every transfer obtains its own: a
// fresh block of 10,000 records (123 MB) costs its first-touch page faults on top.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "elements/collector.h"
#include "elements/element_record.h"
#include "elements_fixture.h"

namespace {

using elements_test::World;

// A model of `objects` elements: identity in set 0, twelve properties in set 1, eight in set 2.
std::unique_ptr<World> make_model(std::size_t objects) {
    auto w = std::make_unique<World>(kb::REQUEST_UPDATE);
    w->host.files = {u"C:\\Proyectos\\Edificio A\\estructura.ifc",
                     u"C:\\Proyectos\\Edificio A\\arquitectura.ifc"};
    w->host.objects.reserve(objects);
    for (std::size_t i = 0; i < objects; ++i) {
        const std::u16string n = std::u16string(u"0") + static_cast<char16_t>(u'A' + i % 26);
        auto& o = w->host.element(i + 1, u"2O2Fr$t4X7Zf8NOew3FL" + n, u"Muro b\u00E1sico:Muro " + n,
                                  u"IfcWallStandardCase", u"Muro b\u00E1sico:Muro 200");
        o.set(1)
            .number(u"Width", 0.2 + static_cast<double>(i % 7) / 10)
            .number(u"Height", 3.0)
            .number(u"Length", 4.25 + static_cast<double>(i % 13))
            .text(u"Material", u"Hormig\u00F3n HA-25")
            .text(u"IsExternal", u"True")
            .text(u"LoadBearing", u"True")
            .number(u"ThermalTransmittance", 0.54)
            .text(u"FireRating", u"EI 120")
            .text(u"AcousticRating", u"52 dB")
            .text(u"Reference", u"Muro 200")
            .number(u"NetSideArea", 12.75)
            .number(u"GrossVolume", 2.55);
        o.set(2)
            .text(u"Phase", u"Nueva construcci\u00F3n")
            .text(u"Level", u"Planta 1")
            .number(u"BaseOffset", 0.0)
            .number(u"TopOffset", -0.3)
            .text(u"Structural", u"False")
            .text(u"Comments", u"")
            .text(u"Mark", u"M-" + n)
            .number(u"Cost", 1234.5);
        o.bounds = {0.0, 0.0, 0.0, 4.25, 0.2, 3.0};
        o.volume = 2.55;
        o.area = 25.5;
    }
    return w;
}

World& model(std::size_t objects) {
    static std::map<std::size_t, std::unique_ptr<World>> models;
    auto& w = models[objects];
    if (!w) w = make_model(objects);
    fake::FakeHost::current = &w->host;
    w->host.install();
    return *w;
}

void BM_CollectElements(benchmark::State& state) {
    World& w = model(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        kb::collect_elements(w.plugin, w.request, w.lists);
        benchmark::DoNotOptimize(w.lists.propiedad.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_BuildElementRecords(benchmark::State& state) {
    World& w = model(static_cast<std::size_t>(state.range(0)));
    kb::collect_elements(w.plugin, w.request, w.lists);
    std::size_t bytes = 0;
    for (auto _ : state) {
        // The builder only reads the lists: one collection serves every iteration.
        kb::RecordBlock block = kb::build_element_records(w.plugin, w.request, w.lists);
        if (!block.ok) state.SkipWithError("no record block");
        bytes = block.total;
        benchmark::DoNotOptimize(block.bytes.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The memory traffic the records take at the least: every byte set to zero, then copied.
void BM_MemsetMemcpyBaseline(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(state.range(0)) * kb::element_record_size;
    std::vector<unsigned char> scratch(bytes, 1), block(bytes, 1);
    for (auto _ : state) {
        std::memset(scratch.data(), 0, bytes);
        benchmark::ClobberMemory();
        std::memcpy(block.data(), scratch.data(), bytes);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The same, into a block obtained afresh for every run, as every transfer obtains its own.
void BM_MemsetMemcpyFreshBlock(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(state.range(0)) * kb::element_record_size;
    std::vector<unsigned char> scratch(bytes, 1);
    for (auto _ : state) {
        std::unique_ptr<unsigned char[]> block(new unsigned char[bytes]);
        std::memset(scratch.data(), 0, bytes);
        benchmark::ClobberMemory();
        std::memcpy(block.get(), scratch.data(), bytes);
        benchmark::DoNotOptimize(block.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

BENCHMARK(BM_CollectElements)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildElementRecords)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemsetMemcpyBaseline)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemsetMemcpyFreshBlock)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Prints as usual and keeps the CPU time per iteration of every benchmark for the ratios (steadier
// than wall time on a shared machine; page faults count as system time): the median
// when the run has repetitions (--benchmark_repetitions), otherwise the single run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.error_occurred) continue;
            const std::string name = r.run_name.str();
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                medians_[name] = times[name] = r.GetAdjustedCPUTime();
            else if (r.run_type == Run::RT_Iteration && !medians_.count(name))
                times[name] = r.GetAdjustedCPUTime();
        }
    }

private:
    std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::cout.flush();
    const auto ratio = [&](const char* label, const std::string& baseline, const char* n) {
        const auto build = reporter.times.find(std::string("BM_BuildElementRecords/") + n);
        const auto base = reporter.times.find(baseline + "/" + n);
        if (build == reporter.times.end() || base == reporter.times.end()) return;
        std::printf("ratio %s %s: %.2f\n", label, n, build->second / base->second);
    };
    for (const char* n : {"1000", "10000"}) {
        ratio("build/baseline", "BM_MemsetMemcpyBaseline", n);
        ratio("build/fresh-block baseline", "BM_MemsetMemcpyFreshBlock", n);
    }
    std::fflush(stdout);
    return 0;
}
