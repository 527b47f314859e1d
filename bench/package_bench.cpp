// Speed of the package routines over 4 MiB of firmware, each beside memcpy of the same
// bytes in the same run. Repetitions are interleaved at random and the medians
// compared, so the ratio column is what counts; the absolute times depend on the machine.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "package/sample_images.h"
#include "package/trailer.h"
#include "package/update_data.h"

namespace {

constexpr uint32_t kBody = 4194304;    // firmware body of the routine benchmarks
constexpr uint32_t kEngine = 65536;    // engine image of the updater benchmarks
constexpr uint32_t kCoreCode = 40960;  // code bytes of the CORE image

// Firmware body of bodySize bytes: a MAIN image and a CORE image with zero runs.
std::vector<uint8_t> Firmware(uint32_t bodySize) {
    SampleImageSpec core;
    core.main = false;
    core.codeSize = kCoreCode;
    core.seed = 7;
    std::vector<uint8_t> coreImage = MakeSampleImage(core);
    SampleImageSpec main;
    main.codeSize = bodySize - static_cast<uint32_t>(coreImage.size()) - kImageHeaderSize;
    main.seed = 3;
    std::vector<uint8_t> body = MakeSampleImage(main);
    body.insert(body.end(), coreImage.begin(), coreImage.end());
    return body;
}

struct Fixture {
    std::unique_ptr<CUpdateData> data = std::make_unique<CUpdateData>();
    std::vector<uint8_t> body = Firmware(kBody);
    std::vector<uint8_t> source = std::vector<uint8_t>(kBody, 0x5A);
    std::vector<uint8_t> target = std::vector<uint8_t>(kBody);
    std::string dir;
    std::string updater;  // a 4 MiB updater file
    uint32_t updaterSize = 0;
    std::unique_ptr<CUpdateData> writer = std::make_unique<CUpdateData>();

    Fixture() {
        namespace fs = std::filesystem;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir = (fs::temp_directory_path() / ("varnel-bench-" + std::to_string(stamp))).string();
        fs::create_directories(dir);
        updater = (fs::path(dir) / "updater.exe").string();

        // Engine bytes, then the largest body whose updater stays within 4 MiB.
        std::vector<uint8_t> engine(kEngine);
        for (uint32_t i = 0; i < kEngine; ++i)
            engine[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
        writer->ReadPackageFromMemory(engine.data(), engine.size(), "engine.exe");
        const std::vector<uint8_t> updaterBody =
            Firmware(kBufferSize - kEngine - kBlockHeaderSize - kTrailerSize);
        std::memcpy(writer->m_pFirmware, updaterBody.data(), updaterBody.size());
        writer->m_nFirmwareLength = static_cast<uint32_t>(updaterBody.size());
        writer->SetClock([] { return int64_t{1234567}; });
        if (writer->WritePackage(updater) != LOAD_OK)
            std::fprintf(stderr, "cannot write %s\n", updater.c_str());
        updaterSize = writer->m_nFileSize;
    }
    ~Fixture() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Fixture* g_fixture = nullptr;

// Bytes each benchmark handles; the memcpy of the same count is its baseline.
std::map<std::string, uint32_t> g_bytes;

double Fastest(const std::vector<double>& times) {
    return times.empty() ? 0.0 : *std::min_element(times.begin(), times.end());
}

void Add(const std::string& name, uint32_t bytes, void (*fn)(benchmark::State&)) {
    g_bytes[name] = bytes;
    benchmark::RegisterBenchmark(
        name.c_str(),
        [fn, bytes](benchmark::State& state) {
            fn(state);
            state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
        })
        ->Unit(benchmark::kMicrosecond)
        ->ComputeStatistics("min", Fastest);
}

std::string MemcpyName(uint32_t bytes) {
    return "memcpy/" + std::to_string(bytes);
}

void Memcpy(benchmark::State& state, uint32_t bytes) {
    Fixture& f = *g_fixture;
    for (auto _ : state) {
        std::memcpy(f.target.data(), f.source.data(), bytes);
        benchmark::DoNotOptimize(f.target.data());
        benchmark::ClobberMemory();
    }
}

template <bool kPlain>
void Scramble(benchmark::State& state) {
    Fixture& f = *g_fixture;
    for (auto _ : state) {
        const auto n = static_cast<int32_t>(kBody);
        if (kPlain)
            CUpdateData::ScramblePlain(f.body.data(), n, 0x4D2);
        else
            CUpdateData::Scramble(f.body.data(), n, 0x4D2);
        benchmark::ClobberMemory();
    }
}

void LoadBody(CUpdateData& d, const std::vector<uint8_t>& body) {
    std::memcpy(d.m_pFirmware, body.data(), body.size());
    d.m_nFirmwareLength = static_cast<uint32_t>(body.size());
}

template <bool kPlain>
void Pack(benchmark::State& state) {
    Fixture& f = *g_fixture;
    CUpdateData& d = *f.data;
    LoadBody(d, f.body);
    for (auto _ : state) {
        d.m_nFileSize = 0;
        const bool ok = kPlain ? d.PackFirmwarePlain() : d.PackFirmware();
        if (!ok)
            state.SkipWithError("body does not fit");
        benchmark::ClobberMemory();
    }
}

template <bool kPlain>
void Unpack(benchmark::State& state) {
    Fixture& f = *g_fixture;
    CUpdateData& d = *f.data;
    LoadBody(d, f.body);
    d.m_nFileSize = 0;
    d.PackFirmware();
    d.m_nFileSize += kTrailerSize;
    for (auto _ : state) {
        const bool ok = kPlain ? d.UnpackFirmwarePlain() : d.UnpackFirmware();
        if (!ok || d.m_nFirmwareLength != kBody)
            state.SkipWithError("unpacking failed");
        benchmark::ClobberMemory();
    }
}

template <bool kPlain>
void Checksum(benchmark::State& state) {
    Fixture& f = *g_fixture;
    CUpdateData& d = *f.data;
    LoadBody(d, f.body);
    for (auto _ : state) {
        // The whole body: MAIN and CORE each sum to 0xFFFF, together to 0xFFFE.
        const bool ok = kPlain ? d.VerifyChecksumPlain(0, kBody) : d.VerifyChecksum(0, kBody);
        benchmark::DoNotOptimize(ok);
    }
}

void ReadPackage(benchmark::State& state) {
    Fixture& f = *g_fixture;
    CUpdateData& d = *f.data;
    for (auto _ : state) {
        d.ReadPackage(f.updater);
        if (d.IsPackageEmpty() || d.IsPackageBroken())
            state.SkipWithError("updater not read");
        benchmark::ClobberMemory();
    }
}

void WritePackage(benchmark::State& state) {
    Fixture& f = *g_fixture;
    for (auto _ : state) {
        if (f.writer->WritePackage(f.updater) != LOAD_OK)
            state.SkipWithError("updater not written");
    }
}

struct Goal {
    const char* name;
    const char* baseline;  // plain form, when there is one
    double ratio;          // 0: no goal
};

const Goal kGoals[] = {
    {"Scramble", "ScramblePlain", 4.0},
    {"PackFirmware", "PackFirmwarePlain", 3.0},
    {"UnpackFirmware", "UnpackFirmwarePlain", 2.0},
    {"VerifyChecksum", "VerifyChecksumPlain", 2.0},
    {"ReadPackage", nullptr, 0.0},
    {"WritePackage", nullptr, 0.0},
};

// Console output as usual, plus the medians kept for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && !run.error_occurred) {
                if (run.aggregate_name == "median")
                    m_median[run.run_name.function_name] = run.GetAdjustedRealTime();
                if (run.aggregate_name == "min")
                    m_min[run.run_name.function_name] = run.GetAdjustedRealTime();
            } else if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                // Without repetitions there is no median: the single run stands for it.
                m_single[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    double Best(const std::string& name) const {
        const auto it = m_min.find(name);
        return it == m_min.end() ? 0.0 : it->second;
    }

    double Time(const std::string& name) const {
        auto it = m_median.find(name);
        if (it != m_median.end())
            return it->second;
        it = m_single.find(name);
        return it == m_single.end() ? 0.0 : it->second;
    }

    // Returns false when a goal is missed or a result is missing.
    bool PrintRatios() const {
        bool ok = true;
        // ratio: of the medians; best: of the fastest repetitions.
        std::printf("\n%-16s %10s %10s %8s %8s %6s %8s\n", "routine", "time/us", "memcpy/us",
                    "ratio", "best", "goal", "vs plain");
        for (const Goal& g : kGoals) {
            const double t = Time(g.name);
            const double m = Time(MemcpyName(g_bytes.at(g.name)));
            if (t <= 0 || m <= 0) {
                std::printf("%-16s not measured\n", g.name);
                ok = false;
                continue;
            }
            const double ratio = t / m;
            char goal[16] = "-";
            if (g.ratio > 0) {
                std::snprintf(goal, sizeof goal, "%.0fx", g.ratio);
                ok = ok && ratio <= g.ratio;
            }
            char speedup[16] = "-";
            if (g.baseline && Time(g.baseline) > 0)
                std::snprintf(speedup, sizeof speedup, "%.1fx", Time(g.baseline) / t);
            char best[16] = "-";
            const std::string memcpyName = MemcpyName(g_bytes.at(g.name));
            if (Best(g.name) > 0 && Best(memcpyName) > 0)
                std::snprintf(best, sizeof best, "%.2fx", Best(g.name) / Best(memcpyName));
            std::printf("%-16s %10.1f %10.1f %7.2fx %8s %6s %8s%s\n", g.name, t, m, ratio, best,
                        goal, speedup, g.ratio > 0 && ratio > g.ratio ? "  missed" : "");
        }
        return ok;
    }

private:
    std::map<std::string, double> m_median;
    std::map<std::string, double> m_min;
    std::map<std::string, double> m_single;
};

}  // namespace

int main(int argc, char** argv) {
    // Defaults that make the ratios steady on a busy machine; the command line may
    // override them.
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=9";
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    std::string minTime = "--benchmark_min_time=0.2";
    args.insert(args.begin() + 1,
                {repetitions.data(), interleave.data(), aggregates.data(), minTime.data()});
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 2;

    Fixture fixture;
    g_fixture = &fixture;
    const uint32_t updater = fixture.updaterSize;
    for (const uint32_t bytes : {kBody, updater}) {
        const std::string name = MemcpyName(bytes);
        g_bytes[name] = bytes;
        benchmark::RegisterBenchmark(name.c_str(), Memcpy, bytes)
            ->Unit(benchmark::kMicrosecond)
            ->ComputeStatistics("min", Fastest);
    }
    Add("Scramble", kBody, Scramble<false>);
    Add("ScramblePlain", kBody, Scramble<true>);
    Add("PackFirmware", kBody, Pack<false>);
    Add("PackFirmwarePlain", kBody, Pack<true>);
    Add("UnpackFirmware", kBody, Unpack<false>);
    Add("UnpackFirmwarePlain", kBody, Unpack<true>);
    Add("VerifyChecksum", kBody, Checksum<false>);
    Add("VerifyChecksumPlain", kBody, Checksum<true>);
    Add("ReadPackage", updater, ReadPackage);
    Add("WritePackage", updater, WritePackage);

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const bool ok = reporter.PrintRatios();
    std::printf("updater file %u bytes; firmware body %u bytes\n", updater, kBody);
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
